#!/usr/bin/python3
"""What a screen reader finds in the running program through AT-SPI (Debian python3-pyatspi).

Usage: accessibility_check.py APP_NAME. Prints one line per failed check and exits 1 when one
failed; "ok: ..." and 0 otherwise. The program must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
on the same session bus. (accessibility_check.py --act APP_NAME ROLE NAME runs one action: the
check opens windows through it.)
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

kWaitSeconds = 20
kPollSeconds = 0.1
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def wait_for(find):
    end = time.monotonic() + kWaitSeconds
    while time.monotonic() < end:
        found = find()
        if found is not None:
            return found
        time.sleep(kPollSeconds)
    return None


def application(name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name:
            return app
    return None


def descendants(node):
    for child in node:
        if child is not None:
            yield child
            yield from descendants(child)


def first(node, role, name=None):
    for found in descendants(node):
        if found.getRoleName() == role and (name is None or found.name == name):
            return found
    return None


def states(node):
    return {pyatspi.stateToString(s) for s in node.getState().getStates()}


def act(node):
    """Runs the node's first action as a screen reader does and returns when it is done."""
    node.queryAction().doAction(0)


def act_in_background(app_name, role, name):
    """Runs the first action of APP_NAME's ROLE named NAME from a process of its own: a step
    that opens a window answers only once the window closes, and meanwhile this process's
    own calls would wait behind it."""
    return subprocess.Popen([sys.executable, __file__, "--act", app_name, role, name],
                            stderr=subprocess.DEVNULL)


def main():
    app = wait_for(lambda: application(sys.argv[1]))
    if app is None:
        print(f"FAIL: no application {sys.argv[1]!r} on the accessibility bus")
        return 1
    window = wait_for(lambda: first(app, "frame", "DoodleChorus"))
    if not check(window is not None, "no frame named DoodleChorus"):
        return report()

    # The toggles keep their names; being down is their checked state.
    for name, down_caption in (("record", "recording"), ("play", "playing")):
        toggle = first(window, "check box", name) or first(window, "toggle button", name)
        if not check(toggle is not None, f"no toggle named {name!r}"):
            continue
        check("checked" not in states(toggle), f"{name} starts checked")
        act(toggle)
        check(wait_for(lambda: "checked" in states(toggle) or None) is not None,
              f"{name} pressed is not checked")
        # What the reader asks now, not what the library cached from before.
        window.clearCache()
        check(toggle.name == name, f"{name} pressed is named {toggle.name!r}")
        check(first(window, "check box", down_caption) is None,
              f"a control is named {down_caption!r}")
        if name == "record":
            play = first(window, "check box", "play")
            check(play is not None and "enabled" not in states(play),
                  "the program did not hear record pressed: play is still enabled")
        if "checked" in states(toggle):
            act(toggle)
        # Playing nothing ends by itself on the next tick, so only the end state counts.
        check(wait_for(lambda: "checked" not in states(toggle) or None) is not None,
              f"{name} released is still checked")

    # The scale options and the root list are heard inside the Scale group.
    scale = first(window, "panel", "Scale")
    if check(scale is not None, "no panel named Scale"):
        options = [child.name for child in scale if child.getRoleName() == "radio button"]
        check(options == ["Unrestricted", "Major", "Minor", "Pentatonic"],
              f"options in the Scale group: {options}")
        check(any(child.getRoleName() == "combo box" for child in scale),
              "the root list is not in the Scale group")
        check(first(window, "radio button") is not None
              and first(window, "radio button").parent.name == "Scale",
              "an option outside the Scale group")

    # Help: a window whose text has a name.
    help_item = first(window, "menu item", "Help")
    if check(help_item is not None, "no Help menu item"):
        opener = act_in_background(sys.argv[1], "menu item", "Help")
        help_window = wait_for(
            lambda: next((w for w in app if w is not None and w.name == "DoodleChorus Help"), None))
        if check(help_window is not None, "the Help window did not appear"):
            check(help_window.getRoleName() in ("frame", "dialog", "window"),
                  f"the Help window's role is {help_window.getRoleName()!r}")
            text = first(help_window, "text")
            if check(text is not None, "no text in the Help window"):
                check(text.name == "Help text", f"the Help text is named {text.name!r}")
                check("editable" not in states(text), "the Help text is editable")
                content = text.queryText().getText(0, -1)
                check("*Left click in the rectangular window area" in content,
                      "the Help text does not say how to draw")
            subprocess.run(["wmctrl", "-c", "DoodleChorus Help"], check=False)
            check(wait_for(lambda: None if any(w is not None and w.name == "DoodleChorus Help"
                                               for w in app) else True) is not None,
                  "the Help window did not close")
        opener.kill()
        opener.wait()
    return report()


def report():
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("ok: fixed toggle names with checked states, the Scale group, a named Help text")
    return 1 if failures else 0


def act_and_wait(app_name, role, name):
    app = wait_for(lambda: application(app_name))
    node = first(app, role, name) if app is not None else None
    if node is not None:
        try:
            act(node)
        except GLib.Error:
            pass  # no answer while the step runs, or the program ended first
    return 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["--act"]:
        sys.exit(act_and_wait(*sys.argv[2:5]))
    sys.exit(main())
