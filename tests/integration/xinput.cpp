// SPDX-License-Identifier: GPL-3.0-or-later
// Kept apart: the X headers' macros (None, KeyPress, Button1 ...) clash with
// the toolkit's and the window's names.
#include "xinput.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace quorvel::test {

namespace {
Display *display() { return gdk_x11_display_get_xdisplay(gdk_display_get_default()); }
}  // namespace

void xClick(int rootX, int rootY) {
  Display *d = display();
  XTestFakeMotionEvent(d, -1, rootX, rootY, CurrentTime);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
}

void xTypeCapitals(const std::string &letters) {
  Display *d = display();
  const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
  XTestFakeKeyEvent(d, shift, True, CurrentTime);
  for (char c : letters) {
    const KeyCode key = XKeysymToKeycode(d, XStringToKeysym(std::string(1, c).c_str()));
    XTestFakeKeyEvent(d, key, True, CurrentTime);
    XTestFakeKeyEvent(d, key, False, CurrentTime);
  }
  XTestFakeKeyEvent(d, shift, False, CurrentTime);
  XSync(d, False);
}

void xPressKey(const std::string &keysym) {
  Display *d = display();
  const KeyCode key = XKeysymToKeycode(d, XStringToKeysym(keysym.c_str()));
  XTestFakeKeyEvent(d, key, True, CurrentTime);
  XTestFakeKeyEvent(d, key, False, CurrentTime);
  XSync(d, False);
}

}  // namespace quorvel::test
