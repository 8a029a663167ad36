// SPDX-License-Identifier: GPL-3.0-or-later
// What the LibreOfficeKit wrapper's own files share; nothing outside the
// wrapper includes this.
#pragma once

#include <glib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

namespace quorvel {

// A local file as the engine names it.
inline std::string fileUrl(const std::filesystem::path &p) {
  gchar *uri = g_filename_to_uri(p.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : "";
  g_free(uri);
  return out;
}

// Puts `hooked` in an engine's table of calls in place of the engine's own
// call, which it keeps in `original` for `hooked` to pass the call on to.
// Done once: a table that has it already is left as it is.
template <typename Fn>
void wrap(Fn &slot, std::atomic<Fn> &original, Fn hooked) {
  // The function table is shared by every document of the engine.
  Fn current = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
  if (current == hooked) return;
  original.store(current);
  __atomic_store_n(&slot, hooked, __ATOMIC_RELEASE);
}

// Runs `fn` once on the GTK thread, from the main loop at `priority`; may be
// asked for from any thread.
inline void runOnGtkThread(int priority, std::function<void()> fn) {
  g_idle_add_full(
      priority,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()> *>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(fn)),
      [](gpointer data) { delete static_cast<std::function<void()> *>(data); });
}

}  // namespace quorvel
