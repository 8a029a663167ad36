// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/font_metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/shell_rules.h"

using namespace quorvel;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes &b, std::size_t at, std::uint32_t v) {
  b[at] = std::uint8_t(v >> 8);
  b[at + 1] = std::uint8_t(v);
}
void put32(Bytes &b, std::size_t at, std::uint32_t v) {
  put16(b, at, v >> 16);
  put16(b, at + 2, v & 0xFFFF);
}

// A minimal font: the offset table and a 'head' and an 'OS/2' table, enough
// for the reader. `os2Length` 68 makes an old version 0 table.
Bytes makeFont(std::uint16_t upem, std::uint16_t ascent, std::uint16_t descent, std::uint32_t os2Length = 96,
               std::uint32_t version = 0x00010000) {
  const std::size_t headAt = 12 + 2 * 16, os2At = headAt + 56;
  Bytes b(os2At + os2Length, 0);
  put32(b, 0, version);
  put16(b, 4, 2);
  const std::uint32_t tags[] = {0x68656164 /* head */, 0x4F532F32 /* OS/2 */};
  const std::uint32_t offsets[] = {std::uint32_t(headAt), std::uint32_t(os2At)};
  const std::uint32_t lengths[] = {54, os2Length};
  for (std::size_t i = 0; i < 2; ++i) {
    put32(b, 12 + i * 16, tags[i]);
    put32(b, 12 + i * 16 + 8, offsets[i]);
    put32(b, 12 + i * 16 + 12, lengths[i]);
  }
  put32(b, headAt + 12, 0x5F0F3CF5);
  put16(b, headAt + 18, upem);
  if (os2Length >= 78) {
    put16(b, os2At + 74, ascent);
    put16(b, os2At + 76, descent);
  }
  return b;
}

// A collection of `faces`, each placed whole behind the header; their table
// offsets are moved to where they land.
Bytes makeCollection(const std::vector<Bytes> &faces) {
  Bytes b(12 + 4 * faces.size(), 0);
  put32(b, 0, 0x74746366);  // ttcf
  put32(b, 4, 0x00010000);
  put32(b, 8, std::uint32_t(faces.size()));
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const std::size_t base = b.size();
    put32(b, 12 + 4 * i, std::uint32_t(base));
    Bytes face = faces[i];
    for (std::size_t t = 0; t < 2; ++t) {
      const std::size_t at = 12 + t * 16 + 8;
      const std::uint32_t offset = std::uint32_t(face[at]) << 24 | std::uint32_t(face[at + 1]) << 16 |
                                   std::uint32_t(face[at + 2]) << 8 | face[at + 3];
      put32(face, at, offset + std::uint32_t(base));
    }
    b.insert(b.end(), face.begin(), face.end());
  }
  return b;
}

Bytes readAll(const char *path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RealFont {
  // Where the release puts it: the first of these that exists.
  std::vector<std::string> paths;
  const char *package;
  WinMetrics metrics;  // as the file's own tables give them
  int at11, at17, at22;
};

// The Debian packages the setup installs. The figures were read from each
// file's 'head' and 'OS/2' tables with a separate script.
const std::vector<RealFont> kRealFonts = {
    {{"/usr/share/wine/fonts/tahoma.ttf"}, "fonts-wine", {2048, 2049, 423}, 13, 21, 27},
    {{"/usr/share/wine/fonts/tahomabd.ttf"}, "fonts-wine", {2048, 2049, 423}, 13, 21, 27},
    {{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"}, "fonts-dejavu-core", {2048, 1901, 483}, 13, 20, 25},
    // Liberation 2: fonts-liberation2 on Debian 12, fonts-liberation on 13.
    {{"/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
      "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"},
     "fonts-liberation2 or fonts-liberation",
     {2048, 1854, 434},
     12,
     19,
     25},
};

}  // namespace

TEST(FontMetrics, RealFontsGiveTheHeightsTheirTablesImply) {
  for (const RealFont &f : kRealFonts) {
    const auto path = std::find_if(f.paths.begin(), f.paths.end(),
                                   [](const std::string &p) { return std::filesystem::exists(p); });
    ASSERT_NE(path, f.paths.end()) << "install " << f.package << " (tools/install-deps.sh)";
    SCOPED_TRACE(*path);
    const WinMetrics m = readWinMetricsFromFile(*path);
    EXPECT_EQ(m, f.metrics);
    // 8 pt at 96, 144 and 192 dpi.
    EXPECT_EQ(windowsTextHeight(m, scaledFontHeight(11, 96)), f.at11);
    EXPECT_EQ(windowsTextHeight(m, scaledFontHeight(11, 144)), f.at17);
    EXPECT_EQ(windowsTextHeight(m, scaledFontHeight(11, 192)), f.at22);
  }
}

TEST(FontMetrics, AscentAndDescentAreRoundedEachOnItsOwn) {
  // At 11 px: 10.406 + 2.409. Rounding the sum, 12.8, would give 13.
  EXPECT_EQ(windowsTextHeight({1000, 946, 219}, 11), 12);
  EXPECT_EQ(windowsTextHeight({1000, 500, 500}, 11), 12);  // 5.5 + 5.5: halves go up
  EXPECT_EQ(windowsTextHeight({2048, 0, 0}, 11), 0);
  EXPECT_EQ(windowsTextHeight({16, 65535, 65535}, 1000), 8191876);  // 2 × 4095937.5, no overflow
  EXPECT_THROW(windowsTextHeight({0, 1, 1}, 11), FontFileError);
}

TEST(FontMetrics, ReadsBuiltFontsAndCollections) {
  EXPECT_EQ(readWinMetrics(makeFont(1000, 900, 300)), (WinMetrics{1000, 900, 300}));
  EXPECT_EQ(readWinMetrics(makeFont(2048, 1, 2, 78, 0x4F54544F /* OTTO */)), (WinMetrics{2048, 1, 2}));
  EXPECT_EQ(readWinMetrics(makeFont(2048, 1, 2, 78, 0x74727565 /* true */)), (WinMetrics{2048, 1, 2}));

  const Bytes ttc = makeCollection({makeFont(1000, 800, 200), makeFont(2048, 1900, 500)});
  EXPECT_EQ(readWinMetrics(ttc, 0), (WinMetrics{1000, 800, 200}));
  EXPECT_EQ(readWinMetrics(ttc, 1), (WinMetrics{2048, 1900, 500}));
  EXPECT_THROW(readWinMetrics(ttc, 2), FontFileError);
  EXPECT_THROW(readWinMetrics(makeFont(1000, 800, 200), 1), FontFileError);
}

TEST(FontMetrics, DamagedFilesAreRefusedNotReadPast) {
  const Bytes good = makeFont(2048, 2049, 423);
  // Every cut of the file, down to nothing: the tables end at its last byte.
  for (std::size_t n = 0; n < good.size(); ++n) {
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(readWinMetrics(cut), FontFileError) << n << " bytes";
  }

  auto broken = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  const std::size_t headAt = 44, os2At = 100;
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put32(b, 0, 0x4D5A0000); })), FontFileError);
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put16(b, 4, 0xFFFF); })), FontFileError);
  // Offsets and lengths near 2^32 must not wrap round into the file.
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put32(b, 12 + 8, 0xFFFFFFF0); })), FontFileError);
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put32(b, 28 + 12, 0xFFFFFFFF); })), FontFileError);
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put32(b, 12, 0x68656165); })), FontFileError);  // no head
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put32(b, 28, 0x4F532F33); })), FontFileError);  // no OS/2
  EXPECT_THROW(readWinMetrics(broken([&](Bytes &b) { put32(b, headAt + 12, 0); })), FontFileError);
  EXPECT_THROW(readWinMetrics(broken([&](Bytes &b) { put16(b, headAt + 18, 0); })), FontFileError);
  EXPECT_THROW(readWinMetrics(broken([&](Bytes &b) { put16(b, headAt + 18, 16385); })), FontFileError);
  EXPECT_THROW(readWinMetrics(broken([](Bytes &b) { put32(b, 12 + 12, 53); })), FontFileError);
  // A version 0 'OS/2' of 68 bytes has no Windows figures.
  EXPECT_THROW(readWinMetrics(makeFont(2048, 0, 0, 68)), FontFileError);
  EXPECT_NO_THROW(readWinMetrics(broken([&](Bytes &b) { put16(b, os2At + 74, 0xFFFF); })));

  // Collections with a face count or face offset that points nowhere.
  Bytes ttc = makeCollection({good});
  Bytes hugeCount = ttc;
  put32(hugeCount, 8, 0xFFFFFFFF);
  EXPECT_THROW(readWinMetrics(hugeCount, 0x7FFFFFFF), FontFileError);
  Bytes farFace = ttc;
  put32(farFace, 12, 0xFFFFFFFC);
  EXPECT_THROW(readWinMetrics(farFace), FontFileError);
  Bytes selfFace = ttc;
  put32(selfFace, 12, 0);  // the face is the collection header itself
  EXPECT_THROW(readWinMetrics(selfFace), FontFileError);
}

TEST(FontMetrics, CutRealFilesAreRefused) {
  // DejaVu Sans keeps 'OS/2' at 48808 and 'head' at 614156, 54 bytes.
  const Bytes dejavu = readAll("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  ASSERT_GT(dejavu.size(), 614210u);
  EXPECT_NO_THROW(readWinMetrics(Bytes(dejavu.begin(), dejavu.begin() + 614210)));
  for (std::size_t n : {0, 11, 12, 200, 48893, 614209}) {
    const Bytes cut(dejavu.begin(), dejavu.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(readWinMetrics(cut), FontFileError) << n;
  }
  EXPECT_THROW(readWinMetricsFromFile("/nonexistent/tahoma.ttf"), FontFileError);
  EXPECT_THROW(readWinMetricsFromFile("/etc/hostname"), FontFileError);
}
