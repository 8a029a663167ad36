// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/presentation.h"

#include <bit>
#include <cstring>
#include <limits>

namespace quorvel {

namespace {

constexpr std::uint32_t kMagic = 0x53525051u;  // "QPRS"
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 4 + 4 + 8 + 4 + 4 + 4;
constexpr std::size_t kPictureHeaderSize = std::size_t{5} * 4;
// Far beyond any real page; keeps a damaged file from asking for gigabytes.
constexpr std::uint32_t kMaxSide = 16384;

void put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put64(std::vector<std::uint8_t> &out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> b) : m_b(b) {}
  bool has(std::size_t n) const { return m_b.size() - m_at >= n; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(m_b[m_at++]) << (8 * i);
    return v;
  }
  std::uint64_t u64() {
    const std::uint64_t lo = u32();
    return lo | static_cast<std::uint64_t>(u32()) << 32;
  }
  std::span<const std::uint8_t> take(std::size_t n) {
    auto s = m_b.subspan(m_at, n);
    m_at += n;
    return s;
  }
  bool atEnd() const { return m_at == m_b.size(); }

private:
  std::span<const std::uint8_t> m_b;
  std::size_t m_at = 0;
};

}  // namespace

std::uint64_t documentHash(std::span<const std::uint8_t> document) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint8_t b : document) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::vector<std::uint8_t> writePresentation(const Presentation &p) {
  std::vector<std::uint8_t> out;
  put32(out, kMagic);
  put32(out, kVersion);
  put64(out, p.documentHash);
  put32(out, static_cast<std::uint32_t>(p.docWidthTwips));
  put32(out, static_cast<std::uint32_t>(p.docHeightTwips));
  put32(out, static_cast<std::uint32_t>(p.pictures.size()));
  for (const PresentationPicture &pic : p.pictures) {
    put32(out, static_cast<std::uint32_t>(pic.areaWidth));
    put32(out, std::bit_cast<std::uint32_t>(pic.zoom));
    put32(out, static_cast<std::uint32_t>(pic.width));
    put32(out, static_cast<std::uint32_t>(pic.height));
    put32(out, static_cast<std::uint32_t>(pic.png.size()));
    out.insert(out.end(), pic.png.begin(), pic.png.end());
  }
  return out;
}

std::optional<Presentation> readPresentation(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  if (!r.has(kHeaderSize) || r.u32() != kMagic || r.u32() != kVersion) return std::nullopt;
  Presentation p;
  p.documentHash = r.u64();
  const std::uint32_t w = r.u32(), h = r.u32(), count = r.u32();
  if (w == 0 || h == 0 || w > std::numeric_limits<std::int32_t>::max() ||
      h > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  p.docWidthTwips = w;
  p.docHeightTwips = h;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!r.has(kPictureHeaderSize)) return std::nullopt;
    PresentationPicture pic;
    const std::uint32_t area = r.u32();
    pic.zoom = std::bit_cast<float>(r.u32());
    const std::uint32_t pw = r.u32(), ph = r.u32(), size = r.u32();
    if (area == 0 || area > kMaxSide || pw == 0 || pw > kMaxSide || ph == 0 || ph > kMaxSide)
      return std::nullopt;
    if (!(pic.zoom > 0 && pic.zoom < 100)) return std::nullopt;  // also rejects NaN
    if (size == 0 || !r.has(size)) return std::nullopt;
    pic.areaWidth = static_cast<int>(area);
    pic.width = static_cast<int>(pw);
    pic.height = static_cast<int>(ph);
    pic.png = r.take(size);
    p.pictures.push_back(pic);
  }
  if (!r.atEnd() || p.pictures.empty()) return std::nullopt;
  return p;
}

std::optional<Presentation> presentationOf(std::span<const std::uint8_t> bytes,
                                           std::span<const std::uint8_t> document) {
  auto p = readPresentation(bytes);
  if (!p || p->documentHash != documentHash(document)) return std::nullopt;
  return p;
}

const PresentationPicture *pictureFor(const Presentation &p, int areaWidth) {
  const PresentationPicture *wider = nullptr, *widest = nullptr;
  for (const PresentationPicture &pic : p.pictures) {
    if (pic.areaWidth == areaWidth) return &pic;
    if (pic.areaWidth > areaWidth && (!wider || pic.areaWidth < wider->areaWidth)) wider = &pic;
    if (!widest || pic.areaWidth > widest->areaWidth) widest = &pic;
  }
  return wider ? wider : widest;
}

}  // namespace quorvel
