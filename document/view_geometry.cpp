// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/view_geometry.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {
constexpr float kDpi = 96.0f;
constexpr float kTwipsPerInch = 1440.0f;
// Room kept free for a vertical scroll bar, so that the width never oscillates.
constexpr int kScrollBarRoom = 16;
}  // namespace

float fitZoom(int areaWidth, long docWidthTwips) {
  if (areaWidth <= 1 || docWidthTwips <= 0) return 0;
  double zoom = areaWidth * 15.0 / static_cast<double>(docWidthTwips);
  zoom *= static_cast<double>(std::max(areaWidth - kScrollBarRoom, 1)) / areaWidth;
  return static_cast<float>(zoom);
}

// The same float arithmetic as the view, so that the results match to the pixel.
float twipsToPixels(float twips, float zoom) { return twips / kTwipsPerInch * kDpi * zoom; }
float pixelsToTwips(float pixels, float zoom) { return (pixels / kDpi / zoom) * kTwipsPerInch; }

PixelSize viewPixelSize(long docWidthTwips, long docHeightTwips, float zoom) {
  if (zoom <= 0) return {};
  return {static_cast<long>(twipsToPixels(static_cast<float>(docWidthTwips), zoom)),
          static_cast<long>(twipsToPixels(static_cast<float>(docHeightTwips), zoom))};
}

PixelBox caretBox(int twipX, int twipY, int twipWidth, int twipHeight, float zoom) {
  constexpr int kMinCaretTwips = 30;
  if (twipHeight <= 0 || zoom <= 0) return {};
  const auto px = [zoom](int twips) {
    return static_cast<double>(twipsToPixels(static_cast<float>(twips), zoom));
  };
  return {px(twipX), px(twipY), px(std::max(twipWidth, kMinCaretTwips)), px(twipHeight)};
}

std::vector<TilePlace> viewTiles(long docWidthTwips, long docHeightTwips, float zoom) {
  std::vector<TilePlace> tiles;
  const PixelSize size = viewPixelSize(docWidthTwips, docHeightTwips, zoom);
  if (size.width <= 0 || size.height <= 0) return tiles;
  const auto rows = static_cast<int>(std::ceil(static_cast<double>(size.height) / kTileSize));
  const auto columns = static_cast<int>(std::ceil(static_cast<double>(size.width) / kTileSize));
  const float tileTwips = pixelsToTwips(static_cast<float>(kTileSize), zoom);
  for (int row = 0; row < rows; ++row)
    for (int column = 0; column < columns; ++column) {
      TilePlace t;
      t.row = row;
      t.column = column;
      // The view keeps these in integer rectangles: truncated, as it does.
      t.twipX = static_cast<int>(tileTwips * static_cast<float>(column));
      t.twipY = static_cast<int>(tileTwips * static_cast<float>(row));
      t.twipSize = static_cast<int>(tileTwips);
      t.pixelX = twipsToPixels(static_cast<float>(t.twipX), zoom);
      t.pixelY = twipsToPixels(static_cast<float>(t.twipY), zoom);
      tiles.push_back(t);
    }
  return tiles;
}

}  // namespace quorvel
