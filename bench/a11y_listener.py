#!/usr/bin/python3
"""A screen-reader-like client for B16: listens to one program on the
accessibility bus while a benchmark runs.

Usage: a11y_listener.py --pid PID [--seconds S] [--max-nodes N] [--follow-tree]

Waits for the program with that process id on the accessibility bus,
registers for text, children, state, property, selection and focus changes
(only then does Qt's bridge send them), walks the program's accessible tree
once as a screen reader does when it meets an application (name, role and
states of each node, bounded in nodes and time), prints "LISTENING ...", and then serves the events from its
GLib main loop until a line or the end of its standard input, or S seconds.
Last it prints "HEARD ..." with the counts of what it heard.

With --follow-tree it also follows the endpoint tree as a screen reader
does while the user works in it: the tree's row count at the walk is the
count to come back to. A line "follow" on its standard input has it read
the cells of the tree's rows on screen (name, role, states), print
"FOLLOWING ...", and then ask the tree for its row count every 50 ms until
the count is back (or 30 s pass): "CLEAR clear_ns=..." (CLOCK_MONOTONIC,
0 if it never came back). Any other line, or the end of the input, stops it.

Run it with the system's python3 (it has pyatspi) and the session bus of the
program in DBUS_SESSION_BUS_ADDRESS.
"""
import argparse
import os
import sys
import time

import pyatspi
from gi.repository import GLib

EVENTS = ("object:text-changed", "object:children-changed", "object:state-changed", "object:property-change",
          "object:selection-changed", "object:active-descendant-changed", "focus:", "window:activate")
POLL_MS = 50
FOLLOW_S = 30
MAX_CELLS = 300


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


def find_tree(root, max_nodes, deadline):
    """The first node with a tree's role, breadth first, bounded."""
    queue = [root]
    seen = 0
    while queue and seen < max_nodes and time.monotonic() < deadline:
        node = queue.pop(0)
        seen += 1
        try:
            if node.getRole() in (pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE):
                return node
            queue.extend(node.getChildAtIndex(i) for i in range(min(node.childCount, 200)))
        except Exception:  # a node that went away meanwhile
            continue
    return None


def read_rows_on_screen(table):
    """Reads the first cell of each row on screen, as a screen reader reads
    what is in view; the cells read."""
    read = 0
    for row in range(min(table.nRows, 100000)):
        if read >= MAX_CELLS:
            break
        cell = table.getAccessibleAt(row, 0)
        if cell is None:
            continue
        showing = cell.getState().contains(pyatspi.STATE_SHOWING)
        if not showing:
            if read:
                break  # past the last row in view
            continue
        cell.name
        cell.getRole()
        read += 1
    return read


class TreeFollower:
    """Polls the tree's row count until it is back to what it was at the walk."""

    def __init__(self, tree):
        self.tree = tree
        self.table = tree.queryTable() if tree is not None else None
        self.target = self.table.nRows if self.table is not None else -1
        self.polls = 0
        self.peak = 0
        self.end = 0
        self.done = False

    def start(self):
        cells = read_rows_on_screen(self.table) if self.table is not None else 0
        rows = self.table.nRows if self.table is not None else -1
        print("FOLLOWING cells=%d rows=%d target=%d" % (cells, rows, self.target), flush=True)
        if self.table is None:
            self.finish(0)
            return
        self.end = time.monotonic() + FOLLOW_S
        GLib.timeout_add(POLL_MS, self.poll)

    def poll(self):
        if self.done:
            return False
        self.polls += 1
        try:
            rows = self.table.nRows
        except Exception:
            rows = -1
        self.peak = max(self.peak, rows)
        if 0 <= rows <= self.target:
            self.finish(time.monotonic_ns())
            return False
        if time.monotonic() > self.end:
            self.finish(0)
            return False
        return True

    def finish(self, clear_ns):
        self.done = True
        print("CLEAR clear_ns=%d polls=%d rows_peak=%d" % (clear_ns, self.polls, self.peak), flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pid", type=int, required=True)
    ap.add_argument("--seconds", type=float, default=600)
    ap.add_argument("--max-nodes", type=int, default=20000)
    ap.add_argument("--follow-tree", action="store_true")
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
    follower = None
    if args.follow_tree:
        follower = TreeFollower(find_tree(app, args.max_nodes, min(end, time.monotonic() + 30)))
    print("LISTENING nodes=%d walk_s=%.3f" % (nodes, walk_s), flush=True)

    loop = GLib.MainLoop()

    def stop_on_input(fd, _condition):
        line = os.read(fd, 4096)  # a line or the end
        if follower is not None and line.strip() == b"follow":
            follower.start()
            return True
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
