// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/container_stream.h"

#include <algorithm>
#include <array>
#include <limits>

#include "automation/automation.h"

namespace quorvel {

namespace {

void putU32(std::vector<std::uint8_t> &out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t getU32(std::span<const std::uint8_t> s, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(s[at + i]) << (8 * i);
  return v;
}

constexpr std::uint32_t kReadFault = 0x8003001Eu;

}  // namespace

std::vector<std::uint8_t> buildContainerStream(std::span<const std::uint8_t> data) {
  if (data.size() > std::numeric_limits<std::uint32_t>::max())
    throw OleSysError(0x8007000Eu);  // the size field cannot hold it
  std::vector<std::uint8_t> out;
  out.reserve(kContainerHeaderSize + data.size());
  putU32(out, kContainerSignature);
  putU32(out, kDrawAspectContent);
  putU32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

ContainerContents readContainerStream(std::span<const std::uint8_t> stream) {
  if (stream.size() < kContainerHeaderSize || getU32(stream, 0) != kContainerSignature)
    throw OleError("Invalid stream format");
  const std::uint32_t size = getU32(stream, 8);
  if (size > stream.size() - kContainerHeaderSize) throw OleSysError(kReadFault);
  return {getU32(stream, 4), stream.subspan(kContainerHeaderSize, size)};
}

bool hasCompoundFileSignature(std::span<const std::uint8_t> data) {
  static constexpr std::array<std::uint8_t, 8> sig{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  return data.size() >= sig.size() && std::equal(sig.begin(), sig.end(), data.begin());
}

}  // namespace quorvel
