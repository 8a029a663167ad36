// SPDX-License-Identifier: GPL-3.0-or-later
#define LOK_USE_UNSTABLE_API
#include "document/text_cursor.h"

#include <LibreOfficeKit/LibreOfficeKitEnums.h>
#include <LibreOfficeKit/LibreOfficeKitGtk.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "document/lok_internal.h"

namespace quorvel {

namespace {

// How Writer blinks its cursor: half the desktop's blink time each way, or
// not at all. GTK's own blink time, where the desktop sets none:
constexpr gint kDefaultBlinkTimeMs = 1200;
// Writer's phase for a blink time of 100 ms or less, too fast to follow.
constexpr unsigned kShortBlinkPhaseMs = 500;

std::mutex g_caretsLock;
std::vector<Caret *> g_carets;  // NOLINT(cert-err58-cpp): cannot throw; under g_caretsLock

Caret *caretOf(const void *view) {
  const std::scoped_lock lock(g_caretsLock);
  const auto it =
      std::find_if(g_carets.begin(), g_carets.end(), [view](Caret *c) { return c->view == view; });
  return it == g_carets.end() ? nullptr : *it;
}

// On the engine's threads: every report goes on to the view, the cursor's
// visibility as "hidden".
void caretReport(int type, const char *payload, void *data) {
  auto *caret = static_cast<Caret *>(data);
  if (type == LOK_CALLBACK_CURSOR_VISIBLE) {
    caret->engineShows.store(payload && std::strcmp(payload, "true") == 0);
    runOnGtkThread(G_PRIORITY_DEFAULT, caret->alive.guard([caret] { caret->redraw(); }));
    payload = "false";
  }
  caret->viewCallback(type, payload, caret->viewData);
}

using RegisterCallbackFn = void (*)(LibreOfficeKitDocument *, LibreOfficeKitCallback, void *);
std::atomic<RegisterCallbackFn> g_engineRegisterCallback{nullptr};

void registerFilteredCallback(LibreOfficeKitDocument *doc, LibreOfficeKitCallback callback, void *data) {
  Caret *caret = callback ? caretOf(data) : nullptr;
  if (!caret) return g_engineRegisterCallback.load()(doc, callback, data);
  caret->viewCallback = callback;
  caret->viewData = data;
  // Ahead of the engine's first report: until told otherwise the view takes
  // the cursor as shown.
  callback(LOK_CALLBACK_CURSOR_VISIBLE, "false", data);
  g_engineRegisterCallback.load()(doc, &caretReport, caret);
}

using DocumentLoadFn = LibreOfficeKitDocument *(*)(LibreOfficeKit *, const char *, const char *);
std::atomic<DocumentLoadFn> g_engineDocumentLoad{nullptr};

// The engine's documents share one table of calls, there once a document is
// loaded: the view registers for the reports only after its load has returned.
LibreOfficeKitDocument *filterReports(LibreOfficeKitDocument *doc) {
  if (doc) wrap(doc->pClass->registerCallback, g_engineRegisterCallback, &registerFilteredCallback);
  return doc;
}

// The view (7.4, 26.8) loads with documentLoadWithOptions, on its worker.
LibreOfficeKitDocument *loadFiltered(LibreOfficeKit *office, const char *url, const char *options) {
  return filterReports(g_engineDocumentLoad.load()(office, url, options));
}

unsigned caretBlinkMs() {
  gboolean blink = TRUE;
  gint time = kDefaultBlinkTimeMs;
  g_object_get(gtk_settings_get_default(), "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &time,
               nullptr);
  if (!blink) return 0;
  return time > 100 ? static_cast<unsigned>(time / 2) : kShortBlinkPhaseMs;
}

void stopBlink(Caret &caret) {
  if (caret.blinkSource) g_source_remove(caret.blinkSource);
  caret.blinkSource = 0;
}

// Shown from now, for a whole phase.
void restartBlink(Caret &caret) {
  stopBlink(caret);
  caret.blinkOn = true;
  if (const unsigned ms = caretBlinkMs())
    caret.blinkSource = g_timeout_add(
        ms,
        [](gpointer data) -> gboolean {
          auto *c = static_cast<Caret *>(data);
          c->blinkOn = !c->blinkOn;
          c->redraw();
          return G_SOURCE_CONTINUE;
        },
        &caret);
  caret.redraw();
}

void watchCaret(Caret &caret) {
  g_signal_connect(caret.view, "cursor-changed",
                   G_CALLBACK(+[](GtkWidget *view, int x, int y, int width, int height, gpointer data) {
                     auto *c = static_cast<Caret *>(data);
                     c->redraw();
                     c->twipX = x;
                     c->twipY = y;
                     c->twipWidth = width;
                     c->twipHeight = height;
                     if (gtk_widget_has_focus(view)) restartBlink(*c);
                     c->redraw();
                   }),
                   &caret);
  g_signal_connect(caret.view, "focus-in-event",
                   G_CALLBACK(+[](GtkWidget *, GdkEvent *, gpointer data) -> gboolean {
                     restartBlink(*static_cast<Caret *>(data));
                     return FALSE;
                   }),
                   &caret);
  g_signal_connect(caret.view, "focus-out-event",
                   G_CALLBACK(+[](GtkWidget *, GdkEvent *, gpointer data) -> gboolean {
                     auto *c = static_cast<Caret *>(data);
                     stopBlink(*c);
                     c->redraw();
                     return FALSE;
                   }),
                   &caret);
  // Over the view's own drawing, as the view drew it: black, at least 30
  // twips wide.
  g_signal_connect_after(
      caret.view, "draw", G_CALLBACK(+[](GtkWidget *view, cairo_t *cr, gpointer data) -> gboolean {
        const auto *c = static_cast<const Caret *>(data);
        if (!gtk_widget_has_focus(view) || !c->blinkOn || !lok_doc_view_get_edit(LOK_DOC_VIEW(view)))
          return FALSE;
        const PixelBox b = c->box();
        if (b.empty()) return FALSE;
        cairo_save(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_rectangle(cr, b.x, b.y, b.width, b.height);
        cairo_fill(cr);
        cairo_restore(cr);
        return FALSE;
      }),
      &caret);
}

}  // namespace

void filterCursorReports(LibreOfficeKit *office) {
  wrap(office->pClass->documentLoadWithOptions, g_engineDocumentLoad, &loadFiltered);
}

Caret::Caret(GtkWidget *v) : view(v) {
  {
    const std::scoped_lock lock(g_caretsLock);
    g_carets.push_back(this);
  }
  watchCaret(*this);
}

Caret::~Caret() {
  alive.end();
  const std::scoped_lock lock(g_caretsLock);
  std::erase(g_carets, this);
}

void Caret::stopWatching() {
  stopBlink(*this);
  g_signal_handlers_disconnect_by_data(view, this);
}

PixelBox Caret::place() const {
  return caretBox(twipX, twipY, twipWidth, twipHeight, lok_doc_view_get_zoom(LOK_DOC_VIEW(view)));
}

PixelBox Caret::box() const { return engineShows.load() ? place() : PixelBox{}; }

void Caret::redraw() const {
  const PixelBox b = place();
  if (b.empty()) return;
  const auto x = static_cast<int>(std::floor(b.x)), y = static_cast<int>(std::floor(b.y));
  gtk_widget_queue_draw_area(view, x - 1, y - 1, static_cast<int>(std::ceil(b.width)) + 3,
                             static_cast<int>(std::ceil(b.height)) + 3);
}

}  // namespace quorvel
