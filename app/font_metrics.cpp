// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/font_metrics.h"

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/shell_rules.h"

namespace quorvel {

namespace {

constexpr std::uint32_t tag(const char (&t)[5]) {
  return std::uint32_t(std::uint8_t(t[0])) << 24 | std::uint32_t(std::uint8_t(t[1])) << 16 |
         std::uint32_t(std::uint8_t(t[2])) << 8 | std::uint32_t(std::uint8_t(t[3]));
}

// Big-endian reads that refuse to step past the end of the bytes.
class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  std::size_t size() const { return m_bytes.size(); }

  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }
  std::uint16_t u16(std::uint64_t offset) const {
    need(offset, 2);
    return static_cast<std::uint16_t>(m_bytes[offset] << 8 | m_bytes[offset + 1]);
  }
  std::uint32_t u32(std::uint64_t offset) const {
    need(offset, 4);
    return std::uint32_t(m_bytes[offset]) << 24 | std::uint32_t(m_bytes[offset + 1]) << 16 |
           std::uint32_t(m_bytes[offset + 2]) << 8 | std::uint32_t(m_bytes[offset + 3]);
  }

private:
  void need(std::uint64_t offset, std::uint64_t length) const {
    if (!has(offset, length)) throw FontFileError("font file cut short");
  }
  std::span<const std::uint8_t> m_bytes;
};

struct Table {
  std::uint64_t offset = 0, length = 0;
};

// Finds a table in the directory of the font starting at `base`; the table's
// whole extent must lie inside the file.
std::optional<Table> findTable(const Reader &r, std::uint64_t base, std::uint32_t wanted) {
  const std::uint16_t count = r.u16(base + 4);
  if (!r.has(base + 12, std::uint64_t(count) * 16)) throw FontFileError("font table directory cut short");
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint64_t record = base + 12 + std::uint64_t(i) * 16;
    if (r.u32(record) != wanted) continue;
    const Table t{r.u32(record + 8), r.u32(record + 12)};
    if (!r.has(t.offset, t.length)) throw FontFileError("font table lies outside the file");
    return t;
  }
  return std::nullopt;
}

}  // namespace

WinMetrics readWinMetrics(std::span<const std::uint8_t> file, unsigned face) {
  const Reader r(file);
  std::uint64_t base = 0;
  if (r.u32(0) == tag("ttcf")) {
    const std::uint32_t fonts = r.u32(8);
    if (face >= fonts) throw FontFileError("font collection has no face " + std::to_string(face));
    base = r.u32(12 + std::uint64_t(face) * 4);
  } else if (face != 0) {
    throw FontFileError("font file has only one face");
  }
  const std::uint32_t version = r.u32(base);
  if (version != 0x00010000 && version != tag("OTTO") && version != tag("true"))
    throw FontFileError("not a TrueType or OpenType font");

  const auto head = findTable(r, base, tag("head"));
  if (!head || head->length < 54) throw FontFileError("font has no usable 'head' table");
  if (r.u32(head->offset + 12) != 0x5F0F3CF5) throw FontFileError("font's 'head' table is damaged");
  const auto os2 = findTable(r, base, tag("OS/2"));
  // Version 0 tables of old Apple fonts stop before the Windows figures.
  if (!os2 || os2->length < 78) throw FontFileError("font has no Windows metrics ('OS/2' table)");

  WinMetrics m;
  m.unitsPerEm = r.u16(head->offset + 18);
  if (m.unitsPerEm < 16 || m.unitsPerEm > 16384) throw FontFileError("font's units per em out of range");
  m.winAscent = r.u16(os2->offset + 74);
  m.winDescent = r.u16(os2->offset + 76);
  return m;
}

WinMetrics readWinMetricsFromFile(const std::filesystem::path &path, unsigned face) {
  constexpr std::uintmax_t kLimit = 64u << 20;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw FontFileError("cannot read font file " + path.string() + ": " + ec.message());
  if (size > kLimit) throw FontFileError("font file too large: " + path.string());
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    throw FontFileError("cannot read font file " + path.string());
  return readWinMetrics(bytes, face);
}

int windowsTextHeight(const WinMetrics &m, int pixelSize) {
  if (m.unitsPerEm == 0) throw FontFileError("font's units per em out of range");
  return mulDiv(m.winAscent, pixelSize, m.unitsPerEm) + mulDiv(m.winDescent, pixelSize, m.unitsPerEm);
}

}  // namespace quorvel
