// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/view_worker_count.h"

#include <dlfcn.h>

#include <cstdint>
#include <utility>

namespace quorvel {

namespace {

// How long the close waits at most for the view's worker to finish its tasks.
constexpr std::int64_t kDestroyWaitCapUs = std::int64_t{10} * 1000 * 1000;
// How often it looks: a task takes a few milliseconds, so the close waits
// little longer than the worker.
constexpr gulong kIdlePollUs = 1000;

// Set while a view is made on this thread: the pool it makes is counted.
thread_local WorkerCount *t_newViewWorker = nullptr;

void runCounted(gpointer task, gpointer count) {
  auto *worker = static_cast<WorkerCount *>(count);
  worker->run(task, worker->data);
  worker->finished.fetch_add(1);
}

template <typename Fn>
Fn glibs(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void WorkerCount::waitUntilIdle() const {
  const std::int64_t since = g_get_monotonic_time();
  while (busy() && g_get_monotonic_time() - since < kDestroyWaitCapUs) g_usleep(kIdlePollUs);
}

CountNextPool::CountNextPool(WorkerCount &count) { t_newViewWorker = &count; }

CountNextPool::~CountNextPool() { t_newViewWorker = nullptr; }

}  // namespace quorvel

extern "C" GThreadPool *g_thread_pool_new(GFunc func, gpointer data, gint maxThreads, gboolean exclusive,
                                          GError **error) {
  static const auto next = quorvel::glibs<decltype(&g_thread_pool_new)>("g_thread_pool_new");
  quorvel::WorkerCount *worker = std::exchange(quorvel::t_newViewWorker, nullptr);
  if (!worker) return next(func, data, maxThreads, exclusive, error);
  worker->run = func;
  worker->data = data;
  return next(&quorvel::runCounted, worker, maxThreads, exclusive, error);
}

extern "C" gboolean g_thread_pool_push(GThreadPool *pool, gpointer task, GError **error) {
  static const auto next = quorvel::glibs<decltype(&g_thread_pool_push)>("g_thread_pool_push");
  // GThreadPool's fields are GLib's public API.
  auto *worker = pool && pool->func == &quorvel::runCounted
                     ? static_cast<quorvel::WorkerCount *>(pool->user_data)
                     : nullptr;
  if (worker) worker->queued.fetch_add(1);
  const gboolean pushed = next(pool, task, error);
  if (worker && !pushed) worker->queued.fetch_sub(1);
  return pushed;
}
