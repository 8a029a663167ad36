// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the application shell that need no toolkit: the title, the text
// of the error box, layout scaling and window placement.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace quorvel {

// The executable's file name without directory and from its first dot on,
// every letter after the first in lower case.
std::string applicationTitle(std::string_view executablePath);

// A full stop is added when the text's last character comes after '.'.
std::string withFullStop(std::string text);

// The text of the innermost nested exception, or of the outer one when the
// innermost text is empty; then the full-stop rule.
std::string errorBoxText(const std::exception_ptr &error);

// Multiplies and divides with rounding to nearest, halves away from zero.
int mulDiv(int value, int numerator, int denominator);

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect &) const = default;
};
Rect scaleRect(const Rect &r, int numerator, int denominator);

// The form's declared figures: 96 dpi, Tahoma 11 px whose text height is 13.
constexpr int kStoredTextHeight = 13;
constexpr int kFontHeight = 11;
constexpr int kClientWidth = 726;
constexpr int kClientHeight = 520;

// The font's pixel height: 11 px at 96 dpi, scaled by the display's dpi.
int scaledFontHeight(int fontHeight, int dpi);

// The client area once the layout is scaled by textHeight / 13.
struct ClientSize {
  int width = 0, height = 0;
  bool operator==(const ClientSize &) const = default;
};
ClientSize scaledClientSize(int textHeight);

// Left and top of the window frame: centred in the work area's size, measured
// from the screen's origin, never above or left of the desktop's edge.
struct Point {
  int x = 0, y = 0;
  bool operator==(const Point &) const = default;
};
Point centredPosition(int workWidth, int workHeight, int frameWidth, int frameHeight,
                      Point desktopOrigin = {});

}  // namespace quorvel
