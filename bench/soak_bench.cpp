// SPDX-License-Identifier: GPL-3.0-or-later
// A long session in one process: the real window on the built-in chart,
// many print clicks to a capture queue and many window resizes, watching
// resident memory and open file descriptors.
//
//   soak_bench QUEUE CAPTURE_DIR [--clicks N] [--resizes N] [--clear-every N]
//
// CAPTURE_DIR is where the capture queue stores its jobs (DIR/out of
// tests/cups/cups-harness.sh); it is emptied now and then so it stays small.
// Needs DISPLAY and CUPS_SERVER.
//
// Exit status: 0 fine, 1 something did not work (a job missing, an
// unexpected message, a resize not refitted), 3 resident memory grew by 10 %
// or more, 4 open file descriptors grew.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_util.h"
#include "document/lok_view.h"
#include "harness.h"
#include "printing/cups_spooler.h"

namespace {

using namespace quorvel;
namespace fs = std::filesystem;

struct Choice {
  int item;
  const char *list;
  bool twoSided;
  bool refused;  // the chart has one page: "even pages" is refused with a message
};
constexpr Choice kChoices[] = {
    {0, "", false, false},       {1, "1", false, false}, {2, "", false, false},
    {1, "1, 1-3", false, false}, {0, "", true, false},   {3, "", false, true},
};

struct Size {
  int width, height;
};
// Every size differs in width from the one before, so every resize refits.
constexpr Size kSizes[] = {{900, 650}, {1100, 800}, {800, 600}, {1200, 900}};

std::size_t capturedCount(const fs::path &dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(dir, ec))
    if (e.path().extension() == ".meta") ++n;
  return n;
}

bool fitted(TForm1 &form) {
  LokView *view = form.oleContainer().view();
  const double pageWidth = view->zoom() * static_cast<double>(view->documentWidthTwips()) / 15.0;
  const int area = form.oleContainer().get_allocated_width();
  return pageWidth > area - 40 && pageWidth <= area;
}

int benchMain(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s QUEUE CAPTURE_DIR [--clicks N] [--resizes N] [--clear-every N]\n",
                 argv[0]);
    return 2;
  }
  const std::string queue = argv[1];
  const fs::path captureDir = argv[2];
  int clicks = 200, resizes = 200, clearEvery = 50, settleMs = 10;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--clicks"))
      clicks = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--resizes"))
      resizes = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--settle-ms"))
      settleMs = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--clear-every"))
      clearEvery = std::max(1, std::atoi(argv[i + 1]));
    else
      return 2;
  }

  test::FormRun run(test::cupsServices(builtInResources()));
  if (!bench::startOnQueue(run, queue)) return 1;
  TForm1 &form = run.form();
  if (!test::pumpUntil([&] { return fitted(form); }, 10000)) {
    std::fprintf(stderr, "the chart was never fitted to the window\n");
    return 1;
  }
  bench::drainEvents(bench::Clock::now(), 500);

  const long rssStart = bench::rssKb();
  const int fdStart = bench::openFds();
  const long heapStart = bench::heapInUseKb();
  // Resident memory is anonymous memory (the heap among it) plus pages of
  // mapped files: the engine's code and fonts, read in as first used.
  const long anonStart = bench::statusKb("RssAnon"), fileStart = bench::statusKb("RssFile");
  std::printf("after start-up: rss=%ld kB (anon %ld, file %ld) heap=%ld kB fds=%d\n", rssStart, anonStart,
              fileStart, heapStart, fdStart);
  std::fflush(stdout);

  std::vector<double> clickMs, refusedMs, resizeMs;
  std::size_t expectedJobs = 0, clearedJobs = 0, refusals = 0;
  int failures = 0;
  auto collectJobs = [&] {
    // Every job sent so far must have arrived before the folder is emptied.
    const bool all = test::pumpUntil([&] { return capturedCount(captureDir) >= expectedJobs; }, 30000);
    const std::size_t have = capturedCount(captureDir);
    if (!all || have != expectedJobs) {
      std::fprintf(stderr, "captured %zu jobs, expected %zu\n", clearedJobs + have,
                   clearedJobs + expectedJobs);
      ++failures;
    }
    clearedJobs += have;
    expectedJobs = 0;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(captureDir, ec)) fs::remove(e.path(), ec);
  };

  // Waits until the window has the size and the page fits it again.
  auto resizeTo = [&](Size size) {
    const double zoomBefore = form.oleContainer().view()->zoom();
    form.resize(size.width, size.height);
    return test::pumpUntil(
        [&] {
          return form.get_width() == size.width && form.get_height() == size.height &&
                 form.oleContainer().view()->zoom() != zoomBefore && fitted(form);
        },
        5000);
  };
  // The end is measured at the size of the start: a larger window rightly
  // holds more drawn tiles.
  const Size startSize{form.get_width(), form.get_height()};

  const int rounds = std::max(clicks, resizes);
  for (int i = 0; i < rounds && !bench::stopRequested(); ++i) {
    if (i < clicks) {
      const Choice &v = kChoices[static_cast<std::size_t>(i) % std::size(kChoices)];
      form.setRadioGroupIndex(v.item);
      form.Edit1().set_text(v.list);
      form.CheckBox1().set_active(v.twoSided);
      const std::size_t boxesBefore = run.boxes().size();
      const auto t0 = bench::Clock::now();
      form.Button1().clicked();
      (v.refused ? refusedMs : clickMs).push_back(bench::msSince(t0));
      const bool boxed = run.boxes().size() != boxesBefore;
      if (boxed != v.refused || (boxed && !run.boxes().back().error)) {
        std::fprintf(stderr, "click %d: unexpected outcome%s%s\n", i + 1, boxed ? ": " : "",
                     boxed ? run.boxes().back().text.c_str() : "");
        ++failures;
      }
      if (v.refused)
        ++refusals;
      else
        ++expectedJobs;
      run.clearBoxes();
      bench::drainEvents(bench::Clock::now(), 5);
      if ((i + 1) % clearEvery == 0) collectJobs();
    }
    if (i < resizes) {
      const auto t0 = bench::Clock::now();
      const bool done = resizeTo(kSizes[static_cast<std::size_t>(i) % std::size(kSizes)]);
      resizeMs.push_back(bench::drainEvents(t0, settleMs));
      if (!done) {
        std::fprintf(stderr, "resize %d: not refitted (window %dx%d)\n", i + 1, form.get_width(),
                     form.get_height());
        ++failures;
      }
    }
    if ((i + 1) % 50 == 0) {
      std::printf("round %d: rss=%ld kB (anon %ld, file %ld) heap=%ld kB fds=%d\n", i + 1, bench::rssKb(),
                  bench::statusKb("RssAnon"), bench::statusKb("RssFile"), bench::heapInUseKb(),
                  bench::openFds());
      std::fflush(stdout);
    }
  }
  if (bench::stopRequested()) {
    std::fprintf(stderr, "stopped\n");
    run.close();
    return 1;
  }
  collectJobs();
  if (resizes > 0 && (form.get_width() != startSize.width || form.get_height() != startSize.height) &&
      !resizeTo(startSize)) {
    std::fprintf(stderr, "the window did not return to %dx%d\n", startSize.width, startSize.height);
    ++failures;
  }
  bench::drainEvents(bench::Clock::now(), 500);

  const long rssEnd = bench::rssKb();
  const int fdEnd = bench::openFds();
  const double growth = 100.0 * static_cast<double>(rssEnd - rssStart) / static_cast<double>(rssStart);
  std::printf("clicks=%zu jobs=%zu refused=%zu resizes=%zu failures=%d\n", clickMs.size() + refusedMs.size(),
              clearedJobs, refusals, resizeMs.size(), failures);
  std::printf("rss_start_kb=%ld rss_end_kb=%ld rss_growth_pct=%.1f\n", rssStart, rssEnd, growth);
  std::printf("rss_anon_start_kb=%ld rss_anon_end_kb=%ld rss_file_start_kb=%ld rss_file_end_kb=%ld\n",
              anonStart, bench::statusKb("RssAnon"), fileStart, bench::statusKb("RssFile"));
  std::printf("heap_in_use_start_kb=%ld heap_in_use_end_kb=%ld\n", heapStart, bench::heapInUseKb());
  std::printf("fds_start=%d fds_end=%d\n", fdStart, fdEnd);
  // Clicks that printed; the refused ones only show the message.
  std::printf("click_median_ms=%.1f click_max_ms=%.1f refused_median_ms=%.1f\n", bench::median(clickMs),
              bench::maxOf(clickMs), bench::median(refusedMs));
  std::printf("resize_median_ms=%.1f resize_max_ms=%.1f\n", bench::median(resizeMs), bench::maxOf(resizeMs));
  std::fflush(stdout);

  if (!run.close()) ++failures;
  if (failures) return 1;
  if (growth >= 10.0) return 3;
  if (fdEnd > fdStart) return 4;
  return 0;
}

}  // namespace

// The engine ran in this process: it ends as the program does.
int main(int argc, char **argv) { quorvel::exitAfterEngine(benchMain(argc, argv)); }
