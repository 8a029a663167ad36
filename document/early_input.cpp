// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/early_input.h"

#include <utility>

namespace quorvel {

bool EarlyInput::add(const EarlyEvent &e) {
  if (e.kind == EarlyKind::Motion && !m_events.empty() && m_events.back().kind == EarlyKind::Motion) {
    m_events.back() = e;
    return true;
  }
  if (m_events.size() >= kCapacity) return false;
  m_events.push_back(e);
  return true;
}

std::vector<EarlyEvent> EarlyInput::take() { return std::exchange(m_events, {}); }

}  // namespace quorvel
