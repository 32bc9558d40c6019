"""scripts/kernel-test ARCH: hornset against the stand-in module in Debian's kernel under qemu-system."""

import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import targets
from common import CALLER_DIR, ROOT, Script, archives, build, ensure_packages, interpreter, needed, output, readelf, run

# A guest whose kernel only a later Debian release has: that release's packages at the newest version of the
# series whose kbuild (programs that run here) this release also carries; the module by this release's compiler.
LATER = {"riscv64": {"release": "trixie", "series": "6.12", "compiler": "gcc-12"}}
APT = ["-o", "DPkg::Lock::Timeout=900"]
# The set and get request numbers of each encoding, apart from the headers hornset takes them from.
REQUESTS = {"generic": ("0x40046b01", "0x80046b02"), "mips": ("0x80046b01", "0x40046b02")}
APPLETS = ("sh mount insmod rmmod cat printf echo head tr sed grep cut sleep sort "
           "uniq uname su stat mdev kill devmem poweroff").split()
PASSWD = "root:x:0:0:root:/:/bin/sh\nalice:x:1000:1000::/tmp:/bin/sh\nbob:x:1001:1001::/tmp:/bin/sh\n"
GROUP = "root:x:0:\nbuzzer:x:999:alice\nalice:x:1000:\nbob:x:1001:\n"

guests = targets.names(having="kernel")
if len(sys.argv) != 2 or sys.argv[1] not in guests:
    Script("kernel-test").usage(f"scripts/kernel-test {'|'.join(guests)}")
board = targets.target(sys.argv[1], "kernel-test")
also = [targets.target(name, "kernel-test") for name in board.kernel_also.split()]
later = LATER.get(board.name)
source = (CALLER_DIR / (os.environ.get("HORNSET_SOURCE_DIR") or ROOT)).resolve()
timeout = int(os.environ.get("KERNEL_TEST_TIMEOUT") or 300)
# Everything built or downloaded goes to WORK, the board's headers and busybox to SYSROOT.
work = ROOT / "build/kernel-test" / board.name
downloads = work / "downloads"
private_apt = work / "apt"
sysroot = work / "sysroot"
console_log = work / "console.log"
script = Script(f"kernel-test {board.name}")
start = time.monotonic()
# The board's packages come through a private apt state, so that this machine needs no foreign
# architecture; a later release's through that release's suites of this machine's archives.
apt_options = [*APT, "-o", f"Dir::State::Lists={private_apt}/lists", "-o", f"Dir::Cache={private_apt}/cache",
               "-o", f"APT::Architecture={board.deb_arch}", "-o", f"APT::Architectures::={board.deb_arch}"]
if later:
    apt_options += ["-o", f"Dir::Etc::SourceList={private_apt}/sources.list",
                    "-o", f"Dir::Etc::SourceParts={private_apt}/none"]


def main():
    if not (source / "CMakeLists.txt").is_file():
        fail(f"{source} is not a source tree of hornset")
    install_packages()
    abi, kbuild = kernel_version()
    headers, make_options, image = unpack(abi, kbuild)
    module = build_module(headers, make_options)
    builds = {build: build_hornset(*build) for build in planned_builds()}
    suite = build_suite()
    verdict(boot(image, pack_initramfs(module, builds, suite)))


def fail(message):
    script.die(f"FAILED: {message}")


def install_packages():
    ensure_packages("cmake", "ninja-build", "make", "g++", "gcc", "libc6-dev", "bc", "cpio", "googletest",
                    "libgtest-dev", f"linux-headers-{targets.HERE.kernel}", board.qemu_system,
                    *(f"{p}-{b.triple}" for b in (board, *also) if b.foreign for p in ("gcc", "g++")),
                    *(f"libc6-dev-{b.deb_arch}-cross" for b in (board, *also) if b.foreign))


def kernel_version():
    """The archive's current kernel ABI (security updates move it and remove the old packages); for a
    later release's kernel also this release's kbuild of the newest version both carry."""
    for directory in ("apt/lists/partial", "apt/cache/archives/partial", "apt/none", "downloads"):
        (work / directory).mkdir(parents=True, exist_ok=True)
    if later:
        this, suites = archives()
        (private_apt / "sources.list").write_text("".join(
            f"deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] {uri} "
            f"{suite.replace(this, later['release'])} main\n" for uri, suite in suites))
    script.say(f"fetching the {board.deb_arch} package lists (private apt state)")
    run([ROOT / "scripts/lib/apt-update", script.name, *apt_options])
    if not later:
        text = output(["apt-cache", *apt_options, "depends", f"linux-headers-{board.kernel}"])
        found = re.search(rf"Depends: linux-headers-([0-9]\S*)-{re.escape(board.kernel)}$", text, re.M)
        if not found:
            fail(f"cannot tell the kernel ABI from linux-headers-{board.kernel}")
        return found[1], None
    series = re.escape(later["series"])

    def versions(options, package, suffix=""):
        text = output(["apt-cache", *options, "search", "--names-only", f"^{package}-{series}\\."])
        return {found[2]: found[1] for found in
                re.finditer(rf"^{package}-(({series}\.[0-9]+)\+\S+){suffix} ", text, re.M)}
    images = versions(apt_options, "linux-image", f"-{re.escape(board.kernel)}")
    kbuilds = versions(APT, "linux-kbuild")
    shared = sorted(images.keys() & kbuilds.keys(), key=lambda v: [int(p) for p in v.split(".")])
    if not shared:
        fail(f"no version of Linux {later['series']} is both in {later['release']}'s {board.deb_arch} "
             f"kernels ({' '.join(sorted(images)) or 'none'}) and in this machine's kbuilds "
             f"({' '.join(sorted(kbuilds)) or 'none'})")
    return images[shared[-1]], kbuilds[shared[-1]]


def deb(package, options=None):
    if not list(downloads.glob(f"{package}_*.deb")):
        script.say(f"downloading {package}")
        run(["apt-get", *(options or apt_options), "-o", "APT::Sandbox::User=root", "download", "-qq",
             package], cwd=downloads)
    return next(downloads.glob(f"{package}_*.deb"))


def unpack(abi, kbuild):
    """The headers, make's options for them and the kernel image (vmlinux on PowerPC and RISC-V)."""
    shutil.rmtree(sysroot, ignore_errors=True)
    for package in (f"linux-headers-{abi}-{board.kernel}", f"linux-headers-{abi}-common", "busybox-static"):
        run(["dpkg-deb", "-x", deb(package), sysroot])
    image = f"vmlinu[xz]-{abi}-{board.kernel}"
    if not list(work.glob(f"boot/{image}")):
        package = deb(f"linux-image-{abi}-{board.kernel}")
        run(["sh", "-c", 'dpkg-deb --fsys-tarfile "$0" | tar -x -C "$1" --wildcards "./boot/$2"',
             package, work, image])
        package.unlink()
    headers = sysroot / f"usr/src/linux-headers-{abi}-{board.kernel}"
    # The flavour's Makefile includes the common part by its absolute path: the unpacked copy's.
    common = f"include /usr/src/linux-headers-{abi}-common/"
    makefile = headers / "Makefile"
    makefile.write_text(makefile.read_text().replace(common, f"include {sysroot}{common[8:]}"))
    # The build helpers (scripts/) are programs for the board: a kbuild of the same version that
    # runs here serves instead, this machine's or (a later release's kernel) this release's.
    wanted = Path(os.readlink(headers / "scripts")).parent.name
    here = Path("/usr/lib", wanted)
    if kbuild:
        run(["dpkg-deb", "-x", deb(f"linux-kbuild-{kbuild}", APT), sysroot / "kbuild"])
        here = sysroot / f"kbuild/usr/lib/linux-kbuild-{kbuild}"
    if not here.is_dir():
        fail(f"this machine has no {here}")
    (sysroot / "usr/lib").mkdir(parents=True, exist_ok=True)
    (sysroot / "usr/lib" / wanted).symlink_to(here)
    # The headers' .kernelvariables name the kernel's compiler; a later release's is not this
    # machine's, nor is the pahole its BTF needs.
    options = [f"CROSS_COMPILE={board.triple}-"]
    if later:
        options += [f"CC={board.triple}-{later['compiler']}", "CONFIG_DEBUG_INFO_BTF_MODULES="]
    return headers, options, next(work.glob(f"boot/{image}"))


def build_module(headers, make_options):
    script.say(f"building the module against {headers.name.removeprefix('linux-headers-')}")
    module = work / "module"
    shutil.rmtree(module, ignore_errors=True)
    module.mkdir(parents=True)
    for name in ("kernel/hornsim_main.c", "kernel/Kbuild", "driver_model/hornio_model.c",
                 "driver_model/hornio_model.h", "device/hornio.h"):
        shutil.copy(ROOT / name, module)
    run(["make", "-s", "-C", headers, f"M={module}", *make_options, "modules"], quiet=True)
    return module / "hornsim.ko"


def planned_builds():
    """Each build's name, architecture and linkage: glibc static and dynamic, and musl where a preset is."""
    presets = (source / "CMakePresets.json").read_text()
    return [(f"{'' if b is board else b.name + '-'}{name}", b, linkage) for b in (board, *also)
            for name, linkage in (("static", "static"), ("dynamic", "dynamic"), ("musl-static", "musl"))
            if linkage != "musl" or f'"musl-{b.name}"' in presets]


def build_hornset(name, b, linkage):
    script.say(f"building hornset ({name})")
    if linkage == "musl":
        # build-musl's last line is the binary's path.
        made = run([source / "scripts/build-musl", b.name], quiet=True, cwd=source)
        return source / made.stdout.splitlines()[-1]
    directory = work / f"hornset-{name}"
    shutil.rmtree(directory, ignore_errors=True)
    build(f"cross-{b.name}" if b.foreign else "release", "-DHORNSET_BUILD_TESTS=OFF",
          "-DHORNSET_BUILD_EMULATOR=OFF", f"-DHORNSET_STATIC={'ON' if linkage == 'static' else 'OFF'}",
          directory=directory, cwd=source)
    run(["cmake", "--install", directory, "--prefix", directory / "stage"], quiet=True)
    return directory / "stage/bin/hornset"


def build_suite():
    script.say("building the suite")
    build(f"cross-{board.name}" if board.foreign else "release", "-DHORNSET_BUILD_TESTS=ON",
          "-DCMAKE_EXE_LINKER_FLAGS=-static", "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST",
          directory=work / "suite", target="hornset_tests")
    return work / "suite/tests/hornset_tests"


def pack_initramfs(module, builds, suite):
    """The guest's files as a gzipped cpio archive; README's examples are cases of the suite."""
    rootfs = work / "rootfs"
    shutil.rmtree(rootfs, ignore_errors=True)
    for directory in ("bin", "dev", "proc", "sys", "tmp", "run", "etc", "kt"):
        (rootfs / directory).mkdir(parents=True)
    shutil.copy(next(sysroot.glob("*bin/busybox"), sysroot / "usr/bin/busybox"), rootfs / "bin")
    for applet in APPLETS:
        (rootfs / "bin" / applet).symlink_to("busybox")
    shutil.copy(ROOT / "kernel/guest/init", rootfs / "init")
    for file in ("README.md", module, suite):
        shutil.copy(ROOT / file, rootfs / "kt")
    (rootfs / "etc/passwd").write_text(PASSWD)
    (rootfs / "etc/group").write_text(GROUP)
    # hornprobe, and a 32-bit one too where a 64-bit guest runs a 32-bit board's builds (the
    # kernel's compat path).
    wide = {b: "ELF64" in readelf("-h", hornset) for (_, b, _), hornset in builds.items()}
    narrow = [b for b in also if wide[board] and not wide[b]][:1]
    for directory, b in [("bin", board), *(("opt/probe32/bin", b) for b in narrow)]:
        (rootfs / directory).mkdir(parents=True, exist_ok=True)
        run([b.tool("gcc"), "-static", "-Os", "-Wall", "-Werror", "-I", ROOT / "device", "-o",
             rootfs / directory / "hornprobe", ROOT / "kernel/guest/hornprobe.c"])
    for (name, b, _), hornset in builds.items():
        add_program(rootfs, hornset, f"opt/{name}/bin/hornset", b, [b.libraries()])
    if not board.foreign:
        add_udev(rootfs)
    hornsets = " ".join(f"{name}:{'musl' if linkage == 'musl' else 'glibc'}" for name, _, linkage in builds)
    set_request, get_request = REQUESTS[board.requests]
    (rootfs / "kt/config.sh").write_text(
        f"HORNSETS='{hornsets}'\nSET_REQ={set_request}\nGET_REQ={get_request}\n")
    initramfs = work / "initramfs.cpio.gz"
    run(["sh", "-c", 'find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet | gzip -1 >"$0"',
         initramfs], cwd=rootfs)
    return initramfs


def add_program(rootfs, program, where, b, found_in):
    """PROGRAM at WHERE with its loader and libraries (in B's multiarch directory), found in FOUND_IN."""
    def find(name):
        return next((d / name for d in found_in if (d / name).exists()), None) or fail(
            f"{name}, which {program.name} needs, is in none of {' '.join(map(str, found_in))}")
    (rootfs / where).parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(program, rootfs / where)
    if not interpreter(program):
        return
    loader = rootfs / interpreter(program)[1:]
    loader.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(find(loader.name), loader)
    libraries = rootfs / "lib" / output([b.tool("gcc"), "-print-multiarch"]).strip()
    libraries.mkdir(parents=True, exist_ok=True)
    todo = [program]
    while todo:
        for name in needed(todo.pop()):
            if not (libraries / name).exists():
                shutil.copy(find(name), libraries)
                todo.append(libraries / name)


def add_udev(rootfs):
    """systemd-udevd from Debian's udev package, the package's udev rule and postinst, and its getent."""
    unpacked = work / "udev"
    for package in ("udev", "libsystemd-shared"):
        run(["dpkg-deb", "-x", deb(package), unpacked])
    multiarch = output(["gcc", "-print-multiarch"]).strip()
    found_in = [unpacked / "usr/lib" / multiarch / "systemd", unpacked / "usr/lib" / multiarch,
                Path("/lib", multiarch), Path("/usr/lib", multiarch)]
    for program in (unpacked / "bin/udevadm", Path("/usr/bin/getent")):
        add_program(rootfs, program, f"bin/{program.name}", board, found_in)
    (rootfs / "lib/systemd").mkdir()
    (rootfs / "lib/systemd/systemd-udevd").symlink_to("/bin/udevadm")
    (rootfs / "lib/udev/rules.d").mkdir(parents=True)
    shutil.copy(ROOT / "packaging/60-hornset.rules", rootfs / "lib/udev/rules.d")
    shutil.copy(ROOT / "packaging/debian/postinst", rootfs / "kt/postinst")


def boot(image, initramfs):
    """QEMU's status (0: the guest powered off, 1: it raised pvpanic); its console shown and kept."""
    qemu = [*board.kernel_qemu.split(), "-accel", "tcg", "-smp", "1", "-nodefaults", "-no-reboot",
            "-nographic", "-serial", "stdio", "-kernel", image, "-initrd", initramfs,
            "-device", "pvpanic-pci", "-action", "panic=exit-failure",
            "-append", f"console={board.console} panic=-1 oops=panic loglevel=4"]
    script.say(f"booting ({time.monotonic() - start:.0f} s so far)")
    booted = time.monotonic()
    status = subprocess.run(["bash", "-c", '"$@" </dev/null | tee "$0"; exit "${PIPESTATUS[0]}"',
                             console_log, "timeout", "--foreground", "-k", "10", str(timeout),
                             *qemu]).returncode
    script.say(f"QEMU ended with status {status} after {time.monotonic() - booted:.0f} s "
               f"({time.monotonic() - start:.0f} s in all)")
    return status


def verdict(status):
    """Passed only on a result line with no failure and no panic (-no-reboot makes a panic exit 0)."""
    console = console_log.read_bytes().decode(errors="replace").replace("\r", "")
    result = (re.findall(r"^[0-9]+ passed, [0-9]+ failed$", console, re.M) or [""])[-1]
    if status in (124, 137):
        fail(f"the guest did not finish within {timeout} s (hang)")
    if re.search(r"Kernel panic|Oops|BUG:|Call Trace", console):
        fail(f"the kernel reported a panic, oops or BUG (see {console_log})")
    if status != 0 or not result.endswith(" 0 failed"):
        fail(f"{result or 'no result line'} (QEMU status {status}; see {console_log})")
    script.say(f"passed: {result}")


try:
    main()
except subprocess.CalledProcessError as error:
    fail(f"{' '.join(str(word) for word in error.cmd)}: exit status {error.returncode}")
