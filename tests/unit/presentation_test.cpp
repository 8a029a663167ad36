// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/presentation.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

using namespace quorvel;

namespace {

const std::vector<std::uint8_t> kDoc{0xD0, 0xCF, 0x11, 0xE0, 1, 2, 3};
const std::vector<std::uint8_t> kPng720{1, 2, 3, 4, 5}, kPng776{9, 8, 7};

Presentation sample() {
  Presentation p;
  p.documentHash = documentHash(kDoc);
  p.docWidthTwips = 17406;
  p.docHeightTwips = 12474;
  p.pictures.push_back({720, 0.6066874f, 703, 504, kPng720});
  p.pictures.push_back({776, 0.6549466f, 759, 544, kPng776});
  return p;
}

void put32(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(Presentation, FingerprintIsFnv1a) {
  EXPECT_EQ(documentHash({}), 0xcbf29ce484222325ull);
  const std::uint8_t a[] = {'a'};
  EXPECT_EQ(documentHash(a), 0xaf63dc4c8601ec8cull);
}

TEST(Presentation, WrittenAndReadBack) {
  const auto bytes = writePresentation(sample());
  const auto back = readPresentation(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->documentHash, documentHash(kDoc));
  EXPECT_EQ(back->docWidthTwips, 17406);
  EXPECT_EQ(back->docHeightTwips, 12474);
  ASSERT_EQ(back->pictures.size(), 2u);
  EXPECT_EQ(back->pictures[0].areaWidth, 720);
  EXPECT_EQ(back->pictures[0].zoom, 0.6066874f);  // bit for bit: the view must get the same zoom
  EXPECT_EQ(back->pictures[0].width, 703);
  EXPECT_EQ(back->pictures[0].height, 504);
  EXPECT_TRUE(
      std::equal(back->pictures[0].png.begin(), back->pictures[0].png.end(), kPng720.begin(), kPng720.end()));
  EXPECT_TRUE(
      std::equal(back->pictures[1].png.begin(), back->pictures[1].png.end(), kPng776.begin(), kPng776.end()));
}

TEST(Presentation, OnlyForTheDocumentItShows) {
  const auto bytes = writePresentation(sample());
  EXPECT_TRUE(presentationOf(bytes, kDoc));
  auto other = kDoc;
  other.back() ^= 1;
  EXPECT_FALSE(presentationOf(bytes, other));
  EXPECT_FALSE(presentationOf(bytes, std::span<const std::uint8_t>(kDoc).first(kDoc.size() - 1)));
  EXPECT_FALSE(presentationOf({}, kDoc));
}

TEST(Presentation, DamagedBytesAreRefused) {
  const auto good = writePresentation(sample());
  ASSERT_TRUE(readPresentation(good));
  const std::size_t header = 28, firstPicture = header, firstPng = firstPicture + 20;

  auto damaged = [&](auto change) {
    auto b = good;
    change(b);
    return readPresentation(b).has_value();
  };
  EXPECT_FALSE(readPresentation({}));
  EXPECT_FALSE(damaged([](auto &b) { b[0] ^= 1; }));                       // not our format
  EXPECT_FALSE(damaged([](auto &b) { put32(b, 4, 2); }));                  // a later version
  EXPECT_FALSE(damaged([&](auto &b) { b.resize(header - 1); }));           // header cut short
  EXPECT_FALSE(damaged([&](auto &b) { b.resize(firstPng + 2); }));         // picture cut short
  EXPECT_FALSE(damaged([](auto &b) { b.push_back(0); }));                  // trailing bytes
  EXPECT_FALSE(damaged([](auto &b) { put32(b, 16, 0); }));                 // page without width
  EXPECT_FALSE(damaged([](auto &b) { put32(b, 24, 3); }));                 // more pictures than there are
  EXPECT_FALSE(damaged([](auto &b) { put32(b, 24, 0xffffffffu); }));       // absurd count
  EXPECT_FALSE(damaged([&](auto &b) { put32(b, firstPicture + 8, 0); }));  // picture without width
  EXPECT_FALSE(damaged([&](auto &b) { put32(b, firstPicture + 12, 100000); }));
  EXPECT_FALSE(damaged([&](auto &b) { put32(b, firstPicture + 16, 0xffffffffu); }));  // PNG past the end
  EXPECT_FALSE(damaged([&](auto &b) {
    put32(b, firstPicture + 4, std::bit_cast<std::uint32_t>(std::numeric_limits<float>::quiet_NaN()));
  }));
  EXPECT_FALSE(damaged([&](auto &b) { put32(b, firstPicture + 4, std::bit_cast<std::uint32_t>(-1.0f)); }));

  Presentation none = sample();
  none.pictures.clear();
  EXPECT_FALSE(readPresentation(writePresentation(none)));
}

TEST(Presentation, PictureForAnAreaWidth) {
  const auto bytes = writePresentation(sample());
  const auto p = readPresentation(bytes);
  ASSERT_TRUE(p);
  EXPECT_EQ(pictureFor(*p, 720)->areaWidth, 720);
  EXPECT_EQ(pictureFor(*p, 776)->areaWidth, 776);
  // Between or below: the nearest wider one, drawn scaled down.
  EXPECT_EQ(pictureFor(*p, 1)->areaWidth, 720);
  EXPECT_EQ(pictureFor(*p, 721)->areaWidth, 776);
  // Wider than all: the widest.
  EXPECT_EQ(pictureFor(*p, 2000)->areaWidth, 776);
  EXPECT_EQ(pictureFor(Presentation{}, 720), nullptr);
}
