// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/shortcuts.h"

namespace quorvel {

bool isBlockedShortcut(std::string_view key, bool ctrl, bool shift, bool alt) {
  if (key == "F4") return ctrl || alt;  // close the document window, or the frame
  if (!ctrl || alt || key.size() != 1) return false;
  switch (key[0]) {
    case 's':  // save; with Shift, save as
    case 'o':  // open; with Shift, print preview
    case 'n':  // new document; with Shift, templates
      return true;
    case 'p':  // print; Ctrl+Shift+P is superscript and stays
    case 'w':  // close the document
    case 'q':  // quit the engine
      return !shift;
    default: return false;
  }
}

}  // namespace quorvel
