// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/resources.h"

#include <algorithm>

namespace quorvel {

std::optional<std::span<const std::uint8_t>> findResource(ResourceTable table, std::string_view name) {
  auto same = [name](const Resource &r) {
    return std::equal(r.name.begin(), r.name.end(), name.begin(), name.end(), [](char a, char b) {
      auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
      return low(a) == low(b);
    });
  };
  auto it = std::find_if(table.begin(), table.end(), same);
  if (it == table.end()) return std::nullopt;
  return it->bytes;
}

}  // namespace quorvel
