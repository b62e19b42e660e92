#!/usr/bin/env python3
"""Checks the include graph of src/ against the floors of docs/architecture.md: a folder includes only
its own headers and those of folders on lower floors (so no arrow runs up and no two folders include
each other), nothing below the window layer includes Qt, and each third-party library's headers are
included in its one folder only. Prints every offending line.

    tools/check_layers.py [--src src]
"""

import argparse
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Each folder's floor; a folder may include folders on lower floors only.
FLOORS = {
    "base": 0,  # log, message-box hook, user folders, settings file, clock, descriptor I/O
    "serve": 0,  # the tests' and demo's file server: stands alone
    "res": 1,  # string table, embedded resources
    "zip": 1,
    "net": 2,
    "config": 3,
    "launcher": 4,
    "app": 4,  # start-up: configuration sources, command line, stop signals
    "ui": 5,
    "cli": 5,
    "fetch": 5,
    "release": 5,  # the service's release tool: keys, the <Files> element, signatures
    ".": 6,  # the window program's main
}
WINDOW_FLOOR = FLOORS["ui"]
# The one folder that may include each third-party library's headers.
LIBRARY_HOMES = {"curl/": "net", "openssl/": "net", "tinyxml": "config", "unzip.h": "zip", "zip.h": "zip",
                 "minizip/": "zip", "zlib.h": "zip"}

LOCAL_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*)>")
ANGLE_INCLUDE = re.compile(r"^\s*#\s*include\s+<([^>]+)>")


def folder_of(path, src):
    parts = path.relative_to(src).parts
    return parts[0] if len(parts) > 1 else "."


def problems(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc") or not path.is_file():
            continue
        folder = folder_of(path, src)
        if folder not in FLOORS:
            found.append(f"{path}: folder '{folder}' has no floor in tools/check_layers.py")
            continue
        floor = FLOORS[folder]
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            where = f"{path.relative_to(src.parent)}:{number}"
            local = LOCAL_INCLUDE.match(line)
            if local and "/" in local.group(1):
                target = local.group(1).split("/")[0]
                if target not in FLOORS:
                    found.append(f"{where}: includes unknown folder '{target}'")
                elif target != folder and FLOORS[target] >= floor:
                    found.append(f"{where}: {folder} (floor {floor}) includes {local.group(1)} (floor {FLOORS[target]})")
            if floor < WINDOW_FLOOR and SYSTEM_INCLUDE.match(line):
                found.append(f"{where}: {folder} is below the window layer and includes Qt")
            angle = ANGLE_INCLUDE.match(line)
            if angle:
                for prefix, home in LIBRARY_HOMES.items():
                    if angle.group(1).startswith(prefix) and folder != home:
                        found.append(f"{where}: <{angle.group(1)}> belongs to {home}/, not {folder}/")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--src", type=Path, default=ROOT / "src")
    options = parser.parse_args()
    found = problems(options.src.resolve())
    for problem in found:
        print(problem)
    if found:
        print(f"check_layers: {len(found)} include(s) against the floors")
        return 1
    print("check_layers: every include runs down a floor or stays in its folder")
    return 0


if __name__ == "__main__":
    sys.exit(main())
