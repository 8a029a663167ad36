// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/document_keys.h"

#include <string>

#include "document/shortcuts.h"

namespace quorvel {

namespace {

// X key symbols.
enum : std::uint32_t {
  XK_space = 0x20,
  XK_0 = 0x30,
  XK_9 = 0x39,
  XK_A = 0x41,
  XK_Z = 0x5a,
  XK_a = 0x61,
  XK_z = 0x7a,
  XK_ISO_Left_Tab = 0xfe20,
  XK_BackSpace = 0xff08,
  XK_Tab = 0xff09,
  XK_Return = 0xff0d,
  XK_Escape = 0xff1b,
  XK_Home = 0xff50,
  XK_Left = 0xff51,
  XK_Up = 0xff52,
  XK_Right = 0xff53,
  XK_Down = 0xff54,
  XK_Page_Up = 0xff55,
  XK_Page_Down = 0xff56,
  XK_End = 0xff57,
  XK_Insert = 0xff63,
  XK_KP_Space = 0xff80,
  XK_KP_Tab = 0xff89,
  XK_KP_Enter = 0xff8d,
  XK_KP_Home = 0xff95,
  XK_KP_Left = 0xff96,
  XK_KP_Up = 0xff97,
  XK_KP_Right = 0xff98,
  XK_KP_Down = 0xff99,
  XK_KP_Page_Up = 0xff9a,
  XK_KP_Page_Down = 0xff9b,
  XK_KP_End = 0xff9c,
  XK_KP_Insert = 0xff9e,
  XK_KP_Delete = 0xff9f,
  XK_KP_0 = 0xffb0,
  XK_KP_9 = 0xffb9,
  XK_F1 = 0xffbe,
  XK_F26 = 0xffd7,
  XK_Delete = 0xffff,
};

// The engine's key codes and modifier bits.
enum : int {
  kNum0 = 256,
  kLetterA = 512,
  kF1 = 768,
  kDown = 1024,
  kUp = 1025,
  kLeft = 1026,
  kRight = 1027,
  kHome = 1028,
  kEnd = 1029,
  kPageUp = 1030,
  kPageDown = 1031,
  kReturn = 1280,
  kEscape = 1281,
  kTab = 1282,
  kBackspace = 1283,
  kSpace = 1284,
  kInsert = 1285,
  kDelete = 1286,
  kShift = 0x1000,
  kCtrl = 0x2000,
  kAlt = 0x4000,
};

bool isTab(std::uint32_t k) { return k == XK_Tab || k == XK_ISO_Left_Tab || k == XK_KP_Tab; }

int namedKeyCode(std::uint32_t k) {
  switch (k) {
    case XK_BackSpace: return kBackspace;
    case XK_Tab:
    case XK_ISO_Left_Tab:  // Shift+Tab
    case XK_KP_Tab: return kTab;
    case XK_Return:
    case XK_KP_Enter: return kReturn;
    case XK_Escape: return kEscape;
    case XK_Home:
    case XK_KP_Home: return kHome;
    case XK_End:
    case XK_KP_End: return kEnd;
    case XK_Left:
    case XK_KP_Left: return kLeft;
    case XK_Right:
    case XK_KP_Right: return kRight;
    case XK_Up:
    case XK_KP_Up: return kUp;
    case XK_Down:
    case XK_KP_Down: return kDown;
    case XK_Page_Up:
    case XK_KP_Page_Up: return kPageUp;
    case XK_Page_Down:
    case XK_KP_Page_Down: return kPageDown;
    case XK_Insert:
    case XK_KP_Insert: return kInsert;
    case XK_Delete:
    case XK_KP_Delete: return kDelete;
    case XK_space:
    case XK_KP_Space: return kSpace;
    default: break;
  }
  if (k >= XK_F1 && k <= XK_F26) return kF1 + static_cast<int>(k - XK_F1);
  return 0;
}

// The Latin letter (0 to 25) or digit (26 to 35) of a key symbol; -1 for others.
int latinIndex(std::uint32_t k) {
  if (k >= XK_a && k <= XK_z) return static_cast<int>(k - XK_a);
  if (k >= XK_A && k <= XK_Z) return static_cast<int>(k - XK_A);
  if (k >= XK_0 && k <= XK_9) return 26 + static_cast<int>(k - XK_0);
  if (k >= XK_KP_0 && k <= XK_KP_9) return 26 + static_cast<int>(k - XK_KP_0);
  return -1;
}

// The key's Latin letter or digit, looking through to the Latin layout.
int latinOf(const TypedKey &key) {
  const int own = latinIndex(key.keyval);
  return own >= 0 ? own : latinIndex(key.latinKeyval);
}

}  // namespace

KeyRoute routeDocumentKey(const TypedKey &key) {
  // Tab is the word processor's own (a tab, or the next cell); Ctrl+Tab is
  // how the keyboard leaves a widget that keeps Tab for itself.
  if (isTab(key.keyval) && key.ctrl && !key.alt)
    return key.shift || key.keyval == XK_ISO_Left_Tab ? KeyRoute::FocusPrevious : KeyRoute::FocusNext;

  std::string name;
  if (key.keyval >= XK_F1 && key.keyval < XK_F1 + 12)
    name = "F" + std::to_string(key.keyval - XK_F1 + 1);
  else if (const int latin = latinOf(key); latin >= 0 && latin < 26)
    name = std::string(1, static_cast<char>('a' + latin));
  return isBlockedShortcut(name, key.ctrl, key.shift, key.alt) ? KeyRoute::Blocked : KeyRoute::Engine;
}

std::optional<EngineKey> engineKeyFor(const TypedKey &key) {
  EngineKey out;
  out.code = namedKeyCode(key.keyval);
  if (out.code == kSpace) out.character = ' ';
  if (out.code == 0) {
    out.character = static_cast<int>(key.character);
    // Letters and digits carry their key only with a modifier, which is
    // what makes Ctrl+Z undo, also on a Cyrillic layout.
    if (key.shift || key.ctrl || key.alt) {
      const int latin = latinOf(key);
      if (latin >= 0) out.code = latin < 26 ? kLetterA + latin : kNum0 + (latin - 26);
    }
  }
  if (out.code == 0 && out.character == 0) return std::nullopt;
  if (key.shift) out.code |= kShift;
  if (key.ctrl) out.code |= kCtrl;
  if (key.alt) out.code |= kAlt;
  return out;
}

}  // namespace quorvel
