// SPDX-License-Identifier: GPL-3.0-or-later
// A control of the form's layout by its name; null when the layout has none.
#pragma once

#include <gtkmm/builder.h>

namespace quorvel {

template <class W>
W *builderWidget(const Glib::RefPtr<Gtk::Builder> &builder, const char *name) {
  W *w = nullptr;
  builder->get_widget(name, w);
  return w;
}

}  // namespace quorvel
