// SPDX-License-Identifier: GPL-3.0-or-later
// A tile lost at each zoom change (LibreOffice 7.4 and 26.8). The view paints
// tiles on a worker thread. When its tile buffer is replaced (every zoom
// change) while a tile is being painted, it drops that tile without freeing
// it: 256 kB lost each time, which added up to tens of MB over a few hundred
// window resizes. So the engine's paintTile is counted, and zoom changes wait
// until no tile is being painted. The views of 7.4 and 26.8 both lose the
// tile, so this holds for every version.
// Measured (bench/README.md, soak_bench --clicks 0 --resizes 200): with all
// 201 zoom changes forced into a paint, 260.7 kB lost per change on both;
// with the wait none of the 201 comes during a paint, and the heap grows by
// 1 734 kB on 7.4 and 3 226 to 3 550 kB on 26.8, about what it grows by with
// the zoom applied once the tiles are painted (1 657; 3 262 and 3 266).
#pragma once

#include <LibreOfficeKit/LibreOfficeKit.h>
#include <gtk/gtk.h>

#include <cstdint>

namespace quorvel {

// Counts the tiles painted from now on, for every document of the engine
// (their calls are one table).
void countTilePainting(LibreOfficeKitDocument *doc);
// Tiles painted so far, and whether the painting has been quiet this long.
long paintedTileCount();
bool tilePaintingQuietFor(std::int64_t us);

// The zoom of one view, changed once its worker paints no tile.
class ZoomBetweenTiles {
public:
  explicit ZoomBetweenTiles(GtkWidget *view) : m_view(view) {}
  ~ZoomBetweenTiles() { cancel(); }
  ZoomBetweenTiles(const ZoomBetweenTiles &) = delete;
  ZoomBetweenTiles &operator=(const ZoomBetweenTiles &) = delete;

  // A zoom equal to the one in effect changes nothing.
  void set(double zoom);
  // Before the view has drawn anything: no tile to wait for.
  void setAtOnce(float zoom);
  bool pending() const { return m_source != 0; }
  // A zoom still waiting is dropped.
  void cancel();

private:
  static int applyWhenQuiet(void *self);
  GtkWidget *m_view;
  double m_zoom = 0;
  unsigned m_source = 0;
  std::int64_t m_askedUs = 0;
};

}  // namespace quorvel
