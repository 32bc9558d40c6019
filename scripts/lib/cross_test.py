"""scripts/cross-test BOARD [CTEST OPTIONS...]: the whole suite for a board, under qemu-user."""

import re
import sys
import time

import boards
from common import ROOT, Script, describe, baseline_problem, ensure_packages, run, scratch

script = Script("cross-test")
foreign = [b.name for b in boards.BOARDS if b.foreign]
if len(sys.argv) < 2:
    script.usage(f"scripts/cross-test {'|'.join(foreign)} [ctest options]")
board = boards.board(sys.argv[1], "cross-test")
if not board.foreign:
    script.die(f"{board.name} is this machine: scripts/test runs its suite", 2)
start = time.monotonic()

# googletest: the sources, built for the board with the cross compiler.
# qemu-user-static rather than qemu-user: the dynamic qemu's own loader would
# take the LD_PRELOAD meant for the board and complain on standard error.
ensure_packages("cmake", "ninja-build", board.compiler_package(), "qemu-user-static", "googletest",
                "binutils", "file")

preset = f"cross-{board.name}"
build = ROOT / "build" / preset
run(["cmake", "--preset", preset])
run(["cmake", "--build", "--preset", preset, "-j", "2"])

hornset = build / "cli/hornset"
preload = build / "emulator/libhornemu.so"
for built in (hornset, preload):
    description = describe(built)
    print(f"{built.relative_to(ROOT)}: {description}")
    if not re.search(board.machine, description):
        script.die(f"{built} is not built for {board.name}")
problem = baseline_problem(board, hornset)
if problem:
    script.die(f"{hornset} is not for every {board.name} board: {problem}")

run(["ctest", "--preset", preset, *sys.argv[2:]])

# The request numbers the board's driver receives: a set request, then a get
# request, which hands the set word back, on an emulated request board. The
# libraries come from the board's tree, as in the suite (cmake/toolchains/debian-cross.cmake).
scenario = scratch()
(scenario / "lampstat").write_text("leds: status=off error=off\nmodel: RQ-200\n")
for arguments in (["10", "20", "3"], []):
    run([f"/usr/bin/{board.qemu}", "-L", f"/usr/{board.triple}", "-E",
         f"LD_LIBRARY_PATH=/usr/{board.triple}/lib", "-0", "hornset", str(hornset), *arguments],
        env={"HORNEMU_DIR": str(scenario), "LD_PRELOAD": str(preload)})
requests = [line for line in (scenario / "log").read_text().splitlines() if line.startswith("ioctl ")]
print(f"{board.name} driver log:", *requests, sep="\n")
set_number, get_number = board.request_numbers()
if requests != [f"ioctl /dev/hornio request={set_number} word=0x000a1403 -> 0",
                f"ioctl /dev/hornio request={get_number} word=0x00000000 -> 0 word=0x000a1403"]:
    script.die(f"the driver received other requests than {set_number} and {get_number}")

# The board's Debian package, made by cpack in a build of the same preset and
# checked. Whether it is reproducible is checked for the table's first board
# alone, to keep the runs short: the packaging steps are the same for every board.
package_test = [str(ROOT / "scripts/package-test")]
if board.name != foreign[0]:
    package_test.append("--skip-reproducibility")
run([*package_test, preset, board.deb_arch])
print(f"cross-test {board.name}: passed in {time.monotonic() - start:.0f} s")
