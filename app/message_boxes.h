// SPDX-License-Identifier: GPL-3.0-or-later
// Boxes over the window: captioned with the application's title, as a
// screen reader announces them, and answered "cancel" when the window goes.
#pragma once

#include <gtkmm.h>

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

}  // namespace quorvel
