"""targets.tsv, read by its header, so that a column added changes nothing here; run, it is scripts/boards."""

import re
import sys
from pathlib import Path

TABLE = Path(__file__).resolve().parents[2] / "targets.tsv"


class Target:
    """A row: each column an attribute ("-" read as ""), the first also as `name`; `foreign` where qemu runs it,
    and the Debian packages of its C++ compiler and musl."""

    def __init__(self, columns):
        self.__dict__.update(columns)
        self.name = next(iter(columns.values()))
        self.foreign = bool(self.qemu)
        self.compiler_package = f"g++-{self.triple}" if self.foreign else "g++"
        self.musl_package = f"musl-dev:{self.deb_arch}" if self.foreign else "musl-tools"

    def __getattr__(self, column):
        sys.exit(f"{TABLE}: no column {column}")

    def tool(self, name):
        return f"{self.triple}-{name}" if self.foreign else name

    def libraries(self):
        return Path(f"/usr/{self.triple}/lib") if self.foreign else Path("/lib", self.triple)

    def qemu_user(self, oldest_cpu=False, libraries=False):
        """The prefix that runs its static programs here; with LIBRARIES its dynamic ones, on its own libraries."""
        if not self.foreign:
            return []
        cpu = ["-cpu", self.cpu] if oldest_cpu and self.cpu else []
        tree = ["-L", str(self.libraries().parent), "-E", f"LD_LIBRARY_PATH={self.libraries()}"]
        return [f"/usr/bin/{self.qemu}", *cpu, *(tree if libraries else [])]


def _rows():
    header, rows = None, []
    for number, line in enumerate(TABLE.read_text().splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = ["" if f == "-" else f for f in re.split(r"\t+", line.strip())]
        if header is None:
            header = fields
        elif len(fields) != len(header):
            sys.exit(f"{TABLE}:{number}: {len(fields)} fields where the header has {len(header)}")
        else:
            rows.append(Target(dict(zip(header, fields))))
    return rows


TARGETS = _rows()
HERE = next(t for t in TARGETS if not t.foreign)


def target(name, program, column=None):
    """The row NAME (looked up by COLUMN); a usage error naming the choices if none."""
    found = [t for t in TARGETS if (getattr(t, column) if column else t.name) == name]
    if not found:
        print(f"{program}: unknown architecture '{name}' ({', '.join(names(column))})", file=sys.stderr)
        sys.exit(2)
    return found[0]


def names(column=None, having=None, word=None):
    """The names (or values in COLUMN) of the rows with a value in HAVING (or COLUMN), holding WORD if given."""
    having = having or column
    return [getattr(t, column) if column else t.name for t in TARGETS
            if not having or (getattr(t, having) and (word is None or word in getattr(t, having).split()))]


if __name__ == "__main__":
    if len(sys.argv) > 3:
        sys.exit("usage: scripts/boards [COLUMN [WORD]]")
    print("".join(f"{listed}\n" for listed in names(None, *sys.argv[1:])), end="")
