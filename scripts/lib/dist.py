"""scripts/dist [--reproducible]: the downloadable archives, a static musl hornset for each board of
the table with a musl triple, and dist/SHA256SUMS; checked, and with --reproducible built twice."""

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
from common import (ROOT, Script, ensure_packages, output, project_version, rebuild, run, scratch,
                    version_problem)

script = Script("scripts/dist")
musl_boards = [b for b in targets.TARGETS if b.musl]
version = project_version()
commit = output(["git", "rev-parse", "HEAD"]).strip()
epoch = os.environ.get("SOURCE_DATE_EPOCH") or output(["git", "log", "-1", "--format=%ct"]).strip()
# The documents each archive holds beside the binary, as the commit has them (the manual page as
# the build configures it).
DOCUMENTS = ["hornset.1", "README.md", "packaging/60-hornset.rules", "packaging/copyright"]


def archive_name(board):
    return f"hornset-{version}-{board.name}-linux-musl-static"


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
    """Strips the board's binary (checked by scripts/build-musl) and packs it with the documents:
    nothing of this machine, this user or this moment goes into the archive."""
    stage = scratch()
    directory = stage / archive_name(board)
    directory.mkdir()
    built = tree / "build" / f"musl-{board.name}"
    run([board.tool("strip"), "-o", str(directory / "hornset"), str(built / "cli/hornset")])
    for name in DOCUMENTS:
        shutil.copy(built / name if name == "hornset.1" else tree / name, directory)
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


def check_archive(out, board):
    """Unpacks the board's archive, checks its entries and header, and runs its binary (under
    qemu-user on the board's oldest CPU) with its version."""
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
    hornset = unpacked / name / "hornset"
    problem = version_problem([*board.qemu_user(oldest_cpu=True), str(hornset)])
    if problem:
        script.fail(f"{archive}: {problem}")
    print(f"{archive}: {hornset.stat().st_size} bytes stripped; checked")


def main():
    if sys.argv[1:] not in ([], ["--reproducible"]):
        script.usage("scripts/dist [--reproducible]")
    if not epoch.isdigit():
        script.die(f"SOURCE_DATE_EPOCH is not a number of seconds: '{epoch}'", 2)
    os.environ["SOURCE_DATE_EPOCH"] = epoch
    # Everything every musl build needs, installed once: about a minute of apt's work on a machine
    # that has none of it.
    ensure_packages("git", "tar", "gzip", "coreutils", "file", "binutils", "qemu-user-static", "cmake",
                    "ninja-build", *(b.compiler_package() for b in musl_boards),
                    *(b.musl_package() for b in musl_boards))

    # Only what is committed goes in: a fresh clone of the last commit.
    out = ROOT / "dist"
    rebuild(ROOT / "build/dist/tree", commit, "now", lambda tree: build_all(tree, out))
    for board in musl_boards:
        check_archive(out, board)
    print(f"SHA256SUMS (commit {commit}, SOURCE_DATE_EPOCH {epoch}):")
    print((out / "SHA256SUMS").read_text(), end="")
    if output(["git", "status", "--porcelain"]):
        print(f"scripts/dist: uncommitted changes are not in the archives, which hold commit {commit}")

    if sys.argv[1:] == ["--reproducible"]:
        # The same commit again, elsewhere and otherwise: other path, file dates, umask, time zone
        # and locale. The same SHA256SUMS means the same bytes in every archive.
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

    script.finish("scripts/dist: the archives in dist/ passed", "check(s) failed")


main()
