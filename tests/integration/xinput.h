// SPDX-License-Identifier: GPL-3.0-or-later
// Real pointer and keyboard input through the X server (XTest), as a mouse
// and keyboard send it: the toolkit sees it exactly like the user's.
#pragma once

#include <string>

namespace quorvel::test {

// A left click at this point of the screen.
void xClick(int rootX, int rootY);
// Types capital Latin letters (with Shift held).
void xTypeCapitals(const std::string &letters);
// Presses and releases one key, named as X names it ("Tab").
void xPressKey(const std::string &keysym);

}  // namespace quorvel::test
