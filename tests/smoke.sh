#!/usr/bin/env bash
# Usage: smoke.sh <portwright> <tst_smoke> <output dir>
# Starts the real program on a private X display, waits for its main window,
# takes a screenshot, then runs the in-process check of the window's contents
# on the same kind of display.
set -u
program=$1 checker=$2 out=$3

if ! command -v xvfb-run >/dev/null || ! command -v xwininfo >/dev/null || ! command -v import >/dev/null; then
  echo "SKIP: xvfb-run, xwininfo or import missing (scripts/install-deps.sh --test installs them)"
  exit 77
fi

inner=$(mktemp)
trap 'rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
set -u
program=$1 checker=$2 out=$3
"$program" >"$out/smoke-program.log" 2>&1 &
pid=$!
found=""
for _ in $(seq 1 100); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Portwright V2.5"'; then found=yes; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
sleep 0.5
import -window root "$out/smoke-program.png" 2>/dev/null
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
if [ -z "$found" ]; then
  echo "FAIL: no window titled 'Portwright V2.5' appeared"; cat "$out/smoke-program.log"; exit 1
fi
echo "window 'Portwright V2.5' found; screenshot $out/smoke-program.png"
QT_QPA_PLATFORM=xcb SMOKE_SHOT="$out/smoke-window.png" "$checker"
INNER
xvfb-run -a -s "-screen 0 1280x800x24" bash "$inner" "$program" "$checker" "$out"
