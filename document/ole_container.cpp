#include "document/ole_container.h"

#include <gtk/gtk.h>

#include <fstream>

#include "automation/word_model.h"
#include "document/container_stream.h"
#include "document/document_keys.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {
constexpr const char *kEmptyContainer = "Operation not allowed on an empty OLE container";
constexpr int kVerbShow = -1;
constexpr int kPageFitBest = 2;
}  // namespace

// The word processor's side of the automation calls, carried out on the view.
class EngineServer : public DocumentServer {
public:
  explicit EngineServer(OleContainer &c) : m_c(c) {}
  void detach() { m_attached = false; }

  void setDisplayRulers(bool on) override {
    check();
    m_rulers = on;  // the view draws no rulers; nothing to hide
  }
  void setPageFit(std::int32_t fit) override {
    check();
    m_c.m_pageFit = fit;
    m_c.m_lastFitWidth = -1;
    m_c.fitToWidth();
  }
  void setDisplayAlerts(bool on) override {
    check();
    m_alerts = on;
  }
  void filePrintSetup(const std::string &printer, bool /*setAsSystemDefault*/) override {
    check();
    // The system's default printer and the user's own settings stay as they are.
    if (!m_c.m_env.printing) throw OleServerError("Печать недоступна");
    m_c.m_env.printing->checkPrinter(printer);
    m_printer = printer;
  }
  void printOut(const PrintOutRequest &request) override {
    check();
    if (!m_c.m_env.printing || !m_c.m_env.privateDir) throw OleServerError("Печать недоступна");
    PrintableDocument doc;
    doc.title = m_c.m_env.jobTitle;
    doc.pageCount = m_c.m_view->pageCount();
    const fs::path scratch = m_c.m_env.privateDir->sub("print");
    doc.render = [this, scratch](const std::string &range) {
      check();
      return m_c.m_view->exportPdf(range, scratch);
    };
    m_c.m_env.printing->printOut(m_printer, request, doc);
  }

private:
  void check() const {
    if (!m_attached || m_c.isEmpty()) throw OleError(kEmptyContainer);
  }
  OleContainer &m_c;
  bool m_attached = true;
  bool m_rulers = true;
  bool m_alerts = true;
  std::string m_printer;
};

OleContainer::OleContainer(BaseObjectType *obj, const Glib::RefPtr<Gtk::Builder> &) : Gtk::Frame(obj) {
  m_scroll.set_policy(Gtk::POLICY_AUTOMATIC, Gtk::POLICY_AUTOMATIC);
  m_scroll.set_shadow_type(Gtk::SHADOW_NONE);
  // The view takes the focus, never the unnamed area around it.
  m_scroll.set_can_focus(false);
}

OleContainer::~OleContainer() { release(); }

void OleContainer::release() {
  if (m_server) m_server->detach();
  m_server.reset();
  if (m_scroll.get_parent()) remove();
  m_view.reset();
}

void OleContainer::loadFromStream(std::span<const std::uint8_t> stream,
                                  std::function<void(std::exception_ptr)> done) {
  release();
  m_openFailed = false;
  const ContainerContents contents = readContainerStream(stream);
  if (!m_env.privateDir) throw OleServerError("Нет папки для временных файлов");

  // The engine cannot open bytes from memory: it gets a private copy that
  // is deleted as soon as the open has finished.
  const fs::path docDir = m_env.privateDir->sub("doc");
  const fs::path file = docDir / "p1.doc";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(contents.data.data()),
              static_cast<std::streamsize>(contents.data.size()));
    if (!out) throw OleSysError(0x80030070u);  // disk full
  }
  // Starting the engine takes a while: let the window appear first.
  auto once = std::make_shared<sigc::connection>();
  *once = signal_draw().connect(
      [this, once, file, done = std::move(done)](const Cairo::RefPtr<Cairo::Context> &) mutable {
        once->disconnect();
        Glib::signal_idle().connect_once(
            sigc::track_obj([this, file, done] { startEngine(file, done); }, *this));
        return false;
      },
      true);
  queue_draw();
}

void OleContainer::startEngine(const fs::path &file, std::function<void(std::exception_ptr)> done) {
  auto finish = [file, done = std::move(done)](std::exception_ptr error) {
    std::error_code ec;
    fs::remove(file, ec);
    done(std::move(error));
  };
  try {
    // The engine's temporary files go to this run's folder too.
    setenv("TMPDIR", m_env.privateDir->sub("tmp").c_str(), 1);
    m_view = std::make_unique<LokView>(m_env.privateDir->sub("profile"), m_env.engineDir);
  } catch (...) {
    m_view.reset();
    return finish(std::current_exception());
  }
  m_view->open(file, [this, finish](const std::exception_ptr &error) {
    if (error) {
      // Not from inside the engine's own callback.
      Glib::signal_idle().connect_once(sigc::track_obj([this] { m_view.reset(); }, *this));
      m_openFailed = true;
    } else {
      m_server = std::make_shared<EngineServer>(*this);
    }
    finish(error);
  });
}

void OleContainer::doVerb(int verb) {
  if (isEmpty()) throw OleError(kEmptyContainer);
  if (verb != kVerbShow) throw OleSysError(0x80004001u);
  if (!m_scroll.get_parent()) {
    // Only now: the view must not be realised before its document is open.
    GtkWidget *w = m_view->widget();
    gtk_container_add(GTK_CONTAINER(m_scroll.gobj()), w);
    gtk_widget_set_can_focus(w, TRUE);
    // What a screen reader calls the document area.
    atk_object_set_name(gtk_widget_get_accessible(w), m_env.jobTitle.c_str());
    Glib::wrap(w)->signal_size_allocate().connect(sigc::mem_fun(*this, &OleContainer::onViewAllocate));
    Glib::wrap(w)->signal_focus_in_event().connect(sigc::mem_fun(*this, &OleContainer::onViewFocusIn), false);
    Glib::wrap(w)->signal_key_press_event().connect(sigc::mem_fun(*this, &OleContainer::onViewKey), false);
    Glib::wrap(w)->signal_key_release_event().connect(sigc::mem_fun(*this, &OleContainer::onViewKey), false);
    add(m_scroll);
  }
  m_scroll.show_all();
  gtk_widget_queue_draw(m_view->widget());
}

DispatchPtr OleContainer::oleObject() {
  if (isEmpty() || !m_server) throw OleError(kEmptyContainer);
  return makeDocumentObject(m_server);
}

bool OleContainer::isEmpty() const { return !m_view || !m_view->isOpen() || m_openFailed; }

bool OleContainer::holdsFocus() const { return m_view && gtk_widget_has_focus(m_view->widget()); }

void OleContainer::setFocus() {
  if (holdsFocus()) return;
  m_inVerb = true;
  try {
    doVerb(kVerbShow);
    gtk_widget_grab_focus(m_view->widget());
  } catch (...) {
    m_inVerb = false;
    if (m_env.reportError) m_env.reportError(std::current_exception());
    return;
  }
  m_inVerb = false;
}

bool OleContainer::onViewFocusIn(GdkEventFocus *) {
  // Tabbing or clicking into the document from outside shows it again.
  if (!m_inVerb) {
    try {
      doVerb(kVerbShow);
    } catch (...) {
      if (m_env.reportError) m_env.reportError(std::current_exception());
    }
  }
  return false;
}

namespace {

TypedKey typedKey(const GdkEventKey *event) {
  TypedKey key;
  key.keyval = event->keyval;
  key.character = gdk_keyval_to_unicode(event->keyval);
  key.shift = event->state & GDK_SHIFT_MASK;
  key.ctrl = event->state & GDK_CONTROL_MASK;
  key.alt = event->state & GDK_MOD1_MASK;
  // On another layout (Cyrillic) the same key in a Latin one, wherever the
  // user has that among the layouts.
  const bool latin = (event->keyval >= GDK_KEY_a && event->keyval <= GDK_KEY_z) ||
                     (event->keyval >= GDK_KEY_A && event->keyval <= GDK_KEY_Z);
  if (!latin && event->hardware_keycode) {
    GdkKeymap *keymap = gdk_keymap_get_for_display(gdk_display_get_default());
    for (int group = 0; group < 4 && !key.latinKeyval; ++group) {
      guint other = 0;
      if (gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0), group,
                                              &other, nullptr, nullptr, nullptr) &&
          other < 0x80 && g_ascii_isalnum(static_cast<gchar>(other)))
        key.latinKeyval = other;
    }
  }
  return key;
}

}  // namespace

bool OleContainer::onViewKey(GdkEventKey *event) {
  // Every key is handled here and goes no further: the view would pass it
  // on to the window as well, where arrows and Tab move the focus and the
  // scrolled area's keys scroll, so that a key both edited the chart and
  // left it.
  const TypedKey key = typedKey(event);
  const bool press = event->type == GDK_KEY_PRESS;
  switch (const KeyRoute route = routeDocumentKey(key)) {
    case KeyRoute::Blocked: break;  // swallowed here, the engine never sees them
    case KeyRoute::FocusNext:
    case KeyRoute::FocusPrevious:
      if (press)
        get_toplevel()->child_focus(route == KeyRoute::FocusNext ? Gtk::DIR_TAB_FORWARD
                                                                 : Gtk::DIR_TAB_BACKWARD);
      break;
    case KeyRoute::Engine:
      if (const auto engineKey = engineKeyFor(key); engineKey && m_view)
        m_view->postKey(press, engineKey->character, engineKey->code);
      break;
  }
  return true;
}

void OleContainer::onViewAllocate(Gtk::Allocation &) { fitToWidth(); }

void OleContainer::fitToWidth() {
  if (isEmpty() || m_pageFit != kPageFitBest) return;
  // Fit to the scrolled area, which does not change with the zoom.
  const int width = m_scroll.get_allocated_width();
  if (width <= 1 || width == m_lastFitWidth) return;
  const long twips = m_view->documentWidthTwips();
  if (twips <= 0) return;
  m_lastFitWidth = width;
  double zoom = width * 15.0 / static_cast<double>(twips);
  // Leave room for a vertical scroll bar, so that the width never oscillates.
  zoom *= static_cast<double>(std::max(width - 16, 1)) / width;
  // Asked for now, so that the view draws nothing more at the old zoom; the
  // view applies it later, outside this allocation.
  m_view->setZoom(zoom);
}

}  // namespace quorvel
