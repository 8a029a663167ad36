// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the window and print tests: a GTK main loop to wait on, the real
// window with recorded message boxes, and access to the test print scheduler.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Main.h"

namespace quorvel::test {

void initGtk();

// The longest gap between two turns of the GTK main loop since it was made
// (or reset): a timer at high priority notes each turn.
class LoopProbe {
public:
  LoopProbe();
  ~LoopProbe();
  LoopProbe(const LoopProbe &) = delete;
  LoopProbe &operator=(const LoopProbe &) = delete;
  void reset();
  double longestGapMs() const;
  // Gaps over 50 ms: when each ended (ms after the reset) and how long it was.
  std::string longGaps() const;

private:
  static gboolean tick(gpointer self);
  guint m_source = 0;
  std::chrono::steady_clock::time_point m_last, m_reset;
  double m_longest = 0;
  std::string m_longGaps;
};
// Runs `tick` every few milliseconds on the main loop for as long as it lives
// (also inside the nested loops of a print-out).
class EveryTick {
public:
  explicit EveryTick(std::function<void()> tick);
  ~EveryTick();
  EveryTick(const EveryTick &) = delete;
  EveryTick &operator=(const EveryTick &) = delete;

private:
  std::function<void()> m_tick;
  guint m_source = 0;
};
// Runs the main loop until `done` holds or `timeoutMs` has passed.
bool pumpUntil(const std::function<bool()> &done, int timeoutMs);
void pumpFor(int ms);

// Whether the window asks to be drawn see-through (_NET_WM_WINDOW_OPACITY 0),
// as the window manager reads it; Xvfb has no compositor to honour it.
bool seeThrough(Gtk::Window &window);
// Whether the X server has the window on screen (GDK counts it viewable as
// soon as it asks for that).
bool viewableOnServer(Gtk::Window &window);

std::vector<std::uint8_t> readFile(const std::filesystem::path &path);
std::filesystem::path dataFile(const std::string &name);

struct Box {
  std::string text;
  bool error;
};

// The run's temporary folder: TMPDIR as it was when first asked, before an
// engine set its own. tools/test.sh points it into the run's folder, so what
// a test that crashed or hung leaves goes with the run.
std::filesystem::path testTmpDir();
// A new folder `name`.XXXXXX there.
std::filesystem::path makeTestDir(const std::string &name);

// The real window on a private folder of its own; message boxes are recorded
// instead of shown, and nothing may be left in the folder once it is gone.
class FormRun {
public:
  // The private folder is made in `under`.
  explicit FormRun(FormServices services, const std::filesystem::path &under = testTmpDir());
  ~FormRun();
  TForm1 &form() { return *m_form; }
  TForm1 *operator->() { return m_form.get(); }
  const std::vector<Box> &boxes() const { return m_boxes; }
  void clearBoxes() { m_boxes.clear(); }
  // Shows the window and waits until start-up has finished.
  bool showAndStart(int timeoutMs = 60000);
  // Closes and destroys the window; true when its private folder is gone
  // and the environment has gained no name meanwhile (see
  // reserveEngineEnvironment).
  bool close();
  const std::filesystem::path &root() const { return m_root; }

private:
  std::filesystem::path m_root;
  std::unique_ptr<TForm1> m_form;
  std::vector<Box> m_boxes;
  char **m_environ = nullptr;
  std::set<std::string> m_envNames;
};

// The small file system of this test's own (tests/integration/small-disk.sh
// mounts it); empty when the test runs without one.
std::filesystem::path smallDisk();

// Fills the file system of `folder` to the last byte with one file of its
// own, which goes again with release() or with the object.
class DiskFiller {
public:
  explicit DiskFiller(const std::filesystem::path &folder);
  ~DiskFiller();
  DiskFiller(const DiskFiller &) = delete;
  DiskFiller &operator=(const DiskFiller &) = delete;
  // True once no byte more fits.
  bool fill();
  void release();

private:
  std::filesystem::path m_file;
};

// A resource table holding `bytes` as "p1".
ResourceTable chartTable(const std::vector<std::uint8_t> &bytes);

// The program's own printing services over `resources`: every CUPS queue, printed through CUPS.
FormServices cupsServices(ResourceTable resources);

// `resources` with a fixed printer list and no print system behind it.
FormServices listedPrinters(ResourceTable resources, std::vector<std::string> printers);

// Picks `queue` in the printer list as the user would; false when it is not listed.
bool choosePrinter(TForm1 &form, const std::string &queue);

// Whether the keyboard focus is in `w` or one of its children.
bool focusIn(Gtk::Window &window, Gtk::Widget &w);

// A key press and release delivered to `widget` as if typed.
void sendKey(GtkWidget *widget, guint keyval, guint modifiers = 0);

// What the user sees while a click runs, looked at every few milliseconds:
// each text of the print-out's progress box, and when `out` first held.
// `act` is given each new text, and the box.
class ClickWatch {
public:
  using Clock = std::chrono::steady_clock;
  ClickWatch(TForm1 &form, std::function<bool()> out,
             std::function<void(const std::string &, ProgressBox &)> act = {});
  const std::vector<std::string> &texts() const { return m_texts; }
  std::optional<Clock::time_point> firstOut() const { return m_firstOut; }
  bool saw(const std::string &part) const;
  std::string all() const;  // every text, for a failure message

private:
  void tick();
  TForm1 &m_form;
  std::function<bool()> m_out;
  std::function<void(const std::string &, ProgressBox &)> m_act;
  std::vector<std::string> m_texts;
  std::optional<Clock::time_point> m_firstOut;
  EveryTick m_tick{[this] { tick(); }};
};
// Presses the progress box's "Отмена" as the user would.
void pressCancel(ProgressBox &box);

// The test print scheduler started by tools/test.sh (empty when there is none).
std::filesystem::path cupsDir();
// Whether the test scheduler hands a job's credentials to its backends (it
// does only when run as root).
bool schedulerPassesCredentials();
// Runs tests/cups/cups-harness.sh with these arguments (no shell); true on success.
bool cupsHarness(const std::vector<std::string> &args);

struct CapturedJob {
  int id;
  std::string title;
  std::string printer;
  std::filesystem::path pdf;
  int copies;           // as the scheduler handed them to the backend
  std::string options;  // the job's options as the backend got them
  std::string authUser;  // the user name it came with (a share's queue)
  // The value of one option ("sides"); empty when the job has none.
  std::string option(const std::string &name) const;
};
// The jobs the capture queue `printer` has received, by job id.
std::vector<CapturedJob> capturedJobs(const std::string &printer);
// Jobs for `queue` the scheduler still holds (pending, held or processing);
// asked of all queues, since one that was never created has none.
int activeJobs(const std::string &queue);
// Waits until `printer` has received at least `n` jobs.
bool waitForJobs(const std::string &printer, std::size_t n, int timeoutMs = 30000);
// The QMARK-PAGE-nn markers of a PDF, in page order.
std::vector<int> pdfMarkers(const std::filesystem::path &pdf);
int pdfPageCount(const std::filesystem::path &pdf);

}  // namespace quorvel::test
