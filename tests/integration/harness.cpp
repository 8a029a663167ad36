// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness.h"

#include "printing/cups_spooler.h"

#include <cups/cups.h>

#include <fcntl.h>
#include <glib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

// Last: Xlib's macros (None, Status) would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel::test {

namespace fs = std::filesystem;

void initGtk() {
  static bool done = false;
  if (done) return;
  done = true;
  prepareToolkit();
  gtk_init(nullptr, nullptr);
  Gtk::Main::init_gtkmm_internals();
}

LoopProbe::LoopProbe() : m_last(std::chrono::steady_clock::now()) {
  m_source = g_timeout_add_full(G_PRIORITY_HIGH, 2, &LoopProbe::tick, this, nullptr);
}

LoopProbe::~LoopProbe() { g_source_remove(m_source); }

void LoopProbe::reset() {
  m_last = m_reset = std::chrono::steady_clock::now();
  m_longest = 0;
  m_longGaps.clear();
}

std::string LoopProbe::longGaps() const { return m_longGaps; }

double LoopProbe::longestGapMs() const {
  const double now =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_last).count();
  return std::max(m_longest, now);
}

gboolean LoopProbe::tick(gpointer data) {
  auto *self = static_cast<LoopProbe *>(data);
  const auto now = std::chrono::steady_clock::now();
  const double gap = std::chrono::duration<double, std::milli>(now - self->m_last).count();
  self->m_longest = std::max(self->m_longest, gap);
  if (gap > 50) {
    const double at = std::chrono::duration<double, std::milli>(now - self->m_reset).count();
    self->m_longGaps +=
        " " + std::to_string(static_cast<int>(gap)) + " ms at " + std::to_string(static_cast<int>(at));
  }
  self->m_last = now;
  return G_SOURCE_CONTINUE;
}

EveryTick::EveryTick(std::function<void()> tick) : m_tick(std::move(tick)) {
  m_source = g_timeout_add(
      10,
      [](gpointer self) -> gboolean {
        static_cast<EveryTick *>(self)->m_tick();
        return G_SOURCE_CONTINUE;
      },
      this);
}

EveryTick::~EveryTick() { g_source_remove(m_source); }

bool pumpUntil(const std::function<bool()> &done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void pumpFor(int ms) {
  pumpUntil([] { return false; }, ms);
}

bool seeThrough(Gtk::Window &window) {
  auto gdkWindow = window.get_window();
  if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow->gobj())) return false;
  Display *display = GDK_DISPLAY_XDISPLAY(window.get_display()->gobj());
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  XGetWindowProperty(display, GDK_WINDOW_XID(gdkWindow->gobj()),
                     XInternAtom(display, "_NET_WM_WINDOW_OPACITY", False), 0, 1, False, XA_CARDINAL, &type,
                     &format, &count, &after, &data);
  // Format 32 properties come as longs, whatever their size.
  const bool clear = count == 1 && (*reinterpret_cast<unsigned long *>(data) & 0xFFFFFFFFul) == 0;
  if (data) XFree(data);
  return clear;
}

bool viewableOnServer(Gtk::Window &window) {
  auto gdkWindow = window.get_window();
  if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow->gobj())) return false;
  XWindowAttributes attributes{};
  return XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(window.get_display()->gobj()),
                              GDK_WINDOW_XID(gdkWindow->gobj()), &attributes) &&
         attributes.map_state == IsViewable;
}

std::vector<std::uint8_t> readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path dataFile(const std::string &name) { return fs::path(QUORVEL_TEST_DATA_DIR) / name; }

fs::path testTmpDir() {
  static const fs::path dir = [] {
    const char *tmp = std::getenv("TMPDIR");
    return fs::path(tmp && *tmp ? tmp : "/tmp");
  }();
  return dir;
}

namespace {
fs::path makeDirIn(const fs::path &under, const std::string &name) {
  std::string tmpl = (under / (name + ".XXXXXX")).string();
  if (!mkdtemp(tmpl.data()))
    throw fs::filesystem_error("mkdtemp", tmpl, std::error_code(errno, std::generic_category()));
  return tmpl;
}

std::set<std::string> environmentNames() {
  std::set<std::string> names;
  for (char **e = environ; *e; ++e) names.insert(std::string(*e, std::strcspn(*e, "=")));
  return names;
}
}  // namespace

fs::path makeTestDir(const std::string &name) { return makeDirIn(testTmpDir(), name); }

FormRun::FormRun(FormServices services, const fs::path &under) {
  initGtk();
  m_environ = environ;
  m_envNames = environmentNames();
  m_root = makeDirIn(under, "quorvel-form-test");
  services.privateRoot = m_root;
  m_form = TForm1::create(std::move(services));
  m_form->boxHook = [this](const std::string &text, bool error) { m_boxes.push_back({text, error}); };
}

FormRun::~FormRun() {
  close();
  std::error_code ec;
  fs::remove_all(m_root, ec);
}

bool FormRun::showAndStart(int timeoutMs) {
  m_form->show();
  return pumpUntil([this] { return m_form->started(); }, timeoutMs);
}

bool FormRun::close() {
  bool envKept = true;
  if (m_form) {
    m_form->hide();
    m_form.reset();
    pumpFor(50);
    // The array moves when a name is added, under threads that read it.
    envKept = environ == m_environ;
    if (!envKept) {
      std::string added;
      for (const std::string &name : environmentNames())
        if (!m_envNames.count(name)) added += " " + name;
      std::fprintf(stderr, "the environment gained:%s\n", added.c_str());
    }
  }
  std::error_code ec;
  const bool clean = envKept && fs::exists(m_root, ec) && fs::is_empty(m_root, ec);
  if (!clean)
    for (const auto &e : fs::recursive_directory_iterator(m_root, ec))
      std::fprintf(stderr, "left: %s\n", e.path().c_str());
  return clean;
}

fs::path smallDisk() {
  const char *dir = std::getenv("QUORVEL_SMALL_DISK");
  return dir ? fs::path(dir) : fs::path();
}

DiskFiller::DiskFiller(const fs::path &folder) : m_file(folder / "filler") {}

DiskFiller::~DiskFiller() { release(); }

bool DiskFiller::fill() {
  const int fd = open(m_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::vector<char> chunk(1 << 20);
  int error = 0;
  // Down to single bytes: the last block is taken too.
  for (std::size_t size = chunk.size(); size > 0;) {
    if (write(fd, chunk.data(), size) >= 0 || errno == EINTR) continue;
    error = errno;
    if (error != ENOSPC) break;
    size /= 2;
  }
  close(fd);
  struct statvfs st {};
  return error == ENOSPC && statvfs(m_file.parent_path().c_str(), &st) == 0 && st.f_bavail == 0;
}

void DiskFiller::release() {
  std::error_code ec;
  fs::remove(m_file, ec);
}

ResourceTable chartTable(const std::vector<std::uint8_t> &bytes) {
  static std::vector<Resource> table;
  table = {Resource{"p1", bytes}};
  return table;
}

FormServices cupsServices(ResourceTable resources) {
  FormServices s;
  s.resources = resources;
  s.printers = [] { return CupsSpooler::listQueues(); };
  s.spooler = std::make_shared<CupsSpooler>();
  return s;
}

FormServices listedPrinters(ResourceTable resources, std::vector<std::string> printers) {
  FormServices s;
  s.resources = resources;
  s.printers = [printers = std::move(printers)] { return printers; };
  return s;
}

bool choosePrinter(TForm1 &form, const std::string &queue) {
  Gtk::ComboBoxText &list = form.ComboBox1();
  const int rows = static_cast<int>(list.get_model()->children().size());
  for (int i = 0; i < rows; ++i) {
    list.set_active(i);
    if (list.get_active_text() == queue) return true;
  }
  list.set_active(-1);
  return false;
}

bool focusIn(Gtk::Window &window, Gtk::Widget &w) {
  Gtk::Widget *focus = window.get_focus();
  return focus && (focus == &w || focus->is_ancestor(w)) && window.has_toplevel_focus();
}

void sendKey(GtkWidget *widget, guint keyval, guint modifiers) {
  for (const GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent *event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->key.keyval = keyval;
    event->key.state = modifiers;
    event->key.time = GDK_CURRENT_TIME;
    gdk_event_set_device(event,
                         gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(widget, event);
    gdk_event_free(event);
  }
}

fs::path cupsDir() {
  const char *dir = std::getenv("QUORVEL_CUPS_DIR");
  return dir ? fs::path(dir) : fs::path();
}

bool schedulerPassesCredentials() { return fs::exists(cupsDir() / "passes-credentials"); }

bool cupsHarness(const std::vector<std::string> &args) {
  const char *script = std::getenv("QUORVEL_CUPS_HARNESS");
  if (!script) return false;
  std::vector<char *> argv{const_cast<char *>(script)};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  gint status = -1;
  GError *error = nullptr;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, nullptr,
                    &status, &error)) {
    g_error_free(error);
    return false;
  }
  return g_spawn_check_wait_status(status, nullptr);
}

std::vector<CapturedJob> capturedJobs(const std::string &printer) {
  std::vector<CapturedJob> jobs;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(cupsDir() / "out", ec)) {
    if (entry.path().extension() != ".meta") continue;
    std::ifstream in(entry.path());
    CapturedJob job{0, {}, {}, {}, 0, {}, {}};
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("job-id=")) job.id = std::atoi(line.c_str() + 7);
      if (line.starts_with("title=")) job.title = line.substr(6);
      if (line.starts_with("file=")) job.pdf = cupsDir() / "out" / line.substr(5);
      if (line.starts_with("printer=")) job.printer = line.substr(8);
      if (line.starts_with("copies=")) job.copies = std::atoi(line.c_str() + 7);
      if (line.starts_with("options=")) job.options = line.substr(8);
      if (line.starts_with("auth-user=")) job.authUser = line.substr(10);
    }
    if (job.printer == printer) jobs.push_back(job);
  }
  std::sort(jobs.begin(), jobs.end(), [](auto &a, auto &b) { return a.id < b.id; });
  return jobs;
}

std::string CapturedJob::option(const std::string &name) const {
  // Blank-separated name=value pairs; the values looked up here have no blanks.
  const std::string key = name + "=";
  std::istringstream words(options);
  for (std::string word; words >> word;)
    if (word.starts_with(key)) return word.substr(key.size());
  return {};
}

ClickWatch::ClickWatch(TForm1 &form, std::function<bool()> out,
                       std::function<void(const std::string &, ProgressBox &)> act)
    : m_form(form), m_out(std::move(out)), m_act(std::move(act)) {}

bool ClickWatch::saw(const std::string &part) const {
  return std::any_of(m_texts.begin(), m_texts.end(),
                     [&](const std::string &t) { return t.find(part) != std::string::npos; });
}

std::string ClickWatch::all() const {
  std::string out;
  for (const std::string &t : m_texts) out += "[" + t + "] ";
  return out;
}

void ClickWatch::tick() {
  if (!m_firstOut && m_out && m_out()) m_firstOut = Clock::now();
  ProgressBox *box = m_form.printProgress();
  if (!box) return;
  const std::string text = box->text();
  if (!m_texts.empty() && m_texts.back() == text) return;
  m_texts.push_back(text);
  if (m_act) m_act(text, *box);
}

void pressCancel(ProgressBox &box) {
  auto *button = dynamic_cast<Gtk::Button *>(box.dialog().get_widget_for_response(Gtk::RESPONSE_CANCEL));
  if (!button || button->get_label() != "Отмена") throw std::runtime_error("no «Отмена» in the progress box");
  button->clicked();
}

int activeJobs(const std::string &queue) {
  cups_job_t *jobs = nullptr;
  const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
  if (n < 0) return -1;
  int mine = 0;
  for (int i = 0; i < n; ++i) mine += queue == jobs[i].dest;
  cupsFreeJobs(n, jobs);
  return mine;
}

bool waitForJobs(const std::string &printer, std::size_t n, int timeoutMs) {
  return pumpUntil([&] { return capturedJobs(printer).size() >= n; }, timeoutMs);
}

namespace {
std::string spawnOutput(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  gchar *out = nullptr;
  gint status = 0;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr,
                    static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                    nullptr, &out, nullptr, &status, nullptr))
    return {};
  std::string text = out ? out : "";
  g_free(out);
  return text;
}
}  // namespace

std::vector<int> pdfMarkers(const fs::path &pdf) {
  const std::string text = spawnOutput({"pdftotext", pdf.string(), "-"});
  std::vector<int> pages;
  static const std::regex marker("QMARK-PAGE-(\\d\\d)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), marker); it != std::sregex_iterator(); ++it)
    pages.push_back(std::stoi((*it)[1]));
  return pages;
}

int pdfPageCount(const fs::path &pdf) {
  const std::string info = spawnOutput({"pdfinfo", pdf.string()});
  std::smatch m;
  static const std::regex pages("Pages:\\s+(\\d+)");
  return std::regex_search(info, m, pages) ? std::stoi(m[1]) : -1;
}

}  // namespace quorvel::test
