#!/usr/bin/python3
"""What a screen reader finds in the program, read through AT-SPI as a reader reads it:
the main window's controls named; on a press, the viewer activated, the focus on its
named button, named again when the keyboard comes back to it from the page, the viewer
saying what it shows; the player and its parts named in
Chinese after the movie; a page whose process died replaced by its message; nothing of
the browser engine's offscreen windows. Run by run.sh on a private accessibility bus.
    tree.py PROGRAM"""
import os
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

MAIN = "Bramoth相册图鉴 For Ostavel"
VIEWER = "鉴赏页面"
STOPPED = "页面已停止运行，请重新打开。"

failures = []
events = []


def check(ok, what):
    if not ok:
        failures.append(what)


def on_event(event):
    try:
        source = event.source
        events.append((event.type, source.getRoleName(), source.name, event.detail1))
    except Exception:  # a node gone meanwhile
        pass


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "photoforKP":
            return app
    return None


def nodes(root, depth=0):
    if root is None or depth > 40:
        return
    yield root
    for i in range(root.childCount):
        try:
            yield from nodes(root.getChildAtIndex(i), depth + 1)
        except Exception:
            continue


def find(root, role=None, name=None, description=None):
    # As the program has it now, not as the reader's cache last heard of it.
    if root is not None:
        root.clear_cache()
    for node in nodes(root):
        try:
            if ((role is None or node.getRoleName() == role) and (name is None or node.name == name)
                    and (description is None or node.description == description)):
                return node
        except Exception:
            continue
    return None


def viewer(description):
    return find(application(), "frame", VIEWER, description)


def click(node):
    x, y, w, h = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "1"], check=True)


def renderers(pid):
    """The browser engine's page processes started by the program."""
    children, found = {pid}, []
    grown = True
    while grown:
        grown = False
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) in children:
                continue
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    command = f.read()
            except OSError:
                continue
            if parent in children:
                children.add(int(entry))
                grown = True
                if b"--type=renderer" in command:
                    found.append(int(entry))
    return found


def waiting(predicate, what, seconds=30):
    """Yields until predicate holds, at most so long."""
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        try:
            if predicate():
                return
        except Exception:
            pass
        yield
    failures.append("never: " + what)


def scenario(program):
    yield from waiting(lambda: find(application(), "frame", MAIN), "the main window", 60)
    app = application()
    main = find(app, "frame", MAIN)
    if main is None:
        return
    for node in nodes(main):
        if node.getRoleName() in ("push button", "combo box", "text", "label"):
            check(bool(node.name), f"an unnamed {node.getRoleName()} in the main window")
    check(all(child.name != "Offscreen" for child in app), "the engine's offscreen window is in the tree")

    # A page: the viewer comes to the front, says what it shows, and its close button has
    # the keyboard; the movie in the page and its parts are named after it.
    events.clear()
    click(find(main, "push button", "邮票鉴赏"))
    yield from waiting(lambda: viewer("爱迪鹅日"), "a page viewer saying 爱迪鹅日")
    yield from waiting(lambda: ("window:activate", "frame", VIEWER, 0) in events, "the viewer activated")
    yield from waiting(lambda: ("object:state-changed:focused", "push button", "关闭", 1) in events,
                       "the focus on the viewer's close button")
    # Into the page by the keyboard and back out: 关闭 is named again as it gets the focus.
    events.clear()
    subprocess.run(["xdotool", "key", "Tab"], check=False)
    yield from waiting(lambda: ("object:state-changed:focused", "push button", "关闭", 0) in events,
                       "the focus gone into the page")
    events.clear()
    subprocess.run(["xdotool", "key", "ctrl+shift+Tab"], check=False)
    yield from waiting(lambda: ("object:state-changed:focused", "push button", "关闭", 1) in events,
                       "关闭 named as the focus comes back from the page")
    # Looked up afresh each time: a walk can miss a window while its page is being built.
    yield from waiting(lambda: find(viewer("爱迪鹅日"), "image", "动画"), "the page's movie, named")
    yield from waiting(lambda: find(viewer("爱迪鹅日"), "text", "动画的文字输入"), "the movie's text box, named")
    check(not any(n.name in ("playing", "failed") for n in nodes(viewer("爱迪鹅日"))), "the player named in English")

    # An album: the same, named after the album.
    events.clear()
    click(find(main, "push button", "相册鉴赏"))
    yield from waiting(lambda: viewer("小小相册"), "an album viewer saying 小小相册")
    yield from waiting(lambda: ("window:activate", "frame", VIEWER, 0) in events, "the album viewer activated")
    yield from waiting(lambda: find(viewer("小小相册"), "document web", "小小相册"), "the album's player, named")
    yield from waiting(lambda: find(viewer("小小相册"), "image", "小小相册"), "the album's picture, named")

    # A page whose process dies: the message is what is there.
    click(find(main, "push button", "明信片鉴赏"))
    yield from waiting(lambda: find(viewer("冰港"), "document web", "明信片鉴赏 · 冰港"), "the postcard page")
    for pid in renderers(program.pid):
        os.kill(pid, signal.SIGKILL)
    yield from waiting(lambda: find(viewer("冰港"), "label", STOPPED), "the dead page's message")


def main():
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    program = subprocess.Popen([sys.argv[1]], env=env)
    for kind in ("window:activate", "object:state-changed:focused"):
        pyatspi.Registry.registerEventListener(on_event, kind)
    steps = scenario(program)

    def step():
        try:
            next(steps)
            return True
        except StopIteration:
            pyatspi.Registry.stop()
            return False
        except Exception as e:  # a broken step is a failure, not a hang
            failures.append(f"{type(e).__name__}: {e}")
            pyatspi.Registry.stop()
            return False

    GLib.timeout_add(100, step)
    GLib.timeout_add_seconds(240, lambda: (failures.append("took too long"), pyatspi.Registry.stop()))
    pyatspi.Registry.start()
    program.terminate()
    program.wait(10)
    for f in failures:
        print("FAIL:", f)
    print("accessibility:", "failed" if failures else "passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
