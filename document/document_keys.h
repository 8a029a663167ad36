// SPDX-License-Identifier: GPL-3.0-or-later
// What a key typed in the document area does, and how the engine is told
// of it. Key values are the X key symbols the toolkit reports.
#pragma once

#include <cstdint>
#include <optional>

namespace quorvel {

struct TypedKey {
  std::uint32_t keyval = 0;
  char32_t character = 0;  // what the key types; 0 for none
  // The same key in a Latin layout, when the active layout is another
  // (Cyrillic): shortcuts go by the Latin letter, as the word processor's own.
  std::uint32_t latinKeyval = 0;
  bool shift = false, ctrl = false, alt = false;
};

enum class KeyRoute {
  Engine,         // the document takes it
  Blocked,        // nobody acts on it: the engine's save, open, print and close
  FocusNext,      // leaves the document forward (Ctrl+Tab)
  FocusPrevious,  // leaves the document backward (Ctrl+Shift+Tab)
};
KeyRoute routeDocumentKey(const TypedKey &key);

// A key event as the engine takes it: the character typed and the key code
// with its modifier bits.
struct EngineKey {
  int character = 0;
  int code = 0;
  bool operator==(const EngineKey &) const = default;
};
// Nothing for keys the engine has no use for (a modifier key alone).
std::optional<EngineKey> engineKeyFor(const TypedKey &key);

}  // namespace quorvel
