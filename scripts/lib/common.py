"""Steps the scripts share. Importing it moves to the project's root: paths are the project's."""

import atexit
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# Where the script was started: relative paths its caller gave are from there.
CALLER_DIR = Path.cwd()
os.chdir(ROOT)
# A user's PATH on Debian lacks the sbin directories, where dpkg finds ldconfig and start-stop-daemon.
os.environ["PATH"] = os.environ.get("PATH", "/usr/bin:/bin") + ":/usr/local/sbin:/usr/sbin:/sbin"
# Messages keep their place among the output of the commands the scripts run.
sys.stdout.reconfigure(line_buffering=True)


def _failed_command(kind, error, traceback):
    """Ctrl-C and a command that had to succeed end the script quietly with their status, as in a shell."""
    if isinstance(error, KeyboardInterrupt):
        sys.exit(130)
    if isinstance(error, subprocess.CalledProcessError):
        command = " ".join(str(word) for word in error.cmd)
        print(f"{Path(sys.argv[0]).stem}: {command}: exit status {error.returncode}", file=sys.stderr)
        sys.exit(error.returncode if 0 < error.returncode < 256 else 1)
    sys.__excepthook__(kind, error, traceback)


sys.excepthook = _failed_command


class Script:
    def __init__(self, name):
        self.name = name
        self.failures = 0

    def say(self, message):
        print(f"{self.name}: {message}", flush=True)

    def die(self, message, status=1):
        print(f"{self.name}: {message}", file=sys.stderr, flush=True)
        sys.exit(status)

    def usage(self, text):
        print(f"usage: {text}", file=sys.stderr)
        sys.exit(2)

    def fail(self, message):
        if message:
            print(f"FAIL: {message}", file=sys.stderr, flush=True)
            self.failures += 1

    def expect_equal(self, what, expected, actual):
        if expected != actual:
            self.fail(f"{what}: expected '{expected}', got '{actual}'")

    def finish(self, passed, failed_what="check(s) failed"):
        if self.failures:
            self.die(f"{self.failures} {failed_what}")
        print(passed, flush=True)


def run(command, quiet=False, **options):
    """Runs COMMAND, which must succeed; QUIET keeps its output unless it fails."""
    if not quiet:
        return subprocess.run(command, check=True, **options)
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **options)
    if result.returncode != 0:
        sys.stderr.write(result.stdout)
        raise subprocess.CalledProcessError(result.returncode, command)
    return result


def output(command, **options):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True, **options).stdout


def ensure_packages(*packages):
    run([str(ROOT / "scripts/ensure-packages"), *packages])


def build(preset, *options, directory=None, target=None, cwd=None):
    """PRESET configured (in DIRECTORY rather than its own, where given) and built, quietly."""
    where = ["-B", str(directory)] if directory else []
    run(["cmake", "--preset", preset, *where, *options], quiet=True, cwd=cwd)
    run(["cmake", "--build", *(where[1:] or ["--preset", preset]), "-j2", *(["--target", target] if target else [])],
        quiet=True, cwd=cwd)


def archives():
    """This release's code name, and the (archive, suite) of each of its suites in apt's lists."""
    release = platform.freedesktop_os_release()["VERSION_CODENAME"]
    lines = output(["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE)", "Created-By: Packages"])
    return release, sorted({tuple(line.split()) for line in lines.splitlines() if f" {release}" in line})


def project_version():
    return re.search(r"^project\(hornset\s+VERSION\s+([0-9.]+)", (ROOT / "CMakeLists.txt").read_text(), re.M)[1]


def readelf(option, path):
    return output(["readelf", option, "--wide", str(path)], env={**os.environ, "LC_ALL": "C"})


def needed(path):
    return re.findall(r"\(NEEDED\).*\[(.*)\]", readelf("--dynamic", path))


def interpreter(path):
    return (re.findall(r"Requesting program interpreter: (.*)\]", readelf("--program-headers", path)) or [None])[0]


def stripped_size(target, path):
    stripped = scratch() / "hornset"
    run([target.tool("strip"), "-o", str(stripped), str(path)])
    return stripped.stat().st_size


def static_problems(target, path):
    description = output(["file", "-b", str(path)]).strip()
    print(f"{path}: {description}")
    # An ARM baseline (Tag_CPU_arch, soft-float) is checked here: qemu's default CPU would not notice code beyond it.
    wanted = target.baseline.split() or [None]
    arch = (re.findall(r"Tag_CPU_arch: *(\S+)", readelf("-A", path)) or ["an unnamed ARM"])[0]
    return [problem for problem in (
        "statically linked" not in description and "file does not call it statically linked",
        not re.search(target.machine, description) and f"file does not name {target.name}'s machine",
        interpreter(path) and "it asks for a program interpreter",
        needed(path) and f"it needs shared libraries: {' '.join(needed(path))}",
        wanted[0] and arch != wanted[0] and f"built for {arch}, not {wanted[0]}",
        "soft-float" in wanted and "soft-float ABI" not in readelf("-h", path) and "not the soft-float ABI") if problem]


def version_problem(command):
    """What is wrong with `COMMAND --version`, run in an empty environment; not run on a board."""
    if os.path.exists("/proc/lampstat") or os.path.exists("/dev/hornio"):
        print(f"this machine has /proc/lampstat or /dev/hornio: {command[-1]} --version not run")
        return None
    shown = subprocess.run([*command, "--version"], stdin=subprocess.DEVNULL, capture_output=True, env={}, text=True)
    wanted = f"hornset version {project_version()}"
    last = (shown.stdout.splitlines() or [""])[-1]
    if shown.returncode or last != wanted:
        return f"--version: exit status {shown.returncode} and {last!r}, not {wanted!r}"
    return None


def rebuild(tree, commit, step, again=False):
    """STEP(TREE) in a fresh clone of COMMIT at TREE; AGAIN, with its files dated a year back, under umask
    077 and another time zone and locale, so that whatever a build takes from any of them shows as a difference."""
    saved_environment, saved_umask = dict(os.environ), os.umask(0o077)
    os.umask(0o077 if again else saved_umask)
    os.environ.update({"TZ": "Pacific/Kiritimati", "LC_ALL": "C"} if again else {"TZ": "UTC", "LC_ALL": "C.UTF-8"})
    try:
        shutil.rmtree(tree, ignore_errors=True)
        tree.parent.mkdir(parents=True, exist_ok=True)
        run(["git", "clone", "--quiet", "--no-hardlinks", str(ROOT), str(tree)])
        run(["git", "-C", str(tree), "checkout", "--quiet", "--detach", commit])
        files = [str(p) for p in tree.rglob("*") if ".git" not in p.relative_to(tree).parts]
        run(["touch", "-d", "last year" if again else "now", str(tree), *files])
        return step(tree)
    finally:
        os.environ.clear()
        os.environ.update(saved_environment)
        os.umask(saved_umask)


def scratch():
    directory = tempfile.mkdtemp(prefix="hornset.")
    atexit.register(shutil.rmtree, directory, ignore_errors=True)
    return Path(directory)
