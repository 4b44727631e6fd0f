#!/usr/bin/env python3
"""Fails on any include in src/ that points up the layers.

Usage: layering.py <src dir>

Each folder of src/ is a layer and may include only itself and the layers
listed for it; a folder that is not listed may be included by none.
"""
import pathlib
import re
import sys

ALLOWED = {
    "core": {"core"},
    "net": {"core", "net"},
    "session": {"core", "net", "session"},
    "ui": {"core", "ui"},
    "datawindow": {"core", "session", "ui", "datawindow"},
    "endpoints": {"core", "net", "session", "endpoints"},
    "app": {"core", "net", "session", "ui", "datawindow", "endpoints", "app"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def main() -> int:
    src = pathlib.Path(sys.argv[1])
    faults = []
    for layer, allowed in ALLOWED.items():
        for path in sorted((src / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
                target = included.split("/", 1)[0] if "/" in included else layer
                if target not in allowed:
                    faults.append(f"{path.relative_to(src)}: includes \"{included}\" ({layer} may use {sorted(allowed)})")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) pointing up the layers")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
