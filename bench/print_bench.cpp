// SPDX-License-Identifier: GPL-3.0-or-later
// Times the print button: the real window on a document, the real engine,
// a real CUPS queue. Button1Click() returns once CUPS has accepted the job
// (the window's events are handled meanwhile), so each call is timed from
// the click to the job being accepted; a probe notes the longest stall of
// the GTK main loop during each click.
//
//   print_bench DOC QUEUE [CLICKS=5]
//
// Needs DISPLAY and CUPS_SERVER. Prints each click's time and stall, and
// the medians.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "bench_util.h"
#include "document/lok_view.h"
#include "harness.h"

namespace {

int benchMain(int argc, char **argv) {
  using namespace quorvel;
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s DOC QUEUE [CLICKS]\n", argv[0]);
    return 2;
  }
  const std::string queue = argv[2];
  const int clicks = argc > 3 ? std::atoi(argv[3]) : 5;
  if (clicks < 1) return 2;
  const std::vector<std::uint8_t> doc = test::readFile(argv[1]);
  if (doc.empty()) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }

  test::FormRun run(test::cupsServices(test::chartTable(doc)));
  if (!bench::startOnQueue(run, queue)) return 1;
  TForm1 &form = run.form();
  form.setRadioGroupIndex(0);
  form.Edit1().set_text("");
  form.CheckBox1().set_active(false);
  // Let the first drawing finish so it does not land inside the first click.
  bench::drainEvents(bench::Clock::now(), 200);
  std::printf("pages=%d\n", form.oleContainer().view()->pageCount());

  test::LoopProbe probe;
  std::vector<double> times, stalls;
  for (int i = 0; i < clicks && !bench::stopRequested(); ++i) {
    probe.reset();
    const auto t0 = bench::Clock::now();
    try {
      form.Button1Click();
    } catch (...) {
      form.handleException(std::current_exception());
    }
    times.push_back(bench::msSince(t0));
    stalls.push_back(probe.longestGapMs());
    if (!run.boxes().empty()) {
      std::fprintf(stderr, "click %d: %s\n", i + 1, run.boxes().front().text.c_str());
      return 1;
    }
    std::printf("click %d: %.1f ms stall %.1f ms\n", i + 1, times.back(), stalls.back());
    std::fflush(stdout);
    bench::drainEvents(bench::Clock::now(), 20);
  }
  if (bench::stopRequested()) {
    run.close();
    return 1;
  }
  std::printf("median_ms=%.1f\n", bench::median(times));
  std::printf("median_stall_ms=%.1f\n", bench::median(stalls));
  std::printf("max_stall_ms=%.1f\n", bench::maxOf(stalls));
  return run.close() ? 0 : 1;
}

}  // namespace

// The engine ran in this process: it ends as the program does.
int main(int argc, char **argv) { quorvel::exitAfterEngine(benchMain(argc, argv)); }
