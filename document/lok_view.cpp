// SPDX-License-Identifier: GPL-3.0-or-later
#define LOK_USE_UNSTABLE_API
#include "document/lok_view.h"

#include <LibreOfficeKit/LibreOfficeKit.h>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>
#include <LibreOfficeKit/LibreOfficeKitGtk.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>
#include <gtk/gtk.h>
#include <json-glib/json-glib.h>

#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string_view>
#include <utility>

#include "automation/automation.h"
#include "document/engine_output.h"
#include "document/engine_profile.h"
#include "document/key_order.h"
#include "document/private_dir.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

std::string fileUrl(const fs::path &p) {
  gchar *uri = g_filename_to_uri(p.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : "";
  g_free(uri);
  return out;
}

// The engine's own texts are English and end in "."; ours stay Russian.
[[noreturn]] void engineFailure(const std::string &what, GError *error) {
  std::string text = what;
  if (error && error->message && *error->message) text += ": " + std::string(error->message);
  if (error) g_error_free(error);
  throw OleServerError(text);
}

// Commands the view must never run: saving, opening, printing, closing.
constexpr const char *kBlockedCommands =
    ".uno:Save .uno:SaveAs .uno:SaveAll .uno:SaveACopy .uno:ExportTo .uno:ExportToPDF "
    ".uno:ExportDirectToPDF .uno:ExportDirectToEPUB .uno:Open .uno:OpenRemote .uno:Print "
    ".uno:PrintDefault .uno:PrintPreview .uno:CloseDoc .uno:CloseWin .uno:Quit .uno:AddDirect "
    ".uno:NewDoc .uno:SendMail .uno:SendMailDocAsPDF .uno:SendMailDocAsMS .uno:Signature "
    ".uno:InsertGraphic .uno:InsertObject";

// The view paints tiles on a worker thread. When its tile buffer is replaced
// (every zoom change) while a tile is being painted, it drops that tile
// without freeing it: 256 kB lost each time, which added up to tens of MB over
// a few hundred window resizes. So the engine's paintTile is counted, and
// zoom changes wait until no tile is being painted. The views of LibreOffice
// 7.4 and 26.8 both lose the tile (zoom changes forced into a paint lose one
// tile each on both), so this holds for every version.
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

// Keys wait for the clicks queued before them (see key_order.h); the view of
// 7.4 and of 26.8 alike hands clicks to its worker and lets them wait there.
KeyOrder g_keyOrder;  // NOLINT(cert-err58-cpp): its constructor cannot throw

using PostMouseFn = void (*)(LibreOfficeKitDocument *, int, int, int, int, int, int);
std::atomic<PostMouseFn> g_enginePostMouse{nullptr};

void countedPostMouse(LibreOfficeKitDocument *doc, int type, int x, int y, int count, int buttons,
                      int modifier) {
  g_enginePostMouse.load()(doc, type, x, y, count, buttons, modifier);
  if (type != LOK_MOUSEEVENT_MOUSEMOVE) g_keyOrder.buttonPosted();
}

template <typename Fn>
void wrap(Fn &slot, std::atomic<Fn> &original, Fn counted) {
  // The function table is shared by every document of the engine.
  Fn current = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
  if (current == counted) return;
  original.store(current);
  __atomic_store_n(&slot, counted, __ATOMIC_RELEASE);
}

void countEngineCalls(LibreOfficeKitDocument *doc) {
  wrap(doc->pClass->paintTile, g_enginePaintTile, &countedPaintTile);
  wrap(doc->pClass->postMouseEvent, g_enginePostMouse, &countedPostMouse);
}

// How long the close waits at most for the view's worker to finish its tasks.
constexpr std::int64_t kDestroyWaitCapUs = std::int64_t{10} * 1000 * 1000;

// Between two queued tiles the worker does only a little bookkeeping, far
// less than this; this much quiet is taken to mean the queue is empty.
constexpr std::int64_t kPaintQuietUs = 3000;
// A view that never stops painting still gets its zoom, at the cost of a tile.
constexpr std::int64_t kZoomWaitCapUs = 500000;

// The export filter's JSON options for the given pages.
std::string pdfExportOptions(const std::string &pageRange) {
  JsonBuilder *builder = json_builder_new();
  json_builder_begin_object(builder);
  json_builder_set_member_name(builder, "PageRange");
  json_builder_begin_object(builder);
  json_builder_set_member_name(builder, "type");
  json_builder_add_string_value(builder, "string");
  json_builder_set_member_name(builder, "value");
  json_builder_add_string_value(builder, pageRange.c_str());
  json_builder_end_object(builder);
  json_builder_end_object(builder);
  JsonNode *root = json_builder_get_root(builder);
  gchar *text = json_to_string(root, FALSE);
  std::string options = text;
  g_free(text);
  json_node_unref(root);
  g_object_unref(builder);
  return options;
}

// The view hands each request (a key, a click, a zoom, a tile to paint) to
// its worker thread in a GTask that only carries it: the worker carries the
// request out and drops the task without a result, as nobody waits for one
// (only the open and painted tiles are answered; a tile found painted already
// is skipped). GLib 2.84 (Debian 13) reports each such task as critical when
// it is freed, dozens on every start and at every key; GLib 2.74 (Debian 12)
// does not. Exactly these reports are dropped: domain GLib-GIO, that message,
// and a source object that is one of our views, alive (the task holds it).
std::mutex g_viewsLock;
std::vector<const void *> g_views;  // NOLINT(cert-err58-cpp): cannot throw

void viewCreated(GtkWidget *view) {
  {
    const std::scoped_lock lock(g_viewsLock);
    g_views.push_back(view);
  }
  g_object_weak_ref(
      G_OBJECT(view),
      [](gpointer, GObject *gone) {
        const std::scoped_lock lock(g_viewsLock);
        std::erase(g_views, static_cast<const void *>(gone));
      },
      nullptr);
}

std::string_view logField(const GLogField &field) {
  const auto *text = static_cast<const char *>(field.value);
  if (!text) return {};
  return field.length < 0 ? std::string_view(text)
                          : std::string_view(text, static_cast<std::size_t>(field.length));
}

bool isViewTaskReport(std::string_view domain, std::string_view message) {
  constexpr std::string_view kSource = " (source object: ";
  if (domain != "GLib-GIO" || !message.starts_with("GTask ") ||
      message.find(") finalized without ever returning") == std::string_view::npos)
    return false;
  const std::size_t at = message.find(kSource);
  if (at == std::string_view::npos) return false;
  const std::string pointer(message.substr(at + kSource.size(), 32));
  char *end = nullptr;
  const auto value = static_cast<std::uintptr_t>(std::strtoull(pointer.c_str(), &end, 16));
  if (end == pointer.c_str() || *end != ',') return false;
  const std::scoped_lock lock(g_viewsLock);
  // Compared as numbers: the report's text is all there is of its source.
  return std::any_of(g_views.begin(), g_views.end(),
                     [value](const void *view) { return reinterpret_cast<std::uintptr_t>(view) == value; });
}

GLogWriterOutput writeLog(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer data) {
  if (level & G_LOG_LEVEL_CRITICAL) {
    std::string_view domain, message;
    for (gsize i = 0; i < count; ++i) {
      if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = logField(fields[i]);
      if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = logField(fields[i]);
    }
    if (isViewTaskReport(domain, message)) return G_LOG_WRITER_HANDLED;
  }
  return g_log_writer_default(level, fields, count, data);
}

// The engine puts its own handlers on the signals a desktop ends programs
// with when it starts; its SIGHUP handler (7.4 and 26.8) ignores the signal,
// so a program hung up on would never close. The program's own handlers
// (which close the window) are put back once the engine has started.
class KeepSignals {
public:
  KeepSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], nullptr, &m_saved[i]);
  }
  ~KeepSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &m_saved[i], nullptr);
  }
  KeepSignals(const KeepSignals &) = delete;
  KeepSignals &operator=(const KeepSignals &) = delete;
  KeepSignals(KeepSignals &&) = delete;
  KeepSignals &operator=(KeepSignals &&) = delete;

private:
  static constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
  std::array<struct sigaction, 3> m_saved{};
};

// The engine's own lines on std::cerr go through EngineOutput from before it
// starts to the end of the process (it may write until the very end, so the
// filter is never freed).
EngineOutput *g_engineOutput = nullptr;

void filterEngineOutput() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_engineOutput = new EngineOutput(std::cerr.rdbuf());
    std::cerr.rdbuf(g_engineOutput);
  });
}

}  // namespace

// The text cursor. The view (7.4 and 26.8) draws the cursor whenever the
// engine reports it visible, blinking also while another control has the
// keyboard, and under it a touch handle for dragging it (a grey dot, its
// share/libreofficekit/handle_image_middle.png) whenever nothing is selected
// (7.4's source: a click on the dot is taken for dragging it and never
// reaches the engine). Writer shows no handle, and its cursor only while the
// document has the keyboard.
// The view draws neither while the engine reports the cursor hidden, so the
// view is told that, always, on the reports' way to it (its registerCallback
// is wrapped as soon as the engine has loaded the document, before the view
// registers), and the cursor is drawn here instead: where the engine put it,
// while the view has the keyboard and the engine shows it, blinking as Writer
// does.
struct Caret : std::enable_shared_from_this<Caret> {
  GtkWidget *view = nullptr;
  // The view's own receiver of the engine's reports.
  LibreOfficeKitCallback viewCallback = nullptr;
  void *viewData = nullptr;
  // As the engine last reported it; the view starts out taking it as shown.
  std::atomic<bool> engineShows{true};
  // Where the engine put it (twips); on the GTK thread.
  int twipX = 0, twipY = 0, twipWidth = 0, twipHeight = 0;
  bool blinkOn = true;
  unsigned blinkSource = 0;

  PixelBox place() const {
    return caretBox(twipX, twipY, twipWidth, twipHeight, lok_doc_view_get_zoom(LOK_DOC_VIEW(view)));
  }
  PixelBox box() const { return engineShows.load() ? place() : PixelBox{}; }
  void redraw() const {
    const PixelBox b = place();
    if (b.empty()) return;
    const auto x = static_cast<int>(std::floor(b.x)), y = static_cast<int>(std::floor(b.y));
    gtk_widget_queue_draw_area(view, x - 1, y - 1, static_cast<int>(std::ceil(b.width)) + 3,
                               static_cast<int>(std::ceil(b.height)) + 3);
  }
};

namespace {

std::vector<Caret *> g_carets;  // NOLINT(cert-err58-cpp): cannot throw; under g_viewsLock

Caret *caretOf(const void *view) {
  const std::scoped_lock lock(g_viewsLock);
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
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer weak) -> gboolean {
          if (auto c = static_cast<std::weak_ptr<Caret> *>(weak)->lock()) c->redraw();
          return G_SOURCE_REMOVE;
        },
        new std::weak_ptr<Caret>(caret->weak_from_this()),
        [](gpointer weak) { delete static_cast<std::weak_ptr<Caret> *>(weak); });
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

// How Writer blinks its cursor: half the desktop's blink time each way (500
// ms for a time of 100 ms or less), or not at all.
unsigned caretBlinkMs() {
  gboolean blink = TRUE;
  gint time = 1200;
  g_object_get(gtk_settings_get_default(), "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &time,
               nullptr);
  if (!blink) return 0;
  return time > 100 ? static_cast<unsigned>(time / 2) : 500;
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

// The view hands every request to a worker thread of its own, a GLib thread
// pool, and its destroy frees that pool while holding the lock each task takes
// first: a task that has started but not yet taken the lock then waits for
// the destroy, which waits for the task, for ever (7.4 and 26.8 alike). So the
// view may only go once its worker has nothing queued or running. The pool is
// private to the widget; the calls that make it and queue tasks on it are
// GLib's, which the program provides itself here and passes on to GLib, and
// for the view's pool alone it counts the tasks queued and finished.
struct WorkerCount {
  GFunc run = nullptr;
  gpointer data = nullptr;
  std::atomic<long> queued{0};
  std::atomic<long> finished{0};
  bool busy() const { return queued.load() != finished.load(); }
};

namespace {

// Set while a view is made on this thread: the pool it makes is counted.
thread_local WorkerCount *t_newViewWorker = nullptr;

void runCounted(gpointer task, gpointer count) {
  auto *worker = static_cast<WorkerCount *>(count);
  worker->run(task, worker->data);
  worker->finished.fetch_add(1);
}

template <typename Fn>
Fn glibs(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace
}  // namespace quorvel

extern "C" GThreadPool *g_thread_pool_new(GFunc func, gpointer data, gint maxThreads, gboolean exclusive,
                                          GError **error) {
  static const auto next = quorvel::glibs<decltype(&g_thread_pool_new)>("g_thread_pool_new");
  quorvel::WorkerCount *worker = std::exchange(quorvel::t_newViewWorker, nullptr);
  if (!worker) return next(func, data, maxThreads, exclusive, error);
  worker->run = func;
  worker->data = data;
  return next(&quorvel::runCounted, worker, maxThreads, exclusive, error);
}

extern "C" gboolean g_thread_pool_push(GThreadPool *pool, gpointer task, GError **error) {
  static const auto next = quorvel::glibs<decltype(&g_thread_pool_push)>("g_thread_pool_push");
  // GThreadPool's fields are GLib's public API.
  auto *worker = pool && pool->func == &quorvel::runCounted
                     ? static_cast<quorvel::WorkerCount *>(pool->user_data)
                     : nullptr;
  if (worker) worker->queued.fetch_add(1);
  const gboolean pushed = next(pool, task, error);
  if (worker && !pushed) worker->queued.fetch_sub(1);
  return pushed;
}

namespace quorvel {

const char *lokProgramDir() { return "/usr/lib/libreoffice/program"; }

namespace {

// Set when URE_BOOTSTRAP is ours: the engine is then told its own.
bool g_ureBootstrapReserved = false;

std::string ureBootstrap(const std::string &programDir) {
  return fileUrl(fs::path(programDir) / "fundamentalrc");
}

void reserve(const char *name, const std::string &value) { setenv(name, value.c_str(), 0); }

}  // namespace

// The names were found by watching setenv while the engine starts, a view is
// made, a page is printed and the engine stops, on 7.4 and 26.8. Each gets
// the value it will have, or one that reads as unset, and a value the user has
// set stays. The window's tests check that no name is added after this.
void reserveEngineEnvironment() {
  // The engine's temporary folder is set later (see OleContainer).
  reserve("TMPDIR", g_get_tmp_dir());
  // Set by the engine as it starts (7.4, 26.8), to the file it would read
  // anyway; that is where it finds its libraries.
  g_ureBootstrapReserved = !std::getenv("URE_BOOTSTRAP");
  reserve("URE_BOOTSTRAP", ureBootstrap(lokProgramDir()));
  // Set by the engine as it starts (7.4, 26.8); nothing reads them before.
  // gettext, GLib and the engine read an empty LANGUAGE as unset.
  reserve("LIBO_VERSION", "");
  reserve("LANGUAGE", "");
  // Set by 26.8 as it starts, where unset, to the first of these that can be
  // read: the system's certificates, which OpenSSL reads anyway.
  for (const char *bundle : {"/etc/pki/tls/certs/ca-bundle.crt", "/etc/pki/tls/certs/ca-bundle.trust.crt",
                             "/etc/ssl/certs/ca-certificates.crt", "/var/lib/ca-certificates/ca-bundle.pem"}) {
    if (access(bundle, R_OK) == 0) {
      reserve("SSL_CERT_FILE", bundle);
      break;
    }
  }
  // Set by the view (7.4, 26.8), where unset, as it is made, to this list;
  // the engine reads it only later.
  reserve("LOK_ALLOWLIST_LANGUAGES", "de_DE en_GB en_US es_ES fr_FR it nl pt_BR pt_PT ru");
}

void exitAfterEngine(int status) {
  if (g_engineOutput) g_engineOutput->release();
  std::cout.flush();
  std::cerr.flush();
  // Nothing is left to tell if this fails: the streams are all there is.
  (void)std::fflush(nullptr);
  _exit(status);
}

struct LokEngine::Shared {
  LokEngine *owner;  // cleared when the engine object goes
};

LokEngine::LokEngine(const fs::path &profileDir, std::string programDir)
    : m_programDir(std::move(programDir)), m_shared(std::make_shared<Shared>(Shared{this})) {
  // Tiles and the engine's page buffers are large, short-lived blocks. With
  // the allocator's sliding threshold they soon come from the heap, where
  // they fragment it and hold resident pages; a fixed threshold keeps them
  // mapped on their own and returned when freed.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  filterEngineOutput();
  seedEngineProfile(profileDir);
  m_profileUrl = fileUrl(profileDir);
  // Its value changed in place (see reserveEngineEnvironment).
  if (g_ureBootstrapReserved) setenv("URE_BOOTSTRAP", ureBootstrap(m_programDir).c_str(), 1);
  m_thread = std::thread([this, shared = m_shared] {
    const KeepSignals keep;
    m_office = lok_init_2(m_programDir.c_str(), m_profileUrl.c_str());
    if (!m_office) m_failure = "LibreOfficeKit не загружается из «" + m_programDir + "»";
    // The view's load, so that its reports are filtered (see Caret).
    if (m_office) wrap(m_office->pClass->documentLoadWithOptions, g_engineDocumentLoad, &loadFiltered);
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          if (LokEngine *owner = (*static_cast<std::shared_ptr<Shared> *>(data))->owner) owner->onStarted();
          return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Shared>(shared),
        [](gpointer data) { delete static_cast<std::shared_ptr<Shared> *>(data); });
  });
}

LokEngine::~LokEngine() {
  // The start cannot be cut short; the window is gone by now, so waiting
  // for it holds nobody up.
  if (m_thread.joinable()) m_thread.join();
  m_shared->owner = nullptr;
  // Stopped here, or it would write its profile at process exit, after our
  // folder is gone.
  if (m_office && !m_handedOver) m_office->pClass->destroy(m_office);
}

void LokEngine::onStarted() {
  m_started = true;
  for (auto &done : std::exchange(m_waiting, {})) done();
}

bool LokEngine::started() const { return m_started; }

void LokEngine::whenStarted(std::function<void()> done) {
  if (m_started)
    done();
  else
    m_waiting.push_back(std::move(done));
}

LokView::LokView(LokEngine &engine) : m_programDir(engine.programDir()), m_profileUrl(engine.profileUrl()) {
  if (!engine.started() || !engine.m_office)
    throw OleServerError("Не удалось запустить LibreOffice: " +
                         (engine.failure().empty() ? std::string("запуск не закончен") : engine.failure()));
  GError *error = nullptr;
  // The pool the widget makes for its worker is counted (see WorkerCount).
  m_worker = std::make_unique<WorkerCount>();
  t_newViewWorker = m_worker.get();
  // The engine is running: asking for it again gives that instance at once.
  m_view = lok_doc_view_new_from_user_profile(m_programDir.c_str(), m_profileUrl.c_str(), nullptr, &error);
  t_newViewWorker = nullptr;
  if (!m_view) engineFailure("Не удалось запустить LibreOffice", error);
  engine.m_handedOver = true;
  g_object_ref_sink(m_view);
  // The process's log writer, set once, before the view's worker runs.
  static std::once_flag writer;
  std::call_once(writer, [] { g_log_set_writer_func(writeLog, nullptr, nullptr); });
  viewCreated(m_view);
  m_caret = std::make_shared<Caret>();
  m_caret->view = m_view;
  {
    const std::scoped_lock lock(g_viewsLock);
    g_carets.push_back(m_caret.get());
  }
  watchCaret(*m_caret);
  // While a zoom change waits, the view must not ask for tiles at the old
  // zoom: they would only keep the worker busy, and be lost at the change.
  m_drawHandler =
      g_signal_connect(m_view, "draw", G_CALLBACK(+[](GtkWidget *w, cairo_t *cr, gpointer data) -> gboolean {
                         auto *self = static_cast<LokView *>(data);
                         if (self->m_underlay) self->m_underlay(cr, lok_doc_view_get_zoom(LOK_DOC_VIEW(w)));
                         return self->zoomPending();
                       }),
                       this);
  // Clicks the view queues for its worker, counted before it sees them.
  // (Not the double and triple press events GTK adds: the view passes on
  // only the plain presses and releases.)
  auto countButton = +[](GtkWidget *, GdkEventButton *event, gpointer) -> gboolean {
    if (event->type == GDK_BUTTON_PRESS || event->type == GDK_BUTTON_RELEASE) g_keyOrder.buttonQueued();
    return FALSE;
  };
  g_signal_connect(m_view, "button-press-event", G_CALLBACK(countButton), nullptr);
  g_signal_connect(m_view, "button-release-event", G_CALLBACK(countButton), nullptr);
}

LokView::~LokView() {
  *m_alive = false;
  if (m_zoomSource) g_source_remove(m_zoomSource);
  if (m_keySource) g_source_remove(m_keySource);
  // Keys still held back go nowhere now; none waits for the next view.
  if (g_keyOrder.waiting()) g_keyOrder.ready(g_get_monotonic_time() + KeyOrder::kMaxWaitUs);
  if (m_view) {
    g_signal_handler_disconnect(m_view, m_drawHandler);
    stopBlink(*m_caret);
    g_signal_handlers_disconnect_by_data(m_view, m_caret.get());
    if (GtkWidget *parent = gtk_widget_get_parent(m_view))
      gtk_container_remove(GTK_CONTAINER(parent), m_view);
    // Destroying the widget closes the document without saving and shuts the
    // engine down now; a plain unref would leave that to whoever holds the
    // last reference, after our folder is gone.
    // With the view out of the window nothing queues more work; what is
    // queued (tiles, typed keys, a zoom) is carried out first (see
    // WorkerCount above).
    const std::int64_t since = g_get_monotonic_time();
    while (m_worker->busy() && g_get_monotonic_time() - since < kDestroyWaitCapUs)
      g_usleep(G_TIME_SPAN_MILLISECOND);
    gtk_widget_destroy(m_view);
    // The widget stops the engine only when it holds a document. After a
    // failed open, stop it here, or it writes its profile at process exit,
    // after our folder is gone. (Asking for the engine again gives the
    // running instance.)
    if (!m_doc && m_openFinished) {
      if (LibreOfficeKit *office = lok_init_2(m_programDir.c_str(), m_profileUrl.c_str()))
        office->pClass->destroy(office);
    }
    {
      // The engine has stopped: no report comes for this view any more.
      const std::scoped_lock lock(g_viewsLock);
      std::erase(g_carets, m_caret.get());
    }
    // Callbacks the engine queued before it stopped still name the widget:
    // let them run first.
    g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer view) {
          g_object_unref(view);
          return G_SOURCE_REMOVE;
        },
        m_view, nullptr);
  }
}

struct LokView::Pending {
  LokView *self;
  std::weak_ptr<bool> alive;
  std::function<void(std::exception_ptr)> done;
};

void LokView::open(const fs::path &file, std::function<void(std::exception_ptr)> done) {
  const std::string url = fileUrl(file);
  auto *pending = new Pending{this, m_alive, std::move(done)};
  m_opening = true;
  lok_doc_view_open_document(
      LOK_DOC_VIEW(m_view), url.c_str(), "{}", nullptr,
      [](GObject *source, GAsyncResult *result, gpointer data) {
        std::unique_ptr<Pending> p(static_cast<Pending *>(data));
        GError *error = nullptr;
        const gboolean ok = lok_doc_view_open_document_finish(LOK_DOC_VIEW(source), result, &error);
        if (!p->alive.expired() && *p->alive.lock()) p->self->m_openFinished = true;
        if (p->alive.expired() || !*p->alive.lock()) {
          if (error) g_error_free(error);
          return;
        }
        std::exception_ptr failure;
        try {
          if (!ok) engineFailure("LibreOffice не смог открыть документ", error);
          LibreOfficeKitDocument *doc = lok_doc_view_get_document(LOK_DOC_VIEW(source));
          if (!doc) engineFailure("LibreOffice не смог открыть документ", nullptr);
          if (doc->pClass->setBlockedCommandList)
            doc->pClass->setBlockedCommandList(doc, doc->pClass->getView(doc), kBlockedCommands);
          countEngineCalls(doc);
          p->self->m_doc = doc;
          lok_doc_view_set_edit(LOK_DOC_VIEW(source), TRUE);
        } catch (...) {
          failure = std::current_exception();
        }
        if (failure || p->self->initialized()) return p->done(failure);
        // The view sets itself up on an idle of its own, which may run before
        // or (on a busy machine) well after this, and takes the focus then:
        // 7.4 and 26.8 alike, so the wait holds for every version.
        g_signal_connect_data(
            source, "notify::is-initialized",
            G_CALLBACK(+[](GObject *view, GParamSpec *, gpointer waitingData) {
              auto *waiting = static_cast<Pending *>(waitingData);
              if (waiting->alive.expired() || !*waiting->alive.lock() || !waiting->self->initialized())
                return;
              auto ready = std::move(waiting->done);
              // Frees `waiting`.
              g_signal_handlers_disconnect_by_data(view, waitingData);
              ready(nullptr);
            }),
            p.release(), [](gpointer waitingData, GClosure *) { delete static_cast<Pending *>(waitingData); },
            GConnectFlags(0));
      },
      pending);
}

bool LokView::initialized() const {
  gboolean done = FALSE;
  g_object_get(m_view, "is-initialized", &done, nullptr);
  return done;
}

void LokView::postKey(bool press, int character, int code) {
  if (!m_doc) return;
  sendKeys(g_keyOrder.add(QueuedKey{press, character, code}, g_get_monotonic_time()));
  if (g_keyOrder.waiting() && !m_keySource)
    m_keySource = g_timeout_add(
        2,
        [](gpointer data) -> gboolean {
          auto *self = static_cast<LokView *>(data);
          self->sendKeys(g_keyOrder.ready(g_get_monotonic_time()));
          if (g_keyOrder.waiting()) return G_SOURCE_CONTINUE;
          self->m_keySource = 0;
          return G_SOURCE_REMOVE;
        },
        this);
}

void LokView::sendKeys(const std::vector<QueuedKey> &keys) {
  for (const QueuedKey &k : keys) {
    m_doc->pClass->postKeyEvent(m_doc, k.press ? LOK_KEYEVENT_KEYINPUT : LOK_KEYEVENT_KEYUP, k.character,
                                k.code);
  }
}

PixelBox LokView::caret() const { return m_caret ? m_caret->box() : PixelBox{}; }

int LokView::pageCount() const { return m_doc ? m_doc->pClass->getParts(m_doc) : 0; }

long LokView::documentWidthTwips() const {
  long width = 0, height = 0;
  if (m_doc) m_doc->pClass->getDocumentSize(m_doc, &width, &height);
  return width;
}

long LokView::documentHeightTwips() const {
  long width = 0, height = 0;
  if (m_doc) m_doc->pClass->getDocumentSize(m_doc, &width, &height);
  return height;
}

void LokView::setZoom(double zoom) {
  if (!m_zoomSource && static_cast<float>(zoom) == lok_doc_view_get_zoom(LOK_DOC_VIEW(m_view))) return;
  m_pendingZoom = zoom;
  if (m_zoomSource) return;
  m_zoomAskedUs = g_get_monotonic_time();
  m_zoomSource = g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, 2, &LokView::applyZoomWhenIdle, this, nullptr);
}

void LokView::setInitialZoom(float zoom) {
  if (m_zoomSource) g_source_remove(m_zoomSource);
  m_zoomSource = 0;
  lok_doc_view_set_zoom(LOK_DOC_VIEW(m_view), zoom);
}

void LokView::setUnderlay(std::function<void(cairo_t *, float)> paint) {
  m_underlay = std::move(paint);
  gtk_widget_queue_draw(m_view);
}

long LokView::tilesPainted() { return g_tilesPainted.load(); }

bool LokView::paintingQuietFor(std::int64_t us) {
  return g_paintsRunning.load() == 0 && g_get_monotonic_time() - g_lastPaintEndUs.load() >= us;
}

bool LokView::workerBusy() const { return m_worker->busy(); }

bool LokView::editable() const { return lok_doc_view_get_edit(LOK_DOC_VIEW(m_view)); }

int LokView::applyZoomWhenIdle(void *view) {
  auto *self = static_cast<LokView *>(view);
  const std::int64_t now = g_get_monotonic_time();
  const bool quiet = g_paintsRunning.load() == 0 && now - g_lastPaintEndUs.load() >= kPaintQuietUs;
  if (!quiet && now - self->m_zoomAskedUs < kZoomWaitCapUs) return G_SOURCE_CONTINUE;
  self->m_zoomSource = 0;
  lok_doc_view_set_zoom(LOK_DOC_VIEW(self->m_view), static_cast<float>(self->m_pendingZoom));
  gtk_widget_queue_draw(self->m_view);
  return G_SOURCE_REMOVE;
}

double LokView::zoom() const { return lok_doc_view_get_zoom(LOK_DOC_VIEW(m_view)); }

namespace {

// Why the engine wrote no pages, when the folder it writes them to is the
// cause: a full or unwritable temporary folder is something the user can
// mend. The engine does not say, so the folder is tried with several times
// what a print-out of the chart takes.
std::string exportFailure(const fs::path &scratch) {
  constexpr std::size_t kPrintOutRoom = std::size_t{1} << 20;
  std::string text = "LibreOffice не смог подготовить страницы к печати";
  const std::string folder = "«" + scratch.string() + "»";
  switch (folderWriteError(scratch, kPrintOutRoom)) {
    case 0: return text;
    case ENOSPC:
    case EDQUOT: return text + ": нет места во временной папке " + folder;
    case EACCES:
    case EPERM:
    case EROFS: return text + ": временная папка " + folder + " закрыта для записи";
    default: return text + ": ошибка записи во временную папку " + folder;
  }
}

}  // namespace

std::vector<std::uint8_t> LokView::exportPdf(const std::string &pageRange, const fs::path &scratch) {
  if (!m_doc) throw OleError("Operation not allowed on an empty OLE container");
  const fs::path out = scratch / "print.pdf";
  std::error_code ec;
  fs::remove(out, ec);
  const std::string options = pdfExportOptions(pageRange);
  const std::string url = fileUrl(out);
  const int ok = m_doc->pClass->saveAs(m_doc, url.c_str(), "pdf", options.c_str());
  std::vector<std::uint8_t> bytes;
  if (ok) {
    std::ifstream in(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::remove(out, ec);
  // The export frees most of what it allocates; give those pages back rather
  // than let them sit in the allocator between print-outs.
  (void)malloc_trim(0);  // whether it found pages to give back or not
  if (!ok || bytes.empty()) throw OleServerError(exportFailure(scratch));
  return bytes;
}

}  // namespace quorvel
