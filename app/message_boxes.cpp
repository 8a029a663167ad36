// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/message_boxes.h"

#include <unistd.h>

#include <climits>
#include <string_view>

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

}  // namespace quorvel
