"""Checks that what cannot be generated from targets.tsv agrees with it: the presets in
CMakePresets.json (cross-ARCH for each architecture run under qemu-user, musl-ARCH for each
one with a musl triple) and the per-architecture toolchain files in cmake/toolchains/."""

import json
import re

import targets
from common import ROOT, Script

script = Script("check-targets")
presets = json.loads((ROOT / "CMakePresets.json").read_text())
kinds = {"configure": "configurePresets", "build": "buildPresets", "test": "testPresets"}
by_kind = {kind: {p["name"]: p for p in presets.get(key, [])} for kind, key in kinds.items()}
wanted = {"musl-dynamic", "musl-suite"}  # the musl suite's presets, which are no architecture's
for b in targets.TARGETS:
    for prefix, base, shared, preset_kinds in (("cross-", "cross", "debian-cross.cmake", kinds),
                                               ("musl-", "musl", "musl.cmake", ("configure", "build"))):
        if not (b.foreign if base == "cross" else b.musl):
            continue
        name = prefix + b.name
        wanted.add(name)
        for kind in preset_kinds:
            preset = by_kind[kind].get(name, {})
            got = ((preset.get("inherits"), preset.get("cacheVariables", {}).get("HORNSET_TARGET"))
                   if kind == "configure" else preset.get("configurePreset"))
            if got != ((base, b.name) if kind == "configure" else name):
                script.fail(f"CMakePresets.json: {kind} preset {name} is not as the others of {base} "
                            f"for {b.name} (got {got!r})")
        toolchain = ROOT / "cmake/toolchains" / f"{'' if base == 'cross' else prefix}{b.name}.cmake"
        text = toolchain.read_text() if toolchain.is_file() else ""
        if f"set(HORNSET_TARGET {b.name})" not in text or shared not in text:
            script.fail(f"{toolchain.relative_to(ROOT)} does not set HORNSET_TARGET {b.name} and "
                        f"include {shared}")

for kind, named in by_kind.items():
    for name in named:
        if re.match(r"(cross|musl)-", name) and name not in wanted:
            script.fail(f"{kind} preset {name} is for no architecture of targets.tsv")
for path in (ROOT / "cmake/toolchains").glob("*.cmake"):
    if "set(HORNSET_TARGET" in path.read_text() and path.stem.removeprefix("musl-") not in targets.names():
        script.fail(f"{path.relative_to(ROOT)} is for no architecture of targets.tsv")
script.finish(f"check-targets: the presets and toolchain files agree with targets.tsv "
              f"({len(targets.TARGETS)} architectures)", "disagreement(s) with targets.tsv")
