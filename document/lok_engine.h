// SPDX-License-Identifier: GPL-3.0-or-later
// The LibreOfficeKit engine, started on a thread of its own so that the
// window can come up meanwhile (its start takes about half a second). The
// engine is process-wide: one per run. All calls on the GTK thread.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// The engine's own type names: its structs' tags differ between releases
// (7.4: _LibreOfficeKit; 26.8: LibreOfficeKitStruct), its typedefs do not.
#include <LibreOfficeKit/LibreOfficeKit.h>

#include "document/alive.h"
#include "document/engine_profile.h"

namespace quorvel {

class LokEngine {
public:
  // Seeds a profile under `profileDir` and starts the engine with it. The
  // engine's temporary folder is TMPDIR as it is now.
  LokEngine(const std::filesystem::path &profileDir, std::string programDir = lokProgramDir());
  // Waits for the start to end, and stops the engine unless a view took it.
  ~LokEngine();
  LokEngine(const LokEngine &) = delete;
  LokEngine &operator=(const LokEngine &) = delete;

  // Runs `done` on the GTK thread once the start has ended (well or not), or
  // right away if it has. Nothing runs after the engine object is gone.
  void whenStarted(std::function<void()> done);
  bool started() const;
  // Started well, so that a view can be made on it.
  bool running() const { return m_started && m_office; }
  // Empty once running; the reason otherwise.
  const std::string &failure() const { return m_failure; }

  const std::string &programDir() const { return m_programDir; }
  const std::string &profileUrl() const { return m_profileUrl; }

  // A view made on the running engine has taken it: the view stops it, this
  // object no longer does.
  void handOver() { m_handedOver = true; }

private:
  void onStarted();
  std::string m_programDir, m_profileUrl, m_failure;
  Alive m_alive;
  std::thread m_thread;
  LibreOfficeKit *m_office = nullptr;
  bool m_started = false;
  bool m_handedOver = false;
  std::vector<std::function<void()>> m_waiting;
};

}  // namespace quorvel
