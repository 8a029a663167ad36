// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Main.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <utility>

#include "app/font_metrics.h"
#include "app/message_boxes.h"
#include "document/container_stream.h"

namespace quorvel {

namespace {

// How long the window manager may take to say how big its frame will be.
constexpr int kFrameWaitMs = 500;
// How long a window mapped unseen may wait for its frame and its place.
// Mutter 48 tells the frame as it maps the window but carries out the move
// 5 to 230 ms after it is asked (seen on a busy machine); only a window
// manager that never does is waited for this long.
constexpr int kPlaceWaitMs = 500;

void scaleFixedChildren(Gtk::Fixed &fixed, int num, int den) {
  for (Gtk::Widget *w : fixed.get_children()) {
    int x = fixed.child_property_x(*w);
    int y = fixed.child_property_y(*w);
    int width = 0, height = 0;
    w->get_size_request(width, height);
    const Rect r = scaleRect({x, y, width, height}, num, den);
    fixed.move(*w, r.x, r.y);
    w->set_size_request(width < 0 ? -1 : r.width, height < 0 ? -1 : r.height);
  }
}

// How long start-up waits for the printer list at most; a print system that
// does not answer by then leaves the list empty.
constexpr std::chrono::milliseconds kListingLimit{5000};

// The window's main loop, run from inside a handler while the print system
// works on another thread.
class WindowPump : public EventPump {
public:
  explicit WindowPump(Gtk::Window &window) : m_window(window) {}
  void iterate(std::chrono::milliseconds max) override {
    GSource *timer = g_timeout_source_new(static_cast<guint>(max.count()));
    g_source_set_callback(
        timer, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timer, nullptr);
    g_main_context_iteration(nullptr, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
  }
  void wake() override { g_main_context_wakeup(nullptr); }
  // Closing the window (or a polite kill) hides it.
  bool closing() const override { return !m_window.get_visible(); }

private:
  Gtk::Window &m_window;
};

void scaleSizeRequest(Gtk::Widget &w, int num, int den) {
  int width = 0, height = 0;
  w.get_size_request(width, height);
  w.set_size_request(width < 0 ? -1 : mulDiv(width, num, den), height < 0 ? -1 : mulDiv(height, num, den));
}

// The button inside a drop-down list, which takes its keyboard focus.
Gtk::Widget *innerButton(Gtk::Widget &w) {
  if (dynamic_cast<Gtk::ToggleButton *>(&w)) return &w;
  Gtk::Widget *found = nullptr;
  if (auto *container = dynamic_cast<Gtk::Container *>(&w))
    container->forall([&found](Gtk::Widget &child) {
      if (!found) found = innerButton(child);
    });
  return found;
}

}  // namespace

// Registered by hand: the generated constructor would be dropped by the
// linker when the form comes from a static library.
extern "C" void quorvel_ui_register_resource(void);

std::unique_ptr<TForm1> TForm1::create(FormServices services) {
  static const bool registered = (quorvel_ui_register_resource(), true);
  (void)registered;
  // Before the form's first text is measured.
  addApplicationFonts(services.fontFiles);
  auto builder = Gtk::Builder::create_from_resource("/org/quorvel/TForm1.ui");
  TForm1 *form = nullptr;
  builder->get_widget_derived("TForm1", form, std::move(services));
  return std::unique_ptr<TForm1>(form);
}

TForm1::TForm1(BaseObjectType *obj, const Glib::RefPtr<Gtk::Builder> &builder, FormServices services)
    : Gtk::Window(obj),
      m_builder(builder),
      m_services(std::move(services)),
      m_pump(std::make_unique<WindowPump>(*this)),
      m_busy([this](bool on) { showBusy(on); }) {
  auto css = Gtk::CssProvider::create();
  css->load_from_resource("/org/quorvel/TForm1.css");
  Gtk::StyleContext::add_provider_for_screen(get_screen(), css, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  builder->get_widget("Panel1", m_panel1);
  builder->get_widget("Panel2", m_panel2);
  builder->get_widget("Panel3", m_panel3);
  builder->get_widget("Panel2Body", m_panel2Body);
  builder->get_widget("Label1", m_label1);
  builder->get_widget("ComboBox1", m_comboBox1);
  builder->get_widget("RadioGroup1", m_radioGroup1);
  for (std::size_t i = 0; i < m_radioItems.size(); ++i)
    builder->get_widget("RadioGroup1Item" + std::to_string(i), m_radioItems[i]);
  builder->get_widget("Edit1", m_edit1);
  builder->get_widget("CheckBox1", m_checkBox1);
  builder->get_widget("Button1", m_button1);
  builder->get_widget_derived("OleContainer", m_oleContainer);

  // Tab order of the strip, then the document area.
  m_panel2Body->set_focus_chain({m_comboBox1, m_radioGroup1, m_edit1, m_checkBox1, m_button1});
  Gtk::Container *panel1Body = nullptr;
  builder->get_widget("Panel1Body", panel1Body);
  Gtk::Widget *panel2Area = nullptr;
  builder->get_widget("Panel2Area", panel2Area);
  panel1Body->set_focus_chain({panel2Area, m_panel3});
  setUpKeyboardAndScreenReaders();

  applyFontAndScale();
  setWindowIcon();

  if (m_services.spooler) {
    auto confirm =
        m_services.confirm ? m_services.confirm : [this](const std::string &t) { return askOkCancel(t); };
    m_printDialogs = std::make_unique<FormPrintDialogs>(*this, std::move(confirm), m_services.askCredentials);
    m_printService = std::make_unique<SpoolerPrintService>(m_services.spooler, *m_pump, *m_printDialogs);
  }
  ContainerEnv env;
  env.printing = m_printService.get();
  env.reportError = [this](const std::exception_ptr &e) { handleException(e); };
  env.engineDir = m_services.engineDir;
  env.jobTitle = "Периодическая система химических элементов";
  m_oleContainer->setEnv(std::move(env));

  gdk_event_handler_set(&TForm1::closeRequestsPassModalBoxes, this, nullptr);
  signal_show().connect(sigc::mem_fun(*this, &TForm1::FormShow), false);
  signal_configure_event().connect(sigc::mem_fun(*this, &TForm1::onConfigure), false);
  signal_window_state_event().connect(sigc::mem_fun(*this, &TForm1::onWindowState), false);
  signal_map_event().connect(
      [this](GdkEventAny *) {
        if (!m_unseen) {
          centre();
          return false;
        }
        // Until it is mapped nothing is seen anyway; from then on it is
        // shown within a bound, placed or not.
        m_mapSeen = true;
        m_revealTimeout.disconnect();
        m_revealTimeout = Glib::signal_timeout().connect(sigc::track_obj(
                                                             [this] {
                                                               reveal();
                                                               return false;
                                                             },
                                                             *this),
                                                         kPlaceWaitMs);
        placeUnseen();
        return false;
      },
      false);
  m_button1->signal_clicked().connect([this] {
    // Only the live document prints (the button is insensitive until then).
    if (!m_started) return;
    try {
      Button1Click();
    } catch (const PrintOutCancelled &) {
      // The user said "Отмена" to a printer's question.
    } catch (...) {
      handleException(std::current_exception());
    }
  });
}

// GTK drops the window manager's request to close a window while a modal
// box of the program is up (the box holds the grab): the user's close box,
// or a desktop closing it, would then do nothing until the box is answered.
// The request closes the form instead, as closing it otherwise does; the
// boxes see it go and give way.
void TForm1::closeRequestsPassModalBoxes(GdkEvent *event, gpointer data) {
  auto *form = static_cast<TForm1 *>(data);
  if (event->type == GDK_DELETE && gtk_grab_get_current() && form->get_window() &&
      event->any.window == form->get_window()->gobj())
    form->closeForm();
  gtk_main_do_event(event);
}

TForm1::~TForm1() {
  gdk_event_handler_set([](GdkEvent *event, gpointer) { gtk_main_do_event(event); }, nullptr, nullptr);
  // The document and the engine go before the folder they work in.
  m_oleContainer->release();
  m_oleContainer->stopEngine();
}

void TForm1::setWindowIcon() {
  // PNGs drawn from the SVG icon at build time: read by cairo, so that no
  // image loader (librsvg among them) is mapped into the process for it.
  std::vector<Glib::RefPtr<Gdk::Pixbuf>> icons;
  for (const char *size : {"32", "64", "128"}) {
    GBytes *bytes = g_resources_lookup_data((std::string("/org/quorvel/quorvel-") + size + ".png").c_str(),
                                            G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    if (!bytes) continue;
    struct Source {
      const guint8 *at;
      gsize left;
    } source{static_cast<const guint8 *>(g_bytes_get_data(bytes, nullptr)), g_bytes_get_size(bytes)};
    cairo_surface_t *surface = cairo_image_surface_create_from_png_stream(
        [](void *closure, unsigned char *data, unsigned int length) {
          auto *src = static_cast<Source *>(closure);
          if (src->left < length) return CAIRO_STATUS_READ_ERROR;
          std::copy_n(src->at, length, data);
          src->at += length;
          src->left -= length;
          return CAIRO_STATUS_SUCCESS;
        },
        &source);
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS)
      if (GdkPixbuf *pb = gdk_pixbuf_get_from_surface(surface, 0, 0, cairo_image_surface_get_width(surface),
                                                      cairo_image_surface_get_height(surface)))
        icons.push_back(Glib::wrap(pb));
    cairo_surface_destroy(surface);
    g_bytes_unref(bytes);
  }
  if (!icons.empty()) set_icon_list(icons);
}

std::string TForm1::title() { return programTitle(); }

void TForm1::setUpKeyboardAndScreenReaders() {
  // No page item is chosen at the start.
  setRadioGroupIndex(-1);
  // The page group is one tab stop: the chosen item, or the first while none
  // is chosen (GTK would stop at each item then). Arrows move within it.
  for (std::size_t i = 1; i < m_radioItems.size(); ++i) {
    Gtk::RadioButton *item = m_radioItems[i];
    item->signal_focus().connect(
        [this, item](Gtk::DirectionType) {
          if (radioGroupIndex() < 0 && !item->has_focus())
            g_signal_stop_emission_by_name(item->gobj(), "focus");
          return false;
        },
        false);
  }

  // What a screen reader says. Label1 names the printer list (it is the
  // list's mnemonic widget in the layout); the keyboard focus is on the
  // list's inner button, which is named so too.
  auto link = [](Gtk::Widget &labelled, Gtk::Widget &label) {
    AtkObject *a = labelled.get_accessible()->gobj(), *b = label.get_accessible()->gobj();
    atk_object_add_relationship(a, ATK_RELATION_LABELLED_BY, b);
    atk_object_add_relationship(b, ATK_RELATION_LABEL_FOR, a);
  };
  std::string listName = m_label1->get_text();
  listName.erase(listName.find_last_not_of(' ') + 1);
  m_comboBox1->get_accessible()->set_name(listName);
  if (Gtk::Widget *button = innerButton(*m_comboBox1)) {
    button->get_accessible()->set_name(listName);
    // One way only: Label1 stays the label of the list itself.
    atk_object_add_relationship(button->get_accessible()->gobj(), ATK_RELATION_LABELLED_BY,
                                m_label1->get_accessible()->gobj());
  }
  // The page items form one group named by its frame's title; the frame
  // itself, drawn behind them, is not a second group of that name.
  Gtk::Frame *groupFrame = nullptr;
  m_builder->get_widget("RadioGroup1Frame", groupFrame);
  m_radioGroup1->get_accessible()->set_name(groupFrame->get_label());
  link(*m_radioGroup1, *groupFrame->get_label_widget());
  groupFrame->get_accessible()->set_name("");
  // The page list belongs to its item.
  m_edit1->get_accessible()->set_name(m_radioItems[1]->get_label());
  link(*m_edit1, *m_radioItems[1]);
}

namespace {

// The theme's bitmaps for the check and radio marks where they are drawn no
// larger than those bitmaps (14 pixels): its vector marks would map an SVG
// renderer, about 6 MB, the first time a mark is shown. Larger marks (high
// resolution screens) keep the vector ones, so that they stay sharp.
std::string markImages(int markPx, int scaleFactor) {
  if (markPx * std::max(1, scaleFactor) > 14) return {};
  auto source = [](const char *name) {
    return std::string(
               "-gtk-icon-source: -gtk-recolor(url(\"resource:///org/gtk/libgtk/theme/Adwaita/assets/") +
           name + ".symbolic.png\")); ";
  };
  return "check:checked { " + source("check-symbolic") + "}\n" +
         "check:indeterminate, radio:indeterminate { " + source("dash-symbolic") + "}\n" +
         "radio:checked { " + source("bullet-symbolic") + "}\n";
}

}  // namespace

void TForm1::applyFontAndScale() {
  const double resolution = get_screen()->get_resolution();
  const int dpi = resolution > 0 ? static_cast<int>(std::lround(resolution)) : 96;
  const int fontPx = scaledFontHeight(kFontHeight, dpi);
  m_textHeight = measureTextHeight(fontPx);
  const int num = m_textHeight > 0 ? m_textHeight : kStoredTextHeight, den = kStoredTextHeight;

  // The font, and the pieces of the controls that are drawn at a fixed size
  // (radio and check marks with their outline, the gaps beside them): they
  // scale with the rest. A mark is 13 pixels outline included at 96 dpi.
  auto px = [&](int v) { return std::to_string(mulDiv(v, num, den)) + "px"; };
  const int outline = std::max(1, mulDiv(1, num, den));
  const std::string inner = std::to_string(mulDiv(13, num, den) - 2 * outline) + "px";
  auto fontCss = Gtk::CssProvider::create();
  fontCss->load_from_data("* { font-family: Tahoma; font-size: " + std::to_string(fontPx) +
                          "px; font-weight: normal; }\n"
                          "radio, check { min-height: " +
                          inner + "; min-width: " + inner + "; border-width: " + std::to_string(outline) +
                          "px; margin: 0 " + px(4) +
                          " 0 0; }\n"
                          "button, combobox button, entry { padding-left: " +
                          px(4) + "; padding-right: " + px(4) + "; }\n" +
                          markImages(mulDiv(13, num, den) - 2 * outline, get_scale_factor()));
  Gtk::StyleContext::add_provider_for_screen(get_screen(), fontCss,
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);

  // A substitute font may be wider than Tahoma: its text is cut short with an
  // ellipsis instead of pushing the control past its place onto the next one.
  m_label1->set_ellipsize(Pango::ELLIPSIZE_END);
  for (Gtk::Bin *button : std::initializer_list<Gtk::Bin *>{m_radioItems[0], m_radioItems[1], m_radioItems[2],
                                                            m_radioItems[3], m_checkBox1, m_button1})
    if (auto *label = dynamic_cast<Gtk::Label *>(button->get_child()))
      label->set_ellipsize(Pango::ELLIPSIZE_END);

  if (num != den) {
    scaleFixedChildren(*m_panel2Body, num, den);
    Gtk::Fixed *groupBody = nullptr;
    m_builder->get_widget("RadioGroup1Body", groupBody);
    scaleFixedChildren(*groupBody, num, den);
    Gtk::Widget *panel2Area = nullptr;
    m_builder->get_widget("Panel2Area", panel2Area);
    scaleSizeRequest(*panel2Area, num, den);
  }
  const ClientSize client = scaledClientSize(m_textHeight);
  set_default_size(client.width, client.height);
}

namespace {

// Nothing when the file is damaged or lacks the figures.
std::optional<int> fileTextHeight(const MatchedFont &font, int fontPx) {
  try {
    return windowsTextHeight(readWinMetricsFromFile(font.file, font.face), fontPx);
  } catch (const FontFileError &) {
    return std::nullopt;
  }
}

}  // namespace

// The text height as the layout means it: the Windows ascent and descent of
// the font fontconfig gives for Tahoma. Pango's own ascent and descent come
// from other tables and differ by a pixel either way, so they are only the
// fallback for a font file without those figures.
int TForm1::measureTextHeight(int fontPx) {
  m_fontFile.clear();
  if (const auto font = matchFont("Tahoma", fontPx)) {
    if (const auto height = fileTextHeight(*font, fontPx)) {
      m_fontFile = font->file;
      return *height;
    }
  }
  Pango::FontDescription font("Tahoma");
  font.set_absolute_size(fontPx * PANGO_SCALE);
  auto metrics = create_pango_context()->get_metrics(font);
  return PANGO_PIXELS(metrics.get_ascent() + metrics.get_descent());
}

void TForm1::centre() {
  auto display = get_display();
  auto monitor = display->get_primary_monitor();
  if (!monitor) monitor = display->get_monitor(0);
  if (!monitor) return;
  Gdk::Rectangle work;
  monitor->get_workarea(work);
  int frameWidth = 0, frameHeight = 0;
  get_size(frameWidth, frameHeight);
  auto gdkWindow = get_window();
  if (gdkWindow && get_mapped()) {
    Gdk::Rectangle frame;
    gdkWindow->get_frame_extents(frame);
    frameWidth = frame.get_width();
    frameHeight = frame.get_height();
  } else if (m_frame) {
    // The window manager counts the frame in device pixels; with GDK_SCALE
    // the window's own size is in GTK's larger ones.
    const int scale = std::max(1, get_scale_factor());
    frameWidth = (frameWidth * scale + m_frame->left + m_frame->right + scale - 1) / scale;
    frameHeight = (frameHeight * scale + m_frame->top + m_frame->bottom + scale - 1) / scale;
  }
  const Point p = centredPosition(work.get_width(), work.get_height(), frameWidth, frameHeight);
  // Once on screen, only a frame that turned out other than announced moves it.
  if (get_mapped() && m_requestedPosition == p) return;
  if (!get_mapped() || m_unseen) m_requestedPosition = p;
  move(p.x, p.y);
}

void TForm1::showCentred() {
  add_events(Gdk::PROPERTY_CHANGE_MASK);
  realize();
  if (!requestFrameExtents(get_window()->gobj())) {
    show();
    return;
  }
  m_frameWait = signal_property_notify_event().connect([this](GdkEventProperty *event) {
    if (!isFrameExtentsChange(event)) return false;
    if (const auto answer = frameExtents(get_window()->gobj())) {
      if (tellsFrame(*answer)) m_frame = answer;
      endFrameWait();
    }
    return false;
  });
  // A window manager that never answers only costs the exact first position.
  m_frameTimeout = Glib::signal_timeout().connect(
      [this] {
        endFrameWait();
        return false;
      },
      kFrameWaitMs);
}

void TForm1::closeForm() {
  m_placeWait.disconnect();
  m_revealTimeout.disconnect();
  if (m_frameWait.connected() || m_frameTimeout.connected()) {
    // Closed before it was shown: it never will be.
    m_frameWait.disconnect();
    m_frameTimeout.disconnect();
    if (auto app = get_application()) app->remove_window(*this);
    return;
  }
  hide();
}

void TForm1::endFrameWait() {
  m_frameWait.disconnect();
  m_frameTimeout.disconnect();
  if (!m_frame) {
    // No frame told beforehand: placed by a guess, the window would move
    // once the real frame is there. It is mapped see-through instead (the
    // window manager's compositor honours the opacity), placed once the
    // frame is known, and only then shown. Without a compositor it is seen
    // at once, where a window manager with no frame at all puts it right.
    m_unseen = true;
    get_window()->set_opacity(0.0);
    m_placeWait = signal_property_notify_event().connect([this](GdkEventProperty *event) {
      // The first frame the window manager sets after the request to map
      // is the real one (four zeros when it draws none).
      if (isFrameExtentsChange(event) && frameExtents(get_window()->gobj())) {
        m_frameTold = true;
        placeUnseen();
      }
      return false;
    });
  }
  show();
}

void TForm1::placeUnseen() {
  if (!m_unseen || !m_mapSeen || !m_frameTold) return;
  centre();
  // Shown once the window manager has put the frame there.
  Gdk::Rectangle frame;
  get_window()->get_frame_extents(frame);
  if (m_requestedPosition == Point{frame.get_x(), frame.get_y()}) reveal();
}

void TForm1::reveal() {
  if (!std::exchange(m_unseen, false)) return;
  m_placeWait.disconnect();
  m_revealTimeout.disconnect();
  if (auto window = get_window()) window->set_opacity(1.0);
}

void TForm1::on_show() {
  // GTK maps the window inside its own show handler, so the position must be
  // asked for before: then the first frame is already where it belongs.
  centre();
  Gtk::Window::on_show();
}

void TForm1::FormShow() {
  // The window manager puts the window on screen while the rest is set up:
  // the request to map it would otherwise wait in the connection's buffer.
  get_display()->flush();
  startListing();
  try {
    OleContainerRun();
  } catch (...) {
    finishStart(std::current_exception());
  }
}

void TForm1::OleContainerRun() {
  m_privateDir = std::make_unique<PrivateDir>(m_services.privateRoot);
  m_oleContainer->setPrivateDir(m_privateDir.get());

  const auto resource = findResource(m_services.resources, "p1");
  if (!resource) {
    finishStart(nullptr);
    return;
  }
  // The chart's picture stands in for it until the engine runs.
  if (const auto picture = findResource(m_services.resources, kPresentationResource))
    m_oleContainer->setPresentation(*picture);
  // Printing needs the live document: the button waits for it.
  m_button1->set_sensitive(false);
  // Built for this load only; the container keeps nothing of it.
  const std::vector<std::uint8_t> stream = buildContainerStream(*resource);
  m_oleContainer->loadFromStream(stream, [this](const std::exception_ptr &error) { finishStart(error); });
}

void TForm1::startListing() {
  if (!m_services.printers || m_listing) return;
  // The list is read while the engine starts and sets its variables: they
  // are all there already (prepareToolkit), so none is added under the
  // reading thread.
  auto listed = std::make_shared<std::vector<std::string>>();
  m_listed = listed;
  m_listing = std::make_unique<OffThread>(
      [listed, list = m_services.printers](const StopFlag &) { *listed = list(); });
  m_listingDeadline = SteadyClock::now() + kListingLimit;
}

void TForm1::finishStart(const std::exception_ptr &error) {
  try {
    if (error) std::rethrow_exception(error);
    if (!m_oleContainer->isEmpty()) {
      m_oleContainer->doVerb(-1);
      getObject(m_oleContainer->oleObject(), {"ActiveWindow", "ActivePane"})
          ->set("DisplayRulers", Variant(false));
      getObject(m_oleContainer->oleObject(), {"ActiveWindow", "ActivePane", "View", "Zoom"})
          ->set("PageFit", Variant(std::int32_t{2}));
      getObject(m_oleContainer->oleObject(), {"Application"})->set("DisplayAlerts", Variant(false));
    }
  } catch (...) {
    // The list stays empty after a failed load.
    m_listing.reset();
    handleException(std::current_exception());
    markStarted();
    return;
  }
  m_awaitingList = true;
  whenListed([this] {
    m_awaitingList = false;
    try {
      fillPrinterList();
      m_comboBox1->set_active(-1);
      // A user who has already clicked into the chart's picture keeps typing
      // into the chart.
      if (!m_oleContainer->holdsFocus()) m_comboBox1->grab_focus();
    } catch (...) {
      handleException(std::current_exception());
    }
    markStarted();
    if (std::exchange(m_resizeHeldOver, false)) FormResize();
  });
}

void TForm1::whenListed(const std::function<void()> &then) {
  auto listed = [this] {
    return !m_listing || m_listing->ready() || SteadyClock::now() >= m_listingDeadline;
  };
  if (listed()) return then();
  // The engine's callback is no place for a nested loop: look again shortly.
  Glib::signal_timeout().connect(sigc::track_obj(
                                     [listed, then] {
                                       if (!listed()) return true;
                                       then();
                                       return false;
                                     },
                                     *this),
                                 5);
}

void TForm1::fillPrinterList() {
  const std::unique_ptr<OffThread> listing = std::move(m_listing);
  // A print system that did not answer in time, or failed, gives an empty list.
  if (!listing || !listing->ready()) return;
  try {
    listing->wait(*m_pump, SteadyClock::now());
  } catch (const std::exception &) {
    return;
  }
  for (const std::string &name : *m_listed) m_comboBox1->append(name);
}

void TForm1::markStarted() {
  m_button1->set_sensitive(true);
  m_started = true;
  m_signalStarted.emit();
}

bool TForm1::onConfigure(GdkEventConfigure *event) {
  if (m_unseen) placeUnseen();
  if (event->width != m_lastWidth || event->height != m_lastHeight) {
    m_lastWidth = event->width;
    m_lastHeight = event->height;
    FormResize();
  }
  return false;
}

bool TForm1::onWindowState(GdkEventWindowState *event) {
  if (event->changed_mask &
      (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN))
    FormResize();
  return false;
}

void TForm1::FormResize() {
  // Until start-up has finished there is nothing to show and no focus to move.
  // Once the document is set up and only the printer list is awaited, a
  // resize is held over until the list is filled, as if it had queued behind
  // the list being read.
  if (!m_started) {
    if (m_awaitingList) m_resizeHeldOver = true;
    return;
  }
  m_oleContainer->setFocus();
  m_comboBox1->grab_focus();
}

void TForm1::Button1Click() {
  // One print-out at a time: a click while one is under way is not taken.
  if (m_busy.busy()) return;
  PrintStrip strip;
  if (m_comboBox1->get_active_row_number() >= 0) strip.printer = m_comboBox1->get_active_text();
  strip.pageItem = radioGroupIndex();
  strip.pageList = m_edit1->get_text();
  strip.twoSided = m_checkBox1->get_active();
  PrintBusy::Guard busy;
  runPrintCommand(
      strip, [this] { return m_oleContainer->oleObject(); },
      [this](const std::string &text) { messageBox(text); }, [&] { busy = m_busy.enter(); });
}

void TForm1::showBusy(bool on) {
  // A focused widget that turns insensitive leaves the window with no focus
  // at all; a keyboard user pressed the button and expects to stay on it.
  if (on) m_buttonHadFocus = m_button1->has_focus();
  m_button1->set_sensitive(!on);
  if (!on && std::exchange(m_buttonHadFocus, false) && !get_focus()) m_button1->grab_focus();
  if (auto window = get_window())
    window->set_cursor(on ? Gdk::Cursor::create(get_display(), "wait") : Glib::RefPtr<Gdk::Cursor>());
}

Gtk::Widget *TForm1::control(const Glib::ustring &name) const {
  Gtk::Widget *w = nullptr;
  m_builder->get_widget(name, w);
  return w;
}

int TForm1::radioGroupIndex() const {
  for (std::size_t i = 0; i < m_radioItems.size(); ++i)
    if (m_radioItems[i]->get_active()) return static_cast<int>(i);
  return -1;
}

void TForm1::setRadioGroupIndex(int index) {
  if (index >= 0 && index < static_cast<int>(m_radioItems.size())) {
    m_radioItems[static_cast<std::size_t>(index)]->set_active(true);
  } else {
    m_noPageItem.join_group(*m_radioItems[0]);
    m_noPageItem.set_active(true);
    m_noPageItem.reset_group();
  }
}

void TForm1::messageBox(const std::string &text) {
  if (boxHook) return boxHook(text, false);
  Gtk::MessageDialog box(*this, text, false, Gtk::MESSAGE_OTHER, Gtk::BUTTONS_OK, true);
  runBox(*this, box);
}

void TForm1::handleException(const std::exception_ptr &error) {
  const std::string text = errorBoxText(error);
  if (boxHook) return boxHook(text, true);
  Gtk::MessageDialog box(*this, text, false, Gtk::MESSAGE_ERROR, Gtk::BUTTONS_OK, true);
  runBox(*this, box);
}

bool TForm1::askOkCancel(const std::string &text) {
  // The question names its buttons «ОК» and «Отмена», whatever the locale.
  Gtk::MessageDialog box(*this, text, false, Gtk::MESSAGE_QUESTION, Gtk::BUTTONS_NONE, true);
  box.add_button("Отмена", Gtk::RESPONSE_CANCEL);
  box.add_button("ОК", Gtk::RESPONSE_OK);
  box.set_default_response(Gtk::RESPONSE_OK);
  return runBox(*this, box) == Gtk::RESPONSE_OK;
}

void prepareToolkit() {
  reserveEngineEnvironment();
  setenv("GDK_GL", "disable", 0);
}

int runApplication(FormServices services) {
  prepareToolkit();
  // What a killed run could not remove.
  PrivateDir::removeStale(services.privateRoot);

  // X11 (Xwayland on a Wayland desktop) where there is a display: only there
  // can a program place its own window. Wayland otherwise.
  gdk_set_allowed_backends("x11,*");
  // One application id everywhere, the desktop file's name. GTK 3 takes the
  // window's Wayland app id and its X11 instance name from the program's
  // name, and the X11 class (the desktop file's StartupWMClass) from the
  // program class, which its start makes that name with a capital.
  constexpr const char *kApplicationId = "org.quorvel.Quorvel";
  g_set_prgname(kApplicationId);
  auto app = Gtk::Application::create(kApplicationId, Gio::APPLICATION_NON_UNIQUE);
  app->register_application();
  gdk_set_program_class("Quorvel");

  std::unique_ptr<TForm1> form = TForm1::create(std::move(services));
  auto closeForm = +[](gpointer data) -> gboolean {
    static_cast<TForm1 *>(data)->closeForm();
    return G_SOURCE_CONTINUE;
  };
  std::vector<guint> sources;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sources.push_back(g_unix_signal_add(sig, closeForm, form.get()));

  app->signal_activate().connect([&] {
    app->add_window(*form);
    form->showCentred();
  });
  app->run();
  for (guint id : sources) g_source_remove(id);
  form.reset();
  // Print-system calls given up on cancel what they sent; let them.
  OffThread::drain(std::chrono::seconds(2));
  return 0;
}

}  // namespace quorvel
