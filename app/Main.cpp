// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Main.h"

#include <glib-unix.h>

#include <csignal>
#include <cstdlib>
#include <utility>

#include "app/builder_widget.h"
#include "app/control_names.h"
#include "document/container_stream.h"

namespace quorvel {

namespace {

// How long start-up waits for the printer list at most; a print system that
// does not answer by then leaves the list empty.
constexpr std::chrono::milliseconds kListingLimit{5000};
// How often start-up looks whether the list has come, once the document is
// set up: the engine's callback is no place for a nested loop to wait in.
constexpr unsigned kListingLookMs = 5;

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
      m_label1(builderWidget<Gtk::Label>(builder, "Label1")),
      m_comboBox1(builderWidget<Gtk::ComboBoxText>(builder, "ComboBox1")),
      m_pages(builder),
      m_edit1(builderWidget<Gtk::Entry>(builder, "Edit1")),
      m_checkBox1(builderWidget<Gtk::CheckButton>(builder, "CheckBox1")),
      m_button1(builderWidget<Gtk::Button>(builder, "Button1")),
      m_panel3(builderWidget<Gtk::Frame>(builder, "Panel3")),
      m_pump(std::make_unique<WindowPump>(*this)),
      m_busy([this](bool on) { showBusy(on); }) {
  builder->get_widget_derived("OleContainer", m_oleContainer);
  // Tab order of the strip, then the document area.
  builderWidget<Gtk::Fixed>(builder, "Panel2Body")
      ->set_focus_chain({m_comboBox1, &m_pages.group(), m_edit1, m_checkBox1, m_button1});
  builderWidget<Gtk::Container>(builder, "Panel1Body")
      ->set_focus_chain({builderWidget<Gtk::Widget>(builder, "Panel2Area"), m_panel3});
  nameStripControls(builder);
  m_scale = styleAndScale(*this, builder);
  setWindowIcon(*this);

  if (m_services.spooler) {
    auto confirm = m_services.confirm ? m_services.confirm
                                      : [this](const std::string &t) { return askOkCancel(*this, t); };
    m_printDialogs = std::make_unique<FormPrintDialogs>(*this, std::move(confirm), m_services.askCredentials);
    m_printService = std::make_unique<SpoolerPrintService>(m_services.spooler, *m_pump, *m_printDialogs);
  }
  ContainerEnv env;
  env.printing = m_printService.get();
  env.reportError = [this](const std::exception_ptr &e) { handleException(e); };
  env.engineDir = m_services.engineDir;
  env.jobTitle = "Периодическая система химических элементов";
  m_oleContainer->setEnv(std::move(env));

  signal_show().connect(sigc::mem_fun(*this, &TForm1::FormShow), false);
  signal_configure_event().connect(sigc::mem_fun(*this, &TForm1::onConfigure), false);
  signal_window_state_event().connect(sigc::mem_fun(*this, &TForm1::onWindowState), false);
  m_button1->signal_clicked().connect([this] {
    // Only the live document prints (the button is insensitive until then).
    if (!started()) return;
    try {
      Button1Click();
    } catch (const PrintOutCancelled &) {
      // The user said "Отмена" to a printer's question.
    } catch (...) {
      handleException(std::current_exception());
    }
  });
}

TForm1::~TForm1() {
  m_listWait.disconnect();
  // The document and the engine go before the folder they work in.
  m_oleContainer->release();
  m_oleContainer->stopEngine();
}

std::string TForm1::title() { return programTitle(); }

void TForm1::showCentred() { m_placement.showCentred(); }

void TForm1::closeForm() {
  if (m_placement.closedBeforeShown()) {
    if (auto app = get_application()) app->remove_window(*this);
    return;
  }
  hide();
}

void TForm1::on_show() {
  m_placement.beforeShow();
  Gtk::Window::on_show();
}

void TForm1::FormShow() {
  // The window manager puts the window on screen while the rest is set up:
  // the request to map it would otherwise wait in the connection's buffer.
  get_display()->flush();
  // The list is read while the engine starts and sets its variables: they
  // are all there already (prepareToolkit), so none is added under the
  // reading thread.
  if (m_services.printers && !m_listing)
    m_listing = std::make_unique<PrinterListing>(m_services.printers, kListingLimit);
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
  m_startUp = StartUp::AwaitingPrinters;
  whenListed([this] {
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
  if (!m_listing || m_listing->settled()) return then();
  m_listWait = Glib::signal_timeout().connect(
      [this, then] {
        if (!m_listing->settled()) return true;
        then();
        return false;
      },
      kListingLookMs);
}

void TForm1::fillPrinterList() {
  const std::unique_ptr<PrinterListing> listing = std::move(m_listing);
  // A print system that did not answer in time, or failed, gives an empty list.
  if (listing)
    for (const std::string &name : listing->take()) m_comboBox1->append(name);
}

void TForm1::markStarted() {
  m_button1->set_sensitive(true);
  m_startUp = StartUp::Done;
  m_signalStarted.emit();
}

bool TForm1::onConfigure(GdkEventConfigure *event) {
  m_placement.configured();
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
  if (!started()) {
    if (m_startUp == StartUp::AwaitingPrinters) m_resizeHeldOver = true;
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

void TForm1::messageBox(const std::string &text) {
  if (boxHook) return boxHook(text, false);
  showMessage(*this, text, false);
}

void TForm1::handleException(const std::exception_ptr &error) {
  const std::string text = errorBoxText(error);
  if (boxHook) return boxHook(text, true);
  showMessage(*this, text, true);
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
