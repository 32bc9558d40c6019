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
for family, shared, kinds, column in (("cross", "debian-cross", ("configure", "build", "test"), "qemu"),
                                      ("musl", "musl", ("configure", "build"), "musl")):
    for arch in targets.names(having=column):
        name = f"{family}-{arch}"
        wanted.update((kind, name) for kind in kinds)
        configure = found.get(("configure", name), {})
        got = [(configure.get("inherits"), configure.get("cacheVariables", {}).get("HORNSET_TARGET")),
               *(found.get((kind, name), {}).get("configurePreset") for kind in kinds[1:])]
        if got != [(family, arch), *(name for _ in kinds[1:])]:
            script.fail(f"CMakePresets.json: the presets {name} are not as the others of {family} (got {got!r})")
        toolchain = ROOT / "cmake/toolchains" / f"{'' if family == 'cross' else 'musl-'}{arch}.cmake"
        toolchains.add(toolchain)
        text = toolchain.read_text() if toolchain.is_file() else ""
        if f"set(HORNSET_TARGET {arch})" not in text or f"{shared}.cmake" not in text:
            script.fail(f"{toolchain.relative_to(ROOT)} does not set HORNSET_TARGET {arch} and include "
                        f"{shared}.cmake")
for kind, name in found:
    if name.startswith(("cross-", "musl-")) and (kind, name) not in wanted:
        script.fail(f"{kind} preset {name} is for no architecture of targets.tsv")
for path in (ROOT / "cmake/toolchains").glob("*.cmake"):
    if "set(HORNSET_TARGET" in path.read_text() and path not in toolchains:
        script.fail(f"{path.relative_to(ROOT)} is for no architecture of targets.tsv")
script.finish(f"check-targets: the presets and toolchain files agree with targets.tsv ({len(targets.TARGETS)} "
              "architectures)", "disagreement(s) with targets.tsv")
