"""The board table, boards.tsv: one row per board, read by every script."""

import re
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

TABLE = Path(__file__).resolve().parents[2] / "boards.tsv"

# The set and get request numbers of each encoding, written out here apart from
# the headers that the tool and the emulated driver take them from.
REQUESTS = {"generic": ("0x40046b01", "0x80046b02"), "mips": ("0x80046b01", "0x40046b02")}


@dataclass(frozen=True)
class Board:
    board: str
    triple: str
    deb_arch: str
    processor: str
    qemu: str
    cpu: str
    requests: str
    machine: str
    musl: str
    baseline: str
    kernel: str
    qemu_system: str
    kernel_qemu: str
    console: str
    kernel_exit: str
    kernel_also: str
    buildroot: str
    buildroot_config: str
    ci: str

    @property
    def name(self):
        return self.board

    @property
    def foreign(self):
        """True for a board whose programs run under qemu-user here."""
        return bool(self.qemu)

    def runs_in_ci(self, stage):
        return stage in self.ci.split()

    def request_numbers(self):
        """(set, get) as the board's kernel numbers them."""
        return REQUESTS[self.requests]

    def compiler_package(self):
        return f"g++-{self.triple}" if self.foreign else "g++"

    def tool(self, name):
        """A binutils or compiler program for the board: strip, gcc, ..."""
        return f"{self.triple}-{name}" if self.foreign else name

    def musl_package(self):
        """The package of musl that builds its programs with the C++ compiler: Debian's musl-tools
        here, the board architecture's musl-dev for a board."""
        return f"musl-dev:{self.deb_arch}" if self.foreign else "musl-tools"

    def qemu_user(self, oldest_cpu=False, libraries=False):
        """The command prefix that runs one of its static programs here; with LIBRARIES one of its
        dynamic programs, with the loader and libraries of the board's tree (/usr/TRIPLE) alone."""
        if not self.foreign:
            return []
        cpu = ["-cpu", self.cpu] if oldest_cpu and self.cpu else []
        tree = ["-L", f"/usr/{self.triple}", "-E", f"LD_LIBRARY_PATH=/usr/{self.triple}/lib"]
        return [f"/usr/bin/{self.qemu}", *cpu, *(tree if libraries else [])]

    def pointer_bits(self):
        """32 or 64, as the board's compiler says."""
        out = subprocess.run([self.tool("gcc"), "-dM", "-E", "-"], input="", capture_output=True,
                             text=True, check=True).stdout
        return 8 * int(re.search(r"__SIZEOF_POINTER__ (\d+)", out).group(1))


def _rows():
    header = None
    for line in TABLE.read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        fields = ["" if f == "-" else f for f in re.split(r"\t+", line.strip())]
        if header is None:
            header = fields
            continue
        if len(fields) != len(header):
            sys.exit(f"{TABLE}: {len(fields)} columns where the header has {len(header)}: {line}")
        yield Board(**dict(zip(header, fields)))


BOARDS = list(_rows())


def board(name, program, column="board"):
    """The board NAME (looked up by COLUMN); a usage error naming the choices if none."""
    for b in BOARDS:
        if getattr(b, column) == name:
            return b
    choices = ", ".join(getattr(b, column) for b in BOARDS if getattr(b, column))
    print(f"{program}: unknown board '{name}' ({choices})", file=sys.stderr)
    sys.exit(2)


def this_machine():
    """The board that is this machine: the one whose programs need no qemu-user."""
    return next(b for b in BOARDS if not b.foreign)


def names(column="board", having=None):
    """The boards' names in COLUMN, of those with a value in column HAVING."""
    return [getattr(b, column) for b in BOARDS if getattr(b, having or column)]
