"""scripts/dist [--reproducible]: the static musl archives and dist/SHA256SUMS; --reproducible builds twice."""

import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import time
from pathlib import Path

import targets
from common import ROOT, Script, ensure_packages, output, project_version, rebuild, run, scratch

script = Script("scripts/dist")
musl_targets = [t for t in targets.TARGETS if t.musl]
commit = output(["git", "rev-parse", "HEAD"]).strip()
epoch = os.environ.get("SOURCE_DATE_EPOCH") or output(["git", "log", "-1", "--format=%ct"]).strip()
# Each archive's files: the binary and the documents as the commit has them (the manual page as built).
DOCUMENTS = ["hornset.1", "README.md", "packaging/60-hornset.rules", "packaging/copyright"]
FILES = sorted(Path(name).name for name in ["hornset", *DOCUMENTS])


def build_all(tree, out):
    """Nothing of this machine, user or moment goes into the archives."""
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    for arch in musl_targets:
        run([str(tree / "scripts/build-musl"), arch.name], quiet=True, cwd=tree)
        directory = scratch() / f"hornset-{project_version()}-{arch.name}-linux-musl-static"
        directory.mkdir()
        built = tree / "build" / f"musl-{arch.name}"
        run([arch.tool("strip"), "-o", str(directory / "hornset"), str(built / "cli/hornset")])
        for name in DOCUMENTS:
            shutil.copy(built / name if name == "hornset.1" else tree / name, directory)
        run(["tar", "--create", "--format=gnu", "--sort=name", f"--mtime=@{epoch}", "--owner=0", "--group=0",
             "--numeric-owner", "--mode=u=rwX,go=rX", "--use-compress-program=gzip -9 -n",
             f"--file={out / directory.name}.tar.gz", f"--directory={directory.parent}", directory.name],
            env={**os.environ, "LC_ALL": "C"})
    (out / "SHA256SUMS").write_text("".join(f"{hashlib.sha256(archive.read_bytes()).hexdigest()}  {archive.name}\n"
                                            for archive in sorted(out.glob("*.tar.gz"))))


def main():
    if sys.argv[1:] not in ([], ["--reproducible"]):
        script.usage("scripts/dist [--reproducible]")
    if not epoch.isdigit():
        script.die(f"SOURCE_DATE_EPOCH is not a number of seconds: '{epoch}'", 2)
    os.environ["SOURCE_DATE_EPOCH"] = epoch
    # Everything every musl build needs, installed once.
    ensure_packages("git", "tar", "gzip", "coreutils", "file", "binutils", "cmake", "ninja-build",
                    *(t.compiler_package for t in musl_targets), *(t.musl_package for t in musl_targets))
    # Only what is committed goes in: a fresh clone of the last commit.
    out = ROOT / "dist"
    rebuild(ROOT / "build/dist/tree", commit, lambda tree: build_all(tree, out))
    # The archives' entries; static-test musl-ARCH runs the binary.
    for archive in sorted(out.glob("*.tar.gz")):
        name = archive.name.removesuffix(".tar.gz")
        with tarfile.open(archive) as contents:
            listing = [(e.mode, e.type, f"{e.uid}/{e.gid}", e.mtime, e.name) for e in contents.getmembers()]
        expected = [(0o755, tarfile.DIRTYPE, "0/0", int(epoch), name)] + [
            (0o755 if f == "hornset" else 0o644, tarfile.REGTYPE, "0/0", int(epoch), f"{name}/{f}") for f in FILES]
        script.expect_equal(f"dist/{name}.tar.gz: entries", expected, listing)
    print(f"SHA256SUMS (commit {commit}, SOURCE_DATE_EPOCH {epoch}):")
    print((out / "SHA256SUMS").read_text(), end="")
    if output(["git", "status", "--porcelain"]):
        print(f"scripts/dist: uncommitted changes are not in the archives, which hold commit {commit}")
    if sys.argv[1:] == ["--reproducible"]:
        again = scratch()
        time.sleep(1)
        rebuild(again / "built/again/elsewhere/tree", commit, lambda tree: build_all(tree, again / "dist"), again=True)
        if (out / "SHA256SUMS").read_bytes() == (again / "dist/SHA256SUMS").read_bytes():
            print("scripts/dist: reproducible: a second build from another clone gave the same SHA256SUMS")
        else:
            script.fail("a second build from another clone gave other archives:")
            subprocess.run(["diff", str(out / "SHA256SUMS"), str(again / "dist/SHA256SUMS")], stdout=sys.stderr)
    script.finish("scripts/dist: the archives in dist/ passed", "check(s) failed")


main()
