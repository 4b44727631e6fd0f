#!/usr/bin/env bash
# Brings translations/portwright_en.ts up to date with the texts in src/:
# new texts come in unfinished, texts no longer used go out, translations
# already made stay. Then translate the unfinished entries (Qt Linguist, or
# by hand: fill <translation> and drop its type="unfinished") and run the
# tests; tst_translations fails while any entry is unfinished.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
"$lupdate" -silent -locations none -I src -no-obsolete -source-language zh_CN -target-language en \
  src -ts translations/portwright_en.ts
