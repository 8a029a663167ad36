// SPDX-License-Identifier: GPL-3.0-or-later
// The program with its embedded chart swapped for a file, or taken away, so
// tests and benchmarks can run the real window on other documents.
//
//   quorvel-test-app [--doc FILE | --no-p1] [--late-engine-setup MS]
//   quorvel-test-app --seed-profile DIR   seeds an engine profile as the
//                                         program does its own, and ends
//
// It says "engine view ready" on stderr once the engine's view has set
// itself up. --late-engine-setup holds that set-up (an idle of the view's,
// queued when the document has opened) back for MS milliseconds after the
// open has finished, as a busy machine does at random.
#include <glib-object.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/Main.h"
#include "document/engine_profile.h"
#include "document/lok_view.h"
#include "printing/cups_spooler.h"

namespace {

int g_lateMs = 0;
gint64 g_holdUntil = 0;

bool viewInitialized(quorvel::LokView &view) {
  gboolean initialized = FALSE;
  g_object_get(view.widget(), "is-initialized", &initialized, nullptr);
  return initialized;
}

quorvel::TForm1 *form() {
  for (Gtk::Window *w : Gtk::Window::list_toplevels())
    if (auto *f = dynamic_cast<quorvel::TForm1 *>(w)) return f;
  return nullptr;
}

quorvel::LokView *engineView() { return form() ? form()->oleContainer().view() : nullptr; }

// Always ready at a priority above that of idle sources (and below drawing),
// so that no idle source runs: from the engine's start until the open has
// finished, then for the given time more.
gboolean holdIdles(gpointer) {
  quorvel::LokView *view = engineView();
  if (!g_holdUntil && view && view->isOpen() && !viewInitialized(*view)) {
    g_holdUntil = g_get_monotonic_time() + std::int64_t{g_lateMs} * 1000;
    std::fprintf(stderr, "holding the view's set-up back for %d ms\n", g_lateMs);
  }
  if (!view || (g_holdUntil && g_get_monotonic_time() >= g_holdUntil)) return G_SOURCE_REMOVE;
  g_usleep(1000);
  return G_SOURCE_CONTINUE;
}

// Waits for the engine's view to exist; says on stderr when its set-up has run.
gboolean watchEngine(gpointer) {
  quorvel::LokView *view = engineView();
  if (!view) return form() && form()->started() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
  g_signal_connect(
      view->widget(), "notify::is-initialized",
      G_CALLBACK(+[](GObject *, GParamSpec *, gpointer) { std::fprintf(stderr, "engine view ready\n"); }),
      nullptr);
  if (g_lateMs > 0) g_idle_add_full(G_PRIORITY_DEFAULT_IDLE - 50, holdIdles, nullptr, nullptr);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char **argv) {
  using namespace quorvel;
  static std::vector<std::uint8_t> bytes;
  static std::vector<Resource> table;
  bool builtIn = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-p1") == 0) {
      builtIn = false;
    } else if (std::strcmp(argv[i], "--doc") == 0 && i + 1 < argc) {
      std::ifstream in(argv[++i], std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[i]);
        return 2;
      }
      bytes.assign(std::istreambuf_iterator<char>(in), {});
      table = {Resource{"p1", bytes}};
      builtIn = false;
    } else if (std::strcmp(argv[i], "--seed-profile") == 0 && i + 1 < argc) {
      seedEngineProfile(argv[i + 1]);
      return 0;
    } else if (std::strcmp(argv[i], "--late-engine-setup") == 0 && i + 1 < argc) {
      g_lateMs = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--doc FILE | --no-p1] [--late-engine-setup MS] | --seed-profile DIR\n",
                   argv[0]);
      return 2;
    }
  }
  g_timeout_add_full(G_PRIORITY_DEFAULT, 5, watchEngine, nullptr, nullptr);
  FormServices services;
  services.resources = builtIn ? builtInResources() : ResourceTable(table);
  services.printers = [] { return CupsSpooler::listQueues(); };
  services.spooler = std::make_shared<CupsSpooler>();
  exitAfterEngine(runApplication(std::move(services)));
}
