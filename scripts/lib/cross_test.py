"""scripts/cross-test ARCH [CTEST OPTIONS...]: the whole suite for a board, under qemu-user, the
request numbers its driver receives, and its Debian package."""

import re
import sys
import time

import targets
from common import ROOT, Script, baseline_problem, ensure_packages, run, scratch

script = Script("cross-test")


def requests(board, hornset, preload):
    """The request numbers the board's driver receives from a set request, then a get request on a
    request board (the suite takes them from the same header as the tool)."""
    scenario = scratch()
    (scenario / "lampstat").write_text("leds: status=off error=off\nmodel: RQ-200\n")
    for arguments in (["10", "20", "3"], []):
        run([*board.qemu_user(libraries=True), str(hornset), *arguments],
            env={"HORNEMU_DIR": str(scenario), "LD_PRELOAD": str(preload)})
    return re.findall(r"^ioctl /dev/hornio request=(0x[0-9a-f]+)", (scenario / "log").read_text(), re.M)


def main():
    foreign = [b.name for b in targets.TARGETS if b.foreign]
    if len(sys.argv) < 2:
        script.usage(f"scripts/cross-test {'|'.join(foreign)} [ctest options]")
    board = targets.target(sys.argv[1], "cross-test")
    if not board.foreign:
        script.die(f"{board.name} is this machine: scripts/test runs its suite", 2)
    start = time.monotonic()
    # googletest: the sources, built for the board. qemu-user-static, as the dynamic qemu's own loader
    # would take the LD_PRELOAD meant for the board and complain on standard error.
    ensure_packages("cmake", "ninja-build", board.compiler_package(), "qemu-user-static", "googletest",
                    "binutils", "file")
    preset = f"cross-{board.name}"
    run(["cmake", "--preset", preset])
    run(["cmake", "--build", "--preset", preset, "-j", "2"])
    build = ROOT / "build" / preset
    hornset, preload = build / "cli/hornset", build / "emulator/libhornemu.so"
    # The suite runs on qemu's default CPU, which would not notice code beyond the board's baseline.
    problem = baseline_problem(board, hornset)
    if problem:
        script.die(f"{hornset} is not for every {board.name} board: {problem}")
    run(["ctest", "--preset", preset, *sys.argv[2:]])

    received = requests(board, hornset, preload)
    print(f"{board.name} driver requests: {' '.join(received)}")
    if tuple(received) != board.request_numbers():
        script.die(f"the driver received other requests than {' and '.join(board.request_numbers())}")
    # The board's Debian package, made by cpack in a build of the same preset and checked; whether it
    # is reproducible for the table's first board alone: the packaging steps are the same for all.
    reproducibility = [] if board.name == foreign[0] else ["--skip-reproducibility"]
    run([str(ROOT / "scripts/package-test"), *reproducibility, preset, board.deb_arch])
    print(f"cross-test {board.name}: passed in {time.monotonic() - start:.0f} s")


main()
