// SPDX-License-Identifier: GPL-3.0-or-later
// Where the engine's view puts the page: the zoom that fits it to the
// document area, and the pixels and tiles the view paints it in. The picture
// shown before the engine runs is laid out with the same numbers, so that the
// live view takes its place without moving anything.
#pragma once

#include <vector>

namespace quorvel {

// Zoom at which a page `docWidthTwips` wide fills an area `areaWidth` pixels
// wide, leaving room for a vertical scroll bar. The view keeps zooms as float.
float fitZoom(int areaWidth, long docWidthTwips);

// The view's own conversions (96 dots per inch, 1440 twips per inch).
float twipsToPixels(float twips, float zoom);
float pixelsToTwips(float pixels, float zoom);

struct PixelSize {
  long width = 0, height = 0;
};
// Size of the view widget for a document of this size at `zoom`.
PixelSize viewPixelSize(long docWidthTwips, long docHeightTwips, float zoom);

// A box in the view's pixels.
struct PixelBox {
  double x = 0, y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};
// The text cursor the engine reports (twips) where the view draws it, at
// least 30 twips wide as the view makes it; empty for the engine's "no
// cursor" (all zeros).
PixelBox caretBox(int twipX, int twipY, int twipWidth, int twipHeight, float zoom);

// One tile of the view: the document rectangle the engine paints into a
// square buffer of kTileSize pixels, and where the view draws that buffer.
struct TilePlace {
  int row = 0, column = 0;
  int twipX = 0, twipY = 0;  // top left corner in the document
  int twipSize = 0;          // width and height of the painted rectangle
  double pixelX = 0, pixelY = 0;
};
inline constexpr int kTileSize = 256;

// Every tile of the document at `zoom`, row by row.
std::vector<TilePlace> viewTiles(long docWidthTwips, long docHeightTwips, float zoom);

}  // namespace quorvel
