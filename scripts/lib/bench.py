"""scripts/bench [--check]: what one hornset run costs next to its floor; static musl sizes and instructions."""

import platform
import re
import shutil
import subprocess
import sys
from pathlib import Path

import targets
from common import ROOT, Script, build, ensure_packages, needed, project_version, run, scratch, stripped_size

# The budget.
RATIO_LIMIT = 1.10
SIZE_LIMIT = 20480            # bytes stripped, on the machine the table's own row is for
MUSL_INSTRUCTION_LIMIT = 5000
MUSL_SIZE_LIMIT = 73728       # bytes stripped, every architecture with a musl triple

# The representative runs: name, board of the emulator, arguments.
RUNS = [("set", "request", ["10", "20", "3"]), ("text", "qtr-pn", ["-t", "10", "-c", "3", "-p", "xyz"]),
        ("status", "qtr-pn", ["-d"]), ("version", "request", ["--version"]), ("absent", "none", ["10", "20", "3"])]
SCENARIOS = {
    "request": {"lampstat": "leds: status=off error=off\nmodel: RQ-200\n"},
    "qtr-pn": {"lampstat": "leds: status=off error=off\nmodel: QTR-PN\n",
               "reply": "status: period 10 count 3 pattern xyz\n"},
    "none": {"board.conf": "node absent\n"},  # no proc file, no device node
}
SHOWN = {"request": "request", "qtr-pn": "QTR-PN", "none": "no `/proc/lampstat`, no `/dev/hornio`"}
hornset = ROOT / "build/release/cli/hornset"
# One fixed path for every scenario, so that no count depends on a random name.
scenario = ROOT / "build/bench/scenario"
work = scratch()
overs = []
machine = platform.machine()
here = targets.HERE


def build_floor():
    """A fair floor: the release build's compiler, flags, build type, hardening and version."""
    cache = (ROOT / "build/release/CMakeCache.txt").read_text()
    values = {name: re.search(rf"^{name}:[A-Z]*=(.*)$", cache, re.M) for name in (
        "CMAKE_BUILD_TYPE", "CMAKE_C_COMPILER", "CMAKE_C_FLAGS", "CMAKE_CXX_FLAGS", "CMAKE_EXE_LINKER_FLAGS",
        "HORNSET_HARDENING", "CMAKE_PROJECT_VERSION")}
    values["HORNSET_VERSION"] = values.pop("CMAKE_PROJECT_VERSION")
    run(["cmake", "-S", "bench", "-B", "build/bench", "-G", "Ninja", "--no-warn-unused-cli",
         *(f"-D{name}={match[1] if match else ''}" for name, match in values.items())], quiet=True)
    run(["cmake", "--build", "build/bench", "-j2"], quiet=True)


def launch(board, command, **options):
    """COMMAND on a fresh scenario of BOARD, the emulator alone in its environment; BOARD None: no board."""
    if board is None:
        return subprocess.run(command, env={}, stdin=subprocess.DEVNULL, **options)
    shutil.rmtree(scenario, ignore_errors=True)
    scenario.mkdir()
    for name, text in SCENARIOS[board].items():
        (scenario / name).write_text(text)
    preload = ROOT / "build/release/emulator/libhornemu.so"
    return subprocess.run(command, env={"LD_PRELOAD": str(preload), "HORNEMU_DIR": str(scenario)}, **options)


def measure(board, command):
    """Instructions of one run under callgrind, what the run did (status, output, driver log), and its peak RSS
    in KiB, the largest of seven runs without address randomisation: resident pages come in fault-around
    chunks of cached library pages, so a run now and then comes out a chunk lower."""
    counted, log, rss = work / "callgrind", work / "valgrind", work / "rss"
    counted.unlink(missing_ok=True)
    ran = launch(board, [shutil.which("valgrind"), "--tool=callgrind", f"--callgrind-out-file={counted}",
                         f"--log-file={log}", *command], capture_output=True, text=True)
    total = counted.exists() and re.search(r"^summary: *(\d+)", counted.read_text(), re.M)
    if not total:
        sys.stderr.write(log.read_text() if log.exists() else "")
        sys.exit(f"scripts/bench: callgrind gave no count for: {' '.join(command)}")
    driver = (scenario / "log").read_bytes() if board and (scenario / "log").exists() else b""
    effect = {"status": ran.returncode, "stdout": ran.stdout, "stderr": ran.stderr, "log": driver}
    peaks = []
    for _ in range(7):
        launch(board, [shutil.which("setarch"), machine, "-R", "/usr/bin/time", "-f", "%M", "-o", str(rss), *command],
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        peaks.append(int(rss.read_text().split()[-1]))
    return int(total[1]), effect, max(peaks)


def over(what, value, limit):
    if value > limit:
        overs.append(f"over budget: {what}, above {limit:,}")


def table(header, rows):
    print(f"| {' | '.join(header)} |\n|---|{'---:|' * (len(header) - 1)}")
    print("".join(f"| {' | '.join(row)} |\n" for row in rows))


def against_floor():
    print("Instructions executed (callgrind) and peak resident memory (GNU time %M, largest of 7), hornset")
    print("against its floor; both run on the emulated board, whose cost both figures include.\n")
    rows = []
    for name, board, arguments in RUNS:
        (count, mine, peak), (floor_count, floors, floor_peak) = [
            measure(board, [str(program), *arguments]) for program in (hornset, ROOT / f"build/bench/floor-{name}")]
        if b"/proc/lampstat" not in mine["log"]:
            sys.exit(f"scripts/bench: the emulated board was not in effect on run {name}")
        # The floor is a fair floor only if it has the same effect as hornset.
        differs = [part for part in mine if mine[part] != floors[part]]
        if differs:
            sys.exit(f"scripts/bench: on run {name} the floor's {differs[0]} differs from hornset's: "
                     f"{floors[differs[0]]!r}, not {mine[differs[0]]!r}")
        ratio = count / floor_count
        over(f"run {name}: {ratio:.3f} times the floor's instructions", ratio, RATIO_LIMIT)
        rows.append([f"`{' '.join(arguments)}` ({SHOWN[board]})", f"{count:,}", f"{floor_count:,}",
                     f"{ratio:.3f}", f"{peak} KiB", f"{floor_peak} KiB"])
    table(["run (board)", "hornset instructions", "floor instructions", "ratio", "hornset peak RSS",
           "floor peak RSS"], rows)
    size = stripped_size(here, hornset)
    libraries = " ".join(needed(hornset))
    if machine == here.processor:
        over(f"{size:,} bytes stripped", size, SIZE_LIMIT)
    if libraries != "libc.so.6":
        overs.append(f"over budget: NEEDED `{libraries}`, not libc.so.6 alone")
    build("static", target="hornset")
    print(f"The release binary is {size:,} bytes stripped ({machine}) and needs `{libraries}` alone; the static build")
    print(f"(`-DHORNSET_STATIC=ON`, otherwise the same settings) is "
          f"{stripped_size(here, ROOT / 'build/static/cli/hornset'):,} bytes stripped and needs nothing.")


def musl_builds():
    """No preloaded emulator reaches them: this machine's runs here, on neither /proc/lampstat nor /dev/hornio."""
    sizes = []
    for arch in (t for t in targets.TARGETS if t.musl):
        run([str(ROOT / "scripts/build-musl"), arch.name], quiet=True)
        sizes.append((arch.name, stripped_size(arch, ROOT / f"build/musl-{arch.name}/cli/hornset")))
        over(f"static musl build for {arch.name}: {sizes[-1][1]:,} bytes stripped", sizes[-1][1], MUSL_SIZE_LIMIT)
    print("\nStatic musl builds (scripts/build-musl):\n")
    table(["architecture", *(name for name, _ in sizes)], [["stripped size", *(f"{size:,} B" for _, size in sizes)]])
    shown_machine = here.processor.replace("_", "-")
    if machine != here.processor or not here.musl or Path("/proc/lampstat").exists() or Path("/dev/hornio").exists():
        print(f"Instructions of the static musl build: measured on {shown_machine} without /proc/lampstat and "
              "/dev/hornio only.")
        return
    counts, peaks = [], []
    # It must print and exit as without a board (the suite checks the texts) before its figures count.
    for arguments, status, shows in (("--version", 0, f"hornset version {project_version()}\n"), ("10 20 3", 1, "")):
        command = [str(ROOT / f"build/musl-{here.name}/cli/hornset"), *arguments.split()]
        count, effect, peak = measure(None, command)
        counts.append(count)
        peaks.append(peak)
        if effect["status"] != status or not effect["stdout"].endswith(shows):
            sys.exit(f"scripts/bench: the static musl hornset did not behave as without a board on run "
                     f"`{arguments}`: {effect}")
        over(f"static musl `{arguments}`: {count:,} instructions", count, MUSL_INSTRUCTION_LIMIT)
    table(["static musl build", "`--version`", "`10 20 3`"],
          [[f"instructions ({shown_machine})", *(f"{c:,}" for c in counts)],
           [f"peak RSS ({shown_machine})", *(f"{p} KiB" for p in peaks)]])


def main():
    if sys.argv[1:] not in ([], ["--check"]):
        Script("bench").usage("scripts/bench [--check]")
    ensure_packages("cmake", "ninja-build", "g++", "binutils", "valgrind", "time", "util-linux")
    build("release")
    build_floor()
    against_floor()
    musl_builds()
    if overs:
        print("\n".join(overs), "Over budget.", sep="\n")
        sys.exit(1)
    if sys.argv[1:] == ["--check"]:
        print(f"Within budget: at most {RATIO_LIMIT:.2f} times the floor's instructions on every run;")
        print(f"NEEDED libc.so.6 alone; stripped size at most {SIZE_LIMIT} bytes. Static musl: at most")
        print(f"{MUSL_INSTRUCTION_LIMIT} instructions per run, at most {MUSL_SIZE_LIMIT} bytes stripped on each.")


main()
