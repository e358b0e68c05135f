#!/usr/bin/python3
# Walks the running program's main window over the AT-SPI bus as a screen
# reader does (DISPLAY and the program's D-Bus session): the search fields,
# the grid and the node buttons, their names, roles and states. What Space on
# a node tells is gui_accessibility's. Every wait has a deadline; each problem
# is printed.

import sys
import time

import pyatspi

DEADLINE = 60  # seconds for the program to appear on the bus


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

    if problems:
        offered = "\n  ".join("%s %r" % key for key in sorted(found))
        sys.exit("FAIL: " + "\nFAIL: ".join(problems) + "\nwhat the window offers:\n  " + offered)
    print("ok: %d named controls, the grid's 10 columns, CT room checked" % len(found))


if __name__ == "__main__":
    main()
