// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/compound_file.h"

#include <vector>

#include "document/container_stream.h"

namespace quorvel {

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kLastRegularSector = 0xFFFFFFFAu;
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderFatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;

std::uint16_t u16(std::span<const std::uint8_t> s, std::size_t at) {
  return static_cast<std::uint16_t>(s[at] | s[at + 1] << 8);
}

std::uint32_t u32(std::span<const std::uint8_t> s, std::size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<std::uint32_t>(s[at + 3]) << 24;
}

class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> data) : m_data(data) {}

  bool read() {
    if (!hasCompoundFileSignature(m_data) || m_data.size() < kHeaderSize) return false;
    const std::uint16_t major = u16(m_data, 26);
    const std::uint16_t shift = u16(m_data, 30);
    if (u16(m_data, 28) != 0xFFFE || u16(m_data, 32) != 6) return false;  // byte order, mini sectors of 64
    if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) return false;
    m_sectorSize = std::size_t{1} << shift;
    // Sector n starts right after the header's own sector.
    if (m_data.size() < m_sectorSize) return false;
    m_sectors = (m_data.size() - m_sectorSize + m_sectorSize - 1) / m_sectorSize;
    return readFat() && readDirectory();
  }

private:
  std::span<const std::uint8_t> sector(std::uint32_t n) const {
    const std::size_t start = (std::size_t{n} + 1) * m_sectorSize;
    return m_data.subspan(start, std::min(m_sectorSize, m_data.size() - start));
  }
  bool inFile(std::uint32_t n) const { return n <= kLastRegularSector && n < m_sectors; }

  bool readFat() {
    const std::uint32_t fatSectors = u32(m_data, 44);
    if (fatSectors == 0 || fatSectors > m_sectors) return false;
    std::vector<std::uint32_t> where;
    for (std::size_t i = 0; i < kHeaderFatEntries && where.size() < fatSectors; ++i)
      where.push_back(u32(m_data, 76 + 4 * i));
    // Further locations in a chain of their own sectors, each ending in the next one's number.
    std::uint32_t next = u32(m_data, 68);
    for (std::size_t hops = 0; where.size() < fatSectors; ++hops) {
      if (!inFile(next) || hops > m_sectors) return false;
      const auto s = sector(next);
      if (s.size() < m_sectorSize) return false;
      for (std::size_t i = 0; i + 4 < m_sectorSize && where.size() < fatSectors; i += 4) where.push_back(u32(s, i));
      next = u32(s, m_sectorSize - 4);
    }
    for (std::uint32_t n : where) {
      if (!inFile(n)) return false;
      const auto s = sector(n);
      if (s.size() < m_sectorSize) return false;
      for (std::size_t i = 0; i < m_sectorSize; i += 4) m_fat.push_back(u32(s, i));
    }
    return true;
  }

  // The sectors of the chain starting at `first`, or empty when it leaves
  // the file, loops, or is longer than `limit`.
  std::vector<std::uint32_t> chain(std::uint32_t first, std::size_t limit) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t n = first; n != kEndOfChain; n = m_fat[n]) {
      if (!inFile(n) || n >= m_fat.size() || out.size() >= limit) return {};
      out.push_back(n);
    }
    return out;
  }

  bool readDirectory() {
    const auto sectors = chain(u32(m_data, 48), m_sectors);
    if (sectors.empty()) return false;
    std::vector<std::uint8_t> dir;
    for (std::uint32_t n : sectors) {
      const auto s = sector(n);
      dir.insert(dir.end(), s.begin(), s.end());
    }
    const std::uint32_t miniCutoff = u32(m_data, 56);
    for (std::size_t at = 0; at + kDirEntrySize <= dir.size(); at += kDirEntrySize) {
      const std::span<const std::uint8_t> entry(dir.data() + at, kDirEntrySize);
      const std::uint16_t nameBytes = u16(entry, 64);
      const std::uint8_t type = entry[66];
      if (at == 0 && type != 5) return false;  // the first entry is the root storage
      if (type == 0) continue;                 // unused
      if (type != 1 && type != 2 && type != 5) return false;
      if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return false;
      // Streams at or above the cut-off, and the root's mini stream, live in
      // sectors of their own: their chains must hold them.
      const std::uint64_t size = u32(entry, 120);
      if ((type == 2 && size >= miniCutoff) || (type == 5 && size > 0)) {
        const std::size_t needed = (size + m_sectorSize - 1) / m_sectorSize;
        if (chain(u32(entry, 116), m_sectors).size() < needed) return false;
      }
    }
    return true;
  }

  std::span<const std::uint8_t> m_data;
  std::size_t m_sectorSize = 0;
  std::size_t m_sectors = 0;
  std::vector<std::uint32_t> m_fat;
};

}  // namespace

bool isReadableCompoundFile(std::span<const std::uint8_t> data) { return Reader(data).read(); }

}  // namespace quorvel
