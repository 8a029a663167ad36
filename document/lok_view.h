// SPDX-License-Identifier: GPL-3.0-or-later
// The one header of the LibreOfficeKit wrapper for the rest of the program:
// the engine (lok_engine.h), its GTK view widget and the document behind it,
// and the two calls that concern the whole process (engine_environment.h,
// process_exit.h). What the engine and its view get wrong on the versions
// the program runs with is mended in the wrapper, each in a file of its own
// in this folder (README, "LibreOffice versions"). All calls on the GTK
// thread.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/alive.h"
#include "document/engine_environment.h"
#include "document/key_order.h"
#include "document/lok_engine.h"
#include "document/process_exit.h"
#include "document/view_geometry.h"

// GTK's and cairo's names, so that this header needs neither library.
// NOLINTBEGIN(bugprone-reserved-identifier)
using GtkWidget = struct _GtkWidget;
using cairo_t = struct _cairo;
// NOLINTEND(bugprone-reserved-identifier)

namespace quorvel {

// The view's mended parts, each in a file of its own.
struct WorkerCount;      // view_worker_count.h
struct Caret;            // text_cursor.h
class ZoomBetweenTiles;  // zoom_between_tiles.h
class KeysBehindClicks;  // keys_behind_clicks.h

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
  // Takes effect once the view's worker paints no tile (see
  // zoom_between_tiles.h); zoom() tells the zoom in effect. A zoom equal to
  // it changes nothing.
  void setZoom(double zoom);
  // Before the view has drawn anything: no tile to wait for.
  void setInitialZoom(float zoom);
  double zoom() const;
  bool zoomPending() const;

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
  void sendKeys(const std::vector<QueuedKey> &keys);
  std::unique_ptr<WorkerCount> m_worker;
  std::unique_ptr<Caret> m_caret;
  std::unique_ptr<ZoomBetweenTiles> m_zoom;
  std::unique_ptr<KeysBehindClicks> m_keys;
  GtkWidget *m_view = nullptr;
  LibreOfficeKitDocument *m_doc = nullptr;
  unsigned long m_drawHandler = 0;
  std::string m_programDir;
  std::string m_profileUrl;
  std::function<void(cairo_t *, float)> m_underlay;
  bool m_opening = false;
  bool m_openFinished = false;
  Alive m_alive;
};

}  // namespace quorvel
