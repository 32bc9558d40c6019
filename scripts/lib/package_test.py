"""scripts/package-test [--skip-reproducibility] [PRESET [DEBIAN_ARCH]]: the Debian package, checked."""

import filecmp
import gzip
import os
import re
import subprocess
import sys
import time

import common
import targets
from common import (ROOT, Script, archives, ensure_packages, needed, output, project_version, readelf, rebuild, run,
                    scratch, version_problem)

script = Script("package-test")
version = project_version()
# The project's files as shipped, unchanged; with the binary, the changelog and the manual page,
# all the package holds.
SHIPPED = {"lib/udev/rules.d/60-hornset.rules": "packaging/60-hornset.rules",
           "usr/share/doc/hornset/README.md": "README.md",
           "usr/share/doc/hornset/copyright": "packaging/copyright",
           "usr/share/lintian/overrides/hornset": "packaging/lintian-overrides"}
FILES = sorted([*SHIPPED, "usr/bin/hornset", "usr/share/doc/hornset/changelog.gz", "usr/share/man/man1/hornset.1.gz"])
# The one active line of the rule.
RULE = 'KERNEL=="hornio", GROUP="buzzer", MODE="0660"'
SUDO = [] if os.geteuid() == 0 else ["sudo"]


def main():
    reproducibility = sys.argv[1:2] != ["--skip-reproducibility"]
    native_arch = output(["dpkg", "--print-architecture"]).strip()
    given = sys.argv[2 - reproducibility:]
    preset, arch = (given + ["release", native_arch][len(given):])[:2]
    foreign = None if arch == native_arch else targets.target(arch, script.name, "deb_arch")
    ensure_packages("cmake", "ninja-build", "g++", "binutils", "dpkg", "dpkg-dev", "gzip", "lintian", "devscripts",
                    "git", "debootstrap", *(["qemu-user-static"] if foreign else []))
    # The emulated board is built, so that anything it might install would show up in the files.
    build = f"build/package-{preset}"
    deb = package(ROOT, preset, build, [])
    control, files = check_control(deb, arch)
    root = scratch()
    run(["dpkg-deb", "--extract", str(deb), str(root)])
    check_binary(control.get("Depends", ""), root / "usr/bin/hornset", foreign)
    check_documents(root, build)
    if foreign:
        print(f"package-test: a {arch} package cannot run its maintainer script here; not installed in a Debian root")
    else:
        check_in_debian_root(ROOT / deb)
    # lintian, every tag shown: a tag that stays needs an override with its reason.
    lintian = subprocess.run(["lintian", "--pedantic", "-I", "-E", "--fail-on", "error,warning,info,pedantic,experimental",
                              str(deb)], capture_output=True, text=True)
    if lintian.returncode or lintian.stdout:
        complaints = "".join(line for line in lintian.stderr.splitlines(True) if "root privileges" not in line)
        script.fail(f"lintian (status {lintian.returncode}): {lintian.stdout}{complaints}")
    if reproducibility:
        check_reproducible(preset)
    script.finish(f"package-test: {deb} passed", f"check(s) failed for {deb}")
    print("".join(f"{name}: {control[name]}\n" for name in ("Package", "Version", "Architecture", "Depends")), end="")
    print("".join(f"  ./{path}\n" for path in files), end="")


def package(tree, preset, build, options):
    for stale in (tree / build).glob("hornset_*.deb"):
        stale.unlink()
    common.build(preset, "-DHORNSET_BUILD_TESTS=OFF", *options, directory=build, cwd=tree)
    run(["cpack", "-G", "DEB"], cwd=tree / build, quiet=True)
    made = sorted((tree / build).glob("hornset_*.deb"))
    return made[0].relative_to(tree) if len(made) == 1 else script.die(f"cpack made no package in {build}")


def check_control(deb, arch):
    # cpack names the file from the fields Package, Version and Architecture.
    script.expect_equal("package file name", f"hornset_{version}_{arch}.deb", deb.name)
    control = dict(re.findall(r"^(\S+): (.*)$", output(["dpkg-deb", "--field", str(deb)]), re.M))
    script.expect_equal("control fields", ["Architecture", "Depends", "Description", "Installed-Size", "Maintainer",
                                           "Package", "Priority", "Section", "Version"], sorted(control))
    entries = [line.split() for line in output(["dpkg-deb", "--contents", str(deb)]).splitlines()]
    files = {words[5][2:]: words[0] for words in entries if not words[0].startswith("d")}
    script.expect_equal("files in the package and their modes",
                        {f: "-rwxr-xr-x" if f == "usr/bin/hornset" else "-rw-r--r--" for f in FILES}, files)
    return control, sorted(files)


def check_binary(depends, binary, foreign):
    # cpack refuses a binary that needs more than the C library.
    if not needed(binary):
        script.expect_equal("Depends of a static binary", "passwd", depends)
        # hardening-check reads dynamic symbols, which a static binary has none of.
        print("package-test: hardening-check cannot judge a static binary; not checked")
    else:
        newest = max(re.findall(r"GLIBC_([0-9.]*[0-9])", readelf("--version-info", binary)),
                     key=lambda v: [int(part) for part in v.split(".")])
        script.expect_equal("Depends", f"libc6 (>= {newest}), passwd", depends)
        hardening = subprocess.run(["hardening-check", "--nobindnow", "--nocfprotection", str(binary)],
                                   capture_output=True, text=True)
        if hardening.returncode:
            script.fail(f"hardening-check: {hardening.stdout}{hardening.stderr}")
    script.fail(version_problem([*(foreign.qemu_user(libraries=True) if foreign else []), str(binary)]))


def check_documents(root, build):
    """Each message DIAGNOSTICS lists (an entry in bold without a variable part; "Likely causes" quote the
    C library) is one the binary holds."""
    for shipped, source in SHIPPED.items():
        if not filecmp.cmp(ROOT / source, root / shipped, shallow=False):
            script.fail(f"{shipped} differs from {source}")
    # The build fails unless CHANGELOG.md's newest section is the version built.
    changelog = gzip.decompress((root / "usr/share/doc/hornset/changelog.gz").read_bytes()).decode()
    script.expect_equal("changelog entries", re.findall(r"^## *(\S+) ", (ROOT / "CHANGELOG.md").read_text(), re.M),
                        re.findall(r"^hornset \((\S+)\) ", changelog, re.M))
    text = gzip.decompress((root / "usr/share/man/man1/hornset.1.gz").read_bytes())
    if text != (ROOT / build / "hornset.1").read_bytes():
        script.fail(f"manual page differs from {build}/hornset.1")
    text = text.decode()
    title = re.search(r'^\.TH \S+ \S+ \S+ "([^"]*)"', text, re.M)
    script.expect_equal("the manual page's header (.TH), its fourth argument", f"hornset {version}", title and title[1])
    diagnostics = text.partition("\n.SH DIAGNOSTICS")[2].partition("\n.SH ")[0]
    diagnostics = re.sub(r"\n\.SS Likely causes\n.*?(?=\n\.S[HS] |$)", "", diagnostics, flags=re.S)
    listed = [re.sub(r'^"|"$', "", m).replace("\\-", "-").replace("\\(aq", "'") for m in
              re.findall(r"^\.T[PQ]\n\.B ([^\\\n]*(?:\\[-(][^\\\n]*)*)$", diagnostics, re.M)]
    held = output(["strings", "-n", "4", str(root / "usr/bin/hornset")])
    if not listed:
        script.fail("the manual page lists no messages under DIAGNOSTICS")
    for message in (m for m in listed if m not in held):
        script.fail(f"binary lacks the message the manual page lists: {message}")


def check_in_debian_root(deb_file):
    """Installed twice into a minimal Debian root (made once), where dpkg runs the maintainer script."""
    # The archive this machine's apt uses for its release, unless DEBIAN_MIRROR names another.
    release, suites = archives()
    mirror = os.environ.get("DEBIAN_MIRROR") or next((uri for uri, suite in suites if suite == release), None)
    if not mirror:
        script.die(f"apt's lists name no archive of {release}: run apt-get update, or set DEBIAN_MIRROR")
    cache = ROOT / "build/package-debian"
    pristine, root = cache / f"{release}-minbase", cache / "root"
    if not (pristine / ".complete").exists():
        script.say(f"making a minimal Debian {release} root in {pristine} (once)")
        run([*SUDO, "rm", "-rf", pristine])
        run([*SUDO, "debootstrap", "--variant=minbase", release, pristine, mirror], quiet=True)
        run([*SUDO, "touch", pristine / ".complete"])
    run([*SUDO, "rm", "-rf", root])
    run([*SUDO, "cp", "-a", pristine, root])
    dpkg = [*SUDO, "dpkg", f"--root={root}", "--log=/dev/null"]
    rule = root / "lib/udev/rules.d/60-hornset.rules"

    def group():
        return [line for line in (root / "etc/group").read_text().splitlines() if line.startswith("buzzer:")]

    script.expect_equal("groups buzzer before hornset is installed", [], group())
    for attempt in ("install", "install again"):
        run([*dpkg, "--install", deb_file], quiet=True)
        fields = group()[0].split(":") if len(group()) == 1 else []
        if len(fields) != 4 or not 100 <= int(fields[2] or 0) < 1000:
            script.fail(f"after {attempt}, no single system group buzzer in /etc/group: {group()}")
        active = [line for line in (rule.read_text().splitlines() if rule.is_file() else [])
                  if line.strip() and not line.startswith("#")]
        script.expect_equal(f"active lines of {rule.relative_to(root)} after {attempt}", [RULE], active)
    run([*dpkg, "--remove", "hornset"], quiet=True)
    script.expect_equal("files left after removal", [], [f for f in FILES if (root / f).exists()])
    script.expect_equal("groups buzzer kept after removal", 1, len(group()))
    run([*SUDO, "rm", "-rf", root])


def check_reproducible(preset):
    """Two clones built apart in path, time, time zone, umask and locale: the same members (cpack writes the
    .deb's own member headers with the umask's modes, which dpkg ignores)."""
    commit = output(["git", "rev-parse", "HEAD"]).strip()
    clones = scratch()

    def package_clone(tree):
        return tree / package(tree, preset, "build/package", ["-DHORNSET_BUILD_EMULATOR=OFF"])

    first = rebuild(clones / "first", commit, package_clone)
    time.sleep(1)
    second = rebuild(clones / "second/built/again/elsewhere", commit, package_clone, again=True)
    for name in ("debian-binary", "control.tar.gz", "data.tar.gz"):
        members = [run(["ar", "p", deb_file, name], capture_output=True).stdout for deb_file in (first, second)]
        if members[0] != members[1]:
            script.fail(f"{name} differs between packages of one commit: {first} {second}")
    print(f"package-test: two clones of {commit}, built apart, made the same package")


main()
