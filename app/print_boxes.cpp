// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/print_boxes.h"

#include "app/message_boxes.h"

namespace quorvel {

ProgressBox::ProgressBox(Gtk::Window &owner, const std::string &heading, std::function<void()> gone)
    : m_box(owner, heading, false, Gtk::MESSAGE_OTHER, Gtk::BUTTONS_NONE, true),
      m_heading(heading),
      m_gone(std::move(gone)) {
  captionBox(m_box);
  m_box.add_button("Отмена", Gtk::RESPONSE_CANCEL);
  // The button, Escape and the frame's close box all mean "Отмена".
  m_box.signal_response().connect([this](int) { m_cancelled = true; });
  m_box.signal_delete_event().connect(
      [this](GdkEventAny *) {
        m_cancelled = true;
        return true;
      },
      false);
  m_box.show();
}

ProgressBox::~ProgressBox() {
  if (m_gone) m_gone();
}

void ProgressBox::show(const std::string &progress, const std::string &problem) {
  std::string detail = progress;
  if (!problem.empty()) detail += (detail.empty() ? "" : "\n") + problem;
  // Set only when it changes: a screen reader reads each change out.
  if (detail == m_detail) return;
  m_detail = detail;
  m_box.set_secondary_text(detail);
}

std::string ProgressBox::text() const { return m_detail.empty() ? m_heading : m_heading + "\n" + m_detail; }

namespace {

// A labelled field of the credentials box; the label names it for screen
// readers too.
Gtk::Entry &addField(Gtk::Grid &grid, int row, const char *label, Gtk::Entry &entry) {
  auto *text = Gtk::make_managed<Gtk::Label>(label);
  text->set_xalign(0);
  text->set_mnemonic_widget(entry);
  std::string name = label;
  if (!name.empty() && name.back() == ':') name.pop_back();
  entry.get_accessible()->set_name(name);
  entry.set_activates_default(true);
  entry.set_hexpand(true);
  grid.attach(*text, 0, row);
  grid.attach(entry, 1, row);
  return entry;
}

}  // namespace

std::optional<Credentials> askForCredentials(Gtk::Window &owner, const CredentialRequest &request) {
  Gtk::Dialog box("", owner, true);
  box.set_resizable(false);
  Gtk::Box &area = *box.get_content_area();
  area.set_spacing(8);
  area.set_border_width(8);
  Gtk::Label prompt(credentialsPrompt(request.printer));
  prompt.set_line_wrap(true);
  prompt.set_max_width_chars(50);
  prompt.set_xalign(0);
  area.pack_start(prompt, Gtk::PACK_SHRINK);
  Gtk::Label refused(kCredentialsRefused);
  refused.set_xalign(0);
  if (request.refused) area.pack_start(refused, Gtk::PACK_SHRINK);

  Gtk::Grid grid;
  grid.set_row_spacing(6);
  grid.set_column_spacing(8);
  Gtk::Entry domain, user, password;
  int row = 0;
  if (request.domain) addField(grid, row++, "Домен:", domain);
  addField(grid, row++, "Имя пользователя:", user).set_text(request.user);
  addField(grid, row++, "Пароль:", password).set_visibility(false);
  area.pack_start(grid, Gtk::PACK_SHRINK);

  // Tab goes from the fields to "ОК", then "Отмена"; Enter in a field is "ОК".
  box.add_button("ОК", Gtk::RESPONSE_OK);
  box.add_button("Отмена", Gtk::RESPONSE_CANCEL);
  box.set_default_response(Gtk::RESPONSE_OK);
  box.show_all_children();
  // The first field still to fill in has the keyboard.
  Gtk::Entry &first = request.domain ? domain : request.user.empty() ? user : password;
  first.grab_focus();

  const int answer = runBox(owner, box);
  std::optional<Credentials> given;
  if (answer == Gtk::RESPONSE_OK)
    given = Credentials{domain.get_text(), user.get_text(), Secret(password.get_text())};
  // Nothing of the password stays in the field's own buffer.
  password.set_text("");
  return given;
}

FormPrintDialogs::FormPrintDialogs(Gtk::Window &owner, Confirm confirm, AskCredentials ask)
    : m_owner(owner), m_confirm(std::move(confirm)), m_ask(std::move(ask)) {
  if (!m_ask)
    m_ask = [this](const CredentialRequest &request) { return askForCredentials(m_owner, request); };
}

std::unique_ptr<PrintProgress> FormPrintDialogs::progress(const std::string &heading) {
  auto box = std::make_unique<ProgressBox>(m_owner, heading, [this] { m_current = nullptr; });
  m_current = box.get();
  return box;
}

}  // namespace quorvel
