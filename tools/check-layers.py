#!/usr/bin/env python3
"""Checks that the modules depend on each other only the way the layering allows.

usage: check-layers.py SOURCE_DIR [COMPILE_COMMANDS_JSON]

Every quoted #include of a product source file is checked against the module it lives in:
    app -> engine/api, drivedata, camcfg, imaging
    engine/api -> engine/player -> engine/{reader,audio,io,core}, codec public headers, imaging
    codecs -> nothing but themselves
and no product code includes tests, benchmarks or fuzz targets, and neither the engine nor the
codecs include Qt. A folder not named below is a module added later: under engine/ it may use the
engine, under app/ what the window may use, elsewhere anything below the window. With the build's
compile_commands.json it also checks that the window's sources are not compiled with the include
paths of libraries only the engine uses (FreeType, fontconfig, SDL) or of the engine's modules
behind the API and the codecs, i.e. that nothing leaks through a PUBLIC link.
"""
import json
import os
import re
import sys

CODEC_PUBLIC = ["codec/mpeg4v/mpeg4v.h", "codec/aac/aacdec.h"]
WINDOW_MAY_USE = ["engine/api/", "drivedata/", "camcfg/", "imaging/", "app/"]

# Module folder -> the include prefixes it may use (its own folder is always allowed).
RULES = {
    "codec/mpeg4v": [],
    "codec/aac": [],
    "engine/core": [],
    "engine/io": ["engine/core/"],
    "engine/reader": ["engine/io/", "engine/core/"],
    "engine/audio": ["engine/core/"],
    # The display surface: composition, overlay text and capture (images through imaging).
    "engine/display": ["engine/core/", "imaging/"],
    # The player shares the API's types (player_api.h) and implements what it declares.
    "engine/player": ["engine/api/player_api.h", "engine/reader/", "engine/audio/", "engine/display/", "engine/io/",
                      "engine/core/", "imaging/"] + CODEC_PUBLIC,
    "engine/api": ["engine/player/", "engine/reader/", "engine/audio/", "engine/display/", "engine/io/",
                   "engine/core/"],
    "engine/writer": ["engine/core/"],
    # Rebuilding a cut-off recording: the reader finds the boxes, the decoders tell where each
    # sample ends and the writer puts the index back.
    "engine/repair": ["engine/reader/", "engine/writer/", "engine/io/", "engine/core/"] + CODEC_PUBLIC,
    "drivedata": [],
    "camcfg": [],
    "imaging": [],
    "app/userfiles": [],
    # The catalogue of recordings read: SQLite over the drive data, its file in the cache folder.
    "catalogue": ["drivedata/", "app/userfiles/"],
    "app": WINDOW_MAY_USE,
    # The evidence dialogs write clips and reports themselves, on a worker thread.
    "app/export": WINDOW_MAY_USE + ["report/", "engine/writer/", "engine/core/sha256.h"],
    # The offer of a repaired copy asks the repair module alone.
    "app/repair": WINDOW_MAY_USE + ["engine/repair/repair.h", "engine/core/result.h"],
    # The window's reading of folders through the catalogue, and the events search over it.
    "app/catalogue": WINDOW_MAY_USE + ["catalogue/"],
    "tools/common": [],
    "tools/mkrec": ["engine/writer/", "engine/core/"],
    "tools/vantrec-tool": ["engine/", "drivedata/", "camcfg/", "imaging/", "tools/common/",
                           "app/userfiles/", "report/", "catalogue/"] + CODEC_PUBLIC,
}
NOT_PRODUCT = ("tests/", "bench/", "fuzz/", "build/", "packaging/")
SOURCE_EXT = (".c", ".cc", ".cpp", ".h", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def module_of(rel):
    """The module folder a source file belongs to, and whether it is one the table names."""
    best = None
    for m in RULES:
        if rel.startswith(m + "/") and (best is None or len(m) > len(best)):
            best = m
    parts = rel.split("/")
    if best is not None:
        # app/<new window>/ is a module of its own, not part of the classic window.
        if best == "app" and len(parts) > 2:
            return "/".join(parts[:2]), False
        return best, True
    if parts[0] in ("engine", "codec", "app", "tools") and len(parts) > 2:
        return "/".join(parts[:2]), False
    return parts[0], False


def allowed_for_new(module):
    if module.startswith("engine/"):
        return ["engine/", "imaging/", "drivedata/"] + CODEC_PUBLIC
    if module.startswith("codec/"):
        return []
    if module.startswith("app/"):
        return WINDOW_MAY_USE
    if module.startswith("tools/"):
        return RULES["tools/vantrec-tool"]
    # A module of its own beside the others (a map, a report, ...): anything below the window.
    return ["engine/api/", "engine/", "drivedata/", "camcfg/", "imaging/", "app/userfiles/"] + \
        CODEC_PUBLIC + ["*top-level*"]


def include_allowed(module, known, target):
    if target.startswith(module + "/"):
        return True
    allowed = RULES[module] if known else allowed_for_new(module)
    for a in allowed:
        if a == "*top-level*":
            if target.split("/")[0] not in ("app", "tools", "tests", "bench", "fuzz", "engine", "codec"):
                return True
        elif target == a or (a.endswith("/") and target.startswith(a)):
            return True
    return False


def check_includes(src):
    problems = []
    for root, dirs, files in os.walk(src):
        rel_root = os.path.relpath(root, src)
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        if rel_root == ".":
            continue
        rel_root = rel_root.replace(os.sep, "/")
        if (rel_root + "/").startswith(NOT_PRODUCT) or rel_root.split("/")[0].startswith("build"):
            dirs[:] = []
            continue
        for name in files:
            if not name.endswith(SOURCE_EXT):
                continue
            rel = rel_root + "/" + name
            module, known = module_of(rel)
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                for n, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    kind, target = m.groups()
                    where = f"{rel}:{n}: {module}"
                    if kind == "<":
                        if module.startswith(("engine/", "codec/")) and re.match(r"Q[A-Za-z]", target):
                            problems.append(f"{where} includes Qt ({target})")
                        continue
                    if "/" not in target:
                        continue  # a header beside the file (generated tables and the like)
                    if target.startswith(NOT_PRODUCT):
                        problems.append(f"{where} includes test or tool code ({target})")
                    elif not include_allowed(module, known, target):
                        problems.append(f"{where} may not include {target}")
    return problems


def check_compile_flags(commands_file, src):
    """The window's sources must not see the engine's private libraries."""
    problems = []
    # System libraries only the engine uses, and the engine's own modules behind the API.
    private_paths = ("freetype2", "/SDL2", "fontconfig") + tuple(
        "module-include/" + m for m in ("vt_player", "vt_audio", "vt_reader", "vt_io", "mpeg4v", "aacdec"))
    with open(commands_file, encoding="utf-8") as f:
        commands = json.load(f)
    for c in commands:
        rel = os.path.relpath(c["file"], src).replace(os.sep, "/")
        if not rel.startswith("app/"):
            continue
        text = c.get("command") or " ".join(c.get("arguments", []))
        for flag in re.findall(r"(?:-I|-isystem\s+)(\S+)", text):
            if any(p in flag for p in private_paths):
                problems.append(f"{rel}: compiled with {flag}: an engine library leaks through a PUBLIC link")
    return problems


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    src = os.path.abspath(argv[1])
    problems = check_includes(src)
    if len(argv) == 3:
        problems += check_compile_flags(argv[2], src)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} layering problem(s)", file=sys.stderr)
        return 1
    print("layers ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
