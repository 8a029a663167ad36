// SPDX-License-Identifier: GPL-3.0-or-later
#define LOK_USE_UNSTABLE_API
#include "document/zoom_between_tiles.h"

#include <LibreOfficeKit/LibreOfficeKitGtk.h>

#include <atomic>

#include "document/lok_internal.h"

namespace quorvel {

namespace {

// Between two queued tiles the worker does only a little bookkeeping, far
// less than this; this much quiet is taken to mean the queue is empty.
constexpr std::int64_t kPaintQuietUs = 3000;
// A view that never stops painting still gets its zoom, at the cost of a tile.
constexpr std::int64_t kZoomWaitCapUs = 500000;
// How often a waiting zoom looks at the painting: well within the quiet it
// waits for, so that the zoom follows the last tile closely.
constexpr unsigned kZoomPollMs = 2;

using PaintTileFn = void (*)(LibreOfficeKitDocument *, unsigned char *, int, int, int, int, int, int);
std::atomic<PaintTileFn> g_enginePaintTile{nullptr};
std::atomic<int> g_paintsRunning{0};
std::atomic<std::int64_t> g_lastPaintEndUs{0};
std::atomic<long> g_tilesPainted{0};

void countedPaintTile(LibreOfficeKitDocument *doc, unsigned char *buffer, int canvasWidth, int canvasHeight,
                      int x, int y, int width, int height) {
  g_paintsRunning.fetch_add(1);
  g_enginePaintTile.load()(doc, buffer, canvasWidth, canvasHeight, x, y, width, height);
  g_lastPaintEndUs.store(g_get_monotonic_time());
  g_tilesPainted.fetch_add(1);
  g_paintsRunning.fetch_sub(1);
}

}  // namespace

void countTilePainting(LibreOfficeKitDocument *doc) {
  wrap(doc->pClass->paintTile, g_enginePaintTile, &countedPaintTile);
}

long paintedTileCount() { return g_tilesPainted.load(); }

bool tilePaintingQuietFor(std::int64_t us) {
  return g_paintsRunning.load() == 0 && g_get_monotonic_time() - g_lastPaintEndUs.load() >= us;
}

void ZoomBetweenTiles::set(double zoom) {
  if (!m_source && static_cast<float>(zoom) == lok_doc_view_get_zoom(LOK_DOC_VIEW(m_view))) return;
  m_zoom = zoom;
  if (m_source) return;
  m_askedUs = g_get_monotonic_time();
  m_source = g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, kZoomPollMs, &ZoomBetweenTiles::applyWhenQuiet, this,
                                nullptr);
}

void ZoomBetweenTiles::setAtOnce(float zoom) {
  cancel();
  lok_doc_view_set_zoom(LOK_DOC_VIEW(m_view), zoom);
}

void ZoomBetweenTiles::cancel() {
  if (m_source) g_source_remove(m_source);
  m_source = 0;
}

int ZoomBetweenTiles::applyWhenQuiet(void *self) {
  auto *z = static_cast<ZoomBetweenTiles *>(self);
  const std::int64_t now = g_get_monotonic_time();
  const bool quiet = g_paintsRunning.load() == 0 && now - g_lastPaintEndUs.load() >= kPaintQuietUs;
  if (!quiet && now - z->m_askedUs < kZoomWaitCapUs) return G_SOURCE_CONTINUE;
  z->m_source = 0;
  lok_doc_view_set_zoom(LOK_DOC_VIEW(z->m_view), static_cast<float>(z->m_zoom));
  gtk_widget_queue_draw(z->m_view);
  return G_SOURCE_REMOVE;
}

}  // namespace quorvel
