"""scripts/cross-test ARCH [CTEST OPTIONS...]: the suite cross-built and run under qemu-user; the package."""

import sys
import time

import targets
from common import ROOT, Script, build, ensure_packages, run

script = Script("cross-test")


def main():
    foreign = [t.name for t in targets.TARGETS if t.foreign]
    # This machine's suite is scripts/test's.
    if len(sys.argv) < 2 or sys.argv[1] not in foreign:
        script.usage(f"scripts/cross-test {'|'.join(foreign)} [ctest options]")
    arch = targets.target(sys.argv[1], "cross-test")
    start = time.monotonic()
    # qemu-user-static: the dynamic qemu's own loader would take the LD_PRELOAD meant for ARCH's programs.
    ensure_packages("cmake", "ninja-build", arch.compiler_package, "qemu-user-static", "googletest",
                    "binutils", "file")
    preset = f"cross-{arch.name}"
    # The CPU baseline is the compiler's default: static-test and build-musl check it in their builds.
    build(preset)
    run(["ctest", "--preset", preset, *sys.argv[2:]])
    # Reproducibility for the table's first foreign architecture alone: the packaging steps are the same for all.
    reproducibility = [] if arch.name == foreign[0] else ["--skip-reproducibility"]
    run([str(ROOT / "scripts/package-test"), *reproducibility, preset, arch.deb_arch])
    print(f"cross-test {arch.name}: passed in {time.monotonic() - start:.0f} s")


main()
