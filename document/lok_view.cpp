#define LOK_USE_UNSTABLE_API
#include "document/lok_view.h"

#include <LibreOfficeKit/LibreOfficeKit.h>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>
#include <LibreOfficeKit/LibreOfficeKitGtk.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>
#include <gtk/gtk.h>
#include <json-glib/json-glib.h>

#include <malloc.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "automation/automation.h"

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
// zoom changes wait until no tile is being painted.
using PaintTileFn = void (*)(LibreOfficeKitDocument *, unsigned char *, int, int, int, int, int, int);
std::atomic<PaintTileFn> g_enginePaintTile{nullptr};
std::atomic<int> g_paintsRunning{0};
std::atomic<std::int64_t> g_lastPaintEndUs{0};

void countedPaintTile(LibreOfficeKitDocument *doc, unsigned char *buffer, int canvasWidth, int canvasHeight,
                      int x, int y, int width, int height) {
  g_paintsRunning.fetch_add(1);
  g_enginePaintTile.load()(doc, buffer, canvasWidth, canvasHeight, x, y, width, height);
  g_lastPaintEndUs.store(g_get_monotonic_time());
  g_paintsRunning.fetch_sub(1);
}

void countTilePaints(LibreOfficeKitDocument *doc) {
  // The function table is shared by every document of the engine.
  PaintTileFn current = __atomic_load_n(&doc->pClass->paintTile, __ATOMIC_ACQUIRE);
  if (current == &countedPaintTile) return;
  g_enginePaintTile.store(current);
  __atomic_store_n(&doc->pClass->paintTile, &countedPaintTile, __ATOMIC_RELEASE);
}

// Between two queued tiles the worker does only a little bookkeeping, far
// less than this; this much quiet is taken to mean the queue is empty.
constexpr std::int64_t kPaintQuietUs = 3000;
// A view that never stops painting still gets its zoom, at the cost of a tile.
constexpr std::int64_t kZoomWaitCapUs = 500000;
// Before the view goes: this long without a tile painted means its worker has
// nothing left to do, even with the CPU taken by others.
constexpr std::int64_t kDrainQuietUs = 200000;
constexpr std::int64_t kDrainCapUs = 10000000;

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

}  // namespace

const char *lokProgramDir() { return "/usr/lib/libreoffice/program"; }

void LokView::seedProfile(const fs::path &profileDir) {
  fs::create_directories(profileDir / "user");
  std::ofstream out(profileDir / "user" / "registrymodifications.xcu");
  auto item = [&out](const char *path, const char *prop, const char *value) {
    out << R"(<item oor:path=")" << path << R"("><prop oor:name=")" << prop << R"(" oor:op="fuse"><value>)"
        << value << "</value></prop></item>\n";
  };
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  item("/org.openoffice.Office.Common/Misc", "UseLocking", "false");
  item("/org.openoffice.Office.Common/Misc", "FirstRun", "false");
  item("/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay", "false");
  item("/org.openoffice.Setup/Office", "FirstStartWizardCompleted", "true");
  item("/org.openoffice.Setup/Product", "ooSetupLastVersion", "7.4");
  item("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false");
  item("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "false");
  item("/org.openoffice.Office.Common/Save/Document", "CreateBackup", "false");
  item("/org.openoffice.Office.Common/History", "PickListSize", "0");
  item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3");
  item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true");
  // The engine keeps laid-out text of every zoom it has drawn, up to 20 MB
  // by its own count (about twice that in fact); one zoom of the chart needs
  // far less, and each resize is a new zoom.
  item("/org.openoffice.Office.Common/Cache/Font", "GlyphsCacheSize", "2000000");
  out << "</oor:items>\n";
  if (!out) throw OleServerError("Не удалось подготовить профиль LibreOffice");
}

LokView::LokView(const fs::path &profileDir, const std::string &programDir) : m_programDir(programDir) {
  // Tiles and the engine's page buffers are large, short-lived blocks. With
  // the allocator's sliding threshold they soon come from the heap, where
  // they fragment it and hold resident pages; a fixed threshold keeps them
  // mapped on their own and returned when freed.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  seedProfile(profileDir);
  GError *error = nullptr;
  const std::string profile = fileUrl(profileDir);
  m_profileUrl = profile;
  m_view = lok_doc_view_new_from_user_profile(programDir.c_str(), profile.c_str(), nullptr, &error);
  if (!m_view) engineFailure("Не удалось запустить LibreOffice", error);
  g_object_ref_sink(m_view);
  // While a zoom change waits, the view must not ask for tiles at the old
  // zoom: they would only keep the worker busy, and be lost at the change.
  m_drawHandler =
      g_signal_connect(m_view, "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer self) -> gboolean {
                         return static_cast<LokView *>(self)->zoomPending();
                       }),
                       this);
}

LokView::~LokView() {
  *m_alive = false;
  if (m_zoomSource) g_source_remove(m_zoomSource);
  if (m_view) {
    g_signal_handler_disconnect(m_view, m_drawHandler);
    if (GtkWidget *parent = gtk_widget_get_parent(m_view))
      gtk_container_remove(GTK_CONTAINER(parent), m_view);
    // Destroying the widget closes the document without saving and shuts the
    // engine down now; a plain unref would leave that to whoever holds the
    // last reference, after our folder is gone.
    // The widget's destroy waits for its worker thread while holding the
    // lock that thread's tasks take, so it must only run once the thread is
    // idle: with the view out of the window no new drawing work is queued,
    // and what is queued drains tile by tile. On a busy machine that takes
    // far longer than the few tile renders it takes here, and a destroy in
    // the middle of it never returns: wait until the painting has stopped.
    g_usleep(150 * G_TIME_SPAN_MILLISECOND);
    for (const std::int64_t start = g_get_monotonic_time();
         g_get_monotonic_time() - start < kDrainCapUs &&
         (g_paintsRunning.load() > 0 || g_get_monotonic_time() - g_lastPaintEndUs.load() < kDrainQuietUs);)
      g_usleep(10 * G_TIME_SPAN_MILLISECOND);
    gtk_widget_destroy(m_view);
    // The widget stops the engine only when it holds a document. After a
    // failed open, stop it here, or it writes its profile at process exit,
    // after our folder is gone. (Asking for the engine again gives the
    // running instance.)
    if (!m_doc && m_openFinished) {
      if (LibreOfficeKit *office = lok_init_2(m_programDir.c_str(), m_profileUrl.c_str()))
        office->pClass->destroy(office);
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
          countTilePaints(doc);
          p->self->m_doc = doc;
          lok_doc_view_set_edit(LOK_DOC_VIEW(source), TRUE);
        } catch (...) {
          failure = std::current_exception();
        }
        if (failure || p->self->initialized()) return p->done(failure);
        // The view sets itself up on an idle of its own, which may run before
        // or (on a busy machine) well after this.
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
  m_doc->pClass->postKeyEvent(m_doc, press ? LOK_KEYEVENT_KEYINPUT : LOK_KEYEVENT_KEYUP, character, code);
}

int LokView::pageCount() const { return m_doc ? m_doc->pClass->getParts(m_doc) : 0; }

long LokView::documentWidthTwips() const {
  long width = 0, height = 0;
  if (m_doc) m_doc->pClass->getDocumentSize(m_doc, &width, &height);
  return width;
}

void LokView::setZoom(double zoom) {
  m_pendingZoom = zoom;
  if (m_zoomSource) return;
  m_zoomAskedUs = g_get_monotonic_time();
  m_zoomSource = g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, 2, &LokView::applyZoomWhenIdle, this, nullptr);
}

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
  malloc_trim(0);
  if (!ok || bytes.empty()) throw OleServerError("LibreOffice не смог подготовить страницы к печати");
  return bytes;
}

}  // namespace quorvel
