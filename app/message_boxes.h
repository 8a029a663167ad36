// SPDX-License-Identifier: GPL-3.0-or-later
// Boxes over the window: captioned with the application's title, as a
// screen reader announces them, and answered "cancel" when the window goes.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>

namespace quorvel {

// The application's title: the program file's name, as the user started it.
std::string programTitle();

// Captions `box` with the application's title; GTK would name a message
// box after its kind ("Error"), in English.
void captionBox(Gtk::Window &box);

// Runs `box` modal over `owner` until it is answered. Closing `owner`
// meanwhile answers it with "cancel", so that the program can end instead
// of waiting on a box for a window that is gone.
int runBox(Gtk::Window &owner, Gtk::Dialog &box);

// A box with one line of text and "OK": with the error icon, or none.
void showMessage(Gtk::Window &owner, const std::string &text, bool error);
// The question with «ОК» (the default) and «Отмена», whatever the locale;
// true for «ОК».
bool askOkCancel(Gtk::Window &owner, const std::string &text);

// GTK drops the window manager's request to close a window while a modal
// box of the program is up (the box holds the grab): the user's close box,
// or a desktop closing it, would then do nothing until the box is answered.
// For as long as this lives, such a request for `window` calls `close`
// instead, and the boxes see the window go and give way.
class CloseThroughBoxes {
public:
  CloseThroughBoxes(Gtk::Window &window, std::function<void()> close);
  ~CloseThroughBoxes();
  CloseThroughBoxes(const CloseThroughBoxes &) = delete;
  CloseThroughBoxes &operator=(const CloseThroughBoxes &) = delete;

private:
  static void handle(GdkEvent *event, gpointer data);
  Gtk::Window &m_window;
  std::function<void()> m_close;
};

}  // namespace quorvel
