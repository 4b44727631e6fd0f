#!/usr/bin/python3
"""A screen-reader-like client for B16: listens to one program on the
accessibility bus while a benchmark runs.

Usage: a11y_listener.py --pid PID [--seconds S] [--max-nodes N]

Waits for the program with that process id on the accessibility bus,
registers for text and children changes (only then does Qt's bridge send
them), walks the program's accessible tree once as a screen reader does when
it meets an application (name, role and states of each node, bounded in
nodes and time), prints "LISTENING ...", and then serves the events from its
GLib main loop until a line or the end of its standard input, or S seconds.
Last it prints "HEARD ..." with the counts of what it heard.

Run it with the system's python3 (it has pyatspi) and the session bus of the
program in DBUS_SESSION_BUS_ADDRESS.
"""
import argparse
import os
import sys
import time

import pyatspi
from gi.repository import GLib

EVENTS = ("object:text-changed", "object:children-changed")


def find_program(pid, deadline):
    desktop = pyatspi.Registry.getDesktop(0)
    while time.monotonic() < deadline:
        for i in range(min(desktop.childCount, 200)):
            try:
                app = desktop.getChildAtIndex(i)
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:  # an application that left meanwhile
                continue
        time.sleep(0.1)
    return None


def walk(root, max_nodes, deadline):
    """Reads every node breadth first, as a screen reader builds its view of
    a new application; the nodes read."""
    queue = [root]
    seen = 0
    while queue and seen < max_nodes and time.monotonic() < deadline:
        node = queue.pop(0)
        seen += 1
        try:
            node.name
            node.getRole()
            node.getState()
            queue.extend(node.getChildAtIndex(i) for i in range(min(node.childCount, max_nodes)))
        except Exception:  # a node that went away meanwhile
            continue
    return seen


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pid", type=int, required=True)
    ap.add_argument("--seconds", type=float, default=600)
    ap.add_argument("--max-nodes", type=int, default=20000)
    args = ap.parse_args()
    end = time.monotonic() + args.seconds

    heard = {name: 0 for name in EVENTS}

    def listen(event):
        for name in EVENTS:
            if event.type.startswith(name):
                heard[name] += 1
                # What a screen reader speaks of a text change: the text.
                if name == "object:text-changed":
                    str(event.any_data)
                return

    app = find_program(args.pid, min(end, time.monotonic() + 60))
    if app is None:
        print("HEARD found=0", flush=True)
        return 1
    pyatspi.Registry.registerEventListener(listen, *EVENTS)
    t0 = time.monotonic()
    nodes = walk(app, args.max_nodes, min(end, t0 + 30))
    walk_s = time.monotonic() - t0
    print("LISTENING nodes=%d walk_s=%.3f" % (nodes, walk_s), flush=True)

    loop = GLib.MainLoop()

    def stop_on_input(fd, _condition):
        os.read(fd, 4096)  # a line or the end: either says stop
        loop.quit()
        return False

    GLib.unix_fd_add_full(GLib.PRIORITY_DEFAULT, sys.stdin.fileno(), GLib.IOCondition.IN | GLib.IOCondition.HUP,
                          stop_on_input)
    GLib.timeout_add(int(max(0.0, end - time.monotonic()) * 1000), loop.quit)
    loop.run()
    # What is still queued was sent during the run: counted too, boundedly.
    context = GLib.MainContext.default()
    drain_end = time.monotonic() + 2
    while time.monotonic() < drain_end and context.iteration(False):
        pass
    print("HEARD found=1 nodes=%d walk_s=%.3f text_changed=%d children_changed=%d"
          % (nodes, walk_s, heard["object:text-changed"], heard["object:children-changed"]), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
