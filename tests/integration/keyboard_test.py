#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Keyboard, focus and screen readers: the real program on the test desktop
(tools/test.sh: Xvfb with openbox, a session bus with the accessibility bus,
a private print scheduler), driven by real keys and read through the
accessibility bus as a screen reader reads it.

    keyboard_test.py PROGRAM DATA_DIR CASE     CASE: StartUpFocus | Strip | Editing

PROGRAM is quorvel-test-app (it also seeds Writer's profile for Editing).
"""
import contextlib
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import desktop as d
import writer
from desktop import keys
from gi.repository import GLib  # after desktop, which picks the library versions

PROGRAM = DATA = None
LIST_NAME = "Выберите принтер:"
PAGE_ITEMS = ["все", "номера", "только нечетные", "только четные"]
BUTTON = " Щелкните сюда, чтобы начать печатать"


def on_printer_list(acc):
    """The printer list as the focus shows it: its inner button, named after Label1."""
    return acc is not None and d.role(acc) == "toggle button" and acc.get_name() == LIST_NAME


@contextlib.contextmanager
def cpu_load(busy):
    """`busy` processes that keep a CPU each busy, ended by their PIDs."""
    procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(busy)]
    try:
        yield
    finally:
        for p in procs:
            p.kill()
            p.wait()


class StartUpFocus(unittest.TestCase):
    """After start-up the keyboard is in the printer list, every time: on a
    loaded machine, and when the engine's view sets itself up late (it takes
    the focus when it does). Judged by what Down does: it picks the first
    printer, where in the chart it would move the text cursor."""

    # (busy processes, engine set-up held back by ms)
    RUNS = [(0, 0)] * 8 + [(2, 0)] * 6 + [(0, 500), (0, 1500), (0, 3000)] * 2 + [(2, 1500)] * 2

    def test_every_start_ends_with_the_keyboard_in_the_printer_list(self):
        queue = d.CaptureQueue("aaa_focus_%d" % os.getpid())
        self.addCleanup(queue.delete)
        outcomes = []
        for busy, late in self.RUNS:
            with cpu_load(busy):
                outcomes.append((busy, late, self.start_once(late)))
        for busy, late, outcome in outcomes:
            print("load %d, set-up %4d ms late: %s" % (busy, late, outcome))
        bad = [o for o in outcomes if o[2] != "printer list"]
        print("%d of %d starts ended in the printer list" % (len(outcomes) - len(bad), len(outcomes)))
        self.assertEqual(bad, [])

    def start_once(self, late):
        program = d.Program(PROGRAM, *(["--late-engine-setup", str(late)] if late else []))
        try:
            program.window()
            printers = program.printers_after_start()
            # By now the view has set itself up and taken the focus if it could.
            d.wait_for("the engine's view set-up", lambda: "engine view ready" in program.output(), 90)
            keys("Down")
            try:
                d.wait_for("a printer chosen", lambda: program.chosen_printer() == printers[0], 5)
            except d.Failure:
                return "not in the printer list: focus on %s" % d.describe(program.focused())
            # Nothing else ever had the focus a user could type into.
            others = [d.describe(e) for e in program.focus.events if not on_printer_list(e)]
            if others:
                return "the focus was on %s in between" % ", ".join(others)
            code = program.close()
            return "printer list" if code == 0 else "exit code %s" % code
        finally:
            program.cleanup()


class Strip(unittest.TestCase):
    """The control strip by keyboard, and what a screen reader finds in it.
    One program on the five-page marker document; the tests run in order and
    each goes on from where the one before left the window."""

    SHARE_USER, SHARE_PASSWORD = "teacher", "Shkola-7"

    @classmethod
    def setUpClass(cls):
        cls.queue = d.CaptureQueue("aaa_strip_%d" % os.getpid())
        # Listed after it: a queue printing to a Windows share.
        cls.share = d.CaptureQueue("aaa_strip_share_%d" % os.getpid(), "share")
        cls.share.share_login(cls.SHARE_USER, cls.SHARE_PASSWORD)
        cls.program = d.Program(PROGRAM, "--doc", os.path.join(DATA, "markers5.doc"))
        cls.program.window()
        cls.printers = cls.program.printers_after_start()
        d.wait_for("the engine's view set-up", lambda: "engine view ready" in cls.program.output(), 90)
        cls.frame = cls.program.frame()

    @classmethod
    def tearDownClass(cls):
        code = cls.program.close()
        cls.program.cleanup()
        cls.queue.delete()
        cls.share.delete()
        assert code == 0, "exit code %s" % code

    def focus(self, role, name=None):
        self.program.wait_focus(role, name)

    def checked_items(self):
        return [r.get_name() for r in d.find_all(self.frame, "radio button") if "checked" in d.states(r)]

    def test_1_screen_reader_finds_every_control_named(self):
        f = self.frame
        # The application is named by its id, as its launcher and its window
        # are (GTK names it after the program's name).
        self.assertEqual(self.program.app().get_name(), "org.quorvel.Quorvel")
        # At start the focus is in the list, which is announced by Label1's text.
        focused = self.program.focused()
        self.assertTrue(on_printer_list(focused), d.describe(focused))
        self.assertEqual([t.get_name() for t in d.relations(focused, "labelled-by")], ["Выберите принтер: "])

        label = d.find(f, "label", "Выберите принтер: ")
        combo = d.find(f, "combo box", LIST_NAME)
        self.assertEqual(d.relations(combo, "labelled-by"), [label])
        self.assertIn(combo, d.relations(label, "label-for"))

        # One group named "Страницы" holding exactly the four items that are
        # shown; the choice GTK keeps while none is chosen is not there.
        groups = [a for a in d.walk(f) if a.get_name() == "Страницы" and d.role(a) != "label"]
        self.assertEqual([d.role(g) for g in groups], ["panel"])
        group = groups[0]
        self.assertEqual([t.get_name() for t in d.relations(group, "labelled-by")], ["Страницы"])
        items = d.find_all(group, "radio button")
        self.assertEqual([i.get_name() for i in items], PAGE_ITEMS)
        everywhere = d.find_all(self.program.app(), "radio button", showing=False)
        self.assertEqual(len(everywhere), 4, [d.describe(r) for r in everywhere])
        for item in items:
            self.assertEqual(sorted(m.get_name() for m in d.relations(item, "member-of")), sorted(PAGE_ITEMS))
            self.assertIn("focusable", d.states(item))
        self.assertEqual(self.checked_items(), [])

        pages = d.find(f, "text", "номера")
        self.assertEqual(d.relations(pages, "labelled-by"), [items[1]])
        d.find(f, "check box", "двусторонняя печать")
        d.find(f, "push button", BUTTON)
        chart = d.find(f, "drawing area", d.CHART_TITLE)
        self.assertIn("focusable", d.states(chart))
        # Nothing unnamed takes the focus.
        for acc in d.walk(f):
            if "focusable" in d.states(acc):
                self.assertTrue(acc.get_name(), "unnamed %s can take the focus" % d.role(acc))

    def test_2_tab_and_shift_tab_follow_the_layout_table(self):
        self.assertTrue(on_printer_list(self.program.focused()))
        forward = [("radio button", "все"), ("text", "номера"), ("check box", "двусторонняя печать"),
                   ("push button", BUTTON), ("drawing area", d.CHART_TITLE)]
        seen = []
        for role, name in forward:
            keys("Tab")
            self.focus(role, name)
            seen.append(d.describe(self.program.focused()))
        print("Tab:", " -> ".join(seen))
        # The document keeps Tab for itself; Ctrl+Tab leaves it, round to the start.
        keys("Tab")
        time.sleep(0.5)
        self.focus("drawing area", d.CHART_TITLE)
        keys("ctrl+Tab")
        self.focus("toggle button", LIST_NAME)

        # Backwards: from the list round to the document, out of it with
        # Ctrl+Shift+Tab, and back up the strip.
        keys("shift+Tab")
        self.focus("drawing area", d.CHART_TITLE)
        keys("ctrl+shift+Tab")
        self.focus("push button", BUTTON)
        seen = [d.describe(self.program.focused())]
        for role, name in reversed([("toggle button", LIST_NAME)] + forward[:-2]):
            keys("shift+Tab")
            self.focus(role, name)
            seen.append(d.describe(self.program.focused()))
        print("Shift+Tab:", " -> ".join(seen))
        self.assertEqual(self.checked_items(), [])  # walking chose nothing

    def test_3_arrows_move_within_the_page_group(self):
        keys("Tab")
        self.focus("radio button", "все")
        self.assertEqual(self.checked_items(), [])
        for item in PAGE_ITEMS[1:]:
            keys("Down")
            self.focus("radio button", item)
            d.wait_for("%s chosen" % item, lambda: self.checked_items() == [item], 5)
        # Past the last item the keyboard stays in the group (GTK's choice
        # whether it goes round), and the focused item is the chosen one.
        keys("Down")
        time.sleep(0.3)
        focused = self.program.focused()
        self.assertIn(focused.get_name(), PAGE_ITEMS)
        self.assertEqual(self.checked_items(), [focused.get_name()])
        for _ in PAGE_ITEMS:
            if self.checked_items() == ["все"]:
                break
            keys("Up")
            time.sleep(0.3)
        self.focus("radio button", "все")
        keys("Down")
        self.focus("radio button", "номера")
        # The group is one tab stop, entered at the chosen item from either side.
        keys("Tab")
        self.focus("text", "номера")
        keys("shift+Tab")
        self.focus("radio button", "номера")
        keys("shift+Tab")
        self.focus("toggle button", LIST_NAME)
        keys("Tab")
        self.focus("radio button", "номера")
        keys("shift+Tab")
        self.focus("toggle button", LIST_NAME)

    def box(self, role, holding=None, timeout=15):
        """The message box up now (the one holding the text `holding`): its
        accessible and the texts it shows."""
        title = d.application_title(PROGRAM)

        def up():
            for w in d.children(self.program.app()):
                try:
                    if d.role(w) == role and "showing" in d.states(w):
                        texts = [label.get_name() for label in d.find_all(w, "label")]
                        if holding is None or any(holding in t for t in texts):
                            return w, texts
                except GLib.Error:
                    continue  # a box that went while it was read (the fronts' box, say)
            return None
        box, texts = d.wait_for("a box %s" % (holding or role), up, timeout)
        self.assertEqual(box.get_name(), title)
        return box, texts

    def test_4_message_boxes_are_announced_by_the_application_title(self):
        self.assertTrue(on_printer_list(self.program.focused()))
        # No printer chosen: the message box.
        keys("Tab", "Tab", "Tab", "Tab")
        self.focus("push button", BUTTON)
        keys("space")
        _, texts = self.box("alert")
        self.assertIn("Выберите принтер!", texts)
        keys("Return")
        self.focus("push button", BUTTON)

        # A page list that does not parse: the error box.
        for key in ["Tab", "ctrl+Tab", "Down", "Tab", "Tab"]:
            keys(key)
        self.focus("text", "номера")
        self.assertEqual(self.checked_items(), ["номера"])
        self.assertEqual(self.program.chosen_printer(), self.printers[0])
        d.type_text("x")
        keys("Tab", "Tab")
        self.focus("push button", BUTTON)
        keys("space")
        _, texts = self.box("alert")
        self.assertTrue(any(t.startswith("Неверный список страниц") for t in texts), texts)
        keys("Return")
        self.focus("push button", BUTTON)
        self.assertEqual(self.queue.jobs(), [])

    def test_5_a_whole_print_by_keyboard(self):
        # Pages 2 to 4, two-sided by hand: fronts 2 and 4, then the question,
        # answered by the keyboard, then the back 3.
        keys("shift+Tab", "shift+Tab")
        self.focus("text", "номера")
        keys("ctrl+a")
        d.type_text("2-4")
        keys("Tab", "space")
        d.wait_for("two-sided ticked", lambda: "checked" in d.states(d.find(self.frame, "check box")), 5)
        keys("Tab")
        self.focus("push button", BUTTON)
        keys("space")
        jobs = self.queue.wait_jobs(1)
        self.assertEqual(markers(jobs[0][1]), [2, 4])
        question, texts = self.box("alert", "Лицевые стороны напечатаны.")
        self.assertTrue(any("перевер" in t for t in texts), texts)
        buttons = [b.get_name() for b in d.find_all(question, "push button")]
        self.assertEqual(set(buttons), {"Отмена", "ОК"})
        keys("Return")  # OK is the default
        jobs = self.queue.wait_jobs(2)
        self.assertEqual([markers(pdf) for _, pdf in jobs], [[2, 4], [3]])
        self.focus("push button", BUTTON)

    def test_6_a_share_asks_for_its_password_by_keyboard(self):
        # The same pages to the share: while the fronts wait, the progress
        # box, then the question for the share's user name and password.
        keys("shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab")
        self.focus("toggle button", LIST_NAME)
        keys("Down")
        d.wait_for("the share chosen", lambda: self.program.chosen_printer() == self.share.name, 5)
        keys("Tab", "Tab", "Tab", "Tab")
        self.focus("push button", BUTTON)
        keys("space")
        _, texts = self.box("alert", "Печатаются лицевые стороны на принтере «%s»…" % self.share.name)

        ask = self.ask_for_login(refused=False)
        # Tab order: the fields, "ОК", "Отмена", and round again.
        self.focus("password text", "Пароль")
        keys("Tab")
        self.focus("push button", "ОК")
        keys("Tab")
        self.focus("push button", "Отмена")
        keys("shift+Tab", "shift+Tab")
        self.focus("password text", "Пароль")
        # The name offered is the login's; the share wants another. A wrong
        # password first, Enter in the field is "ОК".
        keys("shift+Tab")
        self.focus("text", "Имя пользователя")
        self.assertEqual(d.text_of(self.program.focused()), d.user_name())
        keys("ctrl+a")
        d.type_text(self.SHARE_USER)
        keys("Tab")
        self.focus("password text", "Пароль")
        # A scheduler not run as root hands no credentials to the share,
        # which then cannot tell a wrong password from the right one.
        if self.share.passes_credentials():
            d.type_text("wrong")
            keys("Return")
            d.wait_for("the first box gone",
                       lambda: "showing" not in d.states(ask) or "defunct" in d.states(ask), 10)
            # Refused by the share: asked again, with the name just tried.
            self.ask_for_login(refused=True)
            self.focus("password text", "Пароль")
        d.type_text(self.SHARE_PASSWORD)
        keys("Return")

        # Printed with it: the question, then the backs, not asked again.
        _, texts = self.box("alert", "Лицевые стороны напечатаны.", 60)
        keys("Return")
        jobs = self.share.wait_jobs(2)
        self.assertEqual([markers(pdf) for _, pdf in jobs], [[2, 4], [3]])
        if self.share.passes_credentials():
            self.assertEqual([f["auth-user"] for f in self.share.fields()], [self.SHARE_USER] * 2)
        self.focus("push button", BUTTON)
        self.assertNotIn(self.SHARE_PASSWORD, self.program.output())

    def ask_for_login(self, refused):
        """The question for a user name and password, as a screen reader finds it."""
        prompt = "Для печати на принтере «%s» нужны имя пользователя и пароль." % self.share.name
        box, texts = self.box("dialog", prompt)
        self.assertEqual("Имя пользователя или пароль не подошли." in texts, refused, texts)
        self.assertNotIn("Домен:", texts)  # the queue asks for none
        for name, role in [("Имя пользователя", "text"), ("Пароль", "password text")]:
            field = d.find(box, role, name)
            self.assertEqual([label.get_name() for label in d.relations(field, "labelled-by")], [name + ":"])
        self.assertEqual([b.get_name() for b in d.find_all(box, "push button")], ["ОК", "Отмена"])
        return box


class Editing(unittest.TestCase):
    """Keys typed into the chart reach the engine, and the keyboard stays in
    the document: what is printed is what LibreOffice Writer itself makes of
    the same keys on the same chart."""

    # Latin, then the Cyrillic layout (xdotool switches the group as a
    # layout switcher would); each step's effect shows in the text.
    KEYS = [
        "Home", "type:AB", "End", "type:CD",      # both ends of the title line
        "Left", "shift+Left", "type:E",           # a selection typed over
        "Home", "Delete", "End", "BackSpace",
        "type:Q", "ctrl+z", "type:W", "ctrl+z", "ctrl+y",  # undo, redo
        "Home", "shift+Right", "shift+Right", "type:X",
        "ctrl+End", "type:Z", "ctrl+Home",
        "Down", "Tab", "type:T", "shift+Tab", "type:S",    # table cells
        "Up", "End", "Tab", "type:U",                      # a tab character
        "Cyrillic_ya", "Cyrillic_be", "ctrl+Cyrillic_ya",  # Ctrl+Я is undo, as Ctrl+Z
        "ctrl+Cyrillic_en", "Cyrillic_ve",                 # and Ctrl+Н redo
        "Return", "type:N", "ctrl+Return", "type:Fin",    # new line, page break
        # Where these leave the cursor depends on the view's height: nothing
        # is typed after them.
        "Page_Up", "Page_Down", "shift+Page_Up",
    ]
    # What LibreOffice Writer 7.4 makes of those keys on the chart (checked
    # against Writer itself by test_writer_makes_the_same_of_the_keys): the
    # title edited at both ends, with a tab and "в" after it (Ctrl+Я undoes
    # the typing "Uяб"; Ctrl+Н does not bring it back), "N" on a line of
    # its own, the page break, "Fin" on page 2 above the table whose first
    # row got "S" and "T", and "Z" at the very end.
    TITLE_LINE = "Xериодическая система химических элементов Д. И. МенделееваEW в"

    def expect_what_writer_makes(self, text):
        pages = text.split("\f")
        lines = [line.strip() for line in pages[0].splitlines() if line.strip()]
        self.assertEqual([words(line) for line in lines], [self.TITLE_LINE, "N"])
        self.assertTrue(words(pages[1]).startswith("Fin 1 S2 T3 4 5 6"), words(pages[1])[:80])
        self.assertEqual(words(text).split()[-1], "Z")

    @classmethod
    def setUpClass(cls):
        subprocess.run(["setxkbmap", "-layout", "us,ru"], check=True)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["setxkbmap", "-layout", "us"], check=True)

    def type_keys(self):
        for step in self.KEYS:
            if step.startswith("type:"):
                d.type_text(step[5:])
            else:
                keys(step)

    def test_program_prints_what_the_keys_made(self):
        queue = d.CaptureQueue("aaa_editing_%d" % os.getpid())
        self.addCleanup(queue.delete)
        program = d.Program(PROGRAM)
        self.addCleanup(program.cleanup)
        program.window()
        program.printers_after_start()
        d.wait_for("the engine's view set-up", lambda: "engine view ready" in program.output(), 90)
        program.wait_focus("toggle button", LIST_NAME)
        keys("shift+Tab")  # round to the document
        program.wait_focus("drawing area", d.CHART_TITLE)
        entered = len(program.focus.events)
        self.type_keys()
        keys("ctrl+Tab")
        program.wait_focus("toggle button", LIST_NAME)
        # Between entering the document and Ctrl+Tab the focus never moved.
        self.assertEqual([d.describe(e) for e in program.focus.events[entered:-1]], [])

        # Printed by keyboard: the first printer, all pages, the button.
        keys("Down", "Tab")
        program.wait_focus("radio button", "все")
        keys("space", "Tab", "Tab", "Tab")
        program.wait_focus("push button", BUTTON)
        keys("space")
        (title, pdf), = queue.wait_jobs(1)
        self.assertEqual(title, d.CHART_TITLE)
        text = d.pdf_text(pdf)
        self.assertEqual(d.pdf_pages(pdf), 2)
        self.expect_what_writer_makes(text)
        self.__class__.printed = words(text)
        self.assertEqual(program.close(), 0)

    def test_writer_makes_the_same_of_the_keys(self):
        ref = writer.Writer(os.path.join(DATA, "..", "..", "resources", "p1.doc"), PROGRAM)
        self.addCleanup(ref.close)
        ref.window()
        d.wait_for("Writer's cursor at the start", ref.cursor_at_start, 30)
        self.type_keys()
        # Writer takes keys from the X queue while the pipe answers from
        # another thread: wait until the last typed text has landed.
        d.wait_for("the last key in Writer", lambda: "Fin" in ref.text(), 30)
        pdf = ref.pdf(os.path.join(ref.work, "writer.pdf"))
        self.assertEqual(d.pdf_pages(pdf), 2)
        text = d.pdf_text(pdf)
        self.expect_what_writer_makes(text)
        printed = getattr(self.__class__, "printed", None)
        if printed is not None:  # the program's own test reports its failure
            self.assertEqual(words(text), printed)


def words(text):
    return " ".join(text.split())


def markers(pdf):
    return [int(m) for m in re.findall(r"QMARK-PAGE-(\d\d)", d.pdf_text(pdf))]


if __name__ == "__main__":
    PROGRAM, DATA = sys.argv[1], sys.argv[2]
    if not (os.environ.get("DISPLAY") and os.environ.get("DBUS_SESSION_BUS_ADDRESS")
            and os.environ.get("QUORVEL_CUPS_DIR")):
        print("needs the test desktop of tools/test.sh; skipped")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
