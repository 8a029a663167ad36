// SPDX-License-Identifier: GPL-3.0-or-later
// The form's look at this screen's resolution: the layout's font, measured
// the way the layout means it, every control and the client area scaled by
// that text height over the stored one, and the window's icon.
#pragma once

#include <gtkmm.h>

#include <filesystem>

#include "app/shell_rules.h"

namespace quorvel {

struct FormScale {
  int textHeight = kStoredTextHeight;
  // The font file the text height was measured from (empty: Pango's figures).
  std::filesystem::path fontFile;
};

// Styles the form's controls, found in `builder` by their layout names, and
// gives `window` its default size.
FormScale styleAndScale(Gtk::Window &window, const Glib::RefPtr<Gtk::Builder> &builder);

// The icon drawn from the SVG at build time, in the sizes the desktop uses.
void setWindowIcon(Gtk::Window &window);

}  // namespace quorvel
