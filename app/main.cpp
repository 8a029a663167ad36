// quorvel: shows the periodic table chart and prints it.
#include <glib-unix.h>
#include <gtkmm.h>

#include <csignal>

#include "app/Main.h"
#include "printing/cups_spooler.h"

int main() {
  using namespace quorvel;
  // What a killed run could not remove.
  PrivateDir::removeStale();

  auto app = Gtk::Application::create("org.quorvel.Quorvel", Gio::APPLICATION_NON_UNIQUE);
  app->register_application();

  CupsSpooler spooler;
  FormServices services;
  services.resources = builtInResources();
  services.printers = [] { return CupsSpooler::listQueues(); };
  services.spooler = &spooler;

  std::unique_ptr<TForm1> form = TForm1::create(services);
  // A polite kill closes the window like the user would, so everything is cleaned up.
  auto closeForm = +[](gpointer data) -> gboolean {
    static_cast<TForm1 *>(data)->hide();
    return G_SOURCE_CONTINUE;
  };
  g_unix_signal_add(SIGTERM, closeForm, form.get());
  g_unix_signal_add(SIGINT, closeForm, form.get());
  g_unix_signal_add(SIGHUP, closeForm, form.get());

  app->run(*form);
  form.reset();
  return 0;
}
