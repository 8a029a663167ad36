// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/control_names.h"

#include <string>

namespace quorvel {

namespace {

// The button inside a drop-down list, which takes its keyboard focus.
Gtk::Widget *innerButton(Gtk::Widget &w) {
  if (dynamic_cast<Gtk::ToggleButton *>(&w)) return &w;
  Gtk::Widget *found = nullptr;
  if (auto *container = dynamic_cast<Gtk::Container *>(&w))
    container->forall([&found](Gtk::Widget &child) {
      if (!found) found = innerButton(child);
    });
  return found;
}

}  // namespace

void labelFor(Gtk::Widget &labelled, Gtk::Widget &label) {
  AtkObject *a = labelled.get_accessible()->gobj(), *b = label.get_accessible()->gobj();
  atk_object_add_relationship(a, ATK_RELATION_LABELLED_BY, b);
  atk_object_add_relationship(b, ATK_RELATION_LABEL_FOR, a);
}

void nameStripControls(const Glib::RefPtr<Gtk::Builder> &builder) {
  Gtk::Label *label1 = nullptr;
  Gtk::ComboBoxText *list = nullptr;
  Gtk::Entry *pageList = nullptr;
  Gtk::RadioButton *pageListItem = nullptr;
  builder->get_widget("Label1", label1);
  builder->get_widget("ComboBox1", list);
  builder->get_widget("Edit1", pageList);
  builder->get_widget("RadioGroup1Item1", pageListItem);
  // Label1 names the printer list (it is the list's mnemonic widget in the
  // layout), without its trailing blank.
  std::string listName = label1->get_text();
  listName.erase(listName.find_last_not_of(' ') + 1);
  list->get_accessible()->set_name(listName);
  if (Gtk::Widget *button = innerButton(*list)) {
    button->get_accessible()->set_name(listName);
    // One way only: Label1 stays the label of the list itself.
    atk_object_add_relationship(button->get_accessible()->gobj(), ATK_RELATION_LABELLED_BY,
                                label1->get_accessible()->gobj());
  }
  pageList->get_accessible()->set_name(pageListItem->get_label());
  labelFor(*pageList, *pageListItem);
}

}  // namespace quorvel
