#!/usr/bin/env python3
"""Checks the English catalogue against the source texts.

Usage: translations.py <src dir> <catalogue .ts> <lupdate>

Fails when
- a Chinese string literal in src/ is not marked for translation (tr(),
  QCoreApplication::translate(), QT_TRANSLATE_NOOP) and is not one of the
  texts that leave the program, which must never change with the language;
- a marked text has no entry in the catalogue, or its entry is unfinished,
  empty, or loses or gains a placeholder (%1...) or loses the leading blanks
  that join it to the text before it (English may add one where it needs a
  blank the Chinese does not, as between a number and its unit);
- the catalogue holds an entry that no marked text uses any more.
"""
import pathlib
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import literals  # noqa: E402  (the inventory's literal scanner)

CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
PLACEHOLDER = re.compile(r"%\d+")

# Texts that leave the program: the web reply page is sent to the peer as it
# stands, whatever language the window shows.
LEAVE_THE_PROGRAM = {
    r'<p><font face=\"宋体\" size=\"2\">Portwright 网络调试工具</font></p>',
    r'<p><font face=\"宋体\" size=\"2\">&nbsp;&nbsp; ',
}


def messages(ts: pathlib.Path) -> dict:
    found = {}
    for context in ET.parse(ts).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            found[(name, message.findtext("source"))] = message.find("translation")
    return found


ESCAPE = re.compile(r"\\(.)")
ESCAPED = {"n": "\n", "r": "\r", "t": "\t"}


def unescape(literal: str) -> str:
    """The text of a C++ literal as lupdate records it (simple escapes only)."""
    return ESCAPE.sub(lambda m: ESCAPED.get(m.group(1), m.group(1)), literal)


def leading_blanks(text: str) -> str:
    return text[: len(text) - len(text.lstrip(" "))]


def main() -> int:
    src, catalogue, lupdate = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]
    with tempfile.TemporaryDirectory() as tmp:
        fresh_ts = pathlib.Path(tmp) / "fresh.ts"
        run = subprocess.run([lupdate, "-silent", "-locations", "none", "-I", str(src), str(src), "-ts", str(fresh_ts)],
                             capture_output=True, text=True)
        if run.returncode != 0 or run.stderr.strip():
            print(f"lupdate failed or warned:\n{run.stdout}{run.stderr}")
            return 1
        marked = messages(fresh_ts)
    committed = messages(catalogue)
    problems = []

    marked_sources = {source for _, source in marked}
    for literal in sorted(literals.literals(src)):
        if not CJK.search(literal) or literal in LEAVE_THE_PROGRAM:
            continue
        text = unescape(literal)
        # A text split over adjacent literals reaches the catalogue joined up.
        if text not in marked_sources and not any(
                len(source) > len(text) and (source.startswith(text) or source.endswith(text))
                for source in marked_sources):
            problems.append(f"not marked for translation: \"{literal}\"")

    for key in sorted(marked):
        translation = committed.get(key)
        if translation is None:
            problems.append(f"missing from the catalogue: {key[0]}: \"{key[1]}\"")
            continue
        text = translation.text or ""
        if translation.get("type") in ("unfinished", "vanished", "obsolete") or not text:
            problems.append(f"unfinished: {key[0]}: \"{key[1]}\"")
        elif sorted(PLACEHOLDER.findall(key[1])) != sorted(PLACEHOLDER.findall(text)):
            problems.append(f"placeholders differ: {key[0]}: \"{key[1]}\" -> \"{text}\"")
        elif leading_blanks(key[1]) and leading_blanks(key[1]) != leading_blanks(text):
            problems.append(f"leading blanks differ: {key[0]}: \"{key[1]}\" -> \"{text}\"")
    for key in sorted(set(committed) - set(marked)):
        problems.append(f"no longer used: {key[0]}: \"{key[1]}\"")

    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} problem(s); after changing texts run scripts/update-translations.sh")
        return 1
    print(f"{len(marked)} texts, every one translated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
