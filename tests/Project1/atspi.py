#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
"""Finds a program's controls over AT-SPI by role and accessible name, as a
screen reader does, and uses or reads them.

  atspi.py [--app NAME] [--within SECONDS] COMMAND ROLE NAME [STATE]

ROLE is AT-SPI's role name ("push button", "check box", "text", "alert"),
NAME the accessible name. Every command first waits, up to SECONDS (10), for a
showing control of that role and name in the application NAME:
  wait [STATE]  until it is showing (and has STATE, e.g. "checked")
  gone          until no such control is showing
  press         does its first action: a button's Press, a box's Toggle
  focus         gives it the keyboard focus
  text          prints a text field's text, or the labels inside it
  extents       prints its x, y, width and height on the screen
Exits 0 when done, 1 when the time ran out, 2 on an error (no such
application, bus or command), so "it never came" is told from "cannot look".
"""

import argparse
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

TIMED_OUT, BROKEN = 1, 2


def application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def showing(accessible):
    return accessible.get_state_set().contains(Atspi.StateType.SHOWING)


def find(accessible, role, name):
    """The first showing control of that role and name under accessible."""
    if accessible.get_role_name() == role and accessible.get_name() == name and showing(accessible):
        return accessible
    for i in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(i)
        if child is not None and (found := find(child, role, name)) is not None:
            return found
    return None


def labels(accessible):
    for i in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(i)
        if child is None or not showing(child):
            continue
        if child.get_role_name() == "label" and child.get_name():
            yield child.get_name()
        yield from labels(child)


def look(app_name, role, name):
    """(application found, control or None), read afresh from the program."""
    # The library caches what it read and learns of changes only from events,
    # which nobody dispatches here: drop the cache and ask again.
    while GLib.MainContext.default().iteration(False):
        pass
    app = application(app_name)
    if app is None:
        return False, None
    app.clear_cache()
    return True, find(app, role, name)


def state_type(parser, nick):
    for value in range(Atspi.StateType.LAST_DEFINED):
        if Atspi.StateType(value).value_nick == nick:
            return Atspi.StateType(value)
    return parser.error(f"no state {nick!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app", default="Vindriks Chatt sökning")
    parser.add_argument("--within", type=float, default=10)
    parser.add_argument("command", choices=["wait", "gone", "press", "focus", "text", "extents"])
    parser.add_argument("role")
    parser.add_argument("name")
    parser.add_argument("state", nargs="?")
    args = parser.parse_args()
    wanted = state_type(parser, args.state) if args.state else None
    what = f"{args.role} {args.name!r}" + (f" {args.state}" if args.state else "")

    end = time.monotonic() + args.within
    seen_app = False
    while True:
        found_app, control = look(args.app, args.role, args.name)
        seen_app = seen_app or found_app
        if args.command == "gone":
            if found_app and control is None:
                return 0
        elif control is not None and (wanted is None or control.get_state_set().contains(wanted)):
            break
        if time.monotonic() >= end:
            if not seen_app:
                print(f"atspi.py: no application {args.app!r} on the bus", file=sys.stderr)
                return BROKEN
            return TIMED_OUT
        time.sleep(0.1)

    if args.command == "press":
        if not control.do_action(0):
            print(f"atspi.py: {what} refused its action", file=sys.stderr)
            return BROKEN
    elif args.command == "focus":
        if not control.grab_focus():
            print(f"atspi.py: {what} refused the focus", file=sys.stderr)
            return BROKEN
    elif args.command == "text":
        if "Text" in control.get_interfaces():
            print(control.get_text(0, -1))
        else:
            print("\n".join(labels(control)))
    elif args.command == "extents":
        box = control.get_extents(Atspi.CoordType.SCREEN)
        print(box.x, box.y, box.width, box.height)
    return 0


if __name__ == "__main__":
    sys.exit(main())
