// SPDX-License-Identifier: GPL-3.0-or-later
// Named byte arrays linked into the program.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorvel {

struct Resource {
  std::string_view name;
  std::span<const std::uint8_t> bytes;
};
using ResourceTable = std::span<const Resource>;

// Names match without regard to case.
std::optional<std::span<const std::uint8_t>> findResource(ResourceTable table, std::string_view name);

// The name under which a document's picture is carried beside it ("p1").
inline constexpr std::string_view kPresentationResource = "p1.presentation";

// The resources of this executable: the chart as "p1", its picture as
// kPresentationResource.
ResourceTable builtInResources();

}  // namespace quorvel
