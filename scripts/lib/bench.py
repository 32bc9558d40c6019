"""scripts/bench [--check]: what one hornset run costs next to its floor, and the static musl
builds' sizes and instructions; --check fails over the budget."""

import platform
import re
import shutil
import subprocess
import sys
from pathlib import Path

import targets
from common import (ROOT, Script, board_absent, ensure_packages, needed, project_version, run,
                    scratch, stripped_size)

script = Script("scripts/bench")
# The budget.
RATIO_LIMIT = 1.10
SIZE_LIMIT = 20480            # bytes stripped, on the machine the table's own board is
MUSL_INSTRUCTION_LIMIT = 5000
MUSL_SIZE_LIMIT = 73728       # bytes stripped, every board with a musl triple

# The representative runs: name, board of the emulator, arguments.
RUNS = [
    ("set", "request", ["10", "20", "3"]),
    ("text", "qtr-pn", ["-t", "10", "-c", "3", "-p", "xyz"]),
    ("status", "qtr-pn", ["-d"]),
    ("version", "request", ["--version"]),
    ("absent", "none", ["10", "20", "3"]),
]
SCENARIOS = {
    "request": {"lampstat": "leds: status=off error=off\nmodel: RQ-200\n"},
    "qtr-pn": {"lampstat": "leds: status=off error=off\nmodel: QTR-PN\n",
               "reply": "status: period 10 count 3 pattern xyz\n"},
    "none": {"board.conf": "node absent\n"},  # no proc file, no device node
}
hornset = ROOT / "build/release/cli/hornset"
preload = ROOT / "build/release/emulator/libhornemu.so"
# One fixed path for every scenario, so that no count depends on a random name.
scenario = ROOT / "build/bench/scenario"
work = scratch()
machine = platform.machine()


def build():
    """The release build, and the floor with its compiler, flags, build type, hardening and version."""
    ensure_packages("cmake", "ninja-build", "g++", "binutils", "valgrind", "time", "util-linux")
    run(["cmake", "--preset", "release"], stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "release", "-j", "2"], stdout=subprocess.DEVNULL)
    cache = (ROOT / "build/release/CMakeCache.txt").read_text()

    def cache_value(name):
        match = re.search(rf"^{name}:[A-Z]*=(.*)$", cache, re.MULTILINE)
        return match.group(1) if match else ""

    run(["cmake", "-S", "bench", "-B", "build/bench", "-G", "Ninja", "--no-warn-unused-cli",
         *(f"-D{name}={cache_value(name)}" for name in (
             "CMAKE_BUILD_TYPE", "CMAKE_C_COMPILER", "CMAKE_C_FLAGS", "CMAKE_CXX_FLAGS",
             "CMAKE_EXE_LINKER_FLAGS", "HORNSET_HARDENING")),
         f"-DHORNSET_VERSION={cache_value('CMAKE_PROJECT_VERSION')}"], stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "build/bench", "-j", "2"], stdout=subprocess.DEVNULL)


def launch(board, command, **options):
    """Runs COMMAND on a fresh scenario of BOARD with nothing in the environment but the emulator;
    with BOARD None, with nothing in the environment or on standard input."""
    if board is None:
        return subprocess.run(command, env={}, stdin=subprocess.DEVNULL, **options)
    shutil.rmtree(scenario, ignore_errors=True)
    scenario.mkdir()
    for name, text in SCENARIOS[board].items():
        (scenario / name).write_text(text)
    return subprocess.run(command, env={"LD_PRELOAD": str(preload), "HORNEMU_DIR": str(scenario)},
                          **options)


def instructions(out, board, command):
    """Instructions of one run of COMMAND, launched on BOARD, under callgrind; keeps its standard
    output, standard error, exit status and (on a board) driver log in OUT.stdout, .stderr,
    .status and .log."""
    kept = {part: Path(f"{out}.{part}") for part in ("callgrind", "valgrind", "stdout", "stderr", "status")}
    callgrind = [shutil.which("valgrind"), "--tool=callgrind", f"--callgrind-out-file={kept['callgrind']}",
                 f"--log-file={kept['valgrind']}", *command]
    with open(kept["stdout"], "wb") as stdout, open(kept["stderr"], "wb") as stderr:
        kept["status"].write_text(f"{launch(board, callgrind, stdout=stdout, stderr=stderr).returncode}\n")
    total = re.search(r"^summary: *(\d+)", kept["callgrind"].read_text(), re.MULTILINE) \
        if kept["callgrind"].exists() else None
    if not total:
        sys.stderr.write(kept["valgrind"].read_text() if kept["valgrind"].exists() else "")
        script.die(f"callgrind gave no count for: {' '.join(command)}")
    if board:
        log = scenario / "log"
        Path(f"{out}.log").write_bytes(log.read_bytes() if log.exists() else b"")
    return int(total.group(1))


def peak_rss(board, command):
    """Peak resident set size in KiB: the largest of seven runs with address randomisation off.
    Resident pages come in fault-around chunks of the libraries' pages that the page cache holds,
    so now and then a run comes out a chunk lower; the largest is the steady figure."""
    peaks = []
    for _ in range(7):
        launch(board, [shutil.which("setarch"), machine, "-R", "/usr/bin/time", "-f", "%M", "-o",
                       str(work / "rss"), *command], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        peaks.append(int((work / "rss").read_text().split()[-1]))
    return max(peaks)


def same_effect(name):
    """The floor is a fair floor only if it has the same effect as hornset."""
    if "/proc/lampstat" not in (work / f"{name}.hornset.log").read_text():
        script.die(f"the emulated board was not in effect on run {name}")
    for part in ("stdout", "stderr", "status", "log"):
        mine, floors = (work / f"{name}.hornset.{part}", work / f"{name}.floor.{part}")
        if mine.read_bytes() != floors.read_bytes():
            print(f"scripts/bench: on run {name} the floor's {part} differs from hornset's:",
                  file=sys.stderr)
            subprocess.run(["diff", str(mine), str(floors)], stdout=sys.stderr)
            sys.exit(1)


def against_floor(check):
    """hornset against its floor, run by run; whether a run is over budget, and the rows of
    docs/packaging.md's table."""
    if check:
        print("Instructions executed (callgrind), hornset against its floor; both run on the emulated")
        print("board, whose cost both figures include.\n")
        print(f"{'run (board)':<36} {'hornset':>12} {'floor':>12} {'ratio':>7}")
    else:
        print("Instructions executed (callgrind) and peak resident memory (GNU time %M, largest of 7),")
        print("hornset against its floor; both run on the emulated board, whose cost both figures include.\n")
        print(f"{'run (board)':<36} {'hornset':>12} {'floor':>12} {'ratio':>7} {'hornset KiB':>12} "
              f"{'floor KiB':>10}")
    over, rows = False, []
    for name, board, arguments in RUNS:
        programs = {"hornset": hornset, "floor": ROOT / f"build/bench/floor-{name}"}
        counts = [instructions(work / f"{name}.{who}", board, [str(program), *arguments])
                  for who, program in programs.items()]
        same_effect(name)
        ratio = f"{counts[0] / counts[1]:.3f}"
        verdict = f"  over {RATIO_LIMIT:.2f}" if float(ratio) > RATIO_LIMIT else ""
        over |= bool(verdict)
        row = f"{' '.join(arguments) + f' ({board})':<36} {counts[0]:>12} {counts[1]:>12} {ratio:>7}"
        if check:
            print(f"{row}{verdict}")
            continue
        peaks = [peak_rss(board, [str(program), *arguments]) for program in programs.values()]
        print(f"{row} {peaks[0]:>12} {peaks[1]:>10}{verdict}")
        shown = {"none": "no `/proc/lampstat`, no `/dev/hornio`", "qtr-pn": "QTR-PN"}.get(board, board)
        rows.append(f"| `{' '.join(arguments)}` ({shown}) | {counts[0]:,} | {counts[1]:,} | {ratio} "
                    f"| {peaks[0]} KiB | {peaks[1]} KiB |")
    return over, rows


def release_binary(check, rows):
    """The release binary's stripped size (budgeted on this machine's own board of the table) and
    the libraries it needs; without CHECK, the static build's and docs/packaging.md's table."""
    here = targets.this_machine()
    size = stripped_size(here, hornset)
    libraries = " ".join(needed(hornset))
    size_verdict = f"  over {SIZE_LIMIT}" if machine == here.processor and size > SIZE_LIMIT else ""
    needed_verdict = "  not libc.so.6 alone" if libraries != "libc.so.6" else ""
    print(f"\nrelease build: {size} bytes stripped ({machine}){size_verdict}; NEEDED: {libraries or 'none'}"
          f"{needed_verdict}")
    if check:
        return bool(size_verdict or needed_verdict)
    # The release build's settings, linked statically.
    run(["cmake", "-S", ".", "-B", "build/bench-static", "-G", "Ninja", "-DCMAKE_BUILD_TYPE=MinSizeRel",
         "-DHORNSET_STATIC=ON", "-DHORNSET_BUILD_TESTS=OFF", "-DHORNSET_BUILD_EMULATOR=OFF"],
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "build/bench-static", "-j", "2", "--target", "hornset"],
        stdout=subprocess.DEVNULL)
    static = ROOT / "build/bench-static/cli/hornset"
    static_size = stripped_size(here, static)
    print(f"static build:  {static_size} bytes stripped; NEEDED: {' '.join(needed(static)) or 'none'}")
    print("\nFor docs/packaging.md's Footprint section:\n")
    print("| run (board) | hornset instructions | floor instructions | ratio | hornset peak RSS "
          "| floor peak RSS |")
    print("|---|---:|---:|---:|---:|---:|")
    print(*rows, sep="\n")
    print(f"\nThe release binary is {size:,} bytes stripped and needs `{libraries}` alone; the static "
          f"build\n(`-DHORNSET_STATIC=ON`, otherwise the same settings) is {static_size:,} bytes "
          "stripped and\nneeds nothing.")
    return bool(size_verdict or needed_verdict)


def musl_builds(check):
    """The static musl builds' sizes, and the instructions of this machine's in an empty environment:
    no preloaded emulator reaches them, so they run on this machine itself, which must have neither
    /proc/lampstat nor /dev/hornio (on a board they would drive the buzzer). Whether over budget."""
    over = False
    print("\nStatic musl builds (scripts/build-musl), stripped:")
    for board in (b for b in targets.TARGETS if b.musl):
        run([str(ROOT / "scripts/build-musl"), board.name], quiet=True)
        size = stripped_size(board, ROOT / f"build/musl-{board.name}/cli/hornset")
        verdict = f"  over {MUSL_SIZE_LIMIT}" if size > MUSL_SIZE_LIMIT else ""
        over |= bool(verdict)
        print(f"  {board.name:<8} {size:>8} bytes{verdict}")
    here = targets.this_machine()
    shown_machine = machine.replace("_", "-")
    if machine != here.processor or not here.musl:
        print(f"Instructions of the static musl build: measured on {here.processor.replace('_', '-')} only.")
    elif not board_absent():
        print("Instructions of the static musl build: not measured, this machine has /proc/lampstat")
        print("or /dev/hornio.")
    else:
        musl = ROOT / f"build/musl-{here.name}/cli/hornset"
        print(f"\nStatic musl build on this machine ({shown_machine}), no /proc/lampstat, no /dev/hornio:")
        print(f"  {'run':<12} {'instructions':>12}" + ("" if check else f" {'peak KiB':>10}"))
        # Its version, and a failed open (the suite checks the texts): it must run as without a
        # board before its figures count.
        for arguments, shows in (("--version", f"hornset version {project_version()}\n"), ("10 20 3", None)):
            command = [str(musl), *arguments.split()]
            out = work / f"musl-{command[1].lstrip('-')}"
            count = instructions(out, None, command)
            got = tuple(Path(f"{out}.{part}").read_text() for part in ("stdout", "stderr", "status"))
            if got[2] != ("0\n" if shows else "1\n") or shows and not got[0].endswith(shows):
                print(f"scripts/bench: the static musl hornset did not behave as without a board on run "
                      f"{out.name}:", *got, sep="\n", file=sys.stderr)
                sys.exit(1)
            verdict = f"  over {MUSL_INSTRUCTION_LIMIT}" if count > MUSL_INSTRUCTION_LIMIT else ""
            over |= bool(verdict)
            rss = "" if check else f" {peak_rss(None, command):>10}"
            print(f"  {arguments:<12} {count:>12}{rss}{verdict}")
    if check:
        print(f"Static musl budget: at most {MUSL_INSTRUCTION_LIMIT} instructions per run ({shown_machine}),")
        print(f"at most {MUSL_SIZE_LIMIT} bytes stripped on each architecture.")
    return over


def main():
    if sys.argv[1:] not in ([], ["--check"]):
        print("Usage: scripts/bench [--check]", file=sys.stderr)
        sys.exit(2)
    check = sys.argv[1:] == ["--check"]
    build()
    over, rows = against_floor(check)
    over |= release_binary(check, rows)
    over |= musl_builds(check)
    print()
    if over:
        print("Over budget.")
        sys.exit(1)
    if check:
        print(f"Within budget: at most {RATIO_LIMIT:.2f} times the floor's instructions on every run;")
        print(f"NEEDED libc.so.6 alone; stripped size at most {SIZE_LIMIT} bytes.")


main()
