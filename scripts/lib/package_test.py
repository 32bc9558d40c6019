"""scripts/package-test [--skip-reproducibility] [PRESET [DEBIAN_ARCH]]: the Debian package of
hornset, built, installed into an empty root with dpkg, checked, removed, and built again."""

import filecmp
import gzip
import hashlib
import re
import shlex
import subprocess
import sys
import time

import boards
from common import (ROOT, Script, ensure_packages, needed, output, project_version, readelf, rebuild,
                    run, scratch, version_problem)

script = Script("package-test")
arguments = sys.argv[1:]
reproducibility = arguments[:1] != ["--skip-reproducibility"]
arguments = arguments[0 if reproducibility else 1:]
ensure_packages("cmake", "ninja-build", "g++", "binutils", "dpkg", "dpkg-dev", "gzip", "man-db",
                "groff-base", "mandoc", "lintian", "devscripts", "git")
preset = arguments[0] if arguments else "release"
native_arch = output(["dpkg", "--print-architecture"]).strip()
expected_arch = arguments[1] if len(arguments) > 1 else native_arch
version = project_version()

# The files (not directories) and their modes, as the package holds them.
EXPECTED_FILES = [
    ("-rwxr-xr-x", "./usr/bin/hornset"),
    ("-rw-r--r--", "./usr/share/doc/hornset/README.md"),
    ("-rw-r--r--", "./usr/share/doc/hornset/changelog.gz"),
    ("-rw-r--r--", "./usr/share/doc/hornset/copyright"),
    ("-rw-r--r--", "./usr/share/hornset/60-hornset.rules"),
    ("-rw-r--r--", "./usr/share/lintian/overrides/hornset"),
    ("-rw-r--r--", "./usr/share/man/man1/hornset.1.gz"),
]
def package(tree, build, options):
    """The package of PRESET, as users build it, in TREE's directory BUILD, tests off as packagers
    turn them off."""
    quiet = {"cwd": tree, "stdout": subprocess.DEVNULL}
    run(["cmake", "--preset", preset, "-B", build, "-DHORNSET_BUILD_TESTS=OFF", *options], **quiet)
    run(["cmake", "--build", build, "-j2"], **quiet)
    for stale in (tree / build).glob("hornset_*.deb"):
        stale.unlink()
    run(["cpack", "-G", "DEB"], cwd=tree / build, stdout=subprocess.DEVNULL)
    made = sorted((tree / build).glob("hornset_*.deb"))
    if len(made) != 1:
        script.die(f"cpack made no package in {build}")
    return made[0].relative_to(tree)


def field(name):
    return output(["dpkg-deb", "--field", str(deb), name]).strip()


def ar_member(deb_file, member):
    return subprocess.run(["ar", "p", str(deb_file), member], check=True, capture_output=True).stdout


def contents():
    """(mode, owner, path) of each entry of the package."""
    return [(words[0], words[1], words[5]) for words in
            (line.split() for line in output(["dpkg-deb", "--contents", str(deb)]).splitlines())]


# The emulated board is built when present, so that anything it might install would show up in
# the file list below; a checkout without it builds the tool alone.
build = f"build/package-{preset}"
deb = package(ROOT, build, [] if (ROOT / "emulator").is_dir() else ["-DHORNSET_BUILD_EMULATOR=OFF"])

# The control fields.
script.expect_equal("Package", "hornset", field("Package"))
script.expect_equal("Architecture", expected_arch, field("Architecture"))
for name in ("Maintainer", "Description", "Section"):
    if not field(name):
        script.fail(f"{name} is empty")
for name in ("Pre-Depends", "Recommends", "Suggests", "Conflicts", "Breaks", "Replaces", "Provides"):
    if field(name):
        script.fail(f"unexpected {name}: {field(name)}")

# The files, their modes and owners.
entries = contents()
files = sorted(((mode, path) for mode, _, path in entries if not mode.startswith("d")),
               key=lambda entry: entry[1])
script.expect_equal("files in the package", EXPECTED_FILES, files)
script.expect_equal("owner of every entry", {"root/root"}, {owner for _, owner, _ in entries})
script.expect_equal("mode of every directory", {"drwxr-xr-x"},
                    {mode for mode, _, _ in entries if mode.startswith("d")})

# Installed with dpkg itself into an empty root. The root has no libc6, so the dependency is
# forced; everything else must go through cleanly. (dpkg needs ldconfig and start-stop-daemon on
# PATH, which common.py gives the sbin directories.)
root = scratch()
for directory in ("var/lib/dpkg/info", "var/lib/dpkg/updates"):
    (root / directory).mkdir(parents=True)
(root / "var/lib/dpkg/status").touch()
dpkg_root = ["dpkg", f"--root={root}", "--force-not-root", "--force-depends", "--force-architecture",
             "--log=/dev/null"]
install = subprocess.run([*dpkg_root, "--install", str(deb)], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
if install.returncode:
    sys.stderr.write(install.stderr)
    script.fail("dpkg --install into an empty root")
installed = sorted(str(p.relative_to(root)) for p in (root / "usr").rglob("*") if not p.is_dir())
script.expect_equal("files installed", [path[2:] for _, path in EXPECTED_FILES], installed)
listed = sorted(path for path in output([*dpkg_root, "--listfiles", "hornset"]).splitlines()
                if not (root / path.lstrip("/")).is_dir())
script.expect_equal("files dpkg knows of", ["/" + path for path in installed], listed)

binary = root / "usr/bin/hornset"
if binary.stat().st_mode & 0o6000:
    script.fail("hornset is installed setuid or setgid")

# The binary and the dependency agree: libc alone, versioned by its symbols.
libraries = sorted(needed(binary))
depends = field("Depends")
if not libraries:
    script.expect_equal("Depends of a static binary", "", depends)
else:
    loaders = [name for name in libraries if name != "libc.so.6"]
    if ("libc.so.6" not in libraries or len(loaders) > 1
            or not all(name.startswith("ld-linux") or name == "ld.so.1" for name in loaders)):
        script.fail(f"binary needs more than the C library: {' '.join(libraries)}")
    if not re.fullmatch(r"libc6( \(>= [0-9]+(\.[0-9]+)*\))?", depends):
        script.fail(f"Depends should name libc6 alone, got '{depends}'")
    newest = max(re.findall(r"GLIBC_([0-9.]*[0-9])", readelf("--version-info", binary)),
                 key=lambda v: [int(part) for part in v.split(".")])
    script.expect_equal("Depends", f"libc6 (>= {newest})", depends)

# Hardened as Debian builds its packages: stack protector, fortified calls, read-only relocations
# and, unless static, PIE. Immediate binding and control-flow protection are not among Debian's
# defaults. hardening-check reads the dynamic symbols, which a static binary has none of, so it
# cannot judge one.
if libraries:
    hardening = subprocess.run(["hardening-check", "--nobindnow", "--nocfprotection", str(binary)],
                               capture_output=True, text=True)
    if hardening.returncode:
        script.fail(f"hardening-check: {hardening.stdout}{hardening.stderr}")
else:
    print("package-test: hardening-check cannot judge a static binary; not checked")

# Documents as shipped are the project's own, unchanged.
for source, shipped, what in (
        ("packaging/60-hornset.rules", "usr/share/hornset/60-hornset.rules", "udev example"),
        ("README.md", "usr/share/doc/hornset/README.md", "README.md"),
        ("packaging/copyright", "usr/share/doc/hornset/copyright", "copyright"),
        ("packaging/lintian-overrides", "usr/share/lintian/overrides/hornset", "lintian overrides")):
    if not filecmp.cmp(ROOT / source, root / shipped, shallow=False):
        script.fail(f"{what} differs from {source}")

# The changelog is a Debian changelog with one entry per section of CHANGELOG.md, in the same
# order (each entry one stanza of the rfc822 form: --show-field would give the newest alone).
changelog = root / "changelog"
changelog.write_bytes(gzip.decompress((root / "usr/share/doc/hornset/changelog.gz").read_bytes()))
entries = output(["dpkg-parsechangelog", "--file", str(changelog), "--all", "--format", "rfc822"])
script.expect_equal("changelog entries",
                    re.findall(r"^## *(\S+) ", (ROOT / "CHANGELOG.md").read_text(), re.MULTILINE),
                    re.findall(r"^Version: (\S+)$", entries, re.MULTILINE))
page = root / "usr/share/man/man1/hornset.1.gz"
page_text = gzip.decompress(page.read_bytes())
if page_text != (ROOT / build / "hornset.1").read_bytes():
    script.fail(f"manual page differs from {build}/hornset.1")
if subprocess.run([str(ROOT / "scripts/lint-man"), str(page)], stdout=subprocess.DEVNULL).returncode:
    script.fail("installed manual page does not lint clean")

# The version, written in CMakeLists.txt's project() alone, is the one everything carries: the
# package's name, its Version field and its changelog's newest entry, the manual page's header and
# what the binary prints (under qemu-user for a board's package).
script.expect_equal("package file name", f"hornset_{version}_{expected_arch}.deb", deb.name)
script.expect_equal("Version", version, field("Version"))
script.expect_equal("changelog's newest version", version,
                    output(["dpkg-parsechangelog", "--file", str(changelog), "--show-field",
                            "Version"]).strip())
title = re.search(rb"^\.TH .*", page_text, re.MULTILINE)
title_words = shlex.split(title.group(0).decode()) if title else []
script.expect_equal("the manual page's header (.TH), its fourth argument", f"hornset {version}",
                    (title_words + 5 * [""])[4])
board = None if expected_arch == native_arch else boards.board(expected_arch, script.name, "deb_arch")
if board:
    ensure_packages("qemu-user-static")
problem = version_problem([*(board.qemu_user(libraries=True) if board else []), str(binary)])
if problem:
    script.fail(problem)

# Each message the manual page lists (in bold, as an entry of DIAGNOSTICS) is one the binary holds,
# byte for byte (those with a variable part aside): a message changed in the tool shows up here, so that the page follows it.
diagnostics = page_text.decode().partition("\n.SH DIAGNOSTICS")[2].partition("\n.SH ")[0]
listed = [re.sub(r'^"|"$', "", m).replace("\\-", "-").replace("\\(aq", "'") for m in
          re.findall(r"^\.T[PQ]\n\.B ([^\\\n]*(?:\\[-(][^\\\n]*)*)$", diagnostics, re.M)]
held = output(["strings", "-n", "4", str(binary)])
if not listed:
    script.fail("the manual page lists no messages under DIAGNOSTICS")
for message in listed:
    if message not in held:
        script.fail(f"binary lacks the message the manual page lists: {message}")


# Removing leaves nothing of the package behind.
if subprocess.run([*dpkg_root, "--remove", "hornset"], stdout=subprocess.DEVNULL).returncode:
    script.fail("dpkg --remove")
left = [str(p.relative_to(root)) for p in root.glob("usr/**/*") if not p.is_dir()]
script.expect_equal("files left after removal", [], left)

# lintian, every tag shown: a tag that stays needs an override with its reason.
lintian = subprocess.run(["lintian", "--pedantic", "-I", "-E", "--fail-on",
                          "error,warning,info,pedantic,experimental", str(deb)],
                         capture_output=True, text=True)
if lintian.returncode or lintian.stdout:
    complaints = "".join(line for line in lintian.stderr.splitlines(True)
                         if "root privileges" not in line)
    script.fail(f"lintian (status {lintian.returncode}): {lintian.stdout}{complaints}")

# Reproducibility: the package again, from fresh clones of the last commit in other directories,
# built at other times, with other file dates, time zones and locales: the same, byte for byte.
# Only what is committed is built, so the working tree's package is compared too when nothing is
# uncommitted. A third build under umask 077 must give the same contents; cpack writes the .deb's
# own member headers with the umask's modes (which dpkg ignores), so the members are compared
# there, not the whole file.
if reproducibility:
    commit = output(["git", "rev-parse", "HEAD"]).strip()
    clones = scratch()

    def package_clone(tree):
        return tree / package(tree, "build/package", ["-DHORNSET_BUILD_EMULATOR=OFF"])

    first = rebuild(clones / "first", commit, "now", package_clone, tz="UTC", locale="C.UTF-8")
    time.sleep(1)
    second = rebuild(clones / "second/built/again/elsewhere", commit, "last year", package_clone,
                     tz="Pacific/Kiritimati", locale="C")
    third = rebuild(clones / "third", commit, "now", package_clone, umask=0o077, tz="UTC", locale="C")
    if first.read_bytes() != second.read_bytes():
        script.fail(f"packages of one commit differ: {first} {second}")
    for member in ("debian-binary", "control.tar.gz", "data.tar.gz"):
        if ar_member(first, member) != ar_member(third, member):
            script.fail(f"{member} differs when built under umask 077: {first} {third}")
    if output(["git", "status", "--porcelain"]):
        print(f"package-test: uncommitted changes, so {deb} is not compared with the clones'")
    elif first.read_bytes() != (ROOT / deb).read_bytes():
        script.fail(f"the working tree's package differs from the clones': {deb} {first}")
    print(f"package-test: rebuilt from three clones of {commit}: "
          f"{hashlib.sha256(first.read_bytes()).hexdigest()[:16]}...")

script.finish(f"package-test: {deb} passed", f"check(s) failed for {deb}")
print(output(["dpkg-deb", "--field", str(deb), "Package", "Version", "Architecture", "Depends"]),
      end="")
print("".join(f"  {path}\n" for mode, _, path in contents() if not mode.startswith("d")), end="")
