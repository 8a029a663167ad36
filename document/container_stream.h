// SPDX-License-Identifier: GPL-3.0-or-later
// The byte stream a document container loads from: a 12-byte header
// ("BDOC", draw aspect, data size, all little-endian 32-bit) and the data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvel {

inline constexpr std::uint32_t kContainerSignature = 0x434F4442u;  // "BDOC"
inline constexpr std::uint32_t kDrawAspectContent = 1;
inline constexpr std::size_t kContainerHeaderSize = 12;

std::vector<std::uint8_t> buildContainerStream(std::span<const std::uint8_t> data);

struct ContainerContents {
  std::uint32_t drawAspect;
  std::span<const std::uint8_t> data;  // points into the stream
};

// Throws OleError "Invalid stream format" on a bad signature or a stream too
// short for its header, and a read-fault error when the data is cut short.
ContainerContents readContainerStream(std::span<const std::uint8_t> stream);

// The signature every compound file (.doc) starts with.
bool hasCompoundFileSignature(std::span<const std::uint8_t> data);

}  // namespace quorvel
