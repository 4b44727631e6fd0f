#!/usr/bin/env python3
"""Compares every string literal in src/ with the checked-in inventory.

Usage: literals.py <src dir> <inventory file> [--write]

The inventory lists each distinct literal once per line (escaped as it stands
in the source), with how often it occurs. A renaming that changes a caption,
message or log text by accident shows up here as a difference; a deliberate
change of a text, or of an internal name (object names, style-sheet
selectors, resource paths), is made by rewriting the inventory with --write
and reviewing its diff.
"""
import collections
import pathlib
import re
import sys

# A C++ string literal with an optional u8/u/U/L prefix (raw strings are not
# used in src/). Comments are removed first so that quotes in them do not count.
LITERAL = re.compile(r'(?:u8|u|U|L)?"((?:\\.|[^"\\\n])*)"')
COMMENT = re.compile(r'//[^\n]*|/\*.*?\*/', re.DOTALL)
CHAR = re.compile(r"'(?:\\.|[^'\\\n])'")


def literals(src: pathlib.Path) -> collections.Counter:
    found = collections.Counter()
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        text = path.read_text(encoding="utf-8")
        text = CHAR.sub("' '", text)
        # Remove comments outside string literals.
        out, i = [], 0
        for m in re.finditer(r'"(?:\\.|[^"\\\n])*"|//[^\n]*|/\*.*?\*/', text, re.DOTALL):
            out.append(text[i:m.start()])
            out.append(m.group(0) if m.group(0).startswith('"') else " ")
            i = m.end()
        out.append(text[i:])
        for line in "".join(out).splitlines():
            if line.lstrip().startswith("#include"):
                continue
            for m in LITERAL.finditer(line):
                found[m.group(1)] += 1
    return found


def render(found: collections.Counter) -> str:
    return "".join(f"{count}\t{text}\n" for text, count in sorted(found.items()))


def main() -> int:
    src, inventory = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    now = render(literals(src))
    if "--write" in sys.argv[3:]:
        inventory.write_text(now, encoding="utf-8")
        return 0
    before = inventory.read_text(encoding="utf-8")
    if now == before:
        print(f"{len(now.splitlines())} distinct literals, as in the inventory")
        return 0
    old, new = set(before.splitlines()), set(now.splitlines())
    for line in sorted(old - new):
        print(f"- {line}")
    for line in sorted(new - old):
        print(f"+ {line}")
    print("string literals differ from tests/literals.txt (rewrite it with --write after review)")
    return 1


if __name__ == "__main__":
    sys.exit(main())
