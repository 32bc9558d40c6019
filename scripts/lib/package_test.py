"""scripts/package-test [--skip-reproducibility] [PRESET [DEBIAN_ARCH]]: the Debian package of
hornset, built, installed into an empty root with dpkg, checked, removed, and built again."""

import filecmp
import gzip
import hashlib
import os
import re
import shlex
import subprocess
import sys
import time

import boards
from common import (ROOT, Script, board_absent, ensure_packages, needed, output, project_version,
                    readelf, rebuild, run, scratch, sudo)

script = Script("package-test")
arguments = sys.argv[1:]
reproducibility = arguments[:1] != ["--skip-reproducibility"]
arguments = arguments[0 if reproducibility else 1:]
ensure_packages("cmake", "ninja-build", "g++", "binutils", "dpkg", "dpkg-dev", "gzip", "man-db",
                "groff-base", "mandoc", "lintian", "devscripts", "git", "debootstrap")
preset = arguments[0] if arguments else "release"
native_arch = output(["dpkg", "--print-architecture"]).strip()
expected_arch = arguments[1] if len(arguments) > 1 else native_arch
version = project_version()

# The files (not directories) and their modes, as the package holds them.
EXPECTED_FILES = [
    ("-rw-r--r--", "./lib/udev/rules.d/60-hornset.rules"),
    ("-rwxr-xr-x", "./usr/bin/hornset"),
    ("-rw-r--r--", "./usr/share/doc/hornset/README.md"),
    ("-rw-r--r--", "./usr/share/doc/hornset/changelog.gz"),
    ("-rw-r--r--", "./usr/share/doc/hornset/copyright"),
    ("-rw-r--r--", "./usr/share/lintian/overrides/hornset"),
    ("-rw-r--r--", "./usr/share/man/man1/hornset.1.gz"),
]
# Every message the manual page quotes, which the binary must hold byte for byte (two of them end
# in a blank), and the version.
MESSAGES = """fail to open /proc/lampstat
Usage: hornset [-options] [value]
too few arguments
invalid option
invalid period value
invalid count value
no pattern or period option
no pattern option
pattern too long
command too long
Allowed options are:
-d    Show Buzzer Status.
-t    Buzzer Period.
-c    Repeat Count.
-p    Buzzer Pattern.
cmd for hornio="
Error: Invalid parameter.
Can't set to zero.
Can't set to negative value.
Can't set to over 255.
driver open error.
driver write error.
driver read error.
driver ioctl error.""".splitlines() + ["Error: hornset - ", "hornset: write error: ", version]


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

# Unpacked with dpkg itself into an empty root, which has no shell for the maintainer script (run
# in a Debian root below). The root has no libc6, so the dependency is forced; everything else
# must go through cleanly. (dpkg needs ldconfig and start-stop-daemon on
# PATH, which common.py gives the sbin directories.)
root = scratch()
for directory in ("var/lib/dpkg/info", "var/lib/dpkg/updates"):
    (root / directory).mkdir(parents=True)
(root / "var/lib/dpkg/status").touch()
dpkg_root = ["dpkg", f"--root={root}", "--force-not-root", "--force-depends", "--force-architecture",
             "--log=/dev/null"]
install = subprocess.run([*dpkg_root, "--unpack", str(deb)], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
if install.returncode:
    sys.stderr.write(install.stderr)
    script.fail("dpkg --unpack into an empty root")
installed = sorted(str(p.relative_to(root)) for top in ("lib", "usr") for p in (root / top).rglob("*")
                   if not p.is_dir())
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
    script.expect_equal("Depends of a static binary", "passwd", depends)
else:
    loaders = [name for name in libraries if name != "libc.so.6"]
    if ("libc.so.6" not in libraries or len(loaders) > 1
            or not all(name.startswith("ld-linux") or name == "ld.so.1" for name in loaders)):
        script.fail(f"binary needs more than the C library: {' '.join(libraries)}")
    if not re.fullmatch(r"libc6( \(>= [0-9]+(\.[0-9]+)*\))?, passwd", depends):
        script.fail(f"Depends should name libc6 and passwd alone, got '{depends}'")
    newest = max(re.findall(r"GLIBC_([0-9.]*[0-9])", readelf("--version-info", binary)),
                 key=lambda v: [int(part) for part in v.split(".")])
    script.expect_equal("Depends", f"libc6 (>= {newest}), passwd", depends)

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
        ("packaging/60-hornset.rules", "lib/udev/rules.d/60-hornset.rules", "udev rule"),
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
if not board_absent():
    print("package-test: this machine has /proc/lampstat or /dev/hornio: hornset --version not run")
else:
    board = None if expected_arch == native_arch else boards.board(expected_arch, script.name,
                                                                   "deb_arch")
    if board:
        ensure_packages("qemu-user-static")
    runner = board.qemu_user(libraries=True) if board else []
    shown = subprocess.run([*runner, str(binary), "--version"], stdin=subprocess.DEVNULL,
                           capture_output=True, env={}, text=True).stdout.splitlines()
    script.expect_equal("hornset --version", f"hornset version {version}", shown[-1] if shown else "")

# Every message the manual page quotes is one the binary holds, byte for byte. (A changed message
# in the tool shows up here, so the page follows.) The rendered page is compared with runs of
# blanks squeezed, as filling and line breaks change those.
def squeeze(text):
    return re.sub(r"[ \t\n]+", " ", text)


rendered = squeeze(output(["col", "-b"],
                         input=output(["mandoc", "-Tascii"], input=page_text.decode())))
held = output(["strings", "-n", "4", str(binary)]).splitlines()
for message in MESSAGES:
    if squeeze(message) not in rendered:
        script.fail(f"manual page lacks the message: {message}")
    if not any(message in line for line in held):
        script.fail(f"binary lacks the message: {message}")

# Removing leaves nothing of the package behind.
if subprocess.run([*dpkg_root, "--remove", "hornset"], stdout=subprocess.DEVNULL).returncode:
    script.fail("dpkg --remove")
left = [str(p.relative_to(root)) for top in ("lib", "usr") for p in root.glob(f"{top}/**/*")
        if not p.is_dir()]
script.expect_equal("files left after removal", [], left)

# In a minimal Debian root of this machine's release (debootstrap's minbase, made once under
# build/ and copied for each run), where dpkg runs the maintainer script: installing creates the
# system group buzzer and puts the rule in udev's directory, installing again keeps both, and
# removing takes the rule and keeps the group. dpkg runs the script chrooted: as root, or
# through sudo.
RULE = 'KERNEL=="hornio", GROUP="buzzer", MODE="0660"'


def check_in_debian_root(deb_file):
    release = re.search(r"^VERSION_CODENAME=(\S+)$", open("/etc/os-release").read(), re.M).group(1)
    mirror = os.environ.get("DEBIAN_MIRROR") or "http://deb.debian.org/debian"
    cache = ROOT / "build/package-debian"
    pristine, root = cache / f"{release}-minbase", cache / "root"
    if not (pristine / ".complete").exists():
        script.say(f"making a minimal Debian {release} root in {pristine} (once)")
        run([*sudo(), "rm", "-rf", pristine])
        run([*sudo(), "debootstrap", "--variant=minbase", release, pristine, mirror], quiet=True)
        run([*sudo(), "touch", pristine / ".complete"])
    run([*sudo(), "rm", "-rf", root])
    run([*sudo(), "cp", "-a", pristine, root])
    dpkg = [*sudo(), "dpkg", f"--root={root}", "--log=/dev/null"]
    rule = root / "lib/udev/rules.d/60-hornset.rules"

    def group():
        return [line for line in (root / "etc/group").read_text().splitlines()
                if line.startswith("buzzer:")]

    if group():
        script.fail(f"the Debian root has a group buzzer before hornset is installed: {group()}")
    for attempt in ("install", "install again"):
        if subprocess.run([*dpkg, "--install", deb_file], stdout=subprocess.DEVNULL).returncode:
            script.fail(f"dpkg --install into the Debian root ({attempt})")
        fields = group()[0].split(":") if len(group()) == 1 else []
        if len(fields) != 4 or not 100 <= int(fields[2] or 0) < 1000:
            script.fail(f"after {attempt}, no single system group buzzer in /etc/group: {group()}")
        active = [line for line in (rule.read_text().splitlines() if rule.is_file() else [])
                  if line.strip() and not line.startswith("#")]
        script.expect_equal(f"active lines of {rule.relative_to(root)} after {attempt}", [RULE], active)
    if subprocess.run([*dpkg, "--remove", "hornset"], stdout=subprocess.DEVNULL).returncode:
        script.fail("dpkg --remove from the Debian root")
    if rule.exists():
        script.fail(f"{rule.relative_to(root)} is left after removal")
    if len(group()) != 1:
        script.fail(f"the group buzzer is not kept after removal: {group()}")
    run([*sudo(), "rm", "-rf", root])


if expected_arch == native_arch:
    check_in_debian_root(ROOT / deb)
else:
    print(f"package-test: a {expected_arch} package cannot run its maintainer script here; "
          "not installed in a Debian root")

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
