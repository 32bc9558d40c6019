"""scripts/build-musl ARCH: a static hornset against musl, checked for glibc; its path the last line."""

import os
import re
import sys
from pathlib import Path

import targets
from common import ROOT, Script, build, ensure_packages, output, static_problems, stripped_size

script = Script("build-musl")


def link_problems(arch, link_map):
    """What the link took besides its objects, musl's files and libgcc: g++'s -lc would silently take glibc's."""
    if not link_map.is_file() or link_map.stat().st_size == 0:
        return [f"the linker wrote no map to {link_map}"]
    libgcc = Path(output([arch.tool("gcc"), "-print-libgcc-file-name"]).strip()).parent.resolve()
    musl_lib = Path("/usr/lib", arch.musl)
    inputs = re.findall(r"^\s*LOAD\s+(\S+)", link_map.read_text(errors="replace"), re.MULTILINE)
    problems = [f"the link took {taken}" for taken in inputs if taken.startswith("/") and not any(
        Path(os.path.realpath(taken)).is_relative_to(allowed) for allowed in (musl_lib, libgcc))]
    return problems + ([] if str(musl_lib / "libc.a") in inputs else ["the link did not take musl's libc.a"])


def main():
    musl_targets = targets.names(having="musl")
    if len(sys.argv) != 2 or sys.argv[1] not in musl_targets:
        script.usage(f"scripts/build-musl {'|'.join(musl_targets)}")
    arch = targets.target(sys.argv[1], script.name)
    # musl for a foreign architecture is its own Debian architecture's musl-dev, added when missing.
    ensure_packages("cmake", "ninja-build", "binutils", "file", arch.compiler_package, arch.musl_package)
    preset = f"musl-{arch.name}"
    hornset = Path("build", preset, "cli/hornset")
    link_map = ROOT / "build" / preset / "hornset.map"
    for stale in (hornset, link_map):
        stale.unlink(missing_ok=True)
    # The link map names every file the linker took: the proof of which C library is inside.
    build(preset, f"-DCMAKE_EXE_LINKER_FLAGS=-Wl,-Map={link_map}")
    # file calls a static PIE "static-pie linked", which static_problems refuses.
    for problem in [*static_problems(arch, hornset), *link_problems(arch, link_map)]:
        script.fail(problem)
    print(f"{hornset}: {stripped_size(arch, hornset)} bytes stripped", flush=True)
    script.finish(str(hornset), f"check(s) failed for {arch.name}")


main()
