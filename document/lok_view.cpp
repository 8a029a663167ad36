// SPDX-License-Identifier: GPL-3.0-or-later
#define LOK_USE_UNSTABLE_API
#include "document/lok_view.h"

#include <LibreOfficeKit/LibreOfficeKit.h>
#include <LibreOfficeKit/LibreOfficeKitEnums.h>
#include <LibreOfficeKit/LibreOfficeKitGtk.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>
#include <gtk/gtk.h>
#include <json-glib/json-glib.h>

#include <malloc.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "automation/automation.h"
#include "document/keys_behind_clicks.h"
#include "document/lok_internal.h"
#include "document/private_dir.h"
#include "document/task_report_filter.h"
#include "document/text_cursor.h"
#include "document/view_worker_count.h"
#include "document/zoom_between_tiles.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

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

LokView::LokView(LokEngine &engine) : m_programDir(engine.programDir()), m_profileUrl(engine.profileUrl()) {
  if (!engine.running())
    throw OleServerError("Не удалось запустить LibreOffice: " +
                         (engine.failure().empty() ? std::string("запуск не закончен") : engine.failure()));
  GError *error = nullptr;
  // The pool the widget makes for its worker is counted (see view_worker_count.h).
  m_worker = std::make_unique<WorkerCount>();
  {
    const CountNextPool counted(*m_worker);
    // The engine is running: asking for it again gives that instance at once.
    m_view = lok_doc_view_new_from_user_profile(m_programDir.c_str(), m_profileUrl.c_str(), nullptr, &error);
  }
  if (!m_view) engineFailure("Не удалось запустить LibreOffice", error);
  engine.handOver();
  g_object_ref_sink(m_view);
  dropTaskReportsOf(m_view);
  m_caret = std::make_unique<Caret>(m_view);
  m_zoom = std::make_unique<ZoomBetweenTiles>(m_view);
  m_keys = std::make_unique<KeysBehindClicks>([this](const std::vector<QueuedKey> &keys) { sendKeys(keys); });
  // While a zoom change waits, the view must not ask for tiles at the old
  // zoom: they would only keep the worker busy, and be lost at the change.
  m_drawHandler =
      g_signal_connect(m_view, "draw", G_CALLBACK(+[](GtkWidget *w, cairo_t *cr, gpointer data) -> gboolean {
                         auto *self = static_cast<LokView *>(data);
                         if (self->m_underlay) self->m_underlay(cr, lok_doc_view_get_zoom(LOK_DOC_VIEW(w)));
                         return self->zoomPending();
                       }),
                       this);
  countQueuedClicks(m_view);
}

LokView::~LokView() {
  m_alive.end();
  m_zoom->cancel();
  m_keys->drop();
  if (m_view) {
    g_signal_handler_disconnect(m_view, m_drawHandler);
    m_caret->stopWatching();
    if (GtkWidget *parent = gtk_widget_get_parent(m_view))
      gtk_container_remove(GTK_CONTAINER(parent), m_view);
    // Destroying the widget closes the document without saving and shuts the
    // engine down now; a plain unref would leave that to whoever holds the
    // last reference, after our folder is gone.
    // With the view out of the window nothing queues more work; what is
    // queued (tiles, typed keys, a zoom) is carried out first (see
    // view_worker_count.h).
    m_worker->waitUntilIdle();
    gtk_widget_destroy(m_view);
    // The widget stops the engine only when it holds a document. After a
    // failed open, stop it here, or it writes its profile at process exit,
    // after our folder is gone. (Asking for the engine again gives the
    // running instance.)
    if (!m_doc && m_openFinished) {
      if (LibreOfficeKit *office = lok_init_2(m_programDir.c_str(), m_profileUrl.c_str()))
        office->pClass->destroy(office);
    }
    // The engine has stopped: no report comes for this view any more.
    m_caret.reset();
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
  Alive::Watch alive;
  std::function<void(std::exception_ptr)> done;
};

void LokView::open(const fs::path &file, std::function<void(std::exception_ptr)> done) {
  const std::string url = fileUrl(file);
  auto *pending = new Pending{this, m_alive.watch(), std::move(done)};
  m_opening = true;
  lok_doc_view_open_document(
      LOK_DOC_VIEW(m_view), url.c_str(), "{}", nullptr,
      [](GObject *source, GAsyncResult *result, gpointer data) {
        std::unique_ptr<Pending> p(static_cast<Pending *>(data));
        GError *error = nullptr;
        const gboolean ok = lok_doc_view_open_document_finish(LOK_DOC_VIEW(source), result, &error);
        if (!p->alive) {
          if (error) g_error_free(error);
          return;
        }
        p->self->m_openFinished = true;
        std::exception_ptr failure;
        try {
          if (!ok) engineFailure("LibreOffice не смог открыть документ", error);
          LibreOfficeKitDocument *doc = lok_doc_view_get_document(LOK_DOC_VIEW(source));
          if (!doc) engineFailure("LibreOffice не смог открыть документ", nullptr);
          if (doc->pClass->setBlockedCommandList)
            doc->pClass->setBlockedCommandList(doc, doc->pClass->getView(doc), kBlockedCommands);
          countTilePainting(doc);
          countPostedClicks(doc);
          p->self->m_doc = doc;
          lok_doc_view_set_edit(LOK_DOC_VIEW(source), TRUE);
        } catch (...) {
          failure = std::current_exception();
        }
        if (failure || p->self->initialized()) return p->done(failure);
        // The view in the window only once it has set itself up (7.4 and
        // 26.8): it does so on an idle of its own, which may run before or
        // (on a busy machine) well after this, and takes the focus then. Put
        // in the window when the open finished, the view left the keyboard in
        // the printer list 1 start in 22 on 7.4 and 2 in 22 on 26.8; waiting
        // for this, never (bench/README.md).
        g_signal_connect_data(
            source, "notify::is-initialized",
            G_CALLBACK(+[](GObject *view, GParamSpec *, gpointer waitingData) {
              auto *waiting = static_cast<Pending *>(waitingData);
              if (!waiting->alive || !waiting->self->initialized()) return;
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
  m_keys->post(QueuedKey{press, character, code});
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

void LokView::setZoom(double zoom) { m_zoom->set(zoom); }

void LokView::setInitialZoom(float zoom) { m_zoom->setAtOnce(zoom); }

bool LokView::zoomPending() const { return m_zoom->pending(); }

void LokView::setUnderlay(std::function<void(cairo_t *, float)> paint) {
  m_underlay = std::move(paint);
  gtk_widget_queue_draw(m_view);
}

long LokView::tilesPainted() { return paintedTileCount(); }

bool LokView::paintingQuietFor(std::int64_t us) { return tilePaintingQuietFor(us); }

bool LokView::workerBusy() const { return m_worker->busy(); }

bool LokView::editable() const { return lok_doc_view_get_edit(LOK_DOC_VIEW(m_view)); }

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
  if (!m_doc) throw OleError(kEmptyContainerText);
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
