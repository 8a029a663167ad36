// SPDX-License-Identifier: GPL-3.0-or-later
// Whether an object is still there, for the callbacks that may run after it
// has gone: a main-loop source, a signal of a widget it does not own, a
// report from the engine's thread. The object holds an Alive; a callback
// holds a watch taken from it and looks at the watch before it touches the
// object. Watches may be copied and looked at on any thread.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

namespace quorvel {

class Alive {
public:
  class Watch {
  public:
    explicit Watch(std::shared_ptr<const std::atomic<bool>> flag) : m_flag(std::move(flag)) {}
    // True while the object it was taken from lives.
    explicit operator bool() const { return m_flag->load(); }

  private:
    std::shared_ptr<const std::atomic<bool>> m_flag;
  };

  Alive() = default;
  ~Alive() { end(); }
  Alive(const Alive &) = delete;
  Alive &operator=(const Alive &) = delete;

  Watch watch() const { return Watch(m_flag); }
  // The object is gone from now on: first thing in its destructor, so that
  // nothing run while it is taken apart touches it.
  void end() { m_flag->store(false); }

  // `fn` (taking nothing), run only while the object lives; once it has gone
  // the call does nothing and gives a value-initialised result (false: a
  // main-loop source that gets it is removed).
  template <typename Fn>
  auto guard(Fn fn) const {
    return [watch = watch(), fn = std::move(fn)]() mutable {
      if (watch) return fn();
      return decltype(fn())();
    };
  }

private:
  std::shared_ptr<std::atomic<bool>> m_flag = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace quorvel
