// SPDX-License-Identifier: GPL-3.0-or-later
// Slow work (the print system) on a thread of its own while the GUI thread
// goes on handling its events, with a limit on every wait.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

namespace quorvel {

using SteadyClock = std::chrono::steady_clock;

// The GUI thread's event loop as a waiting caller sees it.
class EventPump {
public:
  virtual ~EventPump() = default;
  // Handles what is pending; with nothing pending, sleeps until something
  // comes, wake() is called or `max` has passed.
  virtual void iterate(std::chrono::milliseconds max) = 0;
  // From any thread: ends a sleeping iterate() early.
  virtual void wake() = 0;
  // True once the window is going away: waits end at once.
  virtual bool closing() const = 0;
};

// Set when nobody waits for the work any more; the work checks it, stops
// as soon as it can and leaves nothing half done behind.
class StopFlag {
public:
  bool stopped() const { return m_stop.load(); }
  void stop() { m_stop.store(true); }

private:
  std::atomic<bool> m_stop{false};
};

// The work did not finish in time.
struct WaitTimedOut : std::runtime_error {
  WaitTimedOut() : std::runtime_error("timed out") {}
};
// The window went away while the work was under way.
struct WaitAbandoned : std::runtime_error {
  WaitAbandoned() : std::runtime_error("abandoned") {}
};

// One piece of work, started on its own thread at construction. Whoever
// gives up on it (abandon(), a timed-out wait, the destructor) stops it and
// lets it end on its own; it owns everything it touches.
class OffThread {
public:
  using Work = std::function<void(const StopFlag &)>;
  explicit OffThread(Work work);
  ~OffThread();
  OffThread(const OffThread &) = delete;
  OffThread &operator=(const OffThread &) = delete;

  bool ready() const;
  // Handles the GUI's events until the work is done, then rethrows what it
  // threw. Throws WaitTimedOut at `deadline` and WaitAbandoned as soon as
  // the pump is closing or `giveUp` says so; either way the work is told to
  // stop.
  void wait(EventPump &pump, SteadyClock::time_point deadline, const std::function<bool()> &giveUp = {});
  void abandon();

  // Works still running (given up on or not).
  static int running();
  // Waits at most `limit` until no work runs.
  static bool waitIdle(std::chrono::milliseconds limit);
  // At exit: gives works holding an ExitHold up to `limit` to let go.
  static bool drain(std::chrono::milliseconds limit);

private:
  struct State;
  std::shared_ptr<State> m_state;
};

// Held by a work while the print system has something of ours it must not
// be left with (a job being sent): the program waits for it at exit, so that
// a work given up on can withdraw it. Works stuck elsewhere do not hold it up.
class ExitHold {
public:
  ExitHold();
  ~ExitHold();
  ExitHold(const ExitHold &) = delete;
  ExitHold &operator=(const ExitHold &) = delete;
};

// Runs `work` off the GUI thread and waits for it at most `limit`.
template <class T>
T runOffThread(EventPump &pump, std::chrono::milliseconds limit, std::function<T(const StopFlag &)> work,
               const std::function<bool()> &giveUp = {}) {
  auto result = std::make_shared<T>();
  OffThread task([result, work = std::move(work)](const StopFlag &stop) { *result = work(stop); });
  task.wait(pump, SteadyClock::now() + limit, giveUp);
  return std::move(*result);
}

// Handles the GUI's events for `time`, or until `giveUp` says so or the
// window is closing.
void pumpFor(EventPump &pump, std::chrono::milliseconds time, const std::function<bool()> &giveUp = {});

}  // namespace quorvel
