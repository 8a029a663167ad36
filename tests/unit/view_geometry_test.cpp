// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/view_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quorvel;

namespace {
constexpr long kChartWidth = 17406, kChartHeight = 12474;  // the chart's page area, as the engine reports it
}

TEST(ViewGeometry, FitLeavesRoomForTheScrollBar) {
  for (int area : {100, 720, 776, 1000, 1274, 3000})
    for (long twips : {kChartWidth, 12474L, 30000L}) {
      SCOPED_TRACE(testing::Message() << area << " px, " << twips << " twips");
      const float zoom = fitZoom(area, twips);
      const long page = viewPixelSize(twips, kChartHeight, zoom).width;
      // Truncated to whole pixels as the view does: one short at most.
      EXPECT_GE(page, area - 17);
      EXPECT_LE(page, area - 16);
    }
}

TEST(ViewGeometry, NoFitWithoutAnAreaOrAPage) {
  EXPECT_EQ(fitZoom(0, kChartWidth), 0);
  EXPECT_EQ(fitZoom(1, kChartWidth), 0);
  EXPECT_EQ(fitZoom(-5, kChartWidth), 0);
  EXPECT_EQ(fitZoom(720, 0), 0);
  EXPECT_EQ(fitZoom(720, -1), 0);
  // An area narrower than the scroll bar room still gives a page a pixel wide.
  EXPECT_GT(fitZoom(10, kChartWidth), 0);
  EXPECT_EQ(viewPixelSize(kChartWidth, kChartHeight, 0).width, 0);
}

// The sizes the engine's own view gives the chart at the two usual widths
// (seen on screen: the picture and the live view match to the pixel).
TEST(ViewGeometry, ChartSizesMatchTheView) {
  const PixelSize at720 = viewPixelSize(kChartWidth, kChartHeight, fitZoom(720, kChartWidth));
  EXPECT_EQ(at720.width, 703);
  EXPECT_EQ(at720.height, 504);
  const PixelSize at776 = viewPixelSize(kChartWidth, kChartHeight, fitZoom(776, kChartWidth));
  EXPECT_EQ(at776.width, 759);
  EXPECT_EQ(at776.height, 544);
}

TEST(ViewGeometry, TwipsAndPixelsRoundTrip) {
  for (float zoom : {0.25f, 0.6066874f, 1.0f, 3.7f})
    for (float px : {0.0f, 1.0f, 255.5f, 700.0f}) {
      const float back = twipsToPixels(pixelsToTwips(px, zoom), zoom);
      EXPECT_NEAR(back, px, 1e-3) << zoom;
    }
  // 15 twips to the pixel at 100 %.
  EXPECT_FLOAT_EQ(pixelsToTwips(1, 1), 15);
  EXPECT_FLOAT_EQ(twipsToPixels(1440, 1), 96);
}

TEST(ViewGeometry, CaretAsTheViewDrawsIt) {
  // The chart's first cursor, at the zoom of a 720-pixel area.
  const float zoom = fitZoom(720, kChartWidth);
  const PixelBox caret = caretBox(1701, 510, 0, 476, zoom);
  EXPECT_FALSE(caret.empty());
  EXPECT_FLOAT_EQ(static_cast<float>(caret.x), twipsToPixels(1701, zoom));
  EXPECT_FLOAT_EQ(static_cast<float>(caret.height), twipsToPixels(476, zoom));
  // Never thinner than 30 twips; wider ones (overwrite mode) as reported.
  EXPECT_FLOAT_EQ(static_cast<float>(caret.width), twipsToPixels(30, zoom));
  EXPECT_FLOAT_EQ(static_cast<float>(caretBox(0, 0, 29, 300, 1).width), 2);
  EXPECT_FLOAT_EQ(static_cast<float>(caretBox(0, 0, 150, 300, 1).width), 10);
  // No cursor: all zeros, or nothing of a height; and no zoom yet.
  EXPECT_TRUE(caretBox(0, 0, 0, 0, zoom).empty());
  EXPECT_TRUE(caretBox(1701, 510, 30, 0, zoom).empty());
  EXPECT_TRUE(caretBox(1701, 510, 30, 476, 0).empty());
}

TEST(ViewGeometry, TilesCoverThePageRowByRow) {
  for (float zoom : {0.25f, fitZoom(720, kChartWidth), 1.0f, 2.5f}) {
    SCOPED_TRACE(zoom);
    const PixelSize size = viewPixelSize(kChartWidth, kChartHeight, zoom);
    const auto tiles = viewTiles(kChartWidth, kChartHeight, zoom);
    const long rows = (size.height + kTileSize - 1) / kTileSize,
               columns = (size.width + kTileSize - 1) / kTileSize;
    ASSERT_EQ(static_cast<long>(tiles.size()), rows * columns);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      const TilePlace &t = tiles[i];
      EXPECT_EQ(t.row, static_cast<int>(static_cast<long>(i) / columns));
      EXPECT_EQ(t.column, static_cast<int>(static_cast<long>(i) % columns));
      // Within a pixel of the tile grid (the view truncates the corners to whole twips).
      EXPECT_NEAR(t.pixelX, t.column * kTileSize, 1.0);
      EXPECT_NEAR(t.pixelY, t.row * kTileSize, 1.0);
      EXPECT_NEAR(t.twipSize, pixelsToTwips(kTileSize, zoom), 1.0);
    }
    EXPECT_EQ(tiles.front().twipX, 0);
    EXPECT_EQ(tiles.front().pixelY, 0);
    // The last tile reaches the page's far corner.
    EXPECT_GE(tiles.back().pixelX + kTileSize, size.width);
    EXPECT_GE(tiles.back().pixelY + kTileSize, size.height);
  }
  EXPECT_TRUE(viewTiles(kChartWidth, kChartHeight, 0).empty());
  EXPECT_TRUE(viewTiles(0, kChartHeight, 1).empty());
}
