#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program in a GNOME Shell session (run by gnome-session.sh).

  gnome_check.py PROGRAM x11|wayland [SCREENSHOT.png]

x11: the program as it starts by itself (it prefers Xwayland). It must open
with its frame where the placement rule puts it from the first frame the
user sees on (a window mapped see-through, _NET_WM_WINDOW_OPACITY 0, is not
seen), be shown, be matched by the shell to its launcher, draw the chart,
keep the keyboard in the printer list, and exit 0 when the window is closed.
wayland: the program forced onto Wayland: matched to its launcher (also by
its app id, which compositors without GTK's own protocol go by), draws,
exits 0 on a polite kill (nothing outside the shell can close a Wayland
window). Where mutter puts it cannot be read from outside, and the headless
seat has no keyboard to give it.
Prints the figures it measured; exit code 0 when all holds.
"""
import ctypes
import os
import re
import select
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
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", APP_ID),
          encoding="utf-8") as launcher:
    LAUNCHER_CLASS = re.search(r"^StartupWMClass=(.*)$", launcher.read(), re.M)[1]
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


def _event(*fields):
    """An Xlib event structure: the common head, then `fields`."""
    head = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
            ("display", ctypes.c_void_p)]
    return type("XEvent", (ctypes.Structure,), {"_fields_": head + list(fields)})


W, I = ctypes.c_ulong, ctypes.c_int
XCreateWindowEvent = _event(("parent", W), ("window", W), ("x", I), ("y", I))
XConfigureEvent = _event(("event", W), ("window", W), ("x", I), ("y", I))
XMapEvent = _event(("event", W), ("window", W))
XReparentEvent = _event(("event", W), ("window", W), ("parent", W), ("x", I), ("y", I))
XPropertyEvent = _event(("window", W), ("atom", W), ("time", W), ("state", I))
CREATE, UNMAP, MAP, REPARENT, CONFIGURE, PROPERTY = 16, 18, 19, 21, 22, 28
STRUCTURE_NOTIFY, SUBSTRUCTURE_NOTIFY, PROPERTY_CHANGE = 1 << 17, 1 << 19, 1 << 22


class XWatch:
    """Every window on the X server from before the program starts: where it
    is, whether it is mapped and whether the compositor is told to draw it
    see-through, followed through the server's own notices in the order they
    happened (looking every few milliseconds would miss a move that lasts one
    frame). For each top-level client it keeps the positions it was seen at:
    mapped, its frame mapped, and not see-through."""

    def __init__(self):
        x = self.x = ctypes.CDLL("libX11.so.6")
        vp = ctypes.c_void_p
        x.XOpenDisplay.restype = vp
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = W
        x.XDefaultRootWindow.argtypes = [vp]
        x.XInternAtom.restype = W
        x.XInternAtom.argtypes = [vp, ctypes.c_char_p, I]
        x.XSelectInput.argtypes = [vp, W, ctypes.c_long]
        x.XConnectionNumber.argtypes = [vp]
        x.XPending.argtypes = [vp]
        x.XNextEvent.argtypes = [vp, vp]
        x.XGetWindowProperty.argtypes = [vp, W, W, ctypes.c_long, ctypes.c_long, I, W, ctypes.POINTER(W),
                                         ctypes.POINTER(I), ctypes.POINTER(W), ctypes.POINTER(W),
                                         ctypes.POINTER(vp)]
        x.XTranslateCoordinates.argtypes = [vp, W, W, I, I, ctypes.POINTER(I), ctypes.POINTER(I), ctypes.POINTER(W)]
        x.XFree.argtypes = [vp]
        x.XCloseDisplay.argtypes = [vp]
        # A window that goes while it is read is no reason to end the test.
        self._ignore = ctypes.CFUNCTYPE(I, vp, vp)(lambda d, e: 0)
        x.XSetErrorHandler(self._ignore)
        self.dpy = x.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("no X display")
        self.root = x.XDefaultRootWindow(self.dpy)
        self.atoms = {n: x.XInternAtom(self.dpy, n.encode(), 0)
                      for n in ("_NET_WM_PID", "_NET_WM_NAME", "_NET_WM_WINDOW_OPACITY")}
        self.parent, self.pos, self.mapped = {}, {}, {self.root: True}
        self.see_through = {}   # the clients: windows made on the root
        self.seen, self.first_mapped, self.first_seen = {}, {}, {}
        self._event = (ctypes.c_long * 24)()
        x.XSelectInput(self.dpy, self.root, SUBSTRUCTURE_NOTIFY)
        x.XPending(self.dpy)  # sent before the program starts

    def close(self):
        self.x.XCloseDisplay(self.dpy)

    def _property(self, window, name):
        """The property's 32-bit values, or its bytes; None when it is not there."""
        kind, fmt, count, after = W(), I(), W(), W()
        data = ctypes.c_void_p()
        if self.x.XGetWindowProperty(self.dpy, window, self.atoms[name], 0, 1024, 0, 0, ctypes.byref(kind),
                                     ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(after),
                                     ctypes.byref(data)) != 0 or not data.value:
            return None
        try:
            if kind.value == 0:
                return None
            if fmt.value == 32:  # longs, whatever their size
                return list(ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[:count.value])
            return ctypes.string_at(data, count.value * fmt.value // 8)
        finally:
            self.x.XFree(data)

    def _opacity_zero(self, window):
        value = self._property(window, "_NET_WM_WINDOW_OPACITY")
        return None if value is None else (value[0] & 0xFFFFFFFF) == 0

    def owner(self, pid, title):
        """The client of process `pid` with this title, once it has both."""
        for w in self.see_through:
            if self._property(w, "_NET_WM_PID") == [pid] and self._property(w, "_NET_WM_NAME") == title.encode():
                return w
        return None

    def position(self, window):
        """Where the window is on the screen, as the notices tell it."""
        x = y = 0
        while window != self.root:
            if window not in self.pos:
                return None
            x, y = x + self.pos[window][0], y + self.pos[window][1]
            window = self.parent[window]
        return x, y

    def _note(self, now):
        for w in self.see_through:
            chain, up = [], w
            while up in self.parent:
                chain.append(up)
                up = self.parent[up]
            if up != self.root or not all(self.mapped.get(c) for c in chain):
                continue
            self.first_mapped.setdefault(w, now)
            if self.see_through[w] is not False:
                continue
            self.first_seen.setdefault(w, now)
            p = self.position(w)
            seen = self.seen.setdefault(w, [])
            if not seen or seen[-1] != p:
                seen.append(p)

    def pump(self, seconds):
        """Reads the server's notices for `seconds`."""
        end = time.monotonic() + seconds
        fd = self.x.XConnectionNumber(self.dpy)
        while True:
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, self._event)
                self._handle(ctypes.addressof(self._event))
                self._note(time.monotonic())
            left = end - time.monotonic()
            if left <= 0:
                return
            select.select([fd], [], [], left)

    def _handle(self, address):
        kind = ctypes.c_int.from_address(address).value
        if kind == CREATE:
            e = XCreateWindowEvent.from_address(address)
            self.parent[e.window], self.pos[e.window], self.mapped[e.window] = e.parent, (e.x, e.y), False
            if e.parent == self.root:
                # From here on its own notices come too, frame or not.
                self.x.XSelectInput(self.dpy, e.window, STRUCTURE_NOTIFY | PROPERTY_CHANGE)
                self.see_through[e.window] = self._opacity_zero(e.window) or False
        elif kind == CONFIGURE:
            e = XConfigureEvent.from_address(address)
            if not e.send_event:  # a window manager's copy counts from the root, not the parent
                self.pos[e.window] = (e.x, e.y)
        elif kind in (MAP, UNMAP):
            e = XMapEvent.from_address(address)
            self.mapped[e.window] = kind == MAP
        elif kind == REPARENT:
            e = XReparentEvent.from_address(address)
            self.parent[e.window], self.pos[e.window] = e.parent, (e.x, e.y)
        elif kind == PROPERTY:
            e = XPropertyEvent.from_address(address)
            if e.atom == self.atoms["_NET_WM_WINDOW_OPACITY"] and e.window in self.see_through:
                # Read now, the value may have gone again: then it stays
                # see-through until the notice of its removal.
                self.see_through[e.window] = (self._opacity_zero(e.window) is not False) if e.state == 0 else False

    def where(self, window):
        """The window's place on the screen as the server tells it now."""
        rx, ry, child = I(), I(), W()
        self.x.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(rx), ctypes.byref(ry),
                                     ctypes.byref(child))
        return rx.value, ry.value


def watch_placement(watch, pid, started):
    """Every position the program's window is seen at, from before it is
    mapped until 2 seconds after it is first seen; None when it never appears."""
    end = time.monotonic() + 60
    xid = None
    while xid is None and time.monotonic() < end:
        watch.pump(0.005)
        xid = watch.owner(pid, TITLE)
    if xid is None:
        return None
    while xid not in watch.first_seen and time.monotonic() < end:
        watch.pump(0.05)
        if xid in watch.first_mapped:
            end = min(end, watch.first_mapped[xid] + 4)
    if xid in watch.first_seen:
        watch.pump(watch.first_seen[xid] + 2 - time.monotonic())
    result = {"xid": hex(xid), "seen": watch.seen.get(xid, []), "followed": watch.position(xid) == watch.where(xid)}
    for key, times in (("mapped", watch.first_mapped), ("shown", watch.first_seen)):
        result[key] = times[xid] - started if xid in times else None
    return result


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
    # Watching the X server from before the program starts, so that no early move is missed.
    watch = XWatch() if backend == "x11" else None
    started = time.monotonic()
    proc = subprocess.Popen([program], env=env)
    focus.pid = proc.pid
    try:
        run(proc, focus, watch, shot, started)
    finally:
        if watch:
            watch.close()
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def run(proc, focus, watch, shot, started):
    backend = "x11" if watch else "wayland"
    placement = watch_placement(watch, proc.pid, started) if watch else None
    info = wait(our_window, 60)
    if not check(info is not None, "the window opens"):
        return
    print(f"     window shown {time.monotonic() - started:.1f} s after start")
    check(info.get("app-id") == APP_ID, f"the shell matches it to its launcher (app-id {info.get('app-id')})")
    # What every compositor matches a window to its launcher by: on X11 the
    # window's class, the launcher's StartupWMClass; on Wayland its app id,
    # the launcher's file name.
    want = LAUNCHER_CLASS if backend == "x11" else APP_ID[:-len(".desktop")]
    check(info.get("wm-class") == want,
          f"the window's {'class' if backend == 'x11' else 'app id'} is {want} ({info.get('wm-class')})")
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
        check(placement["followed"], "the watch followed the window to where the server has it")
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
