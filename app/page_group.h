// SPDX-License-Identifier: GPL-3.0-or-later
// The page items of the strip as one group: none chosen at the start, one
// tab stop with the arrows moving within it, named for screen readers by
// its frame's title.
#pragma once

#include <gtkmm.h>

#include <array>

namespace quorvel {

class PageGroup {
public:
  // The group and its items, found in `builder` by their layout names.
  explicit PageGroup(const Glib::RefPtr<Gtk::Builder> &builder);
  ~PageGroup() = default;
  PageGroup(const PageGroup &) = delete;
  PageGroup &operator=(const PageGroup &) = delete;

  // The chosen item, -1 for none.
  int index() const;
  // Chooses an item; any other index chooses none.
  void setIndex(int index);
  Gtk::RadioButton &item(std::size_t i) { return *m_items.at(i); }
  Gtk::Widget &group() { return *m_group; }

private:
  Gtk::Widget *m_group = nullptr;
  std::array<Gtk::RadioButton *, 4> m_items{};
  // GTK radio groups always have an item chosen: while no page item is, this
  // one, never shown, holds the choice for a moment and leaves the group.
  Gtk::RadioButton m_none;
};

}  // namespace quorvel
