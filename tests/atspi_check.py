#!/usr/bin/python3
"""Reads the running portwright through AT-SPI, as a screen reader does.

Usage: atspi_check.py SEND_TEXT REPEAT_COUNT
Finds the program on the accessibility bus, then in its data window the send
box (an editable multi-line text named by its group's title), the repeat
count box (an editable combo box named by its label) and the log (read-only
text named by its group's title, which reads what the send button sent), and
checks what they expose. Every wait is bounded; the exit status is 0 when all checks pass.
"""
import sys
import time

import pyatspi
from gi.repository import GLib

SEND_BOX_NAME = "数据发送窗口(文本模式)"
COUNT_BOX_NAME = "重复发送次数"
LOG_NAME = "数据接收及提示窗口"
SEND_BUTTON_NAME = "发送数据"
DEADLINE = time.monotonic() + 60
MAX_NODES = 20000

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and "portwright" in (app.name or "").lower():
            return app
    return None


def find(root, role, name):
    """The first node of the role and name, breadth first, bounded."""
    queue = [root]
    seen = 0
    while queue and seen < MAX_NODES:
        node = queue.pop(0)
        seen += 1
        try:
            if node.getRole() == role and node.name == name and node.getState().contains(pyatspi.STATE_SHOWING):
                return node
            queue.extend(node.getChildAtIndex(i) for i in range(min(node.childCount, 2000)))
        except Exception:  # a node that went away meanwhile
            continue
    return None


def wait_for(what):
    while time.monotonic() < DEADLINE:
        found = what()
        if found is not None:
            return found
        time.sleep(0.2)
    return None


def check_edit_is_told(send_box, send_text):
    """An edit is told as the change alone, with the caret's move."""
    heard = []

    def listen(event):
        if event.source == send_box:
            heard.append((event.type, event.detail1, event.any_data))

    pyatspi.Registry.registerEventListener(listen, "object:text-changed:insert", "object:text-caret-moved")
    send_box.queryEditableText().insertText(len(send_text), "z", 1)
    context = GLib.MainContext.default()
    end = min(DEADLINE, time.monotonic() + 10)
    while time.monotonic() < end and len(heard) < 2:
        while context.iteration(False):
            pass
        time.sleep(0.05)
    pyatspi.Registry.deregisterEventListener(listen, "object:text-changed:insert", "object:text-caret-moved")
    inserts = [h for h in heard if h[0].startswith("object:text-changed:insert")]
    moves = [h for h in heard if h[0].startswith("object:text-caret-moved")]
    check(inserts == [("object:text-changed:insert", len(send_text), "z")],
          "the insertion is told as 'z' at %d (heard %r)" % (len(send_text), inserts))
    check(any(m[1] == len(send_text) + 1 for m in moves), "the caret's move is told (heard %r)" % moves)
    check(send_box.queryText().getText(0, -1) == send_text + "z", "the send box reads the inserted text")


def check_every_control_is_named(app):
    """Every control a keyboard reaches tells a name, as a screen reader says
    it when the control takes the focus (a tree's cells name themselves by
    their text; an editable combo box's own text field goes by the box)."""
    unnamed = []
    queue = [(app, None)]
    seen = 0
    while queue and seen < MAX_NODES:
        node, parent_role = queue.pop(0)
        seen += 1
        try:
            role = node.getRole()
            states = node.getState()
            if (states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_FOCUSABLE)
                    and not node.name and role not in (pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TREE_ITEM)
                    and parent_role != pyatspi.ROLE_COMBO_BOX):
                unnamed.append(node.getRoleName())
            queue.extend((node.getChildAtIndex(i), role) for i in range(min(node.childCount, 2000)))
        except Exception:  # a node that went away meanwhile
            continue
    check(not unnamed, "every control has a name (unnamed: %r)" % unnamed)


def check_log_reads_what_was_sent(app):
    """The log reads as text named by its group, and what the send button
    sent reaches a screen reader as a change of that text."""
    log = wait_for(lambda: find(app, pyatspi.ROLE_TEXT, LOG_NAME))
    check(log is not None, "a text named %s" % LOG_NAME)
    send_button = wait_for(lambda: find(app, pyatspi.ROLE_PUSH_BUTTON, SEND_BUTTON_NAME))
    check(send_button is not None, "a button named %s" % SEND_BUTTON_NAME)
    if log is None or send_button is None:
        return
    check(not log.getState().contains(pyatspi.STATE_EDITABLE), "the log is read only")
    heard = []

    def listen(event):
        if event.source == log:
            heard.append(event.type)

    pyatspi.Registry.registerEventListener(listen, "object:text-changed")
    actions = send_button.queryAction()
    check(actions.nActions > 0 and actions.doAction(0), "the send button is pressed")
    text = log.queryText()
    context = GLib.MainContext.default()
    end = min(DEADLINE, time.monotonic() + 20)
    read = ""
    while time.monotonic() < end and not (heard and "hello a11y" in read):
        while context.iteration(False):
            pass
        read = text.getText(0, -1)
        time.sleep(0.05)
    pyatspi.Registry.deregisterEventListener(listen, "object:text-changed")
    check("hello a11y" in read, "the log reads the piece sent (%r)" % read[-200:])
    check(bool(heard), "the log's change is told (heard %r)" % heard[:4])


def main():
    send_text, repeat_count = sys.argv[1], sys.argv[2]
    app = wait_for(program)
    check(app is not None, "the program is on the accessibility bus")
    if app is None:
        return 1

    send_box = wait_for(lambda: find(app, pyatspi.ROLE_TEXT, SEND_BOX_NAME))
    check(send_box is not None, "a text named %s" % SEND_BOX_NAME)
    if send_box is not None:
        states = send_box.getState()
        check(states.contains(pyatspi.STATE_EDITABLE), "the send box is editable")
        check(states.contains(pyatspi.STATE_MULTI_LINE), "the send box is multi-line")
        text = send_box.queryText()
        check(text.characterCount == len(send_text), "the send box counts %d characters" % len(send_text))
        check(text.getText(0, -1) == send_text, "the send box reads %r" % send_text)
        check(text.caretOffset == 0, "its caret is at the start")
        line = text.getTextAtOffset(len(send_text) - 1, pyatspi.TEXT_BOUNDARY_LINE_START)
        check(line[0] == send_text.split("\n")[-1], "its last line reads %r" % line[0])
        text.setCaretOffset(3)
        check(wait_for(lambda: text.caretOffset == 3 or None) is not None, "its caret moves to 3")
        check_edit_is_told(send_box, send_text)

    count_box = wait_for(lambda: find(app, pyatspi.ROLE_COMBO_BOX, COUNT_BOX_NAME))
    check(count_box is not None, "a combo box named %s" % COUNT_BOX_NAME)
    if count_box is not None:
        check(count_box.getState().contains(pyatspi.STATE_EDITABLE), "the count box is editable")
        edits = [count_box.getChildAtIndex(i) for i in range(count_box.childCount)]
        texts = [e.queryText().getText(0, -1) for e in edits if e is not None and e.getRole() == pyatspi.ROLE_TEXT]
        check(texts == [repeat_count], "the count box's text reads %r (got %r)" % (repeat_count, texts))
        actions = count_box.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        check("showmenu" in [n.lower() for n in names], "the count box opens its list as an action (%r)" % names)

    check_every_control_is_named(app)
    check_log_reads_what_was_sent(app)

    print("AT-SPI checks: %d failed" % len(failures), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
