// The one place that talks to LibreOfficeKit: its GTK view widget and the
// document behind it. All calls on the GTK thread.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The C libraries' own names, so that this header needs neither of them.
// NOLINTBEGIN(bugprone-reserved-identifier)
using GtkWidget = struct _GtkWidget;
using LibreOfficeKitDocument = struct _LibreOfficeKitDocument;
// NOLINTEND(bugprone-reserved-identifier)

namespace quorvel {

// Where LibreOffice is installed.
const char *lokProgramDir();

class LokView {
public:
  // Starts the engine with its own profile under `profileDir` (seeded so that
  // it never saves, locks or recovers anything). Throws OleError on failure.
  explicit LokView(const std::filesystem::path &profileDir, const std::string &programDir = lokProgramDir());
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

  // Hands a key to the document (a press, or its release).
  void postKey(bool press, int character, int code);

  int pageCount() const;
  // Width of the page area in twips, borders included.
  long documentWidthTwips() const;
  // Takes effect once the view's worker paints no tile (see lok_view.cpp);
  // zoom() tells the zoom in effect.
  void setZoom(double zoom);
  double zoom() const;
  bool zoomPending() const { return m_zoomSource != 0; }

  // Renders the given pages ("1,3,5") of the document as it now stands to
  // PDF; `scratch` is a private folder for the engine's output file.
  std::vector<std::uint8_t> exportPdf(const std::string &pageRange, const std::filesystem::path &scratch);

  // Seeds a profile folder; also used by tests and the benchmark.
  static void seedProfile(const std::filesystem::path &profileDir);

private:
  struct Pending;
  static int applyZoomWhenIdle(void *view);
  GtkWidget *m_view = nullptr;
  LibreOfficeKitDocument *m_doc = nullptr;
  double m_pendingZoom = 0;
  unsigned m_zoomSource = 0;
  unsigned long m_drawHandler = 0;
  std::int64_t m_zoomAskedUs = 0;
  std::string m_programDir;
  std::string m_profileUrl;
  bool m_opening = false;
  bool m_openFinished = false;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// The engine's installation folder.

}  // namespace quorvel
