# SPDX-License-Identifier: GPL-3.0-or-later
"""LibreOffice Writer itself, as the reference for what keys do to the chart:
the same chart opened in Writer under the same X server, the same keys typed
into its window, and its own PDF of the result. Needs python3-uno.
"""
import os
import shutil
import subprocess
import tempfile
import time

import desktop

try:
    import uno
except ImportError:  # reported by Writer.__init__
    uno = None


class Writer:
    def __init__(self, doc, test_app):
        if uno is None:
            raise desktop.Failure("python3-uno is missing")
        self.work = tempfile.mkdtemp(prefix="quorvel-writer.")
        self.doc = os.path.join(self.work, "chart.doc")
        shutil.copy(doc, self.doc)
        profile = os.path.join(self.work, "profile")
        # The engine's settings as the program gives them to its own.
        subprocess.run([test_app, "--seed-profile", profile], check=True)
        self.pipe = "quorvel_writer_%d" % os.getpid()
        # The X11 back end that comes with Writer on Debian (its GTK one is
        # another package).
        env = dict(os.environ, TMPDIR=self.work, SAL_USE_VCLPLUGIN="gen")
        self.log = open(os.path.join(self.work, "log"), "wb")
        self.proc = subprocess.Popen(
            ["soffice", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
             "-env:UserInstallation=" + uno.systemPathToFileUrl(profile),
             "--accept=pipe,name=%s;urp;" % self.pipe, self.doc],
            env=env, stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        self._desktop = None

    def _connect(self):
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        try:
            ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe)
        except Exception:  # not listening yet
            return None
        return ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)

    def document(self):
        if self._desktop is None:
            self._desktop = desktop.wait_for("Writer's automation pipe", self._connect, 90, 0.3)
        return desktop.wait_for("the chart open in Writer", lambda: self._desktop.getCurrentComponent(), 90, 0.3)

    def window(self):
        """Writer's document window, with the input focus."""
        self.document()
        def shown():
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", r"chart\.doc"],
                                 capture_output=True, text=True).stdout.split()
            return out[0] if out else None
        win = desktop.wait_for("Writer's window", shown, 60)
        subprocess.run(["xdotool", "windowactivate", "--sync", win], check=False)
        subprocess.run(["xdotool", "windowfocus", "--sync", win], check=False)
        return win

    def cursor_at_start(self):
        """True once the text cursor is at the start of the first paragraph,
        where the program's view starts too."""
        cursor = self.document().getCurrentController().getViewCursor()
        return cursor.getStart().getText().compareRegionStarts(
            cursor.getStart(), self.document().getText().getStart()) == 0

    def text(self):
        return self.document().getText().getString()

    def pdf(self, path):
        """Writer's own PDF of the document as it now stands."""
        from com.sun.star.beans import PropertyValue  # noqa: E402 (needs uno loaded)
        filt = PropertyValue()
        filt.Name = "FilterName"
        filt.Value = "writer_pdf_Export"
        self.document().storeToURL(uno.systemPathToFileUrl(path), (filt,))
        return path

    def close(self):
        try:
            if self._desktop is not None:
                doc = self._desktop.getCurrentComponent()
                if doc is not None:
                    doc.setModified(False)
                self._desktop.terminate()
        except Exception:
            pass  # the bridge goes down with the process
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, 9)
            self.proc.wait()
        self.log.close()
        shutil.rmtree(self.work, ignore_errors=True)
