// SPDX-License-Identifier: GPL-3.0-or-later
// The program's signal handlers kept (LibreOffice 7.4 and 26.8). As it
// starts, the engine puts its own handlers on the signals a desktop ends
// programs with, SIGTERM, SIGINT and SIGHUP; its SIGHUP handler ignores the
// signal (on 7.4 and 26.8 alike), so a program hung up on would never close.
// The engine is started with one of these alive: the program's own handlers
// (which close the window) are put back once the start has ended.
// Checked rather than measured: the Lifecycle tests term, int and hup send
// each signal to the program with the chart open and want it ended as if
// closed: exit code 0, nothing left.
#pragma once

#include <array>
#include <csignal>
#include <cstddef>

namespace quorvel {

class KeepSignals {
public:
  KeepSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], nullptr, &m_saved[i]);
  }
  ~KeepSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &m_saved[i], nullptr);
  }
  KeepSignals(const KeepSignals &) = delete;
  KeepSignals &operator=(const KeepSignals &) = delete;
  KeepSignals(KeepSignals &&) = delete;
  KeepSignals &operator=(KeepSignals &&) = delete;

private:
  static constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
  std::array<struct sigaction, 3> m_saved{};
};

}  // namespace quorvel
