// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/off_thread.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace quorvel {

namespace {

// Works alive, and works holding the exit back.
std::mutex g_runningLock;
std::condition_variable g_runningChanged;
int g_running = 0;
int g_holds = 0;

// The longest a wait sleeps at a time: short enough that a closing window,
// or a box's "Отмена", is noticed at once.
constexpr std::chrono::milliseconds kPumpSlice{50};

}  // namespace

struct OffThread::State {
  std::mutex lock;
  bool done = false;
  std::exception_ptr error;
  EventPump *pump = nullptr;  // the waiter to wake; only while one waits
  StopFlag stop;
};

OffThread::OffThread(Work work) : m_state(std::make_shared<State>()) {
  {
    std::lock_guard l(g_runningLock);
    ++g_running;
  }
  std::thread([state = m_state, work = std::move(work)] {
    std::exception_ptr error;
    try {
      work(state->stop);
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard l(state->lock);
      state->error = error;
      state->done = true;
      // Under the lock: a waiter cannot have gone (and taken its pump along)
      // between reading the pointer and using it.
      if (state->pump) state->pump->wake();
    }
    std::lock_guard l(g_runningLock);
    --g_running;
    g_runningChanged.notify_all();
  }).detach();
}

OffThread::~OffThread() { abandon(); }

bool OffThread::ready() const {
  std::lock_guard l(m_state->lock);
  return m_state->done;
}

void OffThread::abandon() {
  std::lock_guard l(m_state->lock);
  m_state->pump = nullptr;
  if (!m_state->done) m_state->stop.stop();
}

void OffThread::wait(EventPump &pump, SteadyClock::time_point deadline, const std::function<bool()> &giveUp) {
  using namespace std::chrono;
  {
    std::lock_guard l(m_state->lock);
    m_state->pump = &pump;
  }
  for (;;) {
    {
      std::lock_guard l(m_state->lock);
      if (m_state->done) {
        m_state->pump = nullptr;
        if (m_state->error) std::rethrow_exception(m_state->error);
        return;
      }
    }
    if (pump.closing() || (giveUp && giveUp())) {
      abandon();
      throw WaitAbandoned();
    }
    const auto now = SteadyClock::now();
    if (now >= deadline) {
      abandon();
      throw WaitTimedOut();
    }
    pump.iterate(std::min(kPumpSlice, ceil<milliseconds>(deadline - now)));
  }
}

void pumpFor(EventPump &pump, std::chrono::milliseconds time, const std::function<bool()> &giveUp) {
  using namespace std::chrono;
  const auto until = SteadyClock::now() + time;
  for (auto now = SteadyClock::now(); now < until && !pump.closing() && !(giveUp && giveUp());
       now = SteadyClock::now())
    pump.iterate(std::min(kPumpSlice, ceil<milliseconds>(until - now)));
}

int OffThread::running() {
  std::lock_guard l(g_runningLock);
  return g_running;
}

bool OffThread::waitIdle(std::chrono::milliseconds limit) {
  std::unique_lock l(g_runningLock);
  return g_runningChanged.wait_for(l, limit, [] { return g_running == 0; });
}

bool OffThread::drain(std::chrono::milliseconds limit) {
  std::unique_lock l(g_runningLock);
  return g_runningChanged.wait_for(l, limit, [] { return g_holds == 0; });
}

ExitHold::ExitHold() {
  std::lock_guard l(g_runningLock);
  ++g_holds;
}

ExitHold::~ExitHold() {
  std::lock_guard l(g_runningLock);
  --g_holds;
  g_runningChanged.notify_all();
}

}  // namespace quorvel
