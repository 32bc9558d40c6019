"""Checks that what cannot be generated from boards.tsv agrees with it: the presets in
CMakePresets.json (cross-BOARD for each board run under qemu-user, musl-BOARD for each board
with a musl triple) and the per-board toolchain files in cmake/toolchains/."""

import json
import re

import boards
from common import ROOT, Script

script = Script("check-boards")
presets = json.loads((ROOT / "CMakePresets.json").read_text())
kinds = {"configure": "configurePresets", "build": "buildPresets", "test": "testPresets"}
by_kind = {kind: {p["name"]: p for p in presets.get(key, [])} for kind, key in kinds.items()}
# The presets of the musl suite are not a board's.
not_boards = {"musl-dynamic", "musl-suite"}


def expect_preset(kind, name, base=None, board=None):
    preset = by_kind[kind].get(name)
    if preset is None:
        return script.fail(f"CMakePresets.json has no {kind} preset {name}")
    if kind == "configure":
        if preset.get("inherits") != base:
            script.fail(f"configure preset {name} inherits {preset.get('inherits')!r}, not {base!r}")
        given = preset.get("cacheVariables", {}).get("HORNSET_BOARD")
        if given != board:
            script.fail(f"configure preset {name} sets HORNSET_BOARD {given!r}, not {board!r}")
    elif preset.get("configurePreset") != name:
        script.fail(f"{kind} preset {name} configures {preset.get('configurePreset')!r}, not {name!r}")
    return None


def expect_toolchain(file, board, shared):
    path = ROOT / "cmake/toolchains" / file
    if not path.is_file():
        return script.fail(f"no toolchain file {path.relative_to(ROOT)} for {board}")
    text = path.read_text()
    if f"set(HORNSET_BOARD {board})" not in text or shared not in text:
        script.fail(f"{path.relative_to(ROOT)} does not set HORNSET_BOARD {board} and include {shared}")
    return None


wanted = set()
for b in boards.BOARDS:
    if b.foreign:
        wanted.add(f"cross-{b.name}")
        for kind in kinds:
            expect_preset(kind, f"cross-{b.name}", "cross", b.name)
        expect_toolchain(f"{b.name}.cmake", b.name, "debian-cross.cmake")
    if b.musl:
        wanted.add(f"musl-{b.name}")
        for kind in ("configure", "build"):
            expect_preset(kind, f"musl-{b.name}", "musl", b.name)
        expect_toolchain(f"musl-{b.name}.cmake", b.name, "musl.cmake")

for kind, named in by_kind.items():
    for name in named:
        if re.match(r"(cross|musl)-", name) and name not in wanted | not_boards:
            script.fail(f"{kind} preset {name} is for no board of boards.tsv")
for path in (ROOT / "cmake/toolchains").glob("*.cmake"):
    stem = path.stem.removeprefix("musl-")
    if "set(HORNSET_BOARD" in path.read_text() and stem not in boards.names():
        script.fail(f"{path.relative_to(ROOT)} is for no board of boards.tsv")

script.finish(f"check-boards: the presets and toolchain files agree with boards.tsv "
              f"({len(boards.BOARDS)} boards)", "disagreement(s) with boards.tsv")
