# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program on the test desktop, seen and driven as a keyboard user
and a screen reader would: keys typed with xdotool into the X server, the
window read through the accessibility bus (libatspi), what was printed read
from the test print scheduler's capture queue.

Needs what tools/test.sh sets up: DISPLAY (Xvfb with openbox), a session bus
with the accessibility bus, CUPS_SERVER and the QUORVEL_CUPS_* variables.
"""
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

WINDOW_TITLE = "Quorvel - автор Vostrel"
CHART_TITLE = "Периодическая система химических элементов"


class Failure(AssertionError):
    pass


def wait_for(what, condition, timeout=30.0, step=0.05):
    """Polls `condition` (while letting accessibility events in) until it
    returns something true; fails with `what` after `timeout` seconds."""
    end = time.monotonic() + timeout
    while True:
        _pump()
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(step)


def _pump():
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def application_title(binary):
    """The caption of the program's message boxes: its file name up to the
    first dot, every letter after the first small."""
    base = os.path.basename(binary).split(".")[0]
    return base[:1] + base[1:].lower()


# --- keys -------------------------------------------------------------------

def keys(*names, delay=60):
    """Types key combinations (xdotool names, e.g. "ctrl+Home") into the
    window that has the X input focus."""
    subprocess.run(["xdotool", "key", "--delay", str(delay), *names], check=True)


def type_text(text, delay=60):
    subprocess.run(["xdotool", "type", "--delay", str(delay), text], check=True)


def set_layout(layout):
    """Switches the X keyboard layout, as the user's layout switcher would."""
    subprocess.run(["setxkbmap", "-layout", layout], check=True)


# --- the accessibility tree ---------------------------------------------------

def states(acc):
    state_set = acc.get_state_set()
    return {s.value_nick for s in Atspi.StateType.__enum_values__.values() if state_set.contains(s)}


def relations(acc, kind):
    """The targets of `acc`'s relations of type `kind` (e.g. "labelled-by")."""
    found = []
    for rel in acc.get_relation_set() or []:
        if rel.get_relation_type().value_nick == kind:
            found += [rel.get_target(i) for i in range(rel.get_n_targets())]
    return found


def children(acc):
    """The children of `acc`; none of an object that has gone meanwhile (the
    chart's picture goes when the live document takes its place), as a
    screen reader skips it."""
    out = []
    try:
        for i in range(acc.get_child_count()):
            child = acc.get_child_at_index(i)
            if child is not None:
                out.append(child)
    except GLib.GError:
        pass
    return out


def role(acc):
    """The role's name as a screen reader reads it. libatspi 2.56 (Debian 13)
    names a push button just "button"; 2.46 (Debian 12) "push button"."""
    return "push button" if acc.get_role() == Atspi.Role.PUSH_BUTTON else acc.get_role_name()


def walk(acc):
    yield acc
    for child in children(acc):
        yield from walk(child)


def find_all(root, wanted, name=None, showing=True):
    def matches(a):
        try:
            return role(a) == wanted and (name is None or a.get_name() == name) \
                and (not showing or "showing" in states(a))
        except GLib.GError:
            return False  # gone meanwhile
    return [a for a in walk(root) if matches(a)]


def find(root, wanted, name=None):
    found = find_all(root, wanted, name)
    if len(found) != 1:
        raise Failure("expected one %s %r, found %d" % (wanted, name, len(found)))
    return found[0]


class FocusWatch:
    """Follows focus as a screen reader does: from the focus events the
    toolkit sends over the accessibility bus."""

    def __init__(self, pid):
        self.pid = pid
        self.events = []
        self._listener = Atspi.EventListener.new(self._on_event)
        self._listener.register("object:state-changed:focused")

    def _on_event(self, event):
        try:
            # The toolkit may say so twice; the focus moved once.
            if event.detail1 and event.source.get_process_id() == self.pid and \
                    (not self.events or self.events[-1] != event.source):
                self.events.append(event.source)
        except GLib.Error:
            pass  # the object went away

    def current(self):
        _pump()
        return self.events[-1] if self.events else None

    def close(self):
        self._listener.deregister("object:state-changed:focused")


def text_of(acc):
    """The text a field holds, as a screen reader reads it."""
    return Atspi.Text.get_text(acc, 0, -1)


def user_name():
    return pwd.getpwuid(os.getuid()).pw_name


def describe(acc):
    return "%s %r" % (role(acc), acc.get_name()) if acc is not None else "nothing"


# --- the program --------------------------------------------------------------

class Program:
    """The program in its own temporary folder; ended by its PID."""

    def __init__(self, binary, *args, env=None):
        self.binary = binary
        self.work = tempfile.mkdtemp(prefix="quorvel-keys.")
        self.log_path = os.path.join(self.work, "log")
        environment = dict(os.environ, TMPDIR=os.path.join(self.work, "tmp"))
        environment.update(env or {})
        os.mkdir(environment["TMPDIR"])
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([binary, *args], env=environment, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.pid = self.proc.pid
        self.focus = FocusWatch(self.pid)
        self.window_id = None
        self._app = None

    def window(self, timeout=90):
        """The X window, once the window manager shows it, with the input focus."""
        def visible():
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.pid),
                                  "--name", "^%s$" % WINDOW_TITLE], capture_output=True, text=True)
            return out.stdout.split()[0] if out.stdout.split() else None
        def shown():
            if not self.alive():
                raise Failure("the program ended with %s before its window showed:\n%s"
                              % (self.proc.returncode, self.output()[-2000:]))
            return visible()
        try:
            self.window_id = wait_for("the window", shown, timeout)
        except Failure as e:
            raise Failure("%s\n(program log: %s)" % (e, self.output()[-2000:]))
        subprocess.run(["xdotool", "windowactivate", "--sync", self.window_id], check=False)
        return self.window_id

    def app(self, timeout=30):
        """The program's application object on the accessibility bus."""
        def lookup():
            desktop = Atspi.get_desktop(0)
            for candidate in children(desktop):
                try:
                    if candidate.get_process_id() == self.pid:
                        return candidate
                except GLib.Error:
                    continue
            return None
        if self._app is None:
            self._app = wait_for("the program on the accessibility bus", lookup, timeout)
        return self._app

    def frame(self):
        return wait_for("the main window's accessible",
                        lambda: next((c for c in children(self.app()) if c.get_name() == WINDOW_TITLE), None))

    def printer_list(self):
        return find(self.frame(), "combo box")

    def printers(self):
        """The names in the printer list."""
        menu = children(self.printer_list())[0]
        return [item.get_name() for item in children(menu)]

    def printers_after_start(self, timeout=90):
        """Waits until start-up has filled the printer list; returns its names."""
        return wait_for("the printer list to be filled", lambda: self.printers(), timeout)

    def chosen_printer(self):
        """The printer the list shows, as a screen reader reads it (the
        list's selected item)."""
        combo = self.printer_list()
        if combo.get_n_selected_children() < 1:
            return None
        return combo.get_selected_child(0).get_name()

    def focused(self):
        return self.focus.current()

    def wait_focus(self, wanted, name=None, timeout=10):
        def there():
            f = self.focused()
            return f is not None and role(f) == wanted and (name is None or f.get_name() == name)
        try:
            wait_for("focus on %s %r" % (wanted, name), there, timeout)
        except Failure:
            raise Failure("focus on %s, expected %s %r" % (describe(self.focused()), wanted, name))

    def alive(self):
        return self.proc.poll() is None

    def close(self, timeout=30):
        """Ends the program politely (it closes its window on SIGTERM); returns its exit code."""
        self.focus.close()
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            code = "killed"
        self.log.close()
        return code

    def output(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def cleanup(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait()
        if not self.log.closed:
            self.log.close()
        shutil.rmtree(self.work, ignore_errors=True)


# --- the capture queue --------------------------------------------------------

class CaptureQueue:
    """A queue of the test print scheduler that keeps every job's PDF; `mode`
    as tests/cups/capture-backend has them ("share": it wants a user name and
    password, given to `share_login`)."""

    def __init__(self, name, mode="capture"):
        self.dir = os.environ.get("QUORVEL_CUPS_DIR")
        self.harness = os.environ.get("QUORVEL_CUPS_HARNESS")
        if not self.dir or not self.harness:
            raise Failure("no test print scheduler (run through tools/test.sh)")
        self.name = name
        subprocess.run([self.harness, "add-queue", self.dir, name, mode], check=True)
        self.before = set(self._metas())

    def passes_credentials(self):
        """Whether the scheduler hands a job's credentials to the backend (only as root)."""
        return os.path.exists(os.path.join(self.dir, "passes-credentials"))

    def share_login(self, user, password):
        """The user name and password the share queues take."""
        with open(os.path.join(self.dir, "share-login"), "w") as f:
            f.write("%s\n%s\n" % (user, password))

    def _metas(self):
        out = os.path.join(self.dir, "out")
        return [os.path.join(out, f) for f in os.listdir(out) if f.endswith(".meta")] if os.path.isdir(out) else []

    def fields(self):
        """Each new job's fields as the backend wrote them, in job order."""
        found = []
        for meta in set(self._metas()) - self.before:
            with open(meta) as f:
                fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
            if fields.get("printer") == self.name:
                found.append(fields)
        return sorted(found, key=lambda f: int(f["job-id"]))

    def jobs(self):
        """The new jobs of this queue, in job order: (title, pdf path)."""
        return [(f.get("title", ""), os.path.join(self.dir, "out", f["file"])) for f in self.fields()]

    def wait_jobs(self, n, timeout=60):
        return wait_for("%d job(s) on %s" % (n, self.name), lambda: len(self.jobs()) >= n and self.jobs(), timeout)

    def delete(self):
        subprocess.run([self.harness, "delete-queue", self.dir, self.name], check=False)


def pdf_text(pdf):
    return subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, text=True, check=True).stdout


def pdf_pages(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
    return int(next(line.split()[1] for line in info.splitlines() if line.startswith("Pages:")))
