"""scripts/build-musl BOARD: a fully static hornset against musl, checked for any trace of glibc;
the last line printed is the binary's path."""

import os
import re
import subprocess
import sys
from pathlib import Path

import targets
from common import (ROOT, Script, ensure_packages, glibc_traces, output, readelf, run, static_problems,
                    stripped_size)

script = Script("build-musl")


def link_problems(board, link_map):
    """What the link took besides the build's own objects, musl's start files and libc.a, and the
    compiler's own libgcc and start files: nothing else, and nothing of glibc's directories."""
    if not link_map.is_file() or link_map.stat().st_size == 0:
        return [f"the linker wrote no map to {link_map}"]
    libgcc = Path(output([board.tool("gcc"), "-print-libgcc-file-name"]).strip()).parent.resolve()
    musl_lib = Path("/usr/lib", board.musl)
    inputs = re.findall(r"^\s*LOAD\s+(\S+)", link_map.read_text(errors="replace"), re.MULTILINE)
    problems = [f"the link took {taken}" for taken in inputs if taken.startswith("/") and not any(
        Path(os.path.realpath(taken)).is_relative_to(allowed) for allowed in (musl_lib, libgcc))]
    return problems + ([] if str(musl_lib / "libc.a") in inputs else ["the link did not take musl's libc.a"])


def main():
    musl_boards = targets.names(having="musl")
    if len(sys.argv) != 2 or sys.argv[1] not in musl_boards:
        script.usage(f"scripts/build-musl {'|'.join(musl_boards)}")
    board = targets.target(sys.argv[1], script.name)
    # musl for a board comes from the board's own Debian architecture, added when missing.
    ensure_packages("cmake", "ninja-build", "binutils", "file", board.compiler_package(),
                    board.musl_package())

    preset = f"musl-{board.name}"
    hornset = Path("build", preset, "cli/hornset")
    link_map = ROOT / "build" / preset / "hornset.map"
    # The link map names every file the linker took: the proof of which C library is inside.
    run(["cmake", "--preset", preset, f"-DCMAKE_EXE_LINKER_FLAGS=-Wl,-Map={link_map}"],
        stdout=subprocess.DEVNULL)
    for stale in (hornset, link_map):
        stale.unlink(missing_ok=True)
    run(["cmake", "--build", "--preset", preset, "--", "-j2"])

    kind = re.search(r"Type: *(\S+)", readelf("-h", hornset))
    for problem in [*static_problems(board, hornset),
                    (not kind or kind[1] != "EXEC") and "not a plain static executable",
                    glibc_traces(hornset) and f"it holds glibc's strings: {' '.join(glibc_traces(hornset))}",
                    *link_problems(board, link_map)]:
        if problem:
            script.fail(problem)
    print(f"{hornset}: {stripped_size(board, hornset)} bytes stripped", flush=True)
    script.finish(str(hornset), f"check(s) failed for {board.name}")


main()
