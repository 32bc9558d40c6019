"""scripts/dist [--reproducible]: the downloadable archives, a static musl hornset for each board of
the table with a musl triple, and dist/SHA256SUMS; checked, and with --reproducible built twice."""

import filecmp
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import tarfile
import time
from pathlib import Path

import targets
from common import (ROOT, Script, describe, ensure_packages_announced, glibc_traces, output,
                    project_version, rebuild, run, scratch, static_problems, version_problem)

script = Script("scripts/dist")
if sys.argv[1:] not in ([], ["--reproducible"]):
    script.usage("scripts/dist [--reproducible]")
reproducible = sys.argv[1:] == ["--reproducible"]

musl_boards = [b for b in targets.TARGETS if b.musl]
version = project_version()
commit = output(["git", "rev-parse", "HEAD"]).strip()
epoch = os.environ.get("SOURCE_DATE_EPOCH") or output(["git", "log", "-1", "--format=%ct"]).strip()
if not epoch.isdigit():
    script.die(f"SOURCE_DATE_EPOCH is not a number of seconds: '{epoch}'", 2)
os.environ["SOURCE_DATE_EPOCH"] = epoch
# The documents each archive holds beside the binary, as the commit has them (the manual page as
# the build configures it).
DOCUMENTS = ["hornset.1", "README.md", "packaging/60-hornset.rules", "packaging/copyright"]

def archive_name(board):
    return f"hornset-{version}-{board.name}-linux-musl-static"


def document(tree, board, name):
    """Where the commit's document NAME is in TREE."""
    return tree / "build" / f"musl-{board.name}" / name if name == "hornset.1" else tree / name


def build_all(tree, out):
    """Builds and packs every board's binary, from the clone TREE, into OUT, with its SHA256SUMS."""
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    for board in musl_boards:
        run([str(tree / "scripts/build-musl"), board.name], quiet=True, cwd=tree)
        pack(tree, board, out)
    sums = "".join(f"{hashlib.sha256(archive.read_bytes()).hexdigest()}  {archive.name}\n"
                   for archive in sorted(out.glob("*.tar.gz")))
    (out / "SHA256SUMS").write_text(sums)


def pack(tree, board, out):
    """Strips the board's binary and packs it with the documents: nothing of this machine, this
    user or this moment goes into the archive."""
    stage = scratch()
    directory = stage / archive_name(board)
    directory.mkdir()
    run([board.tool("strip"), "-o", str(directory / "hornset"),
         str(tree / "build" / f"musl-{board.name}" / "cli/hornset")])
    for name in DOCUMENTS:
        shutil.copy(document(tree, board, name), directory)
        os.chmod(directory / Path(name).name, 0o644)
    os.chmod(directory, 0o755)
    os.chmod(directory / "hornset", 0o755)
    with open(out / f"{directory.name}.tar.gz", "wb") as archive:
        tar = subprocess.Popen(["tar", "--create", "--format=gnu", "--sort=name", f"--mtime=@{epoch}",
                                "--owner=0", "--group=0", "--numeric-owner", f"--directory={stage}",
                                directory.name],
                               stdout=subprocess.PIPE, env={**os.environ, "LC_ALL": "C"})
        run(["gzip", "-9", "-n"], stdin=tar.stdout, stdout=archive)
        if tar.wait():
            script.die(f"tar failed packing {directory}")


def check_archive(out, board, tree):
    """Unpacks the board's archive and checks what is in it, and runs its binary."""
    name = archive_name(board)
    archive = out / f"{name}.tar.gz"
    # The entries, in order: sorted, owned by 0:0, fixed modes, dated at SOURCE_DATE_EPOCH.
    with tarfile.open(archive) as contents:
        listing = [(stat.filemode(entry.mode | (stat.S_IFDIR if entry.isdir() else stat.S_IFREG)),
                    f"{entry.uid}/{entry.gid}", entry.mtime, entry.name + ("/" if entry.isdir() else ""))
                   for entry in contents.getmembers()]
    files = sorted(Path(n).name for n in [*DOCUMENTS, "hornset"])
    expected = [("drwxr-xr-x", "0/0", int(epoch), f"{name}/")]
    expected += [("-rwxr-xr-x" if f == "hornset" else "-rw-r--r--", "0/0", int(epoch), f"{name}/{f}")
                 for f in files]
    script.expect_equal(f"{archive}: entries", expected, listing)
    # The gzip header: no flags (so no stored name) and no time.
    header = archive.read_bytes()[:8]
    if header[3] != 0 or header[4:8] != bytes(4):
        script.fail(f"{archive}: gzip stored a name or a time")

    unpacked = scratch()
    run(["tar", "--extract", f"--file={archive}", f"--directory={unpacked}"])
    for doc in DOCUMENTS:
        if not filecmp.cmp(document(tree, board, doc), unpacked / name / Path(doc).name, shallow=False):
            script.fail(f"{archive}: {Path(doc).name} is not the commit's {doc}")

    # The binary: static, stripped, for the board, no glibc, and it runs (under qemu-user on the
    # board's oldest CPU) with its version.
    hornset = unpacked / name / "hornset"
    for problem in [*static_problems(board, hornset), version_problem(
            [*board.qemu_user(oldest_cpu=True), str(hornset)]),
            "not stripped" in describe(hornset) and "it is not stripped",
            glibc_traces(hornset) and "it holds glibc's strings"]:
        if problem:
            script.fail(f"{archive}: {problem}")
    print(f"{archive}: {hornset.stat().st_size} bytes stripped; checked")


def main():
    # Everything every musl build needs, installed once, saying first what it adds: about a minute of
    # apt's work on a machine that has none of it.
    ensure_packages_announced(script.name, [
        ("the tools", ["git", "tar", "gzip", "coreutils", "file", "binutils", "qemu-user-static", "cmake",
                       "ninja-build"]),
        ("the compilers", [b.compiler_package() for b in musl_boards]),
        ("musl for each board", [b.musl_package() for b in musl_boards]),
    ])

    # Only what is committed goes in: a fresh clone of the last commit.
    out = ROOT / "dist"
    rebuild(ROOT / "build/dist/tree", commit, "now", lambda tree: build_all(tree, out))
    for board in musl_boards:
        check_archive(out, board, ROOT / "build/dist/tree")
    print(f"SHA256SUMS (commit {commit}, SOURCE_DATE_EPOCH {epoch}):")
    print((out / "SHA256SUMS").read_text(), end="")
    if output(["git", "status", "--porcelain"]):
        print(f"scripts/dist: uncommitted changes are not in the archives, which hold commit {commit}")

    if reproducible:
        # The same commit again, elsewhere and otherwise: other path, file dates, umask, time zone
        # and locale.
        again = scratch()
        time.sleep(1)
        rebuild(again / "built/again/elsewhere/tree", commit, "last year",
                lambda tree: build_all(tree, again / "dist"),
                umask=0o077, tz="Pacific/Kiritimati", locale="C")
        if (out / "SHA256SUMS").read_bytes() == (again / "dist/SHA256SUMS").read_bytes():
            print("scripts/dist: reproducible: a second build from another clone gave the same SHA256SUMS")
        else:
            script.fail("a second build from another clone gave other archives:")
            subprocess.run(["diff", str(out / "SHA256SUMS"), str(again / "dist/SHA256SUMS")],
                           stdout=sys.stderr)
        for board in musl_boards:
            archive = f"{archive_name(board)}.tar.gz"
            if not filecmp.cmp(out / archive, again / "dist" / archive, shallow=False):
                script.fail(f"{archive} differs from the second build's")

    script.finish("scripts/dist: the archives in dist/ passed", "check(s) failed")


main()
