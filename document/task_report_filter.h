// SPDX-License-Identifier: GPL-3.0-or-later
// The widget's tasks reported (GLib 2.84, Debian 13, with LibreOffice 26.8;
// GLib 2.74 on Debian 12 says nothing). The view hands each request (a key, a
// click, a zoom, a tile to paint) to its worker thread in a GTask that only
// carries it: the worker carries the request out and drops the task without
// a result, as nobody waits for one (only the open and painted tiles are
// answered; a tile found painted already is skipped). GLib 2.84 reports each
// such task as critical when it is freed ("GLib-GIO-CRITICAL ... GTask ...
// finalized without ever returning"): 72 lines in one start and close without
// input, more at every key. The process's log writer drops exactly these
// reports: domain GLib-GIO, that message, and a source object that is one of
// our views, alive (the task holds it). Everything else goes on to GLib's
// own writer.
#pragma once

#include <gtk/gtk.h>

namespace quorvel {

// Puts the filter in as the process's log writer (the first time) and drops
// the reports whose source is `view`, until the view is freed. Before the
// view's worker runs.
void dropTaskReportsOf(GtkWidget *view);

}  // namespace quorvel
