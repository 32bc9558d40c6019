"""scripts/static-test [BOARD|musl-BOARD]: a fully static hornset, checked and run without a board."""

import re
import subprocess
import sys
from pathlib import Path

import boards
from common import (ROOT, Script, baseline_problem, board_absent, describe, ensure_packages, needed,
                    project_version, run)

script = Script("static-test")
choices = [b.name for b in boards.BOARDS if b.foreign]
choices += [f"musl-{name}" for name in boards.names(having="musl")]
target = sys.argv[1] if len(sys.argv) > 1 else ""
if len(sys.argv) > 2 or target not in ("", *choices):
    script.usage(f"scripts/static-test [{'|'.join(choices)}]")

# The board, and the build: the static preset for this machine, the board's cross compiler, or
# scripts/build-musl (which checks that no part of glibc is inside).
board = boards.board(target.removeprefix("musl-"), script.name) if target else None
if not target:
    ensure_packages("cmake", "ninja-build", "g++", "libc6-dev", "binutils", "file")
    run(["cmake", "--preset", "static"])
    run(["cmake", "--build", "build/static", "--target", "hornset", "-j", "2"])
    hornset = Path("build/static/cli/hornset")
elif not target.startswith("musl-"):
    ensure_packages("cmake", "ninja-build", board.compiler_package(), "qemu-user-static", "binutils",
                    "file")
    build = f"build/static-{board.name}"
    run(["cmake", "-S", ".", "-B", build, "-G", "Ninja",
         f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/toolchains/debian-cross.cmake",
         f"-DHORNSET_BOARD={board.name}",
         "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DHORNSET_DEVELOPER_MODE=ON", "-DHORNSET_STATIC=ON",
         "-DHORNSET_BUILD_TESTS=OFF", "-DHORNSET_BUILD_EMULATOR=OFF"])
    run(["cmake", "--build", build, "--target", "hornset", "-j", "2"])
    hornset = Path(build, "cli/hornset")
else:
    ensure_packages("file", *(["qemu-user-static"] if board.foreign else []))
    run([str(ROOT / "scripts/build-musl"), board.name], stdout=sys.stderr)
    hornset = Path("build", target, "cli/hornset")
# A board's build runs under qemu-user on its baseline's oldest CPU, where the table names one, so
# that an instruction beyond the baseline stops it. No -L: a static binary needs nothing of the
# board's tree.
runner = board.qemu_user(oldest_cpu=True) if board else []

# The binary: static, for the board's machine and byte order and its baseline.
description = describe(hornset)
print(f"{hornset}: {description}")
if "statically linked" not in description:
    script.fail("file does not call it statically linked")
if board and not re.search(board.machine, description):
    script.fail(f"file does not name the machine and byte order of {target} ({board.machine})")
problem = board and baseline_problem(board, hornset)
if problem:
    script.fail(f"not for every {board.name} board: {problem}")
if needed(hornset):
    script.fail(f"it still needs shared libraries: {' '.join(needed(hornset))}")


def check(arguments, stdout, stderr, status):
    """Runs hornset ARGUMENTS and compares its streams and exit status, byte for byte."""
    result = script.expect_run(f"hornset {' '.join(arguments)}", [*runner, str(hornset), *arguments],
                               stdout.encode(), stderr.encode(), status)
    print(f"checked: hornset {' '.join(arguments)} (exit status {result.returncode})")


if not board_absent():
    # On a board the runs below would drive the real buzzer.
    print("This machine has /proc/lampstat or /dev/hornio: not running the static hornset.",
          file=sys.stderr)
else:
    no_board = "fail to open /proc/lampstat\n"
    check(["--version"], f"{no_board}hornset version {project_version()}\n", "", 0)
    check(["--help"], f"""{no_board}Usage: hornset [off time] [on time] [count]
--help     : help
--version  : version
off time : 1-255
on time  : 1-255
count    : 0-255 (255 = buzzer always running.)
""", "", 0)
    check(["0", "20", "3"], f"{no_board}Error: Invalid parameter.\nCan't set to zero.\n", "", 1)
    check(["10", "20", "3"], f"{no_board}driver open error.\n", "open: No such file or directory\n", 1)
    check([], f"{no_board}driver open error.\n", "open: No such file or directory\n", 1)

    # Lost output is a failure that names the failed write's reason, with every C library.
    with open("/dev/full", "wb") as full:
        lost = subprocess.run([*runner, str(hornset), "--version"], stdin=subprocess.DEVNULL,
                              stdout=full, stderr=subprocess.PIPE)
    script.expect_equal("hornset --version >/dev/full: standard error",
                        b"hornset: write error: No space left on device\n", lost.stderr)
    script.expect_equal("hornset --version >/dev/full: exit status", 1, lost.returncode)
    print(f"checked: hornset --version >/dev/full (exit status {lost.returncode})")

script.finish(f"static-test: the static hornset{' for ' + target if target else ''} passed",
              "failure(s)")
