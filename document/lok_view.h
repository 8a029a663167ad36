// SPDX-License-Identifier: GPL-3.0-or-later
// The one place that talks to LibreOfficeKit: the engine, its GTK view widget
// and the document behind it. All calls on the GTK thread.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The engine's own type names: its structs' tags differ between releases
// (7.4: _LibreOfficeKit; 26.8: LibreOfficeKitStruct), its typedefs do not.
#include <LibreOfficeKit/LibreOfficeKit.h>

#include "document/key_order.h"
#include "document/view_geometry.h"

// GTK's and cairo's names, so that this header needs neither library.
// NOLINTBEGIN(bugprone-reserved-identifier)
using GtkWidget = struct _GtkWidget;
using cairo_t = struct _cairo;
// NOLINTEND(bugprone-reserved-identifier)

namespace quorvel {

// Where LibreOffice is installed.
const char *lokProgramDir();

// Puts every environment variable the engine and its view set as they start
// in place beforehand, so that they only change a value. Adding a name moves
// the environment's array, and glibc before 2.40 (Debian 12) frees the old
// one under any thread reading it at the time (the GUI thread's translations
// read LANGUAGE all the time, the printer list reads CUPS's variables): a
// crash now and then. Call it first thing, before any thread is started.
void reserveEngineEnvironment();

// Ends a process that has loaded the engine, with `status`, once everything
// of its own is done and removed: output is flushed, then the process ends
// without running the static destructors of the libraries it loaded. On
// LibreOffice 26.8 the engine's own crash in exit() (SIGSEGV in libswlo), even
// after it was stopped; 7.4's do not. LibreOfficeKit hosts generally end
// without them, and this program does so on every version.
[[noreturn]] void exitAfterEngine(int status);

// The engine, started on a thread of its own so that the window can come up
// meanwhile (its start takes about half a second). The engine is process-wide:
// one per run.
class LokEngine {
public:
  // Seeds a profile under `profileDir` and starts the engine with it. The
  // engine's temporary folder is TMPDIR as it is now.
  LokEngine(const std::filesystem::path &profileDir, std::string programDir = lokProgramDir());
  // Waits for the start to end, and stops the engine unless a view took it.
  ~LokEngine();
  LokEngine(const LokEngine &) = delete;
  LokEngine &operator=(const LokEngine &) = delete;

  // Runs `done` on the GTK thread once the start has ended (well or not), or
  // right away if it has. Nothing runs after the engine object is gone.
  void whenStarted(std::function<void()> done);
  bool started() const;
  // Empty once running; the reason otherwise.
  const std::string &failure() const { return m_failure; }

  const std::string &programDir() const { return m_programDir; }
  const std::string &profileUrl() const { return m_profileUrl; }

private:
  friend class LokView;
  struct Shared;
  void onStarted();
  std::string m_programDir, m_profileUrl, m_failure;
  std::shared_ptr<Shared> m_shared;
  std::thread m_thread;
  LibreOfficeKit *m_office = nullptr;
  bool m_started = false;
  bool m_handedOver = false;
  std::vector<std::function<void()>> m_waiting;
};

// The tasks of a view's worker thread, counted (see lok_view.cpp).
struct WorkerCount;
// The view's text cursor, drawn by the wrapper (see lok_view.cpp).
struct Caret;

class LokView {
public:
  // A view on the started `engine`, which it takes over (the widget stops it
  // when it goes). Throws OleError when the engine did not start.
  explicit LokView(LokEngine &engine);
  ~LokView();
  LokView(const LokView &) = delete;
  LokView &operator=(const LokView &) = delete;

  GtkWidget *widget() const { return m_view; }

  // Opens `file` asynchronously; `done` gets nullptr or the error. It runs
  // once the view has set itself up after the open: the view takes the
  // keyboard focus then, so it must not be in a window before. After the
  // open has finished, the file may be deleted.
  void open(const std::filesystem::path &file, std::function<void(std::exception_ptr)> done);
  bool isOpen() const { return m_doc != nullptr; }
  // True once the view has set itself up after the open.
  bool initialized() const;
  // True once the view takes input (it drops keys before).
  bool editable() const;

  // Hands a key to the document (a press, or its release).
  void postKey(bool press, int character, int code);
  // Where the engine has put the text cursor, in the view's pixels; empty
  // while it shows none. The cursor is drawn there while the view has the
  // keyboard.
  PixelBox caret() const;

  int pageCount() const;
  // Size of the page area in twips, borders included.
  long documentWidthTwips() const;
  long documentHeightTwips() const;
  // Takes effect once the view's worker paints no tile (see lok_view.cpp);
  // zoom() tells the zoom in effect. A zoom equal to it changes nothing.
  void setZoom(double zoom);
  // Before the view has drawn anything: no tile to wait for.
  void setInitialZoom(float zoom);
  double zoom() const;
  bool zoomPending() const { return m_zoomSource != 0; }

  // Drawn under the view's tiles: what shows through where a tile is not
  // painted yet. Gets the view's zoom.
  void setUnderlay(std::function<void(cairo_t *, float)> paint);
  // Whether the view's worker has tasks queued or running; the view is only
  // destroyed once it has none.
  bool workerBusy() const;
  // Tiles painted so far, and whether the painting has been quiet this long.
  static long tilesPainted();
  static bool paintingQuietFor(std::int64_t us);

  // Renders the given pages ("1,3,5") of the document as it now stands to
  // PDF; `scratch` is a private folder for the engine's output file.
  std::vector<std::uint8_t> exportPdf(const std::string &pageRange, const std::filesystem::path &scratch);

private:
  struct Pending;
  static int applyZoomWhenIdle(void *view);
  void sendKeys(const std::vector<QueuedKey> &keys);
  std::unique_ptr<WorkerCount> m_worker;
  std::shared_ptr<Caret> m_caret;
  GtkWidget *m_view = nullptr;
  LibreOfficeKitDocument *m_doc = nullptr;
  double m_pendingZoom = 0;
  unsigned m_zoomSource = 0;
  unsigned m_keySource = 0;
  unsigned long m_drawHandler = 0;
  std::int64_t m_zoomAskedUs = 0;
  std::string m_programDir;
  std::string m_profileUrl;
  std::function<void(cairo_t *, float)> m_underlay;
  bool m_opening = false;
  bool m_openFinished = false;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace quorvel
