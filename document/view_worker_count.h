// SPDX-License-Identifier: GPL-3.0-or-later
// The view destroyed only when its worker is idle (LibreOffice 7.4 and
// 26.8). The view hands every request to a worker thread of its own, a GLib
// thread pool, and its destroy frees that pool while holding the lock each
// task takes first: a task that has started but not yet taken the lock then
// waits for the destroy, which waits for the task, for ever. So the view may
// only go once its worker has nothing queued or running. The pool is private
// to the widget; the calls that make it and queue tasks on it are GLib's
// g_thread_pool_new and g_thread_pool_push, which the program provides itself
// (view_worker_count.cpp) and passes on to GLib, and for the view's pool
// alone it counts the tasks queued and finished. Every other pool of the
// process is passed on untouched.
// Measured (bench/README.md): destroyed at once, 2 closes in 20 hung on 7.4
// and 6 in 20 on 26.8; destroyed once the engine had been quiet for 0.2 s,
// 5 in 574 on 7.4 with two other busy processes; once every task queued has
// finished, 0 in 600.
#pragma once

#include <glib.h>

#include <atomic>

namespace quorvel {

// The tasks of one view's worker.
struct WorkerCount {
  GFunc run = nullptr;  // the view's own task function and its data
  gpointer data = nullptr;
  std::atomic<long> queued{0};
  std::atomic<long> finished{0};

  bool busy() const { return queued.load() != finished.load(); }
  // Until every task queued has finished, at most 10 s.
  void waitUntilIdle() const;
};

// While it lives, the next thread pool made on this thread (the one the view
// made here makes for its worker) is counted in `count`.
class CountNextPool {
public:
  explicit CountNextPool(WorkerCount &count);
  ~CountNextPool();
  CountNextPool(const CountNextPool &) = delete;
  CountNextPool &operator=(const CountNextPool &) = delete;
};

}  // namespace quorvel
