// SPDX-License-Identifier: GPL-3.0-or-later
#define LOK_USE_UNSTABLE_API
#include "document/lok_engine.h"

#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <malloc.h>

#include <utility>

#include "document/engine_environment.h"
#include "document/engine_output.h"
#include "document/engine_profile.h"
#include "document/keep_signals.h"
#include "document/lok_internal.h"
#include "document/text_cursor.h"

namespace quorvel {

namespace fs = std::filesystem;

LokEngine::LokEngine(const fs::path &profileDir, std::string programDir)
    : m_programDir(std::move(programDir)) {
  // Tiles and the engine's page buffers are large, short-lived blocks. With
  // the allocator's sliding threshold they soon come from the heap, where
  // they fragment it and hold resident pages; a fixed threshold keeps them
  // mapped on their own and returned when freed.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  filterEngineOutput();
  seedEngineProfile(profileDir);
  m_profileUrl = fileUrl(profileDir);
  setEngineBootstrap(m_programDir);
  m_thread = std::thread([this, started = m_alive.guard([this] { onStarted(); })] {
    const KeepSignals keep;
    m_office = lok_init_2(m_programDir.c_str(), m_profileUrl.c_str());
    if (!m_office) m_failure = "LibreOfficeKit не загружается из «" + m_programDir + "»";
    // The view's load, so that its reports are filtered (see text_cursor.h).
    if (m_office) filterCursorReports(m_office);
    runOnGtkThread(G_PRIORITY_DEFAULT, started);
  });
}

LokEngine::~LokEngine() {
  // The start cannot be cut short; the window is gone by now, so waiting
  // for it holds nobody up.
  if (m_thread.joinable()) m_thread.join();
  m_alive.end();
  // Stopped here, or it would write its profile at process exit, after our
  // folder is gone.
  if (m_office && !m_handedOver) m_office->pClass->destroy(m_office);
}

void LokEngine::onStarted() {
  m_started = true;
  for (auto &done : std::exchange(m_waiting, {})) done();
}

bool LokEngine::started() const { return m_started; }

void LokEngine::whenStarted(std::function<void()> done) {
  if (m_started)
    done();
  else
    m_waiting.push_back(std::move(done));
}

}  // namespace quorvel
