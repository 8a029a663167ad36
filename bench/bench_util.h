// SPDX-License-Identifier: GPL-3.0-or-later
// Small pieces shared by the print and soak benchmarks.
#pragma once

#include <glib-unix.h>
#include <glib.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Main.h"
#include "harness.h"

namespace quorvel::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double maxOf(const std::vector<double> &v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// Resident memory of this process in kB, from /proc/self/status.
// A "Name:   123 kB" field of /proc/self/status, in kB.
inline long statusKb(const std::string &field) {
  std::ifstream in("/proc/self/status");
  const std::string key = field + ":";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}
inline long rssKb() { return statusKb("VmRSS"); }

// Memory the program holds from malloc (all arenas), in kB: unlike the
// resident size it does not count freed memory the allocator keeps.
inline long heapInUseKb() {
  const struct mallinfo2 mi = mallinfo2();
  return static_cast<long>((mi.uordblks + mi.hblkhd) / 1024);
}

inline int openFds() {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return n - 1;  // the directory being listed
}

// Runs the main loop until nothing has been pending for `quietMs`; returns
// how long after `t0` the last event was handled.
inline double drainEvents(Clock::time_point t0, int quietMs = 10, int capMs = 10000) {
  double last = msSince(t0);
  auto quietSince = Clock::now();
  while (msSince(quietSince) < quietMs && msSince(t0) < capMs) {
    if (g_main_context_iteration(nullptr, FALSE)) {
      last = msSince(t0);
      quietSince = Clock::now();
    } else {
      g_usleep(1000);
    }
  }
  return last;
}

// Set once SIGTERM, SIGINT or SIGHUP has come in (seen while the main loop
// runs): the benchmark then stops and closes the window, so its folders go.
inline bool &stopRequested() {
  static bool stop = false;
  return stop;
}
inline void stopOnSignals() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    g_unix_signal_add(
        sig,
        [](gpointer) -> gboolean {
          stopRequested() = true;
          return G_SOURCE_CONTINUE;
        },
        nullptr);
}

// Shows the window of `run` with its document loaded and the printer `queue`
// chosen, as the user would before clicking; says on stderr what failed.
// Ctrl-C and SIGTERM from then on stop the benchmark (stopRequested()).
inline bool startOnQueue(test::FormRun &run, const std::string &queue) {
  stopOnSignals();
  if (!run.showAndStart() || run->oleContainer().isEmpty() || stopRequested()) {
    std::fprintf(stderr, "the window did not start with the document\n");
    return false;
  }
  if (!test::choosePrinter(run.form(), queue)) {
    std::fprintf(stderr, "queue %s is not in the printer list\n", queue.c_str());
    return false;
  }
  return true;
}

}  // namespace quorvel::bench
