#!/usr/bin/python3
"""The real program in a GNOME Shell session (run by gnome-session.sh).

  gnome_check.py PROGRAM x11|wayland [SCREENSHOT.png]

x11: the program as it starts by itself (it prefers Xwayland). It must open
with its frame where the placement rule puts it from the first frame the
user sees on (a window mapped see-through, _NET_WM_WINDOW_OPACITY 0, is not
seen), be shown, be matched by the shell to its launcher, draw the chart,
keep the keyboard in the printer list, and exit 0 when the window is closed.
wayland: the program forced onto Wayland: matched to its launcher, draws,
exits 0 on a polite kill (nothing outside the shell can close a Wayland
window). Where mutter puts it cannot be read from outside, and the headless
seat has no keyboard to give it.
Prints the figures it measured; exit code 0 when all holds.
"""
import ctypes
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Gio", "2.0")
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

TITLE = "Quorvel - автор Vostrel"
APP_ID = "org.quorvel.Quorvel.desktop"
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def wait(predicate, seconds, step=0.05):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def out(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True).stdout


bus = Gio.bus_get_sync(Gio.BusType.SESSION)
# The shell tells windows and takes screenshots only for the desktop portal:
# on this private bus the test takes the portal's name.
bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
              GLib.Variant("(su)", ("org.freedesktop.impl.portal.desktop.gnome", 0)), None,
              Gio.DBusCallFlags.NONE, 5000, None)


def shell_windows():
    try:
        reply = bus.call_sync("org.gnome.Shell.Introspect", "/org/gnome/Shell/Introspect",
                              "org.gnome.Shell.Introspect", "GetWindows", None,
                              GLib.VariantType("(a{ta{sv}})"), Gio.DBusCallFlags.NONE, 5000, None)
    except GLib.Error:
        return {}
    return reply.unpack()[0]


def our_window():
    for info in shell_windows().values():
        if info.get("title") == TITLE:
            return info
    return None


def shell_screenshot(method, args, signature, path):
    """The shell's own picture of the screen (what the user sees), or None."""
    try:
        bus.call_sync("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot",
                      method, GLib.Variant(signature, args + (path,)), None, Gio.DBusCallFlags.NONE, 10000, None)
    except GLib.Error as e:
        print(f"     screenshot: {e.message}")
        return None
    return path


def chart_share(path):
    """Share of strongly coloured pixels (the chart's cells) in the lower two
    thirds of a picture of the window: the document area."""
    ppm = subprocess.run(["convert", path, "ppm:-"], capture_output=True).stdout
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
    if not m:
        return 0.0
    w, h = int(m[1]), int(m[2])
    lower = ppm[m.end() + 3 * w * (h // 3):]
    samples = range(0, len(lower) - 2, 3 * 7)
    coloured = sum(1 for i in samples if max(lower[i:i + 3]) - min(lower[i:i + 3]) > 40)
    return coloured / max(1, len(samples))


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XWatch:
    """The program's X11 window as the user sees it, read straight from the
    X server every few milliseconds (a tool per look would miss a move that
    lasts a frame or two): where it is, whether it is viewable and whether
    the compositor is told to draw it see-through."""

    IS_VIEWABLE = 2
    ANY_PROPERTY_TYPE = 0

    def __init__(self):
        x = self.x = ctypes.CDLL("libX11.so.6")
        ul, vp = ctypes.c_ulong, ctypes.c_void_p
        x.XOpenDisplay.restype = vp
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ul
        x.XDefaultRootWindow.argtypes = [vp]
        x.XInternAtom.restype = ul
        x.XInternAtom.argtypes = [vp, ctypes.c_char_p, ctypes.c_int]
        x.XQueryTree.argtypes = [vp, ul, ctypes.POINTER(ul), ctypes.POINTER(ul),
                                 ctypes.POINTER(ctypes.POINTER(ul)), ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowProperty.argtypes = [vp, ul, ul, ctypes.c_long, ctypes.c_long, ctypes.c_int, ul,
                                         ctypes.POINTER(ul), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ul),
                                         ctypes.POINTER(ul), ctypes.POINTER(ctypes.c_void_p)]
        x.XGetWindowAttributes.argtypes = [vp, ul, ctypes.POINTER(XWindowAttributes)]
        x.XTranslateCoordinates.argtypes = [vp, ul, ul, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ul)]
        x.XFree.argtypes = [vp]
        x.XCloseDisplay.argtypes = [vp]
        # A window that goes while it is read is no reason to end the test.
        self._ignore = ctypes.CFUNCTYPE(ctypes.c_int, vp, vp)(lambda d, e: 0)
        x.XSetErrorHandler(self._ignore)
        self.dpy = x.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("no X display")
        self.root = x.XDefaultRootWindow(self.dpy)
        self.atoms = {n: x.XInternAtom(self.dpy, n.encode(), 0)
                      for n in ("_NET_WM_PID", "_NET_WM_NAME", "_NET_WM_WINDOW_OPACITY")}

    def close(self):
        self.x.XCloseDisplay(self.dpy)

    def _property(self, window, name):
        """The property's 32-bit values, or its bytes; None when it is not there."""
        kind, fmt, count, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        if self.x.XGetWindowProperty(self.dpy, window, self.atoms[name], 0, 1024, 0, self.ANY_PROPERTY_TYPE,
                                     ctypes.byref(kind), ctypes.byref(fmt), ctypes.byref(count),
                                     ctypes.byref(after), ctypes.byref(data)) != 0 or not data.value:
            return None
        try:
            if kind.value == 0:
                return None
            if fmt.value == 32:  # longs, whatever their size
                return list(ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[:count.value])
            return ctypes.string_at(data, count.value * fmt.value // 8)
        finally:
            self.x.XFree(data)

    def _children(self, window):
        root, parent, kids, n = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(kids),
                                 ctypes.byref(n)):
            return []
        found = list(kids[:n.value]) if kids else []
        if kids:
            self.x.XFree(kids)
        return found

    def find(self, pid, title):
        """The window of process `pid` with this title, on the root or in a frame."""
        level = [self.root]
        for _ in range(3):
            below = []
            for w in level:
                for c in self._children(w):
                    if self._property(c, "_NET_WM_PID") == [pid] and \
                            self._property(c, "_NET_WM_NAME") == title.encode():
                        return c
                    below.append(c)
            level = below
        return None

    def look(self, window):
        """(viewable, seen, client position): seen is viewable and not drawn
        see-through. The opacity is read first, so a position counted as
        seen was read once the window was already shown."""
        opacity = self._property(window, "_NET_WM_WINDOW_OPACITY")
        attrs = XWindowAttributes()
        if not self.x.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)):
            return False, False, None
        rx, ry, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.x.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(rx), ctypes.byref(ry),
                                     ctypes.byref(child))
        viewable = attrs.map_state == self.IS_VIEWABLE
        see_through = bool(opacity) and (opacity[0] & 0xFFFFFFFF) == 0
        return viewable, viewable and not see_through, (rx.value, ry.value)


def watch_placement(pid, started):
    """Every position the window is seen at, from before it is mapped until
    2 seconds after it is first seen; None when it never appears."""
    watch = XWatch()
    try:
        xid = wait(lambda: watch.find(pid, TITLE), 60, step=0.002)
        if not xid:
            return None
        result = {"xid": hex(xid), "seen": [], "mapped": None, "shown": None}
        end = time.monotonic() + 60
        while time.monotonic() < end:
            viewable, seen, p = watch.look(xid)
            now = time.monotonic()
            if viewable and result["mapped"] is None:
                result["mapped"] = now
                end = now + 4
            if seen:
                if result["shown"] is None:
                    result["shown"] = now
                    end = now + 2
                if not result["seen"] or result["seen"][-1] != p:
                    result["seen"].append(p)
            time.sleep(0.002)
        for key in ("mapped", "shown"):
            if result[key] is not None:
                result[key] -= started
        return result
    finally:
        watch.close()


class FocusWatch:
    """Where the keyboard goes, as a screen reader follows it: the focus
    events the program sends over the accessibility bus."""

    def __init__(self):
        self.pid = None
        self.last = None
        self._listener = Atspi.EventListener.new(self._on_event)
        self._listener.register("object:state-changed:focused")

    def _on_event(self, event):
        try:
            if event.detail1 and event.source.get_process_id() == self.pid:
                self.last = event.source
        except GLib.Error:
            pass  # gone already

    def current(self):
        while GLib.MainContext.default().iteration(False):
            pass  # deliver the events that came in
        if self.last is None:
            return None
        try:
            # The focused object and the roles of the three objects above it.
            node, roles = self.last, []
            for _ in range(4):
                if node is None:
                    break
                roles.append(node.get_role_name())
                node = node.get_parent()
            return (self.last.get_name(), roles)
        except GLib.Error:
            return None


def in_printer_list(focus):
    # GTK gives the focus to the list's button inside the combo box.
    return focus is not None and "combo box" in focus[1]


def check_keyboard(focus):
    wait(lambda: (our_window() or {}).get("has-focus") and in_printer_list(focus.current()), 20, step=0.2)
    time.sleep(1)
    where = focus.current()
    check(bool((our_window() or {}).get("has-focus")) and in_printer_list(where),
          f"the keyboard is in the printer list (focus on {where})")


def main():
    program, backend = sys.argv[1], sys.argv[2]
    shot = sys.argv[3] if len(sys.argv) > 3 else None
    env = dict(os.environ, TMPDIR=tempfile.mkdtemp(), CUPS_SERVER="/nonexistent/cups.sock")
    env.pop("GDK_BACKEND", None)
    if backend == "wayland":
        env["GDK_BACKEND"] = "wayland"
    wait(lambda: shell_windows() is not None and bus is not None, 5)
    focus = FocusWatch()
    started = time.monotonic()
    proc = subprocess.Popen([program], env=env)
    focus.pid = proc.pid
    try:
        run(proc, focus, backend, shot, started)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def run(proc, focus, backend, shot, started):
    # Watched from before it is mapped, so that no early move is missed.
    placement = watch_placement(proc.pid, started) if backend == "x11" else None
    info = wait(our_window, 60)
    if not check(info is not None, "the window opens"):
        return
    print(f"     window shown {time.monotonic() - started:.1f} s after start")
    check(info.get("app-id") == APP_ID, f"the shell matches it to its launcher (app-id {info.get('app-id')})")
    check(info["client-type"] == (1 if backend == "x11" else 0),
          f"client type {info['client-type']} (0 Wayland, 1 X11)")

    xid = None
    if backend == "x11":
        # The program's own window, found by its process: mutter 44 and later
        # (Debian 13) draw X11 frames in a client of their own, whose frame
        # window bears the title too.
        if not check(placement is not None, "its X11 window is found"):
            return
        xid, seen = placement["xid"], placement["seen"]
        if not check(placement["shown"] is not None, "it is shown (mapped, not see-through)"):
            return
        print(f"     mapped {placement['mapped'] * 1000:.0f} ms after start, first seen "
              f"{placement['shown'] * 1000:.0f} ms after start "
              f"({(placement['shown'] - placement['mapped']) * 1000:.0f} ms mapped unseen)")
        g = out("xwininfo", "-id", xid)
        w = int(re.search(r"Width:\s+(\d+)", g)[1])
        h = int(re.search(r"Height:\s+(\d+)", g)[1])
        ext = [int(v) for v in re.findall(r"\d+", out("xprop", "-id", xid, "_NET_FRAME_EXTENTS").split("=")[-1])]
        area = [int(v) for v in re.findall(r"\d+", out("xprop", "-root", "_NET_WORKAREA").split("=")[-1])][:4]
        screen = re.search(r"dimensions:\s+(\d+x\d+)", out("xdpyinfo"))[1]
        left, right, top, bottom = ext if len(ext) == 4 else (0, 0, 0, 0)
        fw, fh = w + left + right, h + top + bottom
        rule = (max(0, (area[2] - fw) // 2), max(0, (area[3] - fh) // 2))
        frame = (seen[-1][0] - left, seen[-1][1] - top) if seen else None
        print(f"     screen {screen}, work area {area[2]}x{area[3]} at {area[0]},{area[1]}; "
              f"client {w}x{h}, frame extents l{left} r{right} t{top} b{bottom}, frame {fw}x{fh}")
        print(f"     frame at {frame}, the rule says {rule}; client positions seen: {seen}")
        check(len(ext) == 4, "the window manager tells the frame")
        check((w, h) == (726, 520), f"client area {w}x{h}")
        check(frame == rule, "placed by the rule")
        check(len(seen) == 1, "no jump: one position from the first frame seen on")

    # The chart, drawn: coloured cells in the document area of the focused window.
    window_shot = os.path.join(tempfile.mkdtemp(), "window.png")

    def drawn():
        if not (our_window() or {}).get("has-focus"):
            return 0.0
        path = shell_screenshot("ScreenshotWindow", (False, False, False), "(bbbs)", window_shot)
        share = chart_share(path) if path else 0.0
        return share if share > 0.2 else 0.0

    share = wait(drawn, 60, step=0.5)
    check(bool(share), f"the chart is drawn ({share:.2f} of the document area coloured)")
    if shot:
        shell_screenshot("Screenshot", (False, False), "(bbs)", shot)

    # The keyboard in the printer list, with the window focused by the shell.
    # The last focus move at start-up must end there, and it must stay. A
    # headless shell has no keyboard device, so a Wayland client is never
    # given the keyboard at all; Xwayland's focus needs none.
    if backend == "wayland":
        print("     keyboard: not checked on Wayland (the headless seat has no keyboard)")
    else:
        check_keyboard(focus)

    # Closed as the user closes it: the frame's close, through the window manager.
    if xid:
        subprocess.run(["wmctrl", "-i", "-c", xid])
    else:
        proc.send_signal(signal.SIGTERM)
    try:
        code = proc.wait(30)
    except subprocess.TimeoutExpired:
        code = None
    check(code == 0, f"exits 0 when closed (exit code {code})")


if __name__ == "__main__":
    main()
    print(f"{len(failures)} failed" if failures else "all checks passed")
    sys.exit(1 if failures else 0)
