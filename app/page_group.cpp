// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/page_group.h"

#include <string>

#include "app/control_names.h"

namespace quorvel {

PageGroup::PageGroup(const Glib::RefPtr<Gtk::Builder> &builder) {
  builder->get_widget("RadioGroup1", m_group);
  for (std::size_t i = 0; i < m_items.size(); ++i)
    builder->get_widget("RadioGroup1Item" + std::to_string(i), m_items[i]);
  // No page item is chosen at the start.
  setIndex(-1);
  // The group is one tab stop: the chosen item, or the first while none is
  // chosen (GTK would stop at each item then). Arrows move within it.
  for (std::size_t i = 1; i < m_items.size(); ++i) {
    Gtk::RadioButton *item = m_items[i];
    item->signal_focus().connect(
        [this, item](Gtk::DirectionType) {
          if (index() < 0 && !item->has_focus()) g_signal_stop_emission_by_name(item->gobj(), "focus");
          return false;
        },
        false);
  }
  // The items form one group named by its frame's title; the frame itself,
  // drawn behind them, is not a second group of that name.
  Gtk::Frame *frame = nullptr;
  builder->get_widget("RadioGroup1Frame", frame);
  m_group->get_accessible()->set_name(frame->get_label());
  labelFor(*m_group, *frame->get_label_widget());
  frame->get_accessible()->set_name("");
}

int PageGroup::index() const {
  for (std::size_t i = 0; i < m_items.size(); ++i)
    if (m_items[i]->get_active()) return static_cast<int>(i);
  return -1;
}

void PageGroup::setIndex(int index) {
  if (index >= 0 && index < static_cast<int>(m_items.size())) {
    m_items[static_cast<std::size_t>(index)]->set_active(true);
  } else {
    m_none.join_group(*m_items[0]);
    m_none.set_active(true);
    m_none.reset_group();
  }
}

}  // namespace quorvel
