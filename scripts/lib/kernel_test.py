"""scripts/kernel-test ARCH: hornset against real kernel drivers, the stand-in
module in Debian's kernel for ARCH, booted under qemu-system (TCG)."""

import gzip
import json
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

import targets
from common import CALLER_DIR, ROOT, Script, ensure_packages, interpreter, needed, output, \
    project_version, run, sudo

# How the guest ends the machine with its result: the qemu options that give it the means, the
# define that builds hornprobe's call for it, and QEMU's exit status for a pass and a failure.
EXITS = {
    # The isa-debug-exit port makes QEMU's status (value << 1) | 1.
    "debug-exit": (("-device", "isa-debug-exit,iobase=0xf4,iosize=0x04"), "EXIT_DEBUG_EXIT", 1, 3),
    # The semihosting exit call passes the code through.
    "semihosting": (("-semihosting-config", "enable=on,target=native,userspace=on"),
                    "EXIT_SEMIHOSTING", 0, 1),
    # A power-off gives 0, the pvpanic device 1.
    "pvpanic": (("-device", "pvpanic-pci", "-action", "panic=exit-failure"), "EXIT_PVPANIC", 0, 1),
}
# A guest whose kernel only a later Debian release has: that release's image, headers and
# busybox, at the newest version of the kernel series for which this release also carries the
# kbuild (the later release's kbuild programs need a newer glibc than this machine's), and the
# module built by this release's cross compiler (the kernel's own compiler cannot run here).
LATER = {"riscv64": {"release": "trixie", "series": "6.12", "compiler": "gcc-12"}}
APT = ["-o", "DPkg::Lock::Timeout=900"]

guests = targets.names(having="kernel")
if len(sys.argv) != 2 or sys.argv[1] not in guests:
    Script("kernel-test").usage(f"scripts/kernel-test {'|'.join(guests)}")
board = targets.target(sys.argv[1], "kernel-test")
# Boards whose builds this guest runs too, and this machine's board.
also = [targets.target(name, "kernel-test") for name in board.kernel_also.split()]
native = targets.this_machine()
flavour = board.kernel
later = LATER.get(board.name)
exit_qemu, exit_define, exit_passed, exit_failed = EXITS[board.kernel_exit]
source = (CALLER_DIR / (os.environ.get("HORNSET_SOURCE_DIR") or ROOT)).resolve()
timeout = int(os.environ.get("KERNEL_TEST_TIMEOUT") or 300)
# Everything built or downloaded goes to WORK.
work = ROOT / "build/kernel-test" / board.name
downloads = work / "downloads"
private_apt = work / "apt"
sysroot = work / "sysroot"  # another board's kernel headers and busybox
console_log = work / "console.log"
os.environ["DEBIAN_FRONTEND"] = "noninteractive"
script = Script(f"kernel-test {board.name}")
start = time.monotonic()
# This machine's board takes its packages through this machine's apt; the others through a
# private apt state, so that this machine needs no foreign architecture.
apt_options = APT if not board.foreign else [
    *APT, "-o", f"Dir::State::Lists={private_apt}/lists", "-o", f"Dir::Cache={private_apt}/cache",
    "-o", f"APT::Architecture={board.deb_arch}", "-o", f"APT::Architectures::={board.deb_arch}"]
if later:
    apt_options += ["-o", f"Dir::Etc::SourceList={private_apt}/sources.list",
                    "-o", f"Dir::Etc::SourceParts={private_apt}/none"]


def main():
    if not (source / "CMakeLists.txt").is_file():
        fail(f"{source} is not a source tree of hornset")
    install_packages()
    abi, kbuild = kernel_packages()
    headers, make_options = kernel_headers(abi, kbuild)
    image = kernel_image(abi)
    module = build_module(headers, make_options)
    hornsets = [build_hornset(build) for build in planned_builds()]
    suite = build_suite()
    initramfs = pack_initramfs(module, hornsets, suite)
    verdict(boot(image, initramfs))


def fail(message):
    script.die(f"FAILED: {message}")


def elapsed(since=None):
    return f"{time.monotonic() - (since or start):.0f} s"


def install_packages():
    """This machine's tools and kernel headers, the board's qemu-system, the cross compilers."""
    packages = ["cmake", "make", "g++", "gcc", "libc6-dev", "bc", "cpio", "busybox-static",
                f"linux-headers-{native.kernel}", board.qemu_system]
    for b in (board, *also):
        if b.foreign:
            packages += [f"gcc-{b.triple}", f"g++-{b.triple}", f"libc6-dev-{b.deb_arch}-cross"]
    ensure_packages(*packages)


# ---- kernel packages ----
def kernel_packages():
    """The kernel ABI to test and its kbuild, their packages downloaded. The ABI is the archive's
    current one for the board, never pinned: security updates move it and remove old packages."""
    downloads.mkdir(parents=True, exist_ok=True)
    if board.foreign and not list(private_apt.glob("lists/*Packages*")):
        private_update()
    abi, kbuild = kernel_abi()
    if download(abi, kbuild):
        return abi, kbuild
    script.say(f"the kernel packages of {abi} are gone; moving to the archive's current kernel")
    script.say("fetching this machine's package lists")
    run([*sudo(), ROOT / "scripts/lib/apt-update", script.name, *APT])
    if not later:
        script.say(f"installing the current linux-headers-{native.kernel}")
        run([*sudo(), "apt-get", *APT, "install", "-y", "-qq", "--no-install-recommends",
             f"linux-headers-{native.kernel}"], stdout=subprocess.DEVNULL)
    if board.foreign:
        private_update()
    abi, kbuild = kernel_abi()
    if not download(abi, kbuild):
        fail(f"cannot download the kernel packages of {abi}")
    return abi, kbuild


def private_update():
    for directory in ("lists/partial", "cache/archives/partial", "none"):
        (private_apt / directory).mkdir(parents=True, exist_ok=True)
    if later:
        # This machine's archives, with the later release's suites for this release's.
        this = re.search(r"^VERSION_CODENAME=(\S+)", Path("/etc/os-release").read_text(), re.M)[1]
        indexes = output(["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE)",
                          "Created-By: Packages"]).split("\n")
        suites = sorted({line.replace(f" {this}", f" {later['release']}") for line in indexes
                         if f" {this}" in line})
        (private_apt / "sources.list").write_text("".join(
            f"deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] {suite} main\n"
            for suite in suites))
    script.say(f"fetching the {board.deb_arch} package lists (private apt state)")
    run([ROOT / "scripts/lib/apt-update", script.name, *apt_options])


def kernel_abi():
    """The ABI the archive's (for this machine, the installed) headers package depends on."""
    if later:
        return later_abi()
    if board.foreign:
        text = output(["apt-cache", *apt_options, "depends", f"linux-headers-{flavour}"])
        found = re.search(rf"Depends: linux-headers-([0-9]\S*)-{re.escape(flavour)}$", text, re.M)
    else:
        text = output(["dpkg-query", "-W", "-f=${Depends}", f"linux-headers-{flavour}"])
        found = re.search(rf"linux-headers-([0-9][^ ,]*)-{re.escape(flavour)}\b", text)
    if not found:
        fail(f"cannot tell the kernel ABI from linux-headers-{flavour}")
    return found[1], None


def later_abi():
    series = re.escape(later["series"])

    def versions(options, package, suffix=""):
        text = output(["apt-cache", *options, "search", "--names-only", f"^{package}-{series}\\."])
        return {found[2]: found[1] for found in
                re.finditer(rf"^{package}-(({series}\.[0-9]+)\+\S+){suffix} ", text, re.M)}
    images = versions(apt_options, "linux-image", f"-{re.escape(flavour)}")
    kbuilds = versions(APT, "linux-kbuild")
    shared = sorted(images.keys() & kbuilds.keys(), key=lambda v: [int(p) for p in v.split(".")])
    if not shared:
        fail(f"no version of Linux {later['series']} is both in {later['release']}'s {board.deb_arch} "
             f"kernels ({' '.join(sorted(images)) or 'none'}) and in this machine's kbuild packages "
             f"({' '.join(sorted(kbuilds)) or 'none'})")
    return images[shared[-1]], kbuilds[shared[-1]]


def download(abi, kbuild):
    """Downloads the packages of ABI still needed; False when the archive has none."""
    wanted = [] if unpacked_image(abi) else [(apt_options, f"linux-image-{abi}-{flavour}")]
    if board.foreign and not headers_dir(abi).is_dir():
        wanted += [(apt_options, f"linux-headers-{abi}-{flavour}"),
                   (apt_options, f"linux-headers-{abi}-common")]
    if board.foreign and not busybox():
        wanted.append((apt_options, "busybox-static"))
    if kbuild and not (work / "kbuild" / f"usr/lib/linux-kbuild-{kbuild}").is_dir():
        wanted.append((APT, f"linux-kbuild-{kbuild}"))
    for options, package in wanted:
        if list(downloads.glob(f"{package}_*.deb")):
            continue
        script.say(f"downloading {package}")
        if subprocess.run(["apt-get", *options, "-o", "APT::Sandbox::User=root", "download", "-qq",
                           package], cwd=downloads).returncode != 0:
            return False
    return True


def deb(package):
    return next(downloads.glob(f"{package}_*.deb"))


# ---- kernel headers and image ----
def headers_dir(abi):
    return (sysroot if board.foreign else Path("/")) / f"usr/src/linux-headers-{abi}-{flavour}"


def busybox():
    """The board's busybox, unpacked from its package (in /bin or, later, /usr/bin)."""
    if not board.foreign:
        return Path("/bin/busybox")
    return next((p for p in (sysroot / "bin/busybox", sysroot / "usr/bin/busybox") if p.is_file()), None)


def kernel_headers(abi, kbuild):
    """The headers to build the module against and make's options for them."""
    headers = headers_dir(abi)
    if board.foreign and not headers.is_dir():
        script.say(f"unpacking the {board.deb_arch} kernel headers")
        for package in (f"linux-headers-{abi}-{flavour}", f"linux-headers-{abi}-common"):
            run(["dpkg-deb", "-x", deb(package), sysroot])
        # The flavour's Makefile includes the common part by its absolute path:
        # point it at the unpacked copy, not at whatever this machine has.
        makefile = headers / "Makefile"
        common = f"/usr/src/linux-headers-{abi}-common/"
        text = makefile.read_text()
        fixed = re.sub(rf"^include {re.escape(common)}", f"include {sysroot}{common}", text, flags=re.M)
        if fixed == text:
            fail(f"unexpected include in {makefile}")
        makefile.write_text(fixed)
    if board.foreign and not busybox():
        run(["dpkg-deb", "-x", deb("busybox-static"), sysroot])
    if not headers.is_dir():
        fail(f"kernel headers not found at {headers}")
    # The headers' build helpers (scripts/) are programs of the board's kernel
    # build: a kbuild of the same version that runs here serves instead, this
    # machine's own, or one unpacked from this release's archive.
    wanted = Path("/usr/lib") / Path(os.readlink(headers / "scripts")).parent.name
    here = wanted
    if kbuild:
        here = work / "kbuild" / f"usr/lib/linux-kbuild-{kbuild}"
        if not here.is_dir():
            run(["dpkg-deb", "-x", deb(f"linux-kbuild-{kbuild}"), work / "kbuild"])
    if not here.is_dir():
        fail(f"this machine has no {here}")
    if board.foreign:
        link = sysroot / wanted.relative_to("/")
        link.parent.mkdir(parents=True, exist_ok=True)
        if not link.is_symlink():
            link.symlink_to(here)
    # The headers' .kernelvariables set ARCH and the compiler's name; a later release's compiler
    # is not this machine's, nor is the pahole its BTF needs.
    options = [f"CROSS_COMPILE={board.triple}-"] if board.foreign else []
    if later:
        options += [f"CC={board.triple}-{later['compiler']}", "CONFIG_DEBUG_INFO_BTF_MODULES="]
    return headers, options


def unpacked_image(abi):
    return next((work / "boot").glob(f"vmlinu[xz]-{abi}-{flavour}"), None)


def kernel_image(abi):
    """The kernel image of ABI (vmlinuz, or vmlinux as on PowerPC and RISC-V), from its package."""
    image = unpacked_image(abi)
    if image:
        return image
    package = f"linux-image-{abi}-{flavour}"
    script.say(f"unpacking the kernel image {abi}-{flavour}")
    (work / "boot").mkdir(exist_ok=True)
    with subprocess.Popen(["dpkg-deb", "--fsys-tarfile", deb(package)], stdout=subprocess.PIPE) as tar:
        run(["tar", "-x", "-C", work, "--wildcards", "./boot/vmlinu[xz]-*"], stdin=tar.stdout)
    image = unpacked_image(abi)
    if tar.returncode != 0 or not image:
        fail(f"{package} holds no kernel image vmlinuz or vmlinux")
    deb(package).unlink()
    return image


# ---- the module and the hornset builds ----
def logged(what, log, commands, **options):
    """Runs COMMANDS in turn with their output in LOG, shown when one fails."""
    with open(log, "w") as out:
        for command in commands:
            if subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                              **options).returncode != 0:
                out.close()
                sys.stderr.write(log.read_text())
                fail(f"{what} failed")


def build_module(headers, make_options):
    script.say(f"building the module against {headers.name.removeprefix('linux-headers-')}")
    module = work / "module"
    shutil.rmtree(module, ignore_errors=True)
    module.mkdir(parents=True)
    for name in ("kernel/hornsim_main.c", "kernel/Kbuild", "driver_model/hornio_model.c",
                 "driver_model/hornio_model.h", "device/hornio.h"):
        shutil.copy(ROOT / name, module)
    logged("module build", work / "module.log",
           [["make", "-s", "-C", headers, f"M={module}", *make_options, "modules"]])
    if not (module / "hornsim.ko").is_file():
        fail("module build made no hornsim.ko")
    return module / "hornsim.ko"


@dataclass(frozen=True)
class Build:
    """A hornset build the guest runs, as /opt/NAME/bin/hornset."""
    name: str
    board: targets.Target
    linkage: str  # static or dynamic with glibc, or musl (static)

    @property
    def libc(self):
        return "musl" if self.linkage == "musl" else "glibc"

    @property
    def stage(self):
        return work / f"stage-{self.name}"


def planned_builds():
    """The board's builds and those of the boards its guest also runs; musl's where the source
    has scripts/build-musl and a musl-ARCH preset."""
    presets = json.loads((source / "CMakePresets.json").read_text()).get("configurePresets", [])
    builds = []
    for b in (board, *also):
        prefix = "" if b is board else f"{b.name}-"
        builds += [Build(f"{prefix}static", b, "static"), Build(f"{prefix}dynamic", b, "dynamic")]
        if not os.access(source / "scripts/build-musl", os.X_OK):
            script.say(f"{source} has no scripts/build-musl: no {prefix}musl-static build")
        elif not any(preset.get("name") == f"musl-{b.name}" for preset in presets):
            script.say(f"{source} has no musl-{b.name} preset: no {prefix}musl-static build")
        else:
            builds.append(Build(f"{prefix}musl-static", b, "musl"))
    return builds


def build_hornset(build):
    """Builds hornset as BUILD says, with the source tree's own toolchain files and scripts."""
    script.say(f"building hornset ({build.name})")
    log = work / f"hornset-{build.name}.log"
    shutil.rmtree(build.stage, ignore_errors=True)
    hornset = build.stage / "bin/hornset"
    if build.linkage == "musl":
        logged(f"hornset ({build.name}) build", log,
               [[source / "scripts/build-musl", build.board.name]], cwd=source)
        hornset.parent.mkdir(parents=True)
        # Its last line is the binary's path.
        shutil.copy(source / log.read_text().splitlines()[-1], hornset)
    else:
        directory = work / f"hornset-{build.name}"
        shutil.rmtree(directory, ignore_errors=True)
        toolchain = []
        if build.board.foreign:
            file = f"cmake/toolchains/{build.board.name}.cmake"
            tree = source if (source / file).is_file() else ROOT
            toolchain = [f"-DCMAKE_TOOLCHAIN_FILE={tree / file}"]
        static = "ON" if build.linkage == "static" else "OFF"
        logged(f"hornset ({build.name}) build", log, [
            ["cmake", "-S", source, "-B", directory, "-G", "Unix Makefiles",
             "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DHORNSET_BUILD_TESTS=OFF", "-DHORNSET_BUILD_EMULATOR=OFF",
             f"-DHORNSET_STATIC={static}", *toolchain],
            ["cmake", "--build", directory, "-j2"],
            ["cmake", "--install", directory, "--prefix", build.stage]])
        if not os.access(hornset, os.X_OK):
            fail(f"hornset ({build.name}) was not installed to bin/hornset")
    has_loader = interpreter(hornset) is not None
    if has_loader != (build.linkage == "dynamic"):
        fail(f"hornset ({build.name}) has {'a' if has_loader else 'no'} program interpreter")
    return build


# ---- the initramfs ----
APPLETS = ("sh mount umount insmod rmmod lsmod cat printf cmp diff echo mkdir rm head tail tr wc od "
           "sed grep cut sleep ls dmesg true false env seq sort uniq").split()


def pack_initramfs(module, hornsets, suite):
    """busybox, /init, the cases, the module, hornprobe and the hornset builds (with a dynamic
    build's loader and libraries), the suite and config.sh, as a gzipped cpio archive."""
    script.say("packing the initramfs")
    rootfs = work / "rootfs"
    shutil.rmtree(rootfs, ignore_errors=True)
    for directory in ("bin", "dev", "proc", "sys", "tmp", "lib", "opt", "kt"):
        (rootfs / directory).mkdir(parents=True)
    shutil.copy(busybox(), rootfs / "bin")
    for applet in APPLETS:
        (rootfs / "bin" / applet).symlink_to("busybox")
    build_probe(board, rootfs / "bin")
    probe32_dir = ""
    # The module's requests also from a 32-bit program, where a 64-bit guest
    # runs a 32-bit board's builds (the kernel's compat path).
    narrow = [b for b in also if b.pointer_bits() == 32] if board.pointer_bits() == 64 else []
    if narrow:
        probe32_dir = "/opt/probe32/bin"
        build_probe(narrow[0], rootfs / probe32_dir[1:])
    shutil.copy(module, rootfs / "kt")
    shutil.copy(ROOT / "kernel/guest/init", rootfs / "init")
    (rootfs / "init").chmod(0o755)
    for case_file in (ROOT / "kernel/guest").glob("*.sh"):
        shutil.copy(case_file, rootfs / "kt")
    for build in hornsets:
        (rootfs / "opt" / build.name / "bin").mkdir(parents=True)
        shutil.copy(build.stage / "bin/hornset", rootfs / "opt" / build.name / "bin")
        if build.linkage == "dynamic":
            add_libraries(rootfs, build)
    add_permission_tools(rootfs)
    add_suite(rootfs, suite)
    write_config(rootfs / "kt/config.sh", hornsets, probe32_dir)
    names = sorted(output(["find", "."], cwd=rootfs).splitlines())
    archive = subprocess.run(["cpio", "-o", "-H", "newc", "-R", "0:0", "--quiet"], cwd=rootfs,
                             input="".join(f"{name}\n" for name in names).encode(),
                             stdout=subprocess.PIPE, check=True).stdout
    initramfs = work / "initramfs.cpio.gz"
    initramfs.write_bytes(gzip.compress(archive, compresslevel=1))
    return initramfs


# ---- for the permission cases (guest/permissions.sh) ----
GUEST_PASSWD = "root:x:0:0:root:/:/bin/sh\nalice:x:1000:1000::/tmp:/bin/sh\nbob:x:1001:1001::/tmp:/bin/sh\n"
GUEST_GROUP = "root:x:0:\nbuzzer:x:999:alice\nalice:x:1000:\nbob:x:1001:\n"


def add_permission_tools(rootfs):
    """Users in and outside the group buzzer, busybox's su, stat and mdev, and
    on this machine's own board systemd-udevd (Debian's udev package, unpacked)
    with the udev rule where the Debian package installs it, the package's
    postinst, and getent, which the postinst runs."""
    (rootfs / "etc").mkdir(exist_ok=True)
    (rootfs / "etc/passwd").write_text(GUEST_PASSWD)
    (rootfs / "etc/group").write_text(GUEST_GROUP)
    for applet in ("su", "stat", "mdev"):
        if not (rootfs / "bin" / applet).exists():
            (rootfs / "bin" / applet).symlink_to("busybox")
    shutil.copy(ROOT / "kernel/guest/permissions.sh", rootfs / "kt")
    if board.foreign:
        return
    unpacked = work / "udev"
    if not (unpacked / "bin/udevadm").is_file():
        for package in ("udev", "libsystemd-shared"):
            if not list(downloads.glob(f"{package}_*.deb")):
                script.say(f"downloading {package}")
                run(["apt-get", *APT, "-o", "APT::Sandbox::User=root", "download", "-qq", package],
                    cwd=downloads)
            run(["dpkg-deb", "-x", deb(package), unpacked])
    multiarch = output(["gcc", "-print-multiarch"]).strip()
    found_in = [unpacked / "usr/lib" / multiarch / "systemd", unpacked / "usr/lib" / multiarch,
                Path("/lib", multiarch), Path("/usr/lib", multiarch)]
    add_program(rootfs, unpacked / "bin/udevadm", "bin/udevadm", found_in, multiarch)
    add_program(rootfs, Path("/usr/bin/getent"), "bin/getent", found_in, multiarch)
    (rootfs / "lib/systemd").mkdir(parents=True, exist_ok=True)
    (rootfs / "lib/systemd/systemd-udevd").symlink_to("/bin/udevadm")
    (rootfs / "lib/udev/rules.d").mkdir(parents=True)
    shutil.copy(ROOT / "packaging/60-hornset.rules", rootfs / "lib/udev/rules.d")
    shutil.copy(ROOT / "packaging/debian/postinst", rootfs / "kt/postinst")


def add_program(rootfs, program, where, found_in, multiarch):
    """PROGRAM at WHERE in the guest, with its loader and the libraries it
    needs, taken from the first of the directories FOUND_IN that has each."""
    shutil.copy(program, rootfs / where)
    loader = interpreter(program)
    (rootfs / loader[1:]).parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(loader, rootfs / loader[1:])
    guest_libraries = rootfs / "lib" / multiarch
    guest_libraries.mkdir(parents=True, exist_ok=True)
    todo = [program]
    while todo:
        for library in needed(todo.pop(0)):
            if (guest_libraries / library).exists():
                continue
            source = next((d / library for d in found_in if (d / library).exists()), None)
            if not source:
                fail(f"library {library} of {program.name} not found")
            shutil.copy(source, guest_libraries)
            todo.append(guest_libraries / library)


def build_suite():
    """The suite of this checkout, built for the board and linked statically: the guest
    runs its end-to-end cases against the module with each hornset build (tests/harness.h)."""
    script.say("building the suite")
    ensure_packages("googletest", "libgtest-dev", "qemu-user-static")
    directory = work / "suite"
    toolchain = [f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/toolchains/{board.name}.cmake"] if board.foreign else []
    logged("suite build", work / "suite.log", [
        ["cmake", "-S", ROOT, "-B", directory, "-G", "Unix Makefiles", "-DCMAKE_BUILD_TYPE=MinSizeRel",
         "-DHORNSET_BUILD_TESTS=ON", "-DCMAKE_EXE_LINKER_FLAGS=-static",
         "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST", *toolchain],
        ["cmake", "--build", directory, "--target", "hornset_tests", "-j2"]])
    return directory / "tests/hornset_tests"


def add_suite(rootfs, suite):
    """The suite, and README, whose examples are cases of it."""
    shutil.copy(suite, rootfs / "kt/hornset_tests")
    shutil.copy(ROOT / "README.md", rootfs / "kt/README.md")


def build_probe(b, directory):
    directory.mkdir(parents=True, exist_ok=True)
    run([b.tool("gcc"), "-static", "-Os", "-Wall", "-Werror", f"-D{exit_define}",
         "-I", ROOT / "device", "-o", directory / "hornprobe", ROOT / "kernel/guest/hornprobe.c"])


def add_libraries(rootfs, build):
    """The loader where the binary asks for it, the libraries in its board's multiarch
    directory, so that builds of two boards live side by side."""
    hornset = build.stage / "bin/hornset"
    multiarch = output([build.board.tool("gcc"), "-print-multiarch"]).strip()
    libraries = build.board.libraries()
    loader = interpreter(hornset)
    if not (libraries / Path(loader).name).exists():
        fail(f"loader {loader} not found in {libraries}")
    (rootfs / loader[1:]).parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(libraries / Path(loader).name, rootfs / loader[1:])
    guest_libraries = rootfs / "lib" / multiarch
    guest_libraries.mkdir(parents=True, exist_ok=True)
    copied, todo = [], [hornset]
    while todo:
        for library in needed(todo.pop(0)):
            if library in copied:
                continue
            if not (libraries / library).exists():
                fail(f"library {library} not found in {libraries}")
            copied.append(library)
            shutil.copy(libraries / library, guest_libraries)
            todo.append(guest_libraries / library)
    script.say(f"hornset ({build.name}) needs: {' '.join(copied)}")


def errno_number(b, name):
    """The number of the error NAME on board B (mips numbers some its own way), as its compiler says."""
    expanded = output([b.tool("gcc"), "-E", "-P", "-"], input=f"#include <errno.h>\n{name}\n")
    return int(expanded.split()[-1])


def write_config(path, hornsets, probe32_dir):
    """The builds and their C library, the version they report, the board's
    request numbers and the same with the direction bits swapped, ETIMEDOUT's
    number, and where the 32-bit hornprobe is (if any)."""
    set_request, get_request = board.request_numbers()
    set_number, get_number = int(set_request, 16), int(get_request, 16)
    path.write_text(f"""# Written by scripts/kernel-test for the {board.name} guest.
HORNSETS='{' '.join(f'{build.name}:{build.libc}' for build in hornsets)}'
SET_REQ={set_request}
GET_REQ={get_request}
SET_OTHER_DIR={(get_number & 0xffff0000) | (set_number & 0xffff):#010x}
GET_OTHER_DIR={(set_number & 0xffff0000) | (get_number & 0xffff):#010x}
ETIMEDOUT={errno_number(board, 'ETIMEDOUT')}
PROBE32_DIR={probe32_dir}
VERSION={project_version()}
""")


# ---- boot and verdict ----
def boot(image, initramfs):
    """Boots the guest, its console shown and kept in console.log; QEMU's exit status."""
    qemu = [*board.kernel_qemu.split(), "-accel", "tcg", "-smp", "1", "-nodefaults", "-no-reboot",
            "-nographic", "-serial", "stdio", "-kernel", image, "-initrd", initramfs, *exit_qemu,
            "-append", f"console={board.console} panic=-1 oops=panic loglevel=4"]
    script.say(f"booting ({elapsed()} so far)")
    booted = time.monotonic()
    with open(console_log, "wb") as kept:
        qemu_run = subprocess.Popen(["timeout", "--foreground", "-k", "10", str(timeout), *qemu],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT)
        for chunk in iter(lambda: qemu_run.stdout.read1(65536), b""):
            sys.stdout.buffer.write(chunk)
            sys.stdout.buffer.flush()
            kept.write(chunk)
        status = qemu_run.wait()
    script.say(f"QEMU ended with status {status} after {elapsed(booted)} ({elapsed()} in all)")
    return status


def verdict(status):
    """Passed only when the guest ended the machine itself with a pass and printed no failure. A
    panic reboots, which -no-reboot makes status 0: the result line is required too."""
    console = console_log.read_bytes().decode(errors="replace")
    results = re.findall(r"^[0-9]+ passed, [0-9]+ failed$", console.replace("\r", ""), re.M)
    result = results[-1] if results else ""
    if status in (124, 137):
        fail(f"the guest did not finish within {timeout} s (hang)")
    if re.search(r"Kernel panic|Oops|BUG:|Call Trace", console):
        fail(f"the kernel reported a panic, oops or BUG (see {console_log})")
    if not result:
        fail(f"no result line from the guest (QEMU status {status}; see {console_log})")
    if status == exit_passed and result.endswith(" 0 failed"):
        script.say(f"passed: {result}")
    elif status == exit_passed:
        fail(f"the exit status says passed but the guest printed: {result}")
    elif status == exit_failed:
        fail(result)
    else:
        fail(f"unexpected QEMU status {status} after: {result}")


try:
    main()
except subprocess.CalledProcessError as error:
    fail(f"{' '.join(str(word) for word in error.cmd)}: exit status {error.returncode}")
