// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/container_stream.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <numeric>
#include <string>

#include "automation/automation.h"
#include "document/compound_file.h"

using namespace quorvel;

namespace {
std::uint32_t u32At(const std::vector<std::uint8_t> &s, std::size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<std::uint32_t>(s[at + 3]) << 24;
}

void putU32(std::vector<std::uint8_t> &s, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> readFile(const std::string &name) {
  std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

TEST(ContainerStream, HeaderThenDataUnchanged) {
  for (std::size_t n :
       {std::size_t{0}, std::size_t{1}, std::size_t{255}, std::size_t{256}, std::size_t{70000}}) {
    std::vector<std::uint8_t> data(n);
    std::iota(data.begin(), data.end(), std::uint8_t{7});
    const auto stream = buildContainerStream(data);
    ASSERT_EQ(stream.size(), n + 12);
    EXPECT_EQ(std::string(stream.begin(), stream.begin() + 4), "BDOC");
    EXPECT_EQ(u32At(stream, 4), 1u);
    EXPECT_EQ(u32At(stream, 8), n);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), stream.begin() + 12));

    const ContainerContents back = readContainerStream(stream);
    EXPECT_EQ(back.drawAspect, 1u);
    EXPECT_TRUE(std::equal(back.data.begin(), back.data.end(), data.begin(), data.end()));
  }
}

TEST(ContainerStream, BadSignatureOrShortHeaderIsInvalidFormat) {
  auto stream = buildContainerStream(std::vector<std::uint8_t>{1, 2, 3});
  for (std::size_t at = 0; at < 4; ++at) {
    auto bad = stream;
    bad[at] ^= 0x20;
    EXPECT_THROW(
        {
          try {
            readContainerStream(bad);
          } catch (const OleError &e) {
            EXPECT_STREQ(e.what(), "Invalid stream format");
            throw;
          }
        },
        OleError);
  }
  EXPECT_THROW(readContainerStream(std::span(stream).first(11)), OleError);
  EXPECT_THROW(readContainerStream({}), OleError);
}

TEST(ContainerStream, DataShorterThanItsSizeFails) {
  auto stream = buildContainerStream(std::vector<std::uint8_t>(100, 0xAB));
  EXPECT_NO_THROW(readContainerStream(stream));
  stream.pop_back();
  EXPECT_THROW(readContainerStream(stream), OleSysError);
  // A size field near 4 GiB must not wrap around.
  stream[8] = stream[9] = stream[10] = stream[11] = 0xFF;
  EXPECT_THROW(readContainerStream(stream), OleSysError);
}

TEST(ContainerStream, CompoundFileSignature) {
  std::vector<std::uint8_t> doc{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0x00};
  EXPECT_TRUE(hasCompoundFileSignature(doc));
  EXPECT_FALSE(hasCompoundFileSignature(std::span(doc).first(7)));
  doc[7] = 0;
  EXPECT_FALSE(hasCompoundFileSignature(doc));
}

// The chart and the test documents, as LibreOffice wrote them, are readable;
// each kind of damage is found, whatever the engine would make of it.
TEST(CompoundFile, WrittenFilesReadDamagedOnesDoNot) {
  for (const char *name : {"resources/p1.doc", "tests/data/markers5.doc", "tests/data/pages20.doc"}) {
    const auto doc = readFile(name);
    ASSERT_GT(doc.size(), 4096u) << name;
    EXPECT_TRUE(isReadableCompoundFile(doc)) << name;
  }
  const auto good = readFile("tests/data/markers5.doc");
  const std::size_t sector = 512;

  auto wrecked = good;  // signature and header kept, everything after it not
  for (std::size_t i = sector; i < wrecked.size(); ++i) wrecked[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_FALSE(isReadableCompoundFile(wrecked));

  EXPECT_FALSE(isReadableCompoundFile(std::span(good).first(good.size() / 2)));  // cut short
  EXPECT_FALSE(isReadableCompoundFile(std::span(good).first(sector)));           // header only
  EXPECT_FALSE(isReadableCompoundFile({}));

  auto badOrder = good;
  badOrder[28] = 0xFF;  // byte order mark
  EXPECT_FALSE(isReadableCompoundFile(badOrder));

  auto badShift = good;
  badShift[30] = 12;  // version 3 with the sectors of version 4
  EXPECT_FALSE(isReadableCompoundFile(badShift));

  // The directory's chain pointing at itself: a loop, not an endless read.
  auto loop = good;
  const std::uint32_t dirStart = u32At(loop, 48);
  const std::uint32_t fatSector = u32At(loop, 76);
  putU32(loop, (fatSector + 1) * sector + 4 * dirStart, dirStart);
  EXPECT_FALSE(isReadableCompoundFile(loop));

  auto pastEnd = good;
  putU32(pastEnd, 48, static_cast<std::uint32_t>(good.size() / sector + 5));  // directory beyond the data
  EXPECT_FALSE(isReadableCompoundFile(pastEnd));

  auto noRoot = good;
  noRoot[(dirStart + 1) * sector + 66] = 1;  // the first entry a plain storage
  EXPECT_FALSE(isReadableCompoundFile(noRoot));
}
