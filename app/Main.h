// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the control strip above the document area.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/font_config.h"
#include "app/form_style.h"
#include "app/message_boxes.h"
#include "app/page_group.h"
#include "app/print_boxes.h"
#include "app/window_placement.h"
#include "document/ole_container.h"
#include "document/private_dir.h"
#include "printing/off_thread.h"
#include "printing/print_command.h"
#include "printing/print_out.h"
#include "printing/printer_listing.h"
#include "resources/resources.h"

namespace quorvel {

// What the window is given from outside; tests put their own in.
struct FormServices {
  ResourceTable resources;
  // The printer names; called once, off the GUI thread, while the engine loads.
  std::function<std::vector<std::string>()> printers;
  std::shared_ptr<PrintSpooler> spooler;
  std::filesystem::path privateRoot = PrivateDir::defaultRoot();
  // Answers the manual two-sided question; the default asks the user.
  std::function<bool(const std::string &)> confirm;
  // Answers a printer's question for a user name and password; the default
  // asks the user.
  FormPrintDialogs::AskCredentials askCredentials;
  std::string engineDir = lokProgramDir();
  // Fonts added for this process only: Tahoma, where it is installed.
  std::vector<std::filesystem::path> fontFiles = wineTahomaFiles();
};

class TForm1 : public Gtk::Window {
public:
  static std::unique_ptr<TForm1> create(FormServices services);
  TForm1(BaseObjectType *obj, const Glib::RefPtr<Gtk::Builder> &builder, FormServices services);
  ~TForm1() override;
  TForm1(const TForm1 &) = delete;
  TForm1 &operator=(const TForm1 &) = delete;

  // Shows the window with its frame already where the placement rule puts
  // it: on X11 the window manager is first asked how big the frame will be.
  void showCentred();
  // Closes the window as the user would, also while it waits to be shown.
  void closeForm();
  void FormShow();
  void FormResize();
  void Button1Click();
  void OleContainerRun();

  // The application's title: message-box captions.
  static std::string title();
  // The default error handler: the error box, then back to the event loop.
  void handleException(const std::exception_ptr &error);
  void messageBox(const std::string &text);

  // True once the start-up routine has finished, whatever its outcome.
  bool started() const { return m_startUp == StartUp::Done; }
  // True while a print-out is under way.
  bool printing() const { return m_busy.busy(); }
  // The box a print-out shows while it follows a job at the printer, if any.
  ProgressBox *printProgress() const { return m_printDialogs ? m_printDialogs->current() : nullptr; }
  sigc::signal<void()> &signalStarted() { return m_signalStarted; }
  // Called instead of running a modal box (tests); gets the text and whether it is an error.
  std::function<void(const std::string &, bool)> boxHook;

  Gtk::ComboBoxText &ComboBox1() { return *m_comboBox1; }
  Gtk::Entry &Edit1() { return *m_edit1; }
  Gtk::CheckButton &CheckBox1() { return *m_checkBox1; }
  Gtk::Button &Button1() { return *m_button1; }
  OleContainer &oleContainer() { return *m_oleContainer; }
  // A control of the layout by its name there ("Panel2", "RadioGroup1Item0", ...).
  Gtk::Widget *control(const Glib::ustring &name) const;
  int radioGroupIndex() const { return m_pages.index(); }
  void setRadioGroupIndex(int index) { m_pages.setIndex(index); }
  int textHeight() const { return m_scale.textHeight; }
  // The font file the text height was measured from (empty: Pango's figures).
  const std::filesystem::path &fontFile() const { return m_scale.fontFile; }
  // Where the frame was asked to go before the user first saw it.
  std::optional<Point> requestedPosition() const { return m_placement.requestedPosition(); }

protected:
  void on_show() override;

private:
  // Start-up: the document loading and set up, then the printer list
  // awaited (resizes meanwhile are held over until it is filled), then done.
  enum class StartUp { Loading, AwaitingPrinters, Done };

  void finishStart(const std::exception_ptr &error);
  void whenListed(const std::function<void()> &then);
  void fillPrinterList();
  void markStarted();
  bool onConfigure(GdkEventConfigure *event);
  bool onWindowState(GdkEventWindowState *event);
  void showBusy(bool on);

  Glib::RefPtr<Gtk::Builder> m_builder;
  FormServices m_services;
  Gtk::Label *m_label1 = nullptr;
  Gtk::ComboBoxText *m_comboBox1 = nullptr;
  PageGroup m_pages;
  Gtk::Entry *m_edit1 = nullptr;
  Gtk::CheckButton *m_checkBox1 = nullptr;
  Gtk::Button *m_button1 = nullptr;
  Gtk::Frame *m_panel3 = nullptr;
  OleContainer *m_oleContainer = nullptr;

  FormScale m_scale;
  WindowPlacement m_placement{*this};
  CloseThroughBoxes m_closeThroughBoxes{*this, [this] { closeForm(); }};
  std::unique_ptr<PrivateDir> m_privateDir;
  std::unique_ptr<EventPump> m_pump;
  std::unique_ptr<FormPrintDialogs> m_printDialogs;
  std::unique_ptr<SpoolerPrintService> m_printService;
  PrintBusy m_busy;
  bool m_buttonHadFocus = false;
  std::unique_ptr<PrinterListing> m_listing;
  sigc::connection m_listWait;
  int m_lastWidth = -1, m_lastHeight = -1;
  StartUp m_startUp = StartUp::Loading;
  bool m_resizeHeldOver = false;
  sigc::signal<void()> m_signalStarted;
};

// What the process sets before any thread starts: no OpenGL (the program
// draws none; probing for it maps a software renderer of about 48 MB), and
// every variable the engine sets as it starts. A value the user set is left
// alone.
void prepareToolkit();

// Runs the program's window until it is closed; a polite kill (TERM, INT,
// HUP) closes it like the user would. Returns the exit code.
int runApplication(FormServices services);

}  // namespace quorvel
