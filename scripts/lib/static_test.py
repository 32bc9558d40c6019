"""scripts/static-test [ARCH|musl-ARCH]: a static hornset, checked; no emulated board reaches it."""

import sys
from pathlib import Path

import targets
from common import ROOT, Script, build, ensure_packages, run, static_problems, version_problem

script = Script("static-test")


def main():
    choices = [t.name for t in targets.TARGETS if t.foreign] + [f"musl-{n}" for n in targets.names(having="musl")]
    name = sys.argv[1] if len(sys.argv) > 1 else ""
    if len(sys.argv) > 2 or name not in ("", *choices):
        script.usage(f"scripts/static-test [{'|'.join(choices)}]")
    arch = targets.target(name.removeprefix("musl-"), script.name) if name else targets.HERE
    ensure_packages("cmake", "ninja-build", arch.compiler_package, "libc6-dev", "binutils", "file",
                    *(["qemu-user-static"] if arch.foreign else []))
    if name.startswith("musl-"):
        # scripts/build-musl also checks that no part of glibc is inside.
        run([str(ROOT / "scripts/build-musl"), arch.name], stdout=sys.stderr)
        hornset = Path("build", name, "cli/hornset")
    else:
        # The static preset, or a cross preset made static, the tests and emulated board left out.
        directory = f"build/static-{arch.name}" if arch.foreign else "build/static"
        build(f"cross-{arch.name}" if arch.foreign else "static", "-DHORNSET_STATIC=ON", "-DHORNSET_BUILD_TESTS=OFF",
              "-DHORNSET_BUILD_EMULATOR=OFF", directory=directory, target="hornset")
        hornset = Path(directory, "cli/hornset")
    # On the baseline's oldest CPU, where the table names one, an instruction beyond it stops the run.
    for problem in [*static_problems(arch, hornset), version_problem([*arch.qemu_user(oldest_cpu=True), str(hornset)])]:
        script.fail(problem and f"{hornset}: {problem}")
    script.finish(f"static-test: the static hornset{' for ' + name if name else ''} passed", "failure(s)")


main()
