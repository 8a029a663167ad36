#include "document/container_stream.h"

#include <gtest/gtest.h>

#include <numeric>

#include "automation/automation.h"

using namespace quorvel;

namespace {
std::uint32_t u32At(const std::vector<std::uint8_t> &s, std::size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<std::uint32_t>(s[at + 3]) << 24;
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
