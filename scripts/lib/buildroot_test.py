"""scripts/buildroot-test ARCH: hornset built by Buildroot through packaging/buildroot, and checked."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import targets
from common import ROOT, Script, build, ensure_packages, project_version, readelf, run

script = Script("buildroot-test")
if len(sys.argv) != 2:
    script.usage("BUILDROOT_SOURCE=buildroot-X.tar.xz BUILDROOT_HOST_SOURCES=DIR "
                 f"scripts/buildroot-test {'|'.join(targets.names('buildroot'))}")
# Buildroot's name for the architecture, or the table's own (arm64 is aarch64 there).
arch = next((t for t in targets.TARGETS if t.buildroot and sys.argv[1] == t.name), None) or \
    targets.target(sys.argv[1], "buildroot-test", column="buildroot")
source = os.environ.get("BUILDROOT_SOURCE", "")
host_sources = os.environ.get("BUILDROOT_HOST_SOURCES", "")
shared = ROOT / "build/buildroot"
work = ROOT / f"build/buildroot-{arch.buildroot}"
output_dir = work / "output"
toolchain = work / "toolchain"
# host-tar's configure refuses to run as root without this.
os.environ["FORCE_UNSAFE_CONFIGURE"] = "1"
# Debian's compiler, its --with-sysroot=/ hidden from `-v` (Buildroot refuses distribution compilers
# by it), with a sysroot of its own in the layout Buildroot copies into staging (usr/ -> .); calls
# with --sysroot (all of Buildroot's builds) go through untouched.
WRAPPER = """#!/bin/sh
real=/usr/bin/{triple}-{tool}
case " $* " in
" -v ") "$real" -v 2>&1 | sed 's| --with-sysroot=/ | |' >&2 && exit 0 ;;
*" --sysroot"*) exec "$real" "$@" ;;
*" -print-sysroot "*) echo "{sysroot}" && exit 0 ;;
*" -print-file-name=libc.a "*) echo "{sysroot}/lib/libc.a" && exit 0 ;;
esac
exec "$real" "$@"
"""


def step(name, action, *arguments):
    print(f"buildroot-test: {name}", file=sys.stderr, flush=True)
    return action(*arguments)


def unpack(tarball, directory):
    stamp = f"{os.path.realpath(tarball)} {os.path.getsize(tarball)} {int(os.path.getmtime(tarball))}\n"
    mark = directory / ".unpacked"
    if not mark.exists() or mark.read_text() != stamp:
        shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True)
        run(["tar", "-xf", tarball, "-C", str(directory), "--strip-components=1"])
        mark.write_text(stamp)


def sources():
    """Buildroot's tree, and local.mk lines that give it the host packages' sources, so that it downloads nothing."""
    tree = shared / "source"
    unpack(source, tree)
    overrides = ""
    for package in ("pkgconf", "ninja", "tar") if host_sources else ():
        found = sorted(Path(host_sources).glob(f"{package}[_-]*.tar.*"))
        if not found:
            script.die(f"no {package} source tarball in {host_sources}", 2)
        unpack(str(found[-1]), shared / f"host-{package}")
        overrides += f"HOST_{package.upper()}_OVERRIDE_SRCDIR = {shared}/host-{package}\n"
    return tree, overrides


def make_toolchain():
    if (toolchain / ".done").exists():
        return
    shutil.rmtree(toolchain, ignore_errors=True)
    sysroot = toolchain / "sysroot"
    (toolchain / "bin").mkdir(parents=True)
    sysroot.mkdir()
    for part in ("lib", "include"):
        run(["cp", "-a", f"/usr/{arch.triple}/{part}", str(sysroot)])
    (sysroot / "usr").symlink_to(".")
    for tool in Path("/usr/bin").glob(f"{arch.triple}-*"):
        (toolchain / "bin" / tool.name).symlink_to(tool)
    for tool in ("gcc", "g++", "c++", "cpp"):
        wrapper = toolchain / "bin" / f"{arch.triple}-{tool}"
        wrapper.unlink(missing_ok=True)
        wrapper.write_text(WRAPPER.format(triple=arch.triple, tool=tool, sysroot=sysroot))
        wrapper.chmod(0o755)
    (toolchain / ".done").touch()


def configure(buildroot, overrides, ssp):
    cpu = [f"# {name} is not set" if value == "n" else f"{name}={value}"
           for name, value in (setting.split("=", 1) for setting in arch.buildroot_config.split())]
    output_dir.mkdir(parents=True, exist_ok=True)
    defconfig = output_dir / "hornset_defconfig"
    defconfig.write_text("\n".join([
        *cpu, f'BR2_DL_DIR="{work}/dl"', "BR2_TOOLCHAIN_EXTERNAL=y", "BR2_TOOLCHAIN_EXTERNAL_CUSTOM=y",
        "BR2_TOOLCHAIN_EXTERNAL_PREINSTALLED=y", f'BR2_TOOLCHAIN_EXTERNAL_PATH="{toolchain}"',
        f'BR2_TOOLCHAIN_EXTERNAL_CUSTOM_PREFIX="{arch.triple}"', "BR2_TOOLCHAIN_EXTERNAL_GCC_12=y",
        "BR2_TOOLCHAIN_EXTERNAL_HEADERS_6_1=y", "BR2_TOOLCHAIN_EXTERNAL_CUSTOM_GLIBC=y",
        "# BR2_TOOLCHAIN_EXTERNAL_INET_RPC is not set", "BR2_TOOLCHAIN_EXTERNAL_CXX=y",
        "BR2_TOOLCHAIN_EXTERNAL_OPENMP=y", "BR2_TOOLCHAIN_EXTERNAL_HAS_SSP=y", f"{ssp}=y",
        "BR2_INIT_NONE=y", "BR2_SYSTEM_BIN_SH_NONE=y", "# BR2_PACKAGE_BUSYBOX is not set",
        "# BR2_TARGET_ROOTFS_TAR is not set", "BR2_PACKAGE_HORNSET=y", ""]))
    (output_dir / "local.mk").write_text(overrides)
    run(["make", "-C", str(buildroot), f"O={output_dir}", f"BR2_EXTERNAL={ROOT}/packaging/buildroot",
         f"BR2_DEFCONFIG={defconfig}", "defconfig"], quiet=True)
    if f"{ssp}=y" not in (output_dir / ".config").read_text().splitlines():
        script.die(f"Buildroot did not take {ssp}")


def brmake(buildroot, *make_targets):
    log = output_dir / "build.log"
    with open(log, "w") as out:
        status = subprocess.run(["make", "-C", str(buildroot), f"O={output_dir}", "-j2", *make_targets],
                                stdout=out, stderr=subprocess.STDOUT).returncode
    if status != 0:
        sys.stderr.writelines(log.read_text().splitlines(keepends=True)[-40:])
        script.die(f"make {' '.join(make_targets)} failed; see {log}")


def check(ssp):
    """What landed on the target; the suite checks the protected build."""
    binary = output_dir / "target/usr/bin/hornset"
    if not binary.is_file():
        return script.fail(f"{ssp}: no usr/bin/hornset on the target")
    protected = "__stack_chk_fail" in readelf("--dyn-syms", binary)
    if protected != (ssp != "BR2_SSP_NONE"):
        script.fail(f"{ssp}: hornset {'references' if protected else 'has no'} __stack_chk_fail")
    if ssp != "BR2_SSP_NONE":
        return
    # What hornset installed, as Buildroot recorded it on the first build (a rebuild lists only
    # what it changed): the package's directory carries the project's version.
    files_list = output_dir / f"build/hornset-{project_version()}/.files-list.txt"
    files = sorted(line.split(",./", 1)[1] for line in (files_list.read_text() if files_list.is_file() else "")
                   .splitlines() if line.startswith("hornset,./"))
    script.expect_equal(f"{ssp}: files hornset installed",
                        ["usr/bin/hornset", "usr/share/doc/hornset/README.md", "usr/share/doc/hornset/changelog.gz",
                         "usr/share/doc/hornset/copyright", "usr/share/hornset/60-hornset.rules",
                         "usr/share/man/man1/hornset.1.gz"], files)


def suite():
    suite_build = work / "suite"
    build(f"cross-{arch.name}", f"-DHORNSET_TEST_TOOL_FILE={output_dir}/target/usr/bin/hornset",
          f"-DHORNSET_TEST_PRELOAD_FILE={suite_build}/emulator/libhornemu.so", directory=suite_build)
    result = subprocess.run(["ctest", "--test-dir", str(suite_build), "--output-on-failure", "--no-tests=error",
                             "-j", "2", "--timeout", "300"], stdout=subprocess.PIPE, text=True)
    print(*[line for line in result.stdout.splitlines() if re.search(r"tests passed|\((Skipped|Failed)\)", line)],
          sep="\n")
    if result.returncode != 0:
        script.fail("the suite failed against the Buildroot-built hornset")


def main():
    if not os.path.isfile(source):
        script.die(f"needs Buildroot's sources, not '{source}': set BUILDROOT_SOURCE to its release tarball, "
                   "and, offline, BUILDROOT_HOST_SOURCES to a folder of pkgconf, ninja and tar source tarballs", 2)
    # Buildroot's host needs, the cross compiler, the suite's; check-package's python3-magic and python3-flake8.
    ensure_packages("build-essential", "make", "patch", "gzip", "bzip2", "perl", "tar", "cpio", "unzip",
                    "rsync", "bc", "file", "wget", "cmake", "ninja-build", "binutils", arch.compiler_package,
                    "qemu-user-static", "googletest", "python3", "python3-magic", "python3-flake8")
    buildroot, overrides = step("unpack Buildroot and the host sources", sources)
    step("toolchain wrapper and sysroot", make_toolchain)
    external = sorted(str(p) for p in (ROOT / "packaging/buildroot").rglob("*") if p.is_file())
    step("Buildroot's check-package on the external tree", run,
         ["/usr/bin/python3", str(buildroot / "utils/check-package"), "-b", *external])
    # Buildroot lists as a package's files those its install changed: hornset's earlier ones go first.
    run(["rm", "-rf", *(output_dir / "target").glob("**/*hornset*")])
    # The toolchain wrapper has the choice built in: rebuilt each time, as hornset is. No whole image:
    # its last step needs host-patchelf, whose source is not at hand offline.
    for ssp, name in (("BR2_SSP_NONE", "build"), ("BR2_SSP_STRONG", "rebuild the toolchain wrapper and hornset")):
        step(f"configure with {ssp}", configure, buildroot, overrides, ssp)
        step(f"{name} with {ssp}", brmake, buildroot, "toolchain-external-custom-rebuild", "hornset-dirclean",
             "hornset")
        check(ssp)
    step("end-to-end suite under qemu-user", suite)
    script.name = f"buildroot-test {arch.buildroot}"
    script.finish(f"buildroot-test {arch.buildroot}: passed")


main()
