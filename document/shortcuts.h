// SPDX-License-Identifier: GPL-3.0-or-later
// Keys the embedded engine must not act on.
#pragma once

#include <string_view>

namespace quorvel {

// Save, open, print, new document, close and quit shortcuts, which the
// embedded engine would otherwise act on. `key` is the lower-case letter or
// the function key number as "F4".
bool isBlockedShortcut(std::string_view key, bool ctrl, bool shift, bool alt);

}  // namespace quorvel
