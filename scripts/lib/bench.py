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
if sys.argv[1:] not in ([], ["--check"]):
    print("Usage: scripts/bench [--check]", file=sys.stderr)
    sys.exit(2)
check = sys.argv[1:] == ["--check"]

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

ensure_packages("cmake", "ninja-build", "g++", "binutils", "valgrind", "time", "util-linux")
run(["cmake", "--preset", "release"], stdout=subprocess.DEVNULL)
run(["cmake", "--build", "--preset", "release", "-j", "2"], stdout=subprocess.DEVNULL)

# The floor is built with the release build's compiler, flags, build type, hardening and version.
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

valgrind = shutil.which("valgrind")
setarch = shutil.which("setarch")
machine = platform.machine()
hornset = ROOT / "build/release/cli/hornset"
preload = ROOT / "build/release/emulator/libhornemu.so"
work = scratch()
# One fixed path for every scenario, so that no count depends on a random name.
scenario = ROOT / "build/bench/scenario"
over_budget = False


def on_board(board):
    """What runs a command on a fresh scenario of BOARD, with nothing in the environment but the
    emulator."""
    def run_on_board(command, **options):
        shutil.rmtree(scenario, ignore_errors=True)
        scenario.mkdir()
        for name, text in SCENARIOS[board].items():
            (scenario / name).write_text(text)
        return subprocess.run(command, env={"LD_PRELOAD": str(preload), "HORNEMU_DIR": str(scenario)},
                              **options)
    return run_on_board


def in_empty_environment(command, **options):
    """Runs a command with nothing in the environment or on standard input."""
    return subprocess.run(command, env={}, stdin=subprocess.DEVNULL, **options)


def instructions(out, command, runner):
    """Instructions of one run of COMMAND under callgrind, started by RUNNER(command, **options);
    keeps its standard output, standard error and exit status in OUT.stdout, .stderr, .status."""
    kept = {part: Path(f"{out}.{part}") for part in ("callgrind", "valgrind", "stdout", "stderr", "status")}
    callgrind = [valgrind, "--tool=callgrind", f"--callgrind-out-file={kept['callgrind']}",
                 f"--log-file={kept['valgrind']}", *command]
    with open(kept["stdout"], "wb") as stdout, open(kept["stderr"], "wb") as stderr:
        kept["status"].write_text(f"{runner(callgrind, stdout=stdout, stderr=stderr).returncode}\n")
    total = re.search(r"^summary: *(\d+)", kept["callgrind"].read_text(), re.MULTILINE) \
        if kept["callgrind"].exists() else None
    if not total:
        sys.stderr.write(kept["valgrind"].read_text() if kept["valgrind"].exists() else "")
        script.die(f"callgrind gave no count for: {' '.join(command)}")
    return int(total.group(1))


def count_on_board(out, board, command):
    """Instructions of one run on BOARD; keeps its output, status and driver log under OUT."""
    count = instructions(out, command, on_board(board))
    log = scenario / "log"
    Path(f"{out}.log").write_bytes(log.read_bytes() if log.exists() else b"")
    return count


def peak_rss(command, runner):
    """Peak resident set size in KiB: the largest of seven runs with address randomisation off.
    Resident pages come in fault-around chunks of the libraries' pages that the page cache holds,
    so now and then a run comes out a chunk lower; the largest is the steady figure."""
    peaks = []
    for _ in range(7):
        runner([setarch, machine, "-R", "/usr/bin/time", "-f", "%M", "-o", str(work / "rss"), *command],
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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


# hornset against its floor, run by run.
if check:
    print("Instructions executed (callgrind), hornset against its floor; both run on the emulated")
    print("board, whose cost both figures include.")
    print()
    print(f"{'run (board)':<36} {'hornset':>12} {'floor':>12} {'ratio':>7}")
else:
    print("Instructions executed (callgrind) and peak resident memory (GNU time %M, largest of 7),")
    print("hornset against its floor; both run on the emulated board, whose cost both figures include.")
    print()
    print(f"{'run (board)':<36} {'hornset':>12} {'floor':>12} {'ratio':>7} {'hornset KiB':>12} "
          f"{'floor KiB':>10}")
readme_rows = []
for name, board, arguments in RUNS:
    floor = ROOT / f"build/bench/floor-{name}"
    counts = [count_on_board(work / f"{name}.{who}", board, [str(program), *arguments])
              for who, program in (("hornset", hornset), ("floor", floor))]
    same_effect(name)
    ratio = f"{counts[0] / counts[1]:.3f}"
    verdict = f"  over {RATIO_LIMIT:.2f}" if float(ratio) > RATIO_LIMIT else ""
    over_budget |= bool(verdict)
    label = f"{' '.join(arguments)} ({board})"
    row = f"{label:<36} {counts[0]:>12} {counts[1]:>12} {ratio:>7}"
    if check:
        print(f"{row}{verdict}")
        continue
    peaks = [peak_rss([str(program), *arguments], on_board(board)) for program in (hornset, floor)]
    print(f"{row} {peaks[0]:>12} {peaks[1]:>10}{verdict}")
    shown = {"none": "no `/proc/lampstat`, no `/dev/hornio`", "qtr-pn": "QTR-PN"}.get(board, board)
    readme_rows.append(f"| `{' '.join(arguments)}` ({shown}) | {counts[0]:,} | {counts[1]:,} | {ratio} "
                       f"| {peaks[0]} KiB | {peaks[1]} KiB |")

# The release binary: its stripped size (budgeted on this machine's own board of the table) and
# the libraries it needs.
here = targets.this_machine()
size = stripped_size(here, hornset)
libraries = " ".join(needed(hornset))
size_verdict = f"  over {SIZE_LIMIT}" if machine == here.processor and size > SIZE_LIMIT else ""
needed_verdict = "  not libc.so.6 alone" if libraries != "libc.so.6" else ""
over_budget |= bool(size_verdict or needed_verdict)
print()
print(f"release build: {size} bytes stripped ({machine}){size_verdict}; NEEDED: {libraries or 'none'}"
      f"{needed_verdict}")

if not check:
    # The release build's settings, linked statically.
    run(["cmake", "-S", ".", "-B", "build/bench-static", "-G", "Ninja", "-DCMAKE_BUILD_TYPE=MinSizeRel",
         "-DHORNSET_STATIC=ON", "-DHORNSET_BUILD_TESTS=OFF", "-DHORNSET_BUILD_EMULATOR=OFF"],
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "build/bench-static", "-j", "2", "--target", "hornset"],
        stdout=subprocess.DEVNULL)
    static = ROOT / "build/bench-static/cli/hornset"
    static_size = stripped_size(here, static)
    print(f"static build:  {static_size} bytes stripped; NEEDED: {' '.join(needed(static)) or 'none'}")
    print()
    print("For docs/packaging.md's Footprint section:")
    print()
    print("| run (board) | hornset instructions | floor instructions | ratio | hornset peak RSS "
          "| floor peak RSS |")
    print("|---|---:|---:|---:|---:|---:|")
    print(*readme_rows, sep="\n")
    print()
    print(f"The release binary is {size:,} bytes stripped and needs `{libraries}` alone; the static "
          f"build\n(`-DHORNSET_STATIC=ON`, otherwise the same settings) is {static_size:,} bytes "
          "stripped and\nneeds nothing.")

# The static musl builds: no preloaded emulator reaches them, so they run on this machine itself,
# which must have neither /proc/lampstat nor /dev/hornio (on a board they would drive the buzzer).
print()
print("Static musl builds (scripts/build-musl), stripped:")
for board in (b for b in targets.TARGETS if b.musl):
    run([str(ROOT / "scripts/build-musl"), board.name], quiet=True)
    size = stripped_size(board, ROOT / f"build/musl-{board.name}/cli/hornset")
    verdict = f"  over {MUSL_SIZE_LIMIT}" if size > MUSL_SIZE_LIMIT else ""
    over_budget |= bool(verdict)
    print(f"  {board.name:<8} {size:>8} bytes{verdict}")

# The musl build of this machine's board, in an empty environment, must run as without a board
# before its figures count.
shown_machine = machine.replace("_", "-")
if machine != here.processor or not here.musl:
    print(f"Instructions of the static musl build: measured on {here.processor.replace('_', '-')} only.")
elif not board_absent():
    print("Instructions of the static musl build: not measured, this machine has /proc/lampstat")
    print("or /dev/hornio.")
else:
    musl = ROOT / f"build/musl-{here.name}/cli/hornset"
    # Its version, and a failed open (the suite checks the texts).
    expected = {"--version": f"hornset version {project_version()}\n", "10 20 3": None}
    print()
    print(f"Static musl build on this machine ({shown_machine}), no /proc/lampstat, no /dev/hornio:")
    print(f"  {'run':<12} {'instructions':>12}" + ("" if check else f" {'peak KiB':>10}"))
    for arguments, behaviour in expected.items():
        command = [str(musl), *arguments.split()]
        out = work / f"musl-{command[1].lstrip('-')}"
        count = instructions(out, command, in_empty_environment)
        got = tuple(Path(f"{out}.{part}").read_text() for part in ("stdout", "stderr", "status"))
        if got[2] != ("0\n" if behaviour else "1\n") or behaviour and not got[0].endswith(behaviour):
            print(f"scripts/bench: the static musl hornset did not behave as without a board on run "
                  f"{out.name}:", *got, sep="\n", file=sys.stderr)
            sys.exit(1)
        verdict = f"  over {MUSL_INSTRUCTION_LIMIT}" if count > MUSL_INSTRUCTION_LIMIT else ""
        over_budget |= bool(verdict)
        rss = "" if check else f" {peak_rss(command, in_empty_environment):>10}"
        print(f"  {arguments:<12} {count:>12}{rss}{verdict}")
if check:
    print(f"Static musl budget: at most {MUSL_INSTRUCTION_LIMIT} instructions per run ({shown_machine}),")
    print(f"at most {MUSL_SIZE_LIMIT} bytes stripped on each architecture.")

print()
if over_budget:
    print("Over budget.")
    sys.exit(1)
if check:
    print(f"Within budget: at most {RATIO_LIMIT:.2f} times the floor's instructions on every run;")
    print(f"NEEDED libc.so.6 alone; stripped size at most {SIZE_LIMIT} bytes.")
