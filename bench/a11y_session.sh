#!/bin/bash
# Usage: dbus-run-session -- bash a11y_session.sh LOG SECONDS
# The accessibility bus of one B16 run, inside the private session bus that
# dbus-run-session gives it: starts the bus launcher, waits until it owns
# org.a11y.Bus (a program asks for the bus once, at start, and would never
# join one that came later), prints "BUS <session bus address>", and keeps
# the launcher until its standard input ends or SECONDS pass. Then it ends
# the launcher by its PID; dbus-run-session ends the session bus.
set -u
log=$1 limit=$2
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$log" 2>&1 &
launcher=$!
owned=0
for _ in $(seq 1 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q "boolean true"; then
    owned=1
    break
  fi
  sleep 0.1
done
if [ "$owned" = 1 ]; then
  echo "BUS $DBUS_SESSION_BUS_ADDRESS"
  read -r -t "$limit" _ || true
else
  echo "NOBUS"
fi
kill "$launcher" 2>/dev/null
wait "$launcher" 2>/dev/null
exit $((1 - owned))
