// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/ole_container.h"

#include <gtk/gtk.h>

#include "automation/word_model.h"
#include "document/compound_file.h"
#include "document/container_stream.h"
#include "document/document_keys.h"
#include "document/png_bytes.h"
#include "document/presentation.h"
#include "document/view_geometry.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {
constexpr int kVerbShow = -1;
constexpr int kPageFitBest = 2;
// Once the live view's first tiles are in and its painting has been quiet
// this long, the picture under it is no longer needed.
constexpr std::int64_t kTilesSettledUs = std::int64_t{150} * 1000;
// It goes after this long in any case (a view that never stops painting).
constexpr int kUnderlayMaxMs = 10000;
// The engine waits for the window's next frame this long at most (a window
// that is not drawn, say on another workspace, gets no frames).
constexpr int kEngineStartWaitMs = 100;
// How often the picture under the live view looks whether the view's tiles
// are in: within a few frames of them, it goes.
constexpr int kUnderlayCheckMs = 50;
// Input kept for the document waits for the view to be in edit mode (it
// drops keys before): looked at this often, this many times (5 s at most).
constexpr int kReplayRetryMs = 10;
constexpr int kReplayAttempts = 500;
}  // namespace

// The word processor's side of the automation calls, carried out on the view.
class OleContainer::EngineServer : public DocumentServer {
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
    if (!m_attached || m_c.isEmpty()) throw OleError(kEmptyContainerText);
  }
  OleContainer &m_c;
  bool m_attached = true;
  bool m_rulers = true;
  bool m_alerts = true;
  std::string m_printer;
};

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

// The presentation's picture for one area width, decoded once.
class OleContainer::PagePicture {
public:
  PagePicture(const PresentationPicture &pic, long docWidthTwips, long docHeightTwips)
      : m_zoom(pic.zoom), m_docWidth(docWidthTwips), m_docHeight(docHeightTwips) {
    m_surface = surfaceFromPng(pic.png);
  }

  bool valid() const { return m_surface != nullptr; }
  long docWidthTwips() const { return m_docWidth; }
  long docHeightTwips() const { return m_docHeight; }

  // The page as the view draws it at `zoom`; scaled when that is not the
  // zoom the picture was made at.
  void paint(cairo_t *cr, float zoom) const {
    cairo_save(cr);
    if (zoom != m_zoom) cairo_scale(cr, zoom / m_zoom, zoom / m_zoom);
    cairo_set_source_surface(cr, m_surface.get(), 0, 0);
    if (zoom != m_zoom) cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
  }

private:
  float m_zoom;
  long m_docWidth, m_docHeight;
  CairoSurface m_surface;
};

// Stands in for the view until the engine runs: the picture at the zoom that
// fits the area, placed as the view places its page, keeping the user's
// clicks and keys for the document.
class OleContainer::PictureArea : public Gtk::DrawingArea {
public:
  PictureArea(Presentation presentation, EarlyInput &input)
      : m_presentation(std::move(presentation)), m_input(input) {
    set_can_focus(true);
    // Where the view puts its page.
    set_halign(Gtk::ALIGN_CENTER);
    set_valign(Gtk::ALIGN_CENTER);
    add_events(Gdk::BUTTON_PRESS_MASK | Gdk::BUTTON_RELEASE_MASK | Gdk::BUTTON_MOTION_MASK |
               Gdk::KEY_PRESS_MASK | Gdk::KEY_RELEASE_MASK);
  }

  float zoom() const { return m_zoom; }
  const std::shared_ptr<PagePicture> &picture() const { return m_picture; }

  // Fits the page to an area this wide, with the picture made for the
  // nearest width. False when there is no usable picture.
  bool fit(int areaWidth) {
    const PresentationPicture *pic = pictureFor(m_presentation, areaWidth);
    if (!pic) return false;
    if (pic != m_chosen) {
      auto picture =
          std::make_shared<PagePicture>(*pic, m_presentation.docWidthTwips, m_presentation.docHeightTwips);
      if (!picture->valid()) return false;
      m_picture = std::move(picture);
      m_chosen = pic;
    }
    const float zoom = fitZoom(areaWidth, m_presentation.docWidthTwips);
    if (zoom <= 0 || zoom == m_zoom) return true;
    m_zoom = zoom;
    const PixelSize size = viewPixelSize(m_presentation.docWidthTwips, m_presentation.docHeightTwips, zoom);
    set_size_request(static_cast<int>(size.width), static_cast<int>(size.height));
    queue_draw();
    return true;
  }

protected:
  bool on_draw(const Cairo::RefPtr<Cairo::Context> &cr) override {
    if (m_picture && m_zoom > 0) m_picture->paint(cr->cobj(), m_zoom);
    return true;
  }
  bool on_button_press_event(GdkEventButton *e) override {
    grab_focus();
    const EarlyKind kind = e->type == GDK_2BUTTON_PRESS   ? EarlyKind::DoublePress
                           : e->type == GDK_3BUTTON_PRESS ? EarlyKind::TriplePress
                                                          : EarlyKind::Press;
    keep(pointerEvent(kind, e->x, e->y, e->state, e->time, e->button));
    return true;
  }
  bool on_button_release_event(GdkEventButton *e) override {
    keep(pointerEvent(EarlyKind::Release, e->x, e->y, e->state, e->time, e->button));
    return true;
  }
  bool on_motion_notify_event(GdkEventMotion *e) override {
    keep(pointerEvent(EarlyKind::Motion, e->x, e->y, e->state, e->time, 0));
    return true;
  }
  bool on_key_press_event(GdkEventKey *e) override { return key(EarlyKind::KeyPress, e); }
  bool on_key_release_event(GdkEventKey *e) override { return key(EarlyKind::KeyRelease, e); }

private:
  EarlyEvent pointerEvent(EarlyKind kind, double x, double y, unsigned state, std::uint32_t time,
                          unsigned button) const {
    EarlyEvent ev;
    ev.kind = kind;
    ev.twipX = pixelsToTwips(static_cast<float>(x), m_zoom);
    ev.twipY = pixelsToTwips(static_cast<float>(y), m_zoom);
    ev.state = state;
    ev.time = time;
    ev.button = button;
    return ev;
  }
  bool key(EarlyKind kind, GdkEventKey *e) {
    // Kept for the document like every other key, except the ones that
    // leave it (Ctrl+Tab), as in the live view.
    const KeyRoute route = routeDocumentKey(typedKey(e));
    if (route == KeyRoute::FocusNext || route == KeyRoute::FocusPrevious) return false;
    EarlyEvent ev;
    ev.kind = kind;
    ev.keyval = e->keyval;
    ev.keycode = e->hardware_keycode;
    ev.group = e->group;
    ev.isModifier = e->is_modifier;
    ev.state = e->state;
    ev.time = e->time;
    keep(ev);
    return true;
  }
  void keep(const EarlyEvent &ev) {
    // Only when more than ten thousand events wait; say so rather than lose them silently.
    if (!m_input.add(ev)) get_window()->beep();
  }

  Presentation m_presentation;  // its pictures point into the program's resources
  const PresentationPicture *m_chosen = nullptr;
  std::shared_ptr<PagePicture> m_picture;
  EarlyInput &m_input;
  float m_zoom = 0;
};

OleContainer::OleContainer(BaseObjectType *obj, const Glib::RefPtr<Gtk::Builder> &)
    : Gtk::Frame(obj), m_viewport(m_scroll.get_hadjustment(), m_scroll.get_vadjustment()) {
  m_scroll.set_policy(Gtk::POLICY_AUTOMATIC, Gtk::POLICY_AUTOMATIC);
  m_scroll.set_shadow_type(Gtk::SHADOW_NONE);
  // The view or the picture takes the focus, never the unnamed area around it.
  m_scroll.set_can_focus(false);
  m_viewport.set_shadow_type(Gtk::SHADOW_NONE);
  m_scroll.add(m_viewport);
  m_scroll.signal_size_allocate().connect(sigc::mem_fun(*this, &OleContainer::onAreaAllocate));
}

OleContainer::~OleContainer() {
  m_alive.end();
  release();
  stopEngine();
}

void OleContainer::release() {
  if (m_server) m_server->detach();
  m_server.reset();
  dropPicture();
  m_earlyInput.take();
  if (m_viewShown) m_viewport.remove();
  m_viewShown = false;
  if (m_scroll.get_parent()) remove();
  m_view.reset();
}

void OleContainer::stopEngine() { m_engine.reset(); }

void OleContainer::loadFromStream(std::span<const std::uint8_t> stream,
                                  std::function<void(std::exception_ptr)> done) {
  release();
  m_openFailed = false;
  const ContainerContents contents = readContainerStream(stream);
  if (!isReadableCompoundFile(contents.data)) throw OleSysError(kCompoundFileCorrupt);
  if (!m_env.privateDir) throw OleServerError("Нет папки для временных файлов");

  // The engine cannot open bytes from memory: it gets a private copy that
  // is deleted as soon as the open has finished.
  const fs::path docDir = m_env.privateDir->sub("doc");
  const fs::path file = docDir / "p1.doc";
  // The failure code says what kept the copy from the disk (full, no
  // permission ...), as the user can do something about it.
  if (const int error = writeWholeFile(file, contents.data)) throw OleSysError(fileErrorCode(error));
  showPicture(contents.data);

  // The engine starts once the window has drawn its next frame (the
  // picture), on a thread of its own, and the window goes on answering
  // meanwhile. Any earlier, and the window waits for the engine's libraries
  // to be loaded before it can draw.
  afterNextFrame([this, file, done = std::move(done)] { startEngine(file, done); });
}

void OleContainer::afterNextFrame(std::function<void()> then) {
  struct Once {
    std::function<void()> then;
    sigc::connection frame, timeout;
  };
  auto once = std::make_shared<Once>();
  once->then = std::move(then);
  // Once the container has gone, the waits still end (and let go of each
  // other), but nothing is run.
  auto run = [once, alive = m_alive.watch()] {
    once->frame.disconnect();
    once->timeout.disconnect();
    if (auto pending = std::exchange(once->then, nullptr); pending && alive) pending();
    return false;
  };
  once->timeout = Glib::signal_timeout().connect(run, kEngineStartWaitMs);
  // Not from inside the frame's own painting: first thing after it.
  auto soon = [run] { Glib::signal_idle().connect(run, Glib::PRIORITY_DEFAULT); };
  if (auto clock = get_toplevel()->get_frame_clock()) once->frame = clock->signal_paint().connect(soon, true);
}

void OleContainer::startEngine(const fs::path &file, const std::function<void(std::exception_ptr)> &done) {
  if (!m_engine) {
    try {
      // The engine's temporary files go to this run's folder too.
      setenv("TMPDIR", m_env.privateDir->sub("tmp").c_str(), 1);
      // The print-outs' folder is made now: on a disk that fills up later a
      // new folder cannot be made, and the print-out could not say why.
      m_env.privateDir->sub("print");
      m_engine = std::make_unique<LokEngine>(m_env.privateDir->sub("profile"), m_env.engineDir);
    } catch (...) {
      return finishLoad(file, done, std::current_exception());
    }
  }
  m_engine->whenStarted(m_alive.guard([this, file, done] { startView(file, done); }));
}

void OleContainer::finishLoad(const fs::path &file, const std::function<void(std::exception_ptr)> &done,
                              std::exception_ptr error) {
  std::error_code ec;
  fs::remove(file, ec);
  if (error) {
    m_openFailed = true;
    // An empty container shows nothing: never a picture of a document it
    // does not hold. What was typed into it has nowhere to go.
    dropPicture();
    m_earlyInput.take();
  }
  done(std::move(error));
}

void OleContainer::startView(const fs::path &file, const std::function<void(std::exception_ptr)> &done) {
  auto finish = [this, file, done](std::exception_ptr error) { finishLoad(file, done, std::move(error)); };
  try {
    m_view = std::make_unique<LokView>(*m_engine);
  } catch (...) {
    m_view.reset();
    return finish(std::current_exception());
  }
  m_view->open(file, [this, finish](const std::exception_ptr &error) {
    if (error) {
      // Not from inside the engine's own callback.
      Glib::signal_idle().connect_once(m_alive.guard([this] { m_view.reset(); }));
      return finish(error);
    }
    m_server = std::make_shared<EngineServer>(*this);
    finish(nullptr);
  });
}

void OleContainer::showPicture(std::span<const std::uint8_t> document) {
  auto presentation = presentationOf(m_presentation, document);
  if (!presentation) return;
  // Until the area has a size, the picture's size is that of the first width
  // it was made for.
  const int width = m_scroll.get_allocated_width();
  const int firstWidth = presentation->pictures.front().areaWidth;
  auto area = std::make_unique<PictureArea>(std::move(*presentation), m_earlyInput);
  if (!area->fit(width > 1 ? width : firstWidth)) return;
  area->get_accessible()->set_name(m_env.jobTitle);
  m_pictureArea = std::move(area);
  m_viewport.add(*m_pictureArea);
  if (!m_scroll.get_parent()) add(m_scroll);
  m_scroll.show_all();
}

void OleContainer::dropPicture() {
  m_underlayWatch.disconnect();
  if (m_view) m_view->setUnderlay(nullptr);
  if (m_pictureArea) {
    m_viewport.remove();
    m_pictureArea.reset();
  }
  m_picture.reset();
}

void OleContainer::onAreaAllocate(Gtk::Allocation &a) {
  if (m_pictureArea) m_pictureArea->fit(a.get_width());
}

void OleContainer::doVerb(int verb) {
  if (isEmpty()) throw OleError(kEmptyContainerText);
  if (verb != kVerbShow) throw OleSysError(kNotImplemented);
  if (!m_viewShown) handOver();
  m_scroll.show_all();
  gtk_widget_queue_draw(m_view->widget());
}

// The view takes the picture's place: at the picture's zoom and scroll
// position, with the picture drawn under it until its own tiles are in.
// What the user did to the picture goes to the document once the view has
// set itself up.
void OleContainer::handOver() {
  GtkWidget *w = m_view->widget();
  bool pictureHadFocus = false;
  if (m_pictureArea) {
    pictureHadFocus = m_pictureArea->has_focus();
    m_picture = m_pictureArea->picture();
    if (m_pictureArea->zoom() > 0) m_view->setInitialZoom(m_pictureArea->zoom());
    m_viewport.remove();
    m_pictureArea.reset();
  }
  // Only now: the view must not be realised before its document is open.
  gtk_container_add(GTK_CONTAINER(m_viewport.gobj()), w);
  m_viewShown = true;
  gtk_widget_set_can_focus(w, TRUE);
  // What a screen reader calls the document area.
  atk_object_set_name(gtk_widget_get_accessible(w), m_env.jobTitle.c_str());
  Glib::wrap(w)->signal_size_allocate().connect(sigc::mem_fun(*this, &OleContainer::onViewAllocate));
  Glib::wrap(w)->signal_focus_in_event().connect(sigc::mem_fun(*this, &OleContainer::onViewFocusIn), false);
  Glib::wrap(w)->signal_key_press_event().connect(sigc::mem_fun(*this, &OleContainer::onViewKey), false);
  Glib::wrap(w)->signal_key_release_event().connect(sigc::mem_fun(*this, &OleContainer::onViewKey), false);
  if (!m_scroll.get_parent()) add(m_scroll);
  m_scroll.show_all();

  if (m_picture) {
    m_view->setUnderlay([picture = m_picture](cairo_t *cr, float zoom) { picture->paint(cr, zoom); });
    const long tilesBefore = LokView::tilesPainted();
    const std::int64_t since = g_get_monotonic_time();
    m_underlayWatch = Glib::signal_timeout().connect(
        [this, tilesBefore, since] {
          const bool settled =
              LokView::tilesPainted() > tilesBefore && LokView::paintingQuietFor(kTilesSettledUs);
          if (!settled && g_get_monotonic_time() - since < std::int64_t{kUnderlayMaxMs} * 1000) return true;
          if (m_view) m_view->setUnderlay(nullptr);
          m_picture.reset();
          return false;
        },
        kUnderlayCheckMs);
  }
  if (pictureHadFocus) {
    m_inVerb = true;
    gtk_widget_grab_focus(w);
    m_inVerb = false;
  }
  if (!m_earlyInput.empty()) replayEarlyInput(kReplayAttempts);
}

void OleContainer::replayEarlyInput(int attemptsLeft) {
  if (!m_view || !m_viewShown || m_openFailed) return;
  GtkWidget *w = m_view->widget();
  GdkWindow *window = gtk_widget_get_window(w);
  // Keys typed before the view is in edit mode would be dropped by it.
  if (!window || !m_view->editable()) {
    if (attemptsLeft > 0)
      Glib::signal_timeout().connect_once(
          m_alive.guard([this, attemptsLeft] { replayEarlyInput(attemptsLeft - 1); }), kReplayRetryMs);
    return;
  }
  const auto zoom = static_cast<float>(m_view->zoom());
  GdkSeat *seat = gdk_display_get_default_seat(gtk_widget_get_display(w));
  for (const EarlyEvent &e : m_earlyInput.take()) {
    GdkEvent *ev = nullptr;
    const double x = twipsToPixels(e.twipX, zoom), y = twipsToPixels(e.twipY, zoom);
    switch (e.kind) {
      case EarlyKind::Press:
      case EarlyKind::DoublePress:
      case EarlyKind::TriplePress:
      case EarlyKind::Release:
        ev = gdk_event_new(e.kind == EarlyKind::Press         ? GDK_BUTTON_PRESS
                           : e.kind == EarlyKind::DoublePress ? GDK_2BUTTON_PRESS
                           : e.kind == EarlyKind::TriplePress ? GDK_3BUTTON_PRESS
                                                              : GDK_BUTTON_RELEASE);
        ev->button.x = x;
        ev->button.y = y;
        ev->button.button = e.button;
        ev->button.state = e.state;
        ev->button.time = e.time;
        gdk_event_set_device(ev, gdk_seat_get_pointer(seat));
        break;
      case EarlyKind::Motion:
        ev = gdk_event_new(GDK_MOTION_NOTIFY);
        ev->motion.x = x;
        ev->motion.y = y;
        ev->motion.state = e.state;
        ev->motion.time = e.time;
        gdk_event_set_device(ev, gdk_seat_get_pointer(seat));
        break;
      case EarlyKind::KeyPress:
      case EarlyKind::KeyRelease:
        ev = gdk_event_new(e.kind == EarlyKind::KeyPress ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
        ev->key.keyval = e.keyval;
        ev->key.hardware_keycode = static_cast<guint16>(e.keycode);
        ev->key.group = static_cast<guint8>(e.group);
        ev->key.is_modifier = e.isModifier;
        ev->key.state = e.state;
        ev->key.time = e.time;
        gdk_event_set_device(ev, gdk_seat_get_keyboard(seat));
        break;
    }
    ev->any.window = GDK_WINDOW(g_object_ref(window));
    // Through the view's own handlers: the shortcut filter sees the keys too.
    gtk_widget_event(w, ev);
    gdk_event_free(ev);
  }
}

DispatchPtr OleContainer::oleObject() {
  if (isEmpty() || !m_server) throw OleError(kEmptyContainerText);
  return makeDocumentObject(m_server);
}

bool OleContainer::isEmpty() const { return !m_view || !m_view->isOpen() || m_openFailed; }

bool OleContainer::holdsFocus() const {
  if (m_pictureArea) return m_pictureArea->has_focus();
  return m_view && m_viewShown && gtk_widget_has_focus(m_view->widget());
}

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
  const float zoom = fitZoom(width, twips);
  if (zoom <= 0) return;
  m_lastFitWidth = width;
  // Asked for now, so that the view draws nothing more at the old zoom; the
  // view applies it later, outside this allocation.
  m_view->setZoom(zoom);
}

}  // namespace quorvel
