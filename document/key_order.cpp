// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/key_order.h"

#include <utility>

namespace quorvel {

void KeyOrder::buttonPosted() {
  // Never below zero: a click the view made up itself is not counted in.
  int now = m_queued.load();
  while (now > 0 && !m_queued.compare_exchange_weak(now, now - 1)) {
  }
}

std::vector<QueuedKey> KeyOrder::add(const QueuedKey &key, std::int64_t nowUs) {
  if (m_keys.empty()) m_oldestUs = nowUs;
  m_keys.push_back(key);
  return ready(nowUs);
}

std::vector<QueuedKey> KeyOrder::ready(std::int64_t nowUs) {
  if (m_keys.empty()) return {};
  if (m_queued.load() > 0 && nowUs - m_oldestUs < kMaxWaitUs) return {};
  // Waited long enough: what is still counted was never passed on.
  if (m_queued.load() > 0) m_queued.store(0);
  std::vector<QueuedKey> out(m_keys.begin(), m_keys.end());
  m_keys.clear();
  return out;
}

}  // namespace quorvel
