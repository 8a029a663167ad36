// SPDX-License-Identifier: GPL-3.0-or-later
// The text cursor and its touch handle (LibreOffice 7.4 and 26.8). The view
// draws the engine's cursor whenever the engine reports it visible, blinking
// also while another control has the keyboard, and under it a touch handle
// for dragging it (a grey dot, share/libreofficekit/handle_image_middle.png)
// whenever nothing is selected (7.4's source: a click on the dot is taken for
// dragging it and never reaches the engine). Writer shows no handle, and its
// cursor only while the document has the keyboard.
// The view draws neither while the engine reports the cursor hidden, so the
// view is told that, always, on the reports' way to it (its registerCallback
// is wrapped as soon as the engine has loaded the document, before the view
// registers), and the cursor is drawn here instead: where the engine put it,
// while the view has the keyboard and the engine shows it, blinking as Writer
// does.
// Measured (bench/README.md, the live chart grabbed every 60 ms for 1.5 s and
// compared with its build-time picture), the same on 7.4 and 26.8: with the
// keyboard in the printer list, 35 pixels differ at the cursor and 37 under
// it without this, none with it; after a click into the chart, 29 and 21
// without, with it the cursor blinking (24, then none) and none under it.
#pragma once

#include <LibreOfficeKit/LibreOfficeKit.h>
#include <gtk/gtk.h>

#include <atomic>

#include "document/alive.h"
#include "document/view_geometry.h"

namespace quorvel {

// Hooks the engine's load of a document (the view's: documentLoadWithOptions,
// on 7.4 and 26.8), so that the reports of what it loads for one of our views
// pass by that view's Caret. Once the engine has started, before any load.
void filterCursorReports(LibreOfficeKit *office);

// One view's text cursor.
struct Caret {
  // Follows the view's cursor, focus and drawing from now on.
  explicit Caret(GtkWidget *view);
  // Once the engine has stopped: no report comes for the view any more.
  ~Caret();
  Caret(const Caret &) = delete;
  Caret &operator=(const Caret &) = delete;

  // Where the engine put it, in the view's pixels; empty while it shows none.
  PixelBox box() const;
  // Follows the view no more: before the view leaves its window.
  void stopWatching();

  PixelBox place() const;
  void redraw() const;

  GtkWidget *view = nullptr;
  // The view's own receiver of the engine's reports.
  LibreOfficeKitCallback viewCallback = nullptr;
  void *viewData = nullptr;
  // As the engine last reported it; the view starts out taking it as shown.
  std::atomic<bool> engineShows{true};
  // Where the engine put it (twips); on the GTK thread.
  int twipX = 0, twipY = 0, twipWidth = 0, twipHeight = 0;
  bool blinkOn = true;
  unsigned blinkSource = 0;
  // For the redraws the engine's reports ask for from its threads.
  Alive alive;
};

}  // namespace quorvel
