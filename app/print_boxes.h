// SPDX-License-Identifier: GPL-3.0-or-later
// The boxes a print-out shows over the window: how a job is getting on at
// the printer, with "Отмена", and the question for a user name and password.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "printing/print_out.h"

namespace quorvel {

// A job's progress: its heading, then how far it has got and what stops it.
// Modal, but it runs no loop of its own: the print-out's wait goes on
// handling the window's events while it is up.
class ProgressBox : public PrintProgress {
public:
  // `gone` is called as the box goes.
  ProgressBox(Gtk::Window &owner, const std::string &heading, std::function<void()> gone = {});
  ~ProgressBox() override;
  ProgressBox(const ProgressBox &) = delete;
  ProgressBox &operator=(const ProgressBox &) = delete;
  void show(const std::string &progress, const std::string &problem) override;
  bool cancelled() const override { return m_cancelled; }

  Gtk::MessageDialog &dialog() { return m_box; }
  // The heading and the lines under it, as a screen reader reads them.
  std::string text() const;

private:
  Gtk::MessageDialog m_box;
  std::string m_heading, m_detail;
  bool m_cancelled = false;
  std::function<void()> m_gone;
};

// Asks for what a printer wants: "Домен:" (only when it asks for one),
// "Имя пользователя:", "Пароль:", then "ОК" and "Отмена".
std::optional<Credentials> askForCredentials(Gtk::Window &owner, const CredentialRequest &request);

// What the window shows a print-out with. Tests may answer the question and
// the credentials themselves; the progress box is always the real one.
class FormPrintDialogs : public PrintDialogs {
public:
  using Confirm = std::function<bool(const std::string &)>;
  using AskCredentials = std::function<std::optional<Credentials>(const CredentialRequest &)>;
  FormPrintDialogs(Gtk::Window &owner, Confirm confirm, AskCredentials ask);

  bool confirm(const std::string &prompt) override { return m_confirm(prompt); }
  std::unique_ptr<PrintProgress> progress(const std::string &heading) override;
  std::optional<Credentials> askCredentials(const CredentialRequest &request) override {
    return m_ask(request);
  }

  // The progress box up now, if any.
  ProgressBox *current() const { return m_current; }

private:
  Gtk::Window &m_owner;
  Confirm m_confirm;
  AskCredentials m_ask;
  ProgressBox *m_current = nullptr;
};

}  // namespace quorvel
