"""scripts/cross-test ARCH [CTEST OPTIONS...]: the whole suite for a board, under qemu-user, the
request numbers its driver receives, and its Debian package."""

import re
import sys
import time

import targets
from common import ROOT, Script, baseline_problem, describe, ensure_packages, run, scratch

script = Script("cross-test")
foreign = [b.name for b in targets.TARGETS if b.foreign]
if len(sys.argv) < 2:
    script.usage(f"scripts/cross-test {'|'.join(foreign)} [ctest options]")
board = targets.target(sys.argv[1], "cross-test")
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
hornset, preload = build / "cli/hornset", build / "emulator/libhornemu.so"
for built in (hornset, preload):
    description = describe(built)
    print(f"{built.relative_to(ROOT)}: {description}")
    if not re.search(board.machine, description):
        script.die(f"{built} is not built for {board.name}")
problem = baseline_problem(board, hornset)
if problem:
    script.die(f"{hornset} is not for every {board.name} board: {problem}")
run(["ctest", "--preset", preset, *sys.argv[2:]])

# The request numbers the board's driver receives, against the table's encoding (the suite takes
# them from the same header as the tool): a set request, then a get request on a request board.
scenario = scratch()
(scenario / "lampstat").write_text("leds: status=off error=off\nmodel: RQ-200\n")
for arguments in (["10", "20", "3"], []):
    run([*board.qemu_user(libraries=True), str(hornset), *arguments],
        env={"HORNEMU_DIR": str(scenario), "LD_PRELOAD": str(preload)})
requests = re.findall(r"^ioctl /dev/hornio request=(0x[0-9a-f]+)", (scenario / "log").read_text(), re.M)
print(f"{board.name} driver requests: {' '.join(requests)}")
if tuple(requests) != board.request_numbers():
    script.die(f"the driver received other requests than {' and '.join(board.request_numbers())}")

# The board's Debian package, made by cpack in a build of the same preset and checked; whether it
# is reproducible for the table's first board alone: the packaging steps are the same for all.
run([str(ROOT / "scripts/package-test"), *([] if board.name == foreign[0] else ["--skip-reproducibility"]),
     preset, board.deb_arch])
print(f"cross-test {board.name}: passed in {time.monotonic() - start:.0f} s")
