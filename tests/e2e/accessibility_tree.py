#!/usr/bin/python3
# Walks the running program's main window over the AT-SPI bus as a screen
# reader does (DISPLAY and the program's D-Bus session): the search fields,
# the grid and the node buttons, their names, roles and states; then Space
# on a node button. Every wait has a deadline; each problem is printed.

import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

DEADLINE = 60  # seconds for the program to appear on the bus
EVENTS = ("object:state-changed:checked", "object:state-changed:focused")


def main_window():
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        for frame in (f for app in pyatspi.Registry.getDesktop(0) if app is not None for f in app):
            if frame is not None and frame.name == "Morvanta" and frame.getRole() == pyatspi.ROLE_FRAME:
                return frame
        time.sleep(0.2)
    sys.exit("FAIL: no window named Morvanta on the accessibility bus within %d s" % DEADLINE)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for child in node:
        yield from walk(child, depth + 1)


def main():
    frame = main_window()
    found = {}
    problems = []
    for node in walk(frame):
        if node.getState().contains(pyatspi.STATE_SHOWING):
            found.setdefault((node.getRoleName(), node.name), []).append(node)

    def one(role, name):
        nodes = found.get((role, name), [])
        if len(nodes) != 1:
            problems.append("expected one %s named %r, found %d" % (role, name, len(nodes)))
            return None
        return nodes[0]

    for role, name in (("text", "Patient ID"), ("text", "Last Name"), ("text", "First Name"), ("combo box", "Modality"),
                       ("spin button", "Date of Birth"), ("spin button", "Study Date from"),
                       ("spin button", "Study Date to"), ("push button", "Search")):
        one(role, name)

    grid = one("table", "Studies found")
    if grid is not None:
        columns = grid.queryTable().nColumns
        headers = [grid.queryTable().getColumnDescription(c) for c in range(columns)]
        if columns != 10 or "ID" in headers or headers[:1] != ["Study Date"]:
            problems.append("the grid offers %d columns: %s" % (columns, headers))

    for name, checked in (("CT room", True), ("MR room", False)):
        button = one("check box", name)
        if button is not None and button.getState().contains(pyatspi.STATE_CHECKED) != checked:
            problems.append("%s: checked is %s, expected %s" % (name, not checked, checked))

    # Space on "MR room", as a keyboard user chooses a node: the screen reader
    # hears the focus arrive on it and its checked state change.
    mr = found.get(("check box", "MR room"), [None])[0]
    if mr is not None and not problems:
        heard = []
        listener = lambda e: heard.append((e.type, e.source.name, e.detail1))
        pyatspi.Registry.registerEventListener(listener, *EVENTS)
        if not mr.queryComponent().grabFocus():
            problems.append("MR room did not take the focus")
        subprocess.run(["xdotool", "key", "space"], timeout=10, check=True)
        end = time.monotonic() + 20
        wanted = {("object:state-changed:focused", "MR room", 1), ("object:state-changed:checked", "MR room", 1),
                  ("object:state-changed:checked", "CT room", 0)}
        while time.monotonic() < end and not wanted <= set(heard):
            GLib.MainContext.default().iteration(False)
            time.sleep(0.02)
        pyatspi.Registry.deregisterEventListener(listener, *EVENTS)
        if not wanted <= set(heard):
            problems.append("after Space on MR room the bus said %s, missing %s" % (heard, wanted - set(heard)))
        if not mr.getState().contains(pyatspi.STATE_CHECKED):
            problems.append("MR room is not checked after Space")

    if problems:
        offered = "\n  ".join("%s %r" % key for key in sorted(found))
        sys.exit("FAIL: " + "\nFAIL: ".join(problems) + "\nwhat the window offers:\n  " + offered)
    print("ok: %d named controls, the grid's 10 columns, CT room checked, then MR room by Space" % len(found))


if __name__ == "__main__":
    main()
