"""The presets and toolchain files, which CMake cannot generate from targets.tsv, agree with it."""

import json

import targets
from common import ROOT, Script

script = Script("check-targets")
presets = json.loads((ROOT / "CMakePresets.json").read_text())
found = {(kind, p["name"]): p for kind in ("configure", "build", "test") for p in presets.get(f"{kind}Presets", [])}
# The musl suite's presets, which are no architecture's.
wanted = {(kind, name) for kind, name in found if name in ("musl-dynamic", "musl-suite")}
toolchains = set()
for t in targets.TARGETS:
    for family, shared, kinds in (("cross", "debian-cross", ("configure", "build", "test")),
                                  ("musl", "musl", ("configure", "build"))):
        if not (t.foreign if family == "cross" else t.musl):
            continue
        name = f"{family}-{t.name}"
        for kind in kinds:
            wanted.add((kind, name))
            preset = found.get((kind, name), {})
            got = (preset.get("inherits"), preset.get("cacheVariables", {}).get("HORNSET_TARGET")) \
                if kind == "configure" else preset.get("configurePreset")
            if got != ((family, t.name) if kind == "configure" else name):
                script.fail(f"CMakePresets.json: {kind} preset {name} is not as the others of {family} for {t.name} "
                            f"(got {got!r})")
        toolchain = ROOT / "cmake/toolchains" / f"{'' if family == 'cross' else 'musl-'}{t.name}.cmake"
        toolchains.add(toolchain)
        text = toolchain.read_text() if toolchain.is_file() else ""
        if f"set(HORNSET_TARGET {t.name})" not in text or f"{shared}.cmake" not in text:
            script.fail(f"{toolchain.relative_to(ROOT)} does not set HORNSET_TARGET {t.name} and include "
                        f"{shared}.cmake")
for kind, name in found:
    if name.startswith(("cross-", "musl-")) and (kind, name) not in wanted:
        script.fail(f"{kind} preset {name} is for no architecture of targets.tsv")
for path in (ROOT / "cmake/toolchains").glob("*.cmake"):
    if "set(HORNSET_TARGET" in path.read_text() and path not in toolchains:
        script.fail(f"{path.relative_to(ROOT)} is for no architecture of targets.tsv")
script.finish(f"check-targets: the presets and toolchain files agree with targets.tsv ({len(targets.TARGETS)} "
              "architectures)", "disagreement(s) with targets.tsv")
