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

import targets
from common import (ROOT, Script, ensure_packages, needed, output, project_version, readelf, rebuild,
                    run, scratch, sudo, version_problem)

script = Script("package-test")
version = project_version()
# The files (not directories) and their modes, as the package holds them.
EXPECTED_FILES = [("-rw-r--r--", "./lib/udev/rules.d/60-hornset.rules"), ("-rwxr-xr-x", "./usr/bin/hornset")] + [
    ("-rw-r--r--", f"./usr/share/{path}") for path in (
        "doc/hornset/README.md", "doc/hornset/changelog.gz", "doc/hornset/copyright",
        "lintian/overrides/hornset", "man/man1/hornset.1.gz")]
# The project's files as shipped, unchanged.
SHIPPED = {"packaging/60-hornset.rules": "lib/udev/rules.d/60-hornset.rules",
           "README.md": "usr/share/doc/hornset/README.md",
           "packaging/copyright": "usr/share/doc/hornset/copyright",
           "packaging/lintian-overrides": "usr/share/lintian/overrides/hornset"}


def main():
    arguments = sys.argv[1:]
    reproducibility = arguments[:1] != ["--skip-reproducibility"]
    arguments = arguments[0 if reproducibility else 1:]
    ensure_packages("cmake", "ninja-build", "g++", "binutils", "dpkg", "dpkg-dev", "gzip", "man-db",
                    "groff-base", "mandoc", "lintian", "devscripts", "git", "debootstrap")
    preset = arguments[0] if arguments else "release"
    native_arch = output(["dpkg", "--print-architecture"]).strip()
    arch = arguments[1] if len(arguments) > 1 else native_arch
    board = None if arch == native_arch else targets.target(arch, script.name, "deb_arch")
    # The emulated board is built when present, so that anything it might install would show up
    # in the file list; a checkout without it builds the tool alone.
    build = f"build/package-{preset}"
    deb = package(ROOT, preset, build,
                  [] if (ROOT / "emulator").is_dir() else ["-DHORNSET_BUILD_EMULATOR=OFF"])
    check_control(deb, arch)
    root = install(deb)
    check_binary(deb, root / "usr/bin/hornset", board)
    check_documents(deb, root, build)
    remove(root)
    if arch == native_arch:
        check_in_debian_root(ROOT / deb)
    else:
        print(f"package-test: a {arch} package cannot run its maintainer script here; "
              "not installed in a Debian root")
    check_lintian(deb)
    if reproducibility:
        check_reproducible(deb, preset)
    script.finish(f"package-test: {deb} passed", f"check(s) failed for {deb}")
    print(output(["dpkg-deb", "--field", str(deb), "Package", "Version", "Architecture", "Depends"]), end="")
    print("".join(f"  {path}\n" for mode, _, path in contents(deb) if not mode.startswith("d")), end="")


def package(tree, preset, build, options):
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


def field(deb, name):
    return output(["dpkg-deb", "--field", str(deb), name]).strip()


def contents(deb):
    """(mode, owner, path) of each entry of the package."""
    return [(words[0], words[1], words[5]) for words in
            (line.split() for line in output(["dpkg-deb", "--contents", str(deb)]).splitlines())]


def check_control(deb, arch):
    """The control fields, the files, their modes and owners, and the version the name carries."""
    script.expect_equal("package file name", f"hornset_{version}_{arch}.deb", deb.name)
    for name, wanted in (("Package", "hornset"), ("Architecture", arch), ("Version", version)):
        script.expect_equal(name, wanted, field(deb, name))
    for name in ("Maintainer", "Description", "Section"):
        if not field(deb, name):
            script.fail(f"{name} is empty")
    for name in ("Pre-Depends", "Recommends", "Suggests", "Conflicts", "Breaks", "Replaces", "Provides"):
        if field(deb, name):
            script.fail(f"unexpected {name}: {field(deb, name)}")
    entries = contents(deb)
    script.expect_equal("files in the package", EXPECTED_FILES,
                        sorted(((m, p) for m, _, p in entries if not m.startswith("d")), key=lambda e: e[1]))
    script.expect_equal("owner of every entry", {"root/root"}, {owner for _, owner, _ in entries})
    script.expect_equal("mode of every directory", {"drwxr-xr-x"},
                        {mode for mode, _, _ in entries if mode.startswith("d")})


def dpkg(root, *arguments, **options):
    """dpkg on the empty ROOT, which has no libc6 and no shell for the maintainer script (run in a
    Debian root by check_in_debian_root): the dependency is forced, all else must go through.
    (dpkg needs ldconfig and start-stop-daemon on PATH, which common.py gives the sbin directories.)"""
    return subprocess.run(["dpkg", f"--root={root}", "--force-not-root", "--force-depends",
                           "--force-architecture", "--log=/dev/null", *arguments], **options)


def install(deb):
    """DEB unpacked with dpkg itself into an empty root, which it returns."""
    root = scratch()
    for directory in ("var/lib/dpkg/info", "var/lib/dpkg/updates"):
        (root / directory).mkdir(parents=True)
    (root / "var/lib/dpkg/status").touch()
    installing = dpkg(root, "--unpack", str(deb), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                      text=True)
    if installing.returncode:
        sys.stderr.write(installing.stderr)
        script.fail("dpkg --unpack into an empty root")
    installed = sorted(str(p.relative_to(root)) for top in ("lib", "usr") for p in (root / top).rglob("*")
                       if not p.is_dir())
    script.expect_equal("files installed", [path[2:] for _, path in EXPECTED_FILES], installed)
    known = dpkg(root, "--listfiles", "hornset", stdout=subprocess.PIPE, text=True).stdout.splitlines()
    script.expect_equal("files dpkg knows of", ["/" + path for path in installed],
                        sorted(path for path in known if not (root / path.lstrip("/")).is_dir()))
    return root


def check_binary(deb, binary, board):
    """Not setuid; libc alone, as Depends says, versioned by its symbols; hardened as Debian builds
    its packages (stack protector, fortified calls, read-only relocations and, unless static, PIE;
    hardening-check reads dynamic symbols, which a static binary has none of); its version."""
    if binary.stat().st_mode & 0o6000:
        script.fail("hornset is installed setuid or setgid")
    libraries, depends = sorted(needed(binary)), field(deb, "Depends")
    if not libraries:
        script.expect_equal("Depends of a static binary", "passwd", depends)
        print("package-test: hardening-check cannot judge a static binary; not checked")
    else:
        loaders = [name for name in libraries if name != "libc.so.6"]
        if ("libc.so.6" not in libraries or len(loaders) > 1
                or not all(name.startswith("ld-linux") or name == "ld.so.1" for name in loaders)):
            script.fail(f"binary needs more than the C library: {' '.join(libraries)}")
        newest = max(re.findall(r"GLIBC_([0-9.]*[0-9])", readelf("--version-info", binary)),
                     key=lambda v: [int(part) for part in v.split(".")])
        script.expect_equal("Depends", f"libc6 (>= {newest}), passwd", depends)
        hardening = subprocess.run(["hardening-check", "--nobindnow", "--nocfprotection", str(binary)],
                                   capture_output=True, text=True)
        if hardening.returncode:
            script.fail(f"hardening-check: {hardening.stdout}{hardening.stderr}")
    if board:
        ensure_packages("qemu-user-static")
    problem = version_problem([*(board.qemu_user(libraries=True) if board else []), str(binary)])
    if problem:
        script.fail(problem)


def check_documents(deb, root, build):
    """The project's documents as shipped; the changelog, one entry per section of CHANGELOG.md;
    the manual page as built, clean, carrying the version, and each message it lists (in bold, an
    entry of DIAGNOSTICS, without a variable part; its "Likely causes" quote the C library's
    reasons) one the binary holds, byte for byte, so that a message changed in the tool shows up
    here and the page follows it."""
    for source, shipped in SHIPPED.items():
        if not filecmp.cmp(ROOT / source, root / shipped, shallow=False):
            script.fail(f"{shipped} differs from {source}")
    changelog = root / "changelog"
    changelog.write_bytes(gzip.decompress((root / "usr/share/doc/hornset/changelog.gz").read_bytes()))
    # Each entry one stanza of the rfc822 form: --show-field would give the newest alone.
    entries = output(["dpkg-parsechangelog", "--file", str(changelog), "--all", "--format", "rfc822"])
    versions = re.findall(r"^Version: (\S+)$", entries, re.M)
    script.expect_equal("changelog entries", re.findall(r"^## *(\S+) ", (ROOT / "CHANGELOG.md").read_text(),
                                                        re.M), versions)
    script.expect_equal("changelog's newest version", version, (versions or [""])[0])
    page = root / "usr/share/man/man1/hornset.1.gz"
    text = gzip.decompress(page.read_bytes())
    if text != (ROOT / build / "hornset.1").read_bytes():
        script.fail(f"manual page differs from {build}/hornset.1")
    if subprocess.run([str(ROOT / "scripts/lint-man"), str(page)], stdout=subprocess.DEVNULL).returncode:
        script.fail("installed manual page does not lint clean")
    title = re.search(r"^\.TH .*", text.decode(), re.M)
    script.expect_equal("the manual page's header (.TH), its fourth argument", f"hornset {version}",
                        ((shlex.split(title[0]) if title else []) + 5 * [""])[4])
    diagnostics = text.decode().partition("\n.SH DIAGNOSTICS")[2].partition("\n.SH ")[0]
    diagnostics = re.sub(r"\n\.SS Likely causes\n.*?(?=\n\.S[HS] |$)", "", diagnostics, flags=re.S)
    listed = [re.sub(r'^"|"$', "", m).replace("\\-", "-").replace("\\(aq", "'") for m in
              re.findall(r"^\.T[PQ]\n\.B ([^\\\n]*(?:\\[-(][^\\\n]*)*)$", diagnostics, re.M)]
    held = output(["strings", "-n", "4", str(root / "usr/bin/hornset")])
    if not listed:
        script.fail("the manual page lists no messages under DIAGNOSTICS")
    for message in (m for m in listed if m not in held):
        script.fail(f"binary lacks the message the manual page lists: {message}")


def remove(root):
    """Removing leaves nothing of the package behind."""
    if dpkg(root, "--remove", "hornset", stdout=subprocess.DEVNULL).returncode:
        script.fail("dpkg --remove")
    script.expect_equal("files left after removal", [],
                        [str(p.relative_to(root)) for top in ("lib", "usr") for p in root.glob(f"{top}/**/*")
                         if not p.is_dir()])


# The one active line of the rule the package installs.
RULE = 'KERNEL=="hornio", GROUP="buzzer", MODE="0660"'


def check_in_debian_root(deb_file):
    """In a minimal Debian root of this machine's release (debootstrap's minbase, made once under
    build/ and copied for each run), where dpkg runs the maintainer script: installing creates the
    system group buzzer and puts the rule in udev's directory, installing again keeps both, and
    removing takes the rule and keeps the group. dpkg runs the script chrooted: as root, or
    through sudo."""
    release = re.search(r"^VERSION_CODENAME=(\S+)$", open("/etc/os-release").read(), re.M).group(1)
    # The archive this machine's apt uses for its release, unless DEBIAN_MIRROR names another.
    mirror = os.environ.get("DEBIAN_MIRROR") or next(
        (line.split()[0] for line in output(["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE)",
                                             "Created-By: Packages"]).splitlines()
         if line.endswith(f" {release}")), None)
    if not mirror:
        script.die(f"apt's lists name no archive of {release}: run apt-get update, or set DEBIAN_MIRROR")
    cache = ROOT / "build/package-debian"
    pristine, root = cache / f"{release}-minbase", cache / "root"
    if not (pristine / ".complete").exists():
        script.say(f"making a minimal Debian {release} root in {pristine} (once)")
        run([*sudo(), "rm", "-rf", pristine])
        run([*sudo(), "debootstrap", "--variant=minbase", release, pristine, mirror], quiet=True)
        run([*sudo(), "touch", pristine / ".complete"])
    run([*sudo(), "rm", "-rf", root])
    run([*sudo(), "cp", "-a", pristine, root])
    dpkg_in_root = [*sudo(), "dpkg", f"--root={root}", "--log=/dev/null"]
    rule = root / "lib/udev/rules.d/60-hornset.rules"

    def group():
        return [line for line in (root / "etc/group").read_text().splitlines()
                if line.startswith("buzzer:")]

    if group():
        script.fail(f"the Debian root has a group buzzer before hornset is installed: {group()}")
    for attempt in ("install", "install again"):
        if subprocess.run([*dpkg_in_root, "--install", deb_file], stdout=subprocess.DEVNULL).returncode:
            script.fail(f"dpkg --install into the Debian root ({attempt})")
        fields = group()[0].split(":") if len(group()) == 1 else []
        if len(fields) != 4 or not 100 <= int(fields[2] or 0) < 1000:
            script.fail(f"after {attempt}, no single system group buzzer in /etc/group: {group()}")
        active = [line for line in (rule.read_text().splitlines() if rule.is_file() else [])
                  if line.strip() and not line.startswith("#")]
        script.expect_equal(f"active lines of {rule.relative_to(root)} after {attempt}", [RULE], active)
    if subprocess.run([*dpkg_in_root, "--remove", "hornset"], stdout=subprocess.DEVNULL).returncode:
        script.fail("dpkg --remove from the Debian root")
    if rule.exists():
        script.fail(f"{rule.relative_to(root)} is left after removal")
    if len(group()) != 1:
        script.fail(f"the group buzzer is not kept after removal: {group()}")
    run([*sudo(), "rm", "-rf", root])


def check_lintian(deb):
    """lintian, every tag shown: a tag that stays needs an override with its reason."""
    lintian = subprocess.run(["lintian", "--pedantic", "-I", "-E", "--fail-on",
                              "error,warning,info,pedantic,experimental", str(deb)],
                             capture_output=True, text=True)
    if lintian.returncode or lintian.stdout:
        complaints = "".join(line for line in lintian.stderr.splitlines(True)
                             if "root privileges" not in line)
        script.fail(f"lintian (status {lintian.returncode}): {lintian.stdout}{complaints}")


def check_reproducible(deb, preset):
    """The package again, from fresh clones of the last commit in other directories, built at other
    times, with other file dates, time zones and locales: the same, byte for byte; and the working
    tree's when nothing is uncommitted. Under umask 077 the same contents: cpack writes the .deb's
    member headers with the umask's modes (which dpkg ignores), so the members are compared."""
    commit = output(["git", "rev-parse", "HEAD"]).strip()
    clones = scratch()

    def package_clone(tree):
        return tree / package(tree, preset, "build/package", ["-DHORNSET_BUILD_EMULATOR=OFF"])

    def member(deb_file, name):
        return subprocess.run(["ar", "p", str(deb_file), name], check=True, capture_output=True).stdout

    first = rebuild(clones / "first", commit, "now", package_clone, tz="UTC", locale="C.UTF-8")
    time.sleep(1)
    second = rebuild(clones / "second/built/again/elsewhere", commit, "last year", package_clone,
                     tz="Pacific/Kiritimati", locale="C")
    third = rebuild(clones / "third", commit, "now", package_clone, umask=0o077, tz="UTC", locale="C")
    if first.read_bytes() != second.read_bytes():
        script.fail(f"packages of one commit differ: {first} {second}")
    for name in ("debian-binary", "control.tar.gz", "data.tar.gz"):
        if member(first, name) != member(third, name):
            script.fail(f"{name} differs when built under umask 077: {first} {third}")
    if output(["git", "status", "--porcelain"]):
        print(f"package-test: uncommitted changes, so {deb} is not compared with the clones'")
    elif first.read_bytes() != (ROOT / deb).read_bytes():
        script.fail(f"the working tree's package differs from the clones': {deb} {first}")
    print(f"package-test: rebuilt from three clones of {commit}: "
          f"{hashlib.sha256(first.read_bytes()).hexdigest()[:16]}...")


main()
