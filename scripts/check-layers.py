#!/usr/bin/env python3
"""check-layers.py [root]: fails when a source file includes a header of a higher layer.

The layers, lowest first: platform; base; the workbook writer (report/xls, which knows
nothing of reports); frame and report (side by side, neither includes the other); api;
the programs (download, devserver, batch). A folder may
include from its own layer and every lower one. tests/, bench/ and fuzz/ may include
anything, and so may test sources elsewhere (*_test.cpp, *_driver.cpp, test_server.*),
which start the peers they test against (also test_*.* and *_test_*.* helpers).
"""
import pathlib
import re
import sys

LAYERS = {
    "platform": 0,
    "base": 1,
    "report/xls": 1.5,
    "frame": 2,
    "report": 2,
    "api": 3,
    "download": 4,
    "devserver": 4,
    "batch": 4,
}
# Folders of one layer that still must not include each other.
APART = {frozenset({"frame", "report"})}
FREE = {"tests", "bench", "fuzz"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def is_test_source(path):
    name = path.name
    return (name.endswith("_test.cpp") or name.endswith("_driver.cpp")
            or name.startswith("test_server.") or name.startswith("test_")
            or "_test_" in name)


def folder_of(parts):
    """The layer a path belongs to: its first folder, or report/xls for the workbook writer."""
    if len(parts) > 2 and parts[0] == "report" and parts[1] == "xls":
        return "report/xls"
    return parts[0]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = []
    paths = {p for folder in LAYERS for p in (root / folder).rglob("*")}
    for path in sorted(paths):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        relative = path.relative_to(root)
        folder = folder_of(relative.parts)
        if folder in FREE or folder not in LAYERS or is_test_source(relative):
            continue
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            used = folder_of(target.split("/"))
            if "/" not in target or used == folder or used not in LAYERS and used not in FREE:
                continue
            if (used in FREE or LAYERS[used] > LAYERS[folder]
                    or frozenset({used, folder}) in APART):
                faults.append(f"{relative}: includes {target} from a higher or separate layer")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) against the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
