#!/usr/bin/python3
"""A share by keyboard alone, read through the accessibility tree (AT-SPI), as a screen reader
user does it: the sheet opens on the message field, Tab reaches Cancel, Send and the destination,
Return opens the picker, the arrows reach a thread whose row says whether it is selected, Return
picks it, the message is typed and the screen reader's Press action sends. "Sent" is announced.

Usage: share-by-keyboard.py THREAD_TITLE MESSAGE
The sheet runs on $DISPLAY with its accessibility bus on $DBUS_SESSION_BUS_ADDRESS; keys go in
through xdotool (XTEST). Exits 0 when every step held, else prints the step that did not."""

import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402
import pyatspi  # noqa: E402

TIMEOUT = 60.0
steps = []
events = []


def fail(message):
    print(f"FAILED: {message}")
    print("steps that held:\n  " + "\n  ".join(steps))
    sys.exit(1)


def pump():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def wait_for(what, predicate, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pump()
        try:
            value = predicate()
        except Exception:  # the tree changes under the walk
            value = None
        if value:
            steps.append(what)
            return value
        time.sleep(0.1)
    fail(what)


def states(node):
    return node.getState()


def has(node, state):
    return states(node).contains(state)


def walk(node):
    yield node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from walk(child)


def sheet():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "zelt-share":
            for index in range(app.childCount):
                frame = app.getChildAtIndex(index)
                if frame is not None and frame.name == "Send to Zelt":
                    return frame
    return None


def find(role, name=None, showing=True):
    frame = sheet()
    if frame is None:
        return None
    for node in walk(frame):
        if node.getRole() != role or (name is not None and node.name != name):
            continue
        if showing and not has(node, pyatspi.STATE_SHOWING):
            continue
        return node
    return None


def focused():
    """The innermost object with the focus."""
    frame = sheet()
    found = None
    if frame is None:
        return None
    for node in walk(frame):
        if has(node, pyatspi.STATE_FOCUSED) and node.getRole() not in (
            pyatspi.ROLE_LAYERED_PANE,
            pyatspi.ROLE_PAGE_TAB,
            pyatspi.ROLE_PANEL,
            pyatspi.ROLE_FRAME,
        ):
            found = node
    return found


def focus_is(role, name):
    node = focused()
    return node is not None and node.getRole() == role and node.name == name


def key(*names):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *names], check=True)
    time.sleep(0.3)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "40", text], check=True)
    time.sleep(0.3)


def press(node):
    action = node.queryAction()
    for index in range(action.nActions):
        if action.getName(index) == "Press":
            return action.doAction(index)
    fail(f"{node.name} has no Press action")


def on_event(event):
    source = event.source
    try:
        events.append((event.type, source.getRole(), source.name, event.detail1))
    except Exception:
        pass


def announced(name):
    return any(
        kind.startswith("object:state-changed:showing") and role == pyatspi.ROLE_ALERT
        and label == name and shown == 1
        for kind, role, label, shown in events
    )


def main():
    thread, message = sys.argv[1], sys.argv[2]
    pyatspi.Registry.registerEventListener(on_event, "object:state-changed:showing",
                                           "object:property-change:accessible-name")
    wait_for("the sheet is in the accessibility tree", sheet)
    wait_for("the destinations have loaded", lambda: find(pyatspi.ROLE_PUSH_BUTTON, "To Tovi")
             and not find(pyatspi.ROLE_PROGRESS_BAR, "Loading destinations"))
    subprocess.run(["xdotool", "search", "--name", "^Send to Zelt$", "windowfocus"], check=True)

    wait_for("the message field has the focus at once",
             lambda: focus_is(pyatspi.ROLE_TEXT, "Message"))
    type_text(message)
    wait_for("the message is typed into it",
             lambda: focused().queryText().getText(0, -1) == message)

    order = []
    for _ in range(3):
        key("Tab")
        node = wait_for("Tab moves the focus", focused)
        order.append((node.getRoleName(), node.name))
    expected = [("push button", "Cancel"), ("push button", "Send"), ("push button", "To Tovi")]
    if order != expected:
        fail(f"the focus order is {order}, not {expected}")
    steps.append(f"the focus order is {order}")

    key("Return")
    wait_for("Return opens the picker on its search field",
             lambda: focus_is(pyatspi.ROLE_TEXT, "Search Threads"))
    wait_for("the recent threads have a heading",
             lambda: find(pyatspi.ROLE_HEADING, "Recent Threads"))
    tovi = wait_for("Tovi's row is a list item", lambda: find(pyatspi.ROLE_LIST_ITEM, "Tovi"))
    if not has(tovi, pyatspi.STATE_SELECTED):
        fail("Tovi's row does not say it is selected")
    steps.append("Tovi's row is selected")

    key("Down")
    wait_for("Down reaches Tovi's row", lambda: focus_is(pyatspi.ROLE_LIST_ITEM, "Tovi"))
    key("Down")
    row = wait_for(f"Down reaches {thread}", lambda: focus_is(pyatspi.ROLE_LIST_ITEM, thread)
                   and focused())
    if has(row, pyatspi.STATE_SELECTED):
        fail(f"{thread} says it is selected before it is picked")
    key("Return")
    wait_for("Return picks the thread and goes back",
             lambda: find(pyatspi.ROLE_PUSH_BUTTON, f"To {thread}"))

    send = wait_for("Send can be pressed",
                    lambda: (lambda node: node if node and has(node, pyatspi.STATE_ENABLED)
                             else None)(find(pyatspi.ROLE_PUSH_BUTTON, "Send")))
    press(send)
    steps.append("the screen reader's Press action on Send")
    wait_for("\"Sent\" is announced", lambda: announced("Sent"))
    print("\n".join(steps))
    return 0


if __name__ == "__main__":
    sys.exit(main())
