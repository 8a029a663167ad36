// SPDX-License-Identifier: GPL-3.0-or-later
#define LOK_USE_UNSTABLE_API
#include "document/keys_behind_clicks.h"

#include <LibreOfficeKit/LibreOfficeKitEnums.h>

#include <atomic>
#include <utility>

#include "document/lok_internal.h"

namespace quorvel {

namespace {

// How often held keys look whether the clicks before them have gone: short
// against the time between two keys, so that a key follows its click closely.
constexpr unsigned kKeyPollMs = 2;

KeyOrder g_keyOrder;  // NOLINT(cert-err58-cpp): its constructor cannot throw

using PostMouseFn = void (*)(LibreOfficeKitDocument *, int, int, int, int, int, int);
std::atomic<PostMouseFn> g_enginePostMouse{nullptr};

void countedPostMouse(LibreOfficeKitDocument *doc, int type, int x, int y, int count, int buttons,
                      int modifier) {
  g_enginePostMouse.load()(doc, type, x, y, count, buttons, modifier);
  if (type != LOK_MOUSEEVENT_MOUSEMOVE) g_keyOrder.buttonPosted();
}

}  // namespace

void countQueuedClicks(GtkWidget *view) {
  // Not the double and triple press events GTK adds: the view passes on only
  // the plain presses and releases.
  auto countButton = +[](GtkWidget *, GdkEventButton *event, gpointer) -> gboolean {
    if (event->type == GDK_BUTTON_PRESS || event->type == GDK_BUTTON_RELEASE) g_keyOrder.buttonQueued();
    return FALSE;
  };
  g_signal_connect(view, "button-press-event", G_CALLBACK(countButton), nullptr);
  g_signal_connect(view, "button-release-event", G_CALLBACK(countButton), nullptr);
}

void countPostedClicks(LibreOfficeKitDocument *doc) {
  wrap(doc->pClass->postMouseEvent, g_enginePostMouse, &countedPostMouse);
}

void KeysBehindClicks::post(const QueuedKey &key) {
  m_send(g_keyOrder.add(key, g_get_monotonic_time()));
  if (g_keyOrder.waiting() && !m_source)
    m_source = g_timeout_add(
        kKeyPollMs,
        [](gpointer data) -> gboolean {
          auto *self = static_cast<KeysBehindClicks *>(data);
          self->m_send(g_keyOrder.ready(g_get_monotonic_time()));
          if (g_keyOrder.waiting()) return G_SOURCE_CONTINUE;
          self->m_source = 0;
          return G_SOURCE_REMOVE;
        },
        this);
}

void KeysBehindClicks::drop() {
  if (m_source) g_source_remove(m_source);
  m_source = 0;
  if (g_keyOrder.waiting()) g_keyOrder.ready(g_get_monotonic_time() + KeyOrder::kMaxWaitUs);
}

}  // namespace quorvel
