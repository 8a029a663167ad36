// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader calls the strip's controls, where GTK's own names and
// relations do not say it.
#pragma once

#include <gtkmm.h>

namespace quorvel {

// `label` names `labelled`, both ways.
void labelFor(Gtk::Widget &labelled, Gtk::Widget &label);

// The printer list bears Label1's text, also on the inner button that takes
// its keyboard focus; the page list bears the name of its page item.
void nameStripControls(const Glib::RefPtr<Gtk::Builder> &builder);

}  // namespace quorvel
