"""scripts/static-test [ARCH|musl-ARCH]: a fully static hornset, built and checked: static, for
the board's machine and baseline, and running there (on its oldest CPU) with its version."""

import sys
from pathlib import Path

import targets
from common import ROOT, Script, ensure_packages, run, static_problems, version_problem

script = Script("static-test")


def build(target, board):
    """The static hornset of TARGET: the static preset for this machine, a build with the board's
    cross compiler, or scripts/build-musl's (which checks that no part of glibc is inside)."""
    if target.startswith("musl-"):
        run([str(ROOT / "scripts/build-musl"), board.name], stdout=sys.stderr)
        return Path("build", target, "cli/hornset")
    if not target:
        run(["cmake", "--preset", "static"])
        build = "build/static"
    else:
        build = f"build/static-{board.name}"
        run(["cmake", "-S", ".", "-B", build, "-G", "Ninja",
             f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/toolchains/debian-cross.cmake",
             f"-DHORNSET_TARGET={board.name}", "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DHORNSET_DEVELOPER_MODE=ON",
             "-DHORNSET_STATIC=ON", "-DHORNSET_BUILD_TESTS=OFF", "-DHORNSET_BUILD_EMULATOR=OFF"])
    run(["cmake", "--build", build, "--target", "hornset", "-j", "2"])
    return Path(build, "cli/hornset")


def main():
    choices = [b.name for b in targets.TARGETS if b.foreign]
    choices += [f"musl-{name}" for name in targets.names(having="musl")]
    target = sys.argv[1] if len(sys.argv) > 1 else ""
    if len(sys.argv) > 2 or target not in ("", *choices):
        script.usage(f"scripts/static-test [{'|'.join(choices)}]")
    board = targets.target(target.removeprefix("musl-"), script.name) if target else targets.this_machine()
    ensure_packages("cmake", "ninja-build", board.compiler_package(), "libc6-dev", "binutils", "file",
                    *(["qemu-user-static"] if board.foreign else []))
    hornset = build(target, board)
    # The emulated board cannot reach a static binary (it is an LD_PRELOAD interposer): the suite
    # does not apply. A board's build runs under qemu-user on its baseline's oldest CPU, where the
    # table names one, so that an instruction beyond the baseline stops it.
    for problem in [*static_problems(board, hornset),
                    version_problem([*board.qemu_user(oldest_cpu=True), str(hornset)])]:
        if problem:
            script.fail(f"{hornset}: {problem}")
    script.finish(f"static-test: the static hornset{' for ' + target if target else ''} passed",
                  "failure(s)")


main()
