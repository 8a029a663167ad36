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

// The resources of this executable: the chart as "p1".
ResourceTable builtInResources();

}  // namespace quorvel
