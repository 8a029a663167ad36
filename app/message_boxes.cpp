// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/message_boxes.h"

#include <unistd.h>

#include <climits>
#include <string_view>
#include <utility>

#include "app/shell_rules.h"

namespace quorvel {

std::string programTitle() {
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return applicationTitle(n > 0 ? std::string_view(path, static_cast<std::size_t>(n)) : "quorvel");
}

void captionBox(Gtk::Window &box) {
  box.set_title(programTitle());
  box.get_accessible()->set_name(programTitle());
}

int runBox(Gtk::Window &owner, Gtk::Dialog &box) {
  captionBox(box);
  if (!owner.get_visible()) return Gtk::RESPONSE_CANCEL;
  sigc::connection closed = owner.signal_hide().connect([&box] { box.response(Gtk::RESPONSE_CANCEL); });
  const int answer = box.run();
  closed.disconnect();
  return answer;
}

void showMessage(Gtk::Window &owner, const std::string &text, bool error) {
  Gtk::MessageDialog box(owner, text, false, error ? Gtk::MESSAGE_ERROR : Gtk::MESSAGE_OTHER, Gtk::BUTTONS_OK,
                         true);
  runBox(owner, box);
}

bool askOkCancel(Gtk::Window &owner, const std::string &text) {
  Gtk::MessageDialog box(owner, text, false, Gtk::MESSAGE_QUESTION, Gtk::BUTTONS_NONE, true);
  box.add_button("Отмена", Gtk::RESPONSE_CANCEL);
  box.add_button("ОК", Gtk::RESPONSE_OK);
  box.set_default_response(Gtk::RESPONSE_OK);
  return runBox(owner, box) == Gtk::RESPONSE_OK;
}

CloseThroughBoxes::CloseThroughBoxes(Gtk::Window &window, std::function<void()> close)
    : m_window(window), m_close(std::move(close)) {
  gdk_event_handler_set(&CloseThroughBoxes::handle, this, nullptr);
}

CloseThroughBoxes::~CloseThroughBoxes() {
  gdk_event_handler_set([](GdkEvent *event, gpointer) { gtk_main_do_event(event); }, nullptr, nullptr);
}

void CloseThroughBoxes::handle(GdkEvent *event, gpointer data) {
  auto *self = static_cast<CloseThroughBoxes *>(data);
  if (event->type == GDK_DELETE && gtk_grab_get_current() && self->m_window.get_window() &&
      event->any.window == self->m_window.get_window()->gobj())
    self->m_close();
  gtk_main_do_event(event);
}

}  // namespace quorvel
