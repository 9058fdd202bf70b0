#!/usr/bin/python3
"""Reads and edits Varne through AT-SPI as a screen reader does.

Runs inside an X server with a window manager (see screen-reader-*.sh). It
starts a private session bus and the AT-SPI bus launcher, the real binary
($VARNE), types with xdotool and reads back through the AT-SPI client
library: the text, the caret, the text-changed and caret-moved events, and
the menus. Offsets are Qt's, in UTF-16 units.

  at-start:    the screen-reader flag is switched on before Varne starts;
  after-start: Varne runs first, then the bus starts with the flag on.

Every wait polls with an upper bound.
"""
import os
import signal
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

# Qt answers the older GetTextAtOffset, not its replacement.
warnings.filterwarnings("ignore", category=DeprecationWarning)

VARNE = os.environ["VARNE"]
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
started = []  # (process, kill its whole group)
session_bus_pid = None
events = []


def cleanup():
    for process, group in reversed(started):
        if process.poll() is None:
            try:
                if group:
                    os.killpg(process.pid, signal.SIGTERM)
                else:
                    process.terminate()
                process.wait(timeout=10)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
    if session_bus_pid:
        try:
            os.kill(session_bus_pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    log = os.path.join(os.environ.get("XDG_RUNTIME_DIR", "/tmp"), "varne.log")
    if os.path.exists(log):
        sys.stderr.write(open(log).read())
    cleanup()
    sys.exit(1)


def pump():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def poll(what, check, timeout=20.0):
    deadline = time.monotonic() + timeout
    while True:
        pump()
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.05)


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, stdout=subprocess.DEVNULL)


def start_session_bus():
    global session_bus_pid
    out = subprocess.run(
        ["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
        check=True, capture_output=True, text=True).stdout.split()
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = out[0]
    session_bus_pid = int(out[1])


def session_call(name, path, interface, method, parameters):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    return bus.call_sync(name, path, interface, method, parameters, None,
                         Gio.DBusCallFlags.NONE, 5000, None)


def has_owner(name):
    reply = session_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", GLib.Variant("(s)", (name,)))
    return reply.unpack()[0]


def start_accessibility_bus(*flags):
    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately", *flags],
                                start_new_session=True)
    started.append((launcher, True))
    poll("the AT-SPI bus launcher", lambda: has_owner("org.a11y.Bus"))


def switch_screen_reader_on():
    session_call("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                 GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled",
                                        GLib.Variant("b", True))))


def find_window(pattern):
    """The first visible window whose name matches the pattern, or None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                           capture_output=True, text=True).stdout.split()
    return found[0] if found else None


def varne_windows():
    """Varne's windows on the screen: the frame, and a menu or a dialog while
    one is open. An open menu holds the keyboard: keys the X server sends it
    while it closes are lost."""
    return len(subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "^varne$"],
                              capture_output=True, text=True).stdout.split())


def has_focus(window):
    return subprocess.run(["xdotool", "getwindowfocus"], capture_output=True,
                          text=True).stdout.strip() == window


def wait_active(what, pattern):
    """Waits for a window to show and to have the keyboard focus, so that keys
    go to it."""
    window = poll(what, lambda: find_window(pattern))
    poll("the keyboard focus on " + what, lambda: has_focus(window))
    return window


def start_varne():
    log = open(os.path.join(os.environ["XDG_RUNTIME_DIR"], "varne.log"), "w")
    varne = subprocess.Popen([VARNE], stdout=log, stderr=subprocess.STDOUT)
    started.append((varne, False))
    window = poll("the Varne window", lambda: find_window("^Varne - "))
    xdotool("windowactivate", window)
    poll("the keyboard focus on the Varne window", lambda: has_focus(window))
    return varne


def listen():
    def record(event):
        events.append((event.type, event.detail1, event.detail2, event.any_data))

    listener = Atspi.EventListener.new(record)
    for kind in ("object:text-changed:insert", "object:text-changed:delete",
                 "object:text-caret-moved"):
        listener.register(kind)
    return listener


def of_kind(kind):
    return [event for event in events if event[0] == kind]


def varne_application(pid):
    def find():
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            application = desktop.get_child_at_index(i)
            if application is not None and application.get_process_id() == pid:
                return application
        return None
    return poll("Varne on the accessibility bus", find)


def descendants(root, depth=0):
    yield root
    if depth < 8:
        for i in range(root.get_child_count()):
            child = root.get_child_at_index(i)
            if child is not None:
                yield from descendants(child, depth + 1)


def find_editor(application):
    def editor():
        for accessible in descendants(application):
            if accessible.get_role() == Atspi.Role.TEXT and accessible.get_name() == "Editor":
                return accessible
        return None
    found = poll("the editor", editor)
    interfaces = found.get_interfaces()
    if "Text" not in interfaces or "EditableText" not in interfaces:
        fail("the editor has no Text or EditableText interface: %s" % interfaces)
    return found


def text_of(editor):
    return editor.get_text(0, -1)


def wait_until_heard(editor):
    """Qt learns about a new listener asynchronously: move the caret until a
    move is heard, so that nothing later is missed."""
    xdotool("type", "x")
    poll("the first key", lambda: text_of(editor) == "x")
    deadline = time.monotonic() + 20
    key = "Home"
    while not of_kind("object:text-caret-moved"):
        if time.monotonic() > deadline:
            fail("no caret-moved event ever arrived")
        xdotool("key", key)
        key = "End" if key == "Home" else "Home"
        poll_briefly = time.monotonic() + 0.5
        while time.monotonic() < poll_briefly and not of_kind("object:text-caret-moved"):
            pump()
            time.sleep(0.02)
    xdotool("key", "End")
    poll("the caret at the end", lambda: editor.get_caret_offset() == 1)
    pump()
    events.clear()


def check_typing(editor):
    typed = "<p>Hi</p>"
    xdotool("type", "--delay", "40", typed)
    poll("an insert event per key",
         lambda: len(of_kind("object:text-changed:insert")) >= len(typed))
    inserts = of_kind("object:text-changed:insert")
    expected = [("object:text-changed:insert", 1 + i, 1, c) for i, c in enumerate(typed)]
    if inserts != expected:
        fail("insert events %s, expected %s" % (inserts, expected))
    if text_of(editor) != "x" + typed:
        fail("text %r" % text_of(editor))
    if editor.get_character_count() != 1 + len(typed):
        fail("character count %d" % editor.get_character_count())
    poll("caret moves up to the end",
         lambda: [e[1] for e in of_kind("object:text-caret-moved")][-1:] == [1 + len(typed)])
    # The caret is reported where it is once the keys that arrived together
    # are handled: one move per key on a quiet machine, fewer when keys come
    # in a batch, but always forward, within the text, up to its end.
    carets = [event[1] for event in of_kind("object:text-caret-moved")]
    if carets != sorted(set(carets)) or carets[0] < 2:
        fail("caret-moved offsets %s" % carets)
    if editor.get_caret_offset() != 1 + len(typed):
        fail("caret offset %d" % editor.get_caret_offset())
    events.clear()

    xdotool("key", "BackSpace")
    poll("a delete event", lambda: of_kind("object:text-changed:delete"))
    deleted = of_kind("object:text-changed:delete")
    if deleted != [("object:text-changed:delete", len(typed), 1, ">")]:
        fail("delete events %s" % deleted)
    events.clear()


def check_editing_through_the_interface(editor):
    text = text_of(editor)
    inserted = "\u00e9\u65e5\u672c\U0001F600"
    editor.insert_text(1, inserted, utf16_length(inserted))
    poll("the inserted text", lambda: text_of(editor) == text[:1] + inserted + text[1:])
    poll("its insert event", lambda: of_kind("object:text-changed:insert"))
    event = of_kind("object:text-changed:insert")[0]
    if event[1:] != (1, utf16_length(inserted), inserted):
        fail("insert event %s" % (event,))
    count = utf16_length(text_of(editor))
    if editor.get_character_count() != count:
        fail("character count %d, expected %d" % (editor.get_character_count(), count))
    # Queries past the emoji use offsets that count it as two units.
    line = editor.get_text_at_offset(1 + utf16_length(inserted), Atspi.TextBoundaryType.LINE_START)
    if (line.content, line.start_offset, line.end_offset) != (text_of(editor), 0, count):
        fail("line %r from %d to %d" % (line.content, line.start_offset, line.end_offset))
    events.clear()


def menu_bar_item(application, name):
    for accessible in descendants(application):
        if accessible.get_role() == Atspi.Role.MENU_ITEM and accessible.get_name() == name:
            parent = accessible.get_parent()
            if parent is not None and parent.get_role() == Atspi.Role.MENU_BAR:
                return accessible
    return None


def open_menu(application, name):
    """Opens a menu of the menu bar through its item's action, as a screen
    reader does, and returns how many of Varne's windows there were before.

    Not with Alt and a letter: while a reader listens, Qt holds each key until
    the accessibility registry has seen it, but runs shortcuts at once. On a
    busy machine the shortcut opened the menu, and the Alt release that
    followed it, held up, then closed the menu again."""
    below = varne_windows()
    item = poll("the menu bar's " + name, lambda: menu_bar_item(application, name))
    item.get_action_iface().do_action(0)
    poll("the %s menu on the screen" % name, lambda: varne_windows() > below)
    return below


def check_menus(application):
    # Open the Edit menu, so that the program refreshes its items.
    below = open_menu(application, "Edit")

    def edit_items():
        for accessible in descendants(application):
            if accessible.get_role() == Atspi.Role.MENU_ITEM and accessible.get_name() == "Edit":
                menu = accessible.get_child_at_index(0)
                if menu is not None and menu.get_state_set().contains(Atspi.StateType.SHOWING):
                    return [menu.get_child_at_index(i) for i in range(menu.get_child_count())]
        return None

    items = poll("the open Edit menu", edit_items)
    names = [item.get_name() for item in items if item.get_role() == Atspi.Role.MENU_ITEM]
    if names != ["Undo", "Redo", "Cut", "Copy", "Paste", "Delete", "Select All"]:
        fail("Edit menu items %s" % names)
    enabled = {item.get_name(): item.get_state_set().contains(Atspi.StateType.ENABLED)
               for item in items}
    # Something was typed and nothing undone; the new X server's clipboard is empty.
    expected = {"Undo": True, "Redo": False, "Paste": False, "Cut": True, "Select All": True}
    for name, state in expected.items():
        if enabled.get(name) != state:
            fail("%s enabled: %s" % (name, enabled.get(name)))
    undo = [item for item in items if item.get_name() == "Undo"][0]
    if undo.get_key_binding(0) != "Ctrl+Z":
        fail("Undo's key binding %r" % undo.get_key_binding(0))

    file_names = []
    for accessible in descendants(application):
        if accessible.get_role() == Atspi.Role.MENU_ITEM and accessible.get_name() == "File":
            menu = accessible.get_child_at_index(0)
            file_names = [menu.get_child_at_index(i).get_name()
                          for i in range(menu.get_child_count())]
    if file_names != ["New", "Open...", "Save", "Save As...", "Exit"]:
        fail("File menu items %s" % file_names)
    xdotool("key", "Escape")
    poll("the Edit menu to close", lambda: varne_windows() <= below)


def quit_varne(varne, application):
    # File > Exit, and No to the question about the unsaved text.
    open_menu(application, "File")
    xdotool("key", "x")
    wait_active("the question", "^Varne$")
    xdotool("key", "n")
    poll("Varne to exit", lambda: varne.poll() is not None)
    if varne.returncode != 0:
        fail("exit status %d" % varne.returncode)


def main():
    mode = sys.argv[1]
    start_session_bus()
    if mode == "at-start":
        start_accessibility_bus()
        switch_screen_reader_on()
        listener = listen()
        varne = start_varne()
        application = varne_application(varne.pid)
    elif mode == "after-start":
        varne = start_varne()
        # Varne runs, with no accessibility bus; then the desktop's bus starts
        # with the screen reader's flag on, as when a reader is started.
        start_accessibility_bus("--screen-reader=1")
        # The reader listens once Varne is on the bus. Qt asks for the
        # listeners as it joins and only then starts to hear of new ones, so
        # one registered while it joins would go unheard for good.
        application = varne_application(varne.pid)
        listener = listen()
    else:
        fail("unknown mode " + mode)

    editor = find_editor(application)
    wait_until_heard(editor)
    check_typing(editor)
    check_editing_through_the_interface(editor)
    if mode == "at-start":
        check_menus(application)
    quit_varne(varne, application)
    listener.deregister("object:text-changed:insert")
    cleanup()
    print("PASS")


if __name__ == "__main__":
    main()
