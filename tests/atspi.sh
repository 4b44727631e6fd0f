#!/usr/bin/env bash
# Usage: atspi.sh <portwright> <work dir>
# Starts the real program on a private X display and a private session bus
# with accessibility on, opens a workspace whose UDP Client has a send text
# and a repeat count, and reads its data window through AT-SPI as a screen
# reader would (atspi_check.py). Skipped (77) only where the packages are
# missing outside CI; scripts/install-deps.sh --test installs them.
set -u
program=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)

missing=""
for tool in xvfb-run dbus-run-session dbus-send /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
  command -v "$tool" >/dev/null || missing="$missing $tool"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || missing="$missing python3-pyatspi"
if [ -n "$missing" ]; then
  if [ "${CI:-}" = true ]; then
    echo "FAIL: missing in CI:$missing"
    exit 1
  fi
  echo "SKIP: missing$missing (scripts/install-deps.sh --test installs them)"
  exit 77
fi

mkdir -p "$work"
cat >"$work/atspi.portwright" <<'JSON'
{
    "format": 1,
    "endpoints": [
        {"kind": "udpClient", "address": "127.0.0.1", "port": 9, "localPort": 0,
         "setup": {"sendText": "hello a11y\nsecond line", "repeatCount": "10", "interval": "500"}}
    ]
}
JSON

inner=$(mktemp)
trap 'rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
set -u
program=$1 work=$2 here=$3
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi-bus.log" 2>&1 &
bus=$!
# The program asks for the accessibility bus once, at start: a loaded machine
# may start it before the launcher holds the bus's name, and it would then
# never join.
for _ in $(seq 1 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q "boolean true" && break
  sleep 0.1
done
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" \
  "$program" "$work/atspi.portwright" >"$work/atspi-program.log" 2>&1 &
pid=$!
timeout 90 /usr/bin/python3 "$here/atspi_check.py" "$(printf 'hello a11y\nsecond line')" 10
status=$?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
kill "$bus" 2>/dev/null
wait "$bus" 2>/dev/null
if [ "$status" -ne 0 ]; then
  echo "--- program output"; cat "$work/atspi-program.log"
  echo "--- accessibility bus"; cat "$work/atspi-bus.log"
fi
exit "$status"
INNER
# Displays counted from 150: two `xvfb-run -a` started at once (the smoke
# test starts from 99) may both take the first free number and one fails.
timeout 120 xvfb-run -a -n 150 -s "-screen 0 1280x800x24" dbus-run-session -- bash "$inner" "$program" "$work" "$here"
