// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps keys typed into the document behind the clicks before them. The
// view hands clicks to the engine through its worker thread, which may be
// busy painting; keys go to the engine at once. A key typed right after a
// click would overtake it and land where the cursor was before the click.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

namespace quorvel {

struct QueuedKey {
  bool press = true;
  int character = 0;
  int code = 0;
  bool operator==(const QueuedKey &) const = default;
};

class KeyOrder {
public:
  // A button press or release was queued for the view's worker (GTK thread).
  void buttonQueued() { m_queued.fetch_add(1); }
  // The worker handed one to the engine (any thread).
  void buttonPosted();

  // Takes a key; gives back the keys that may go to the engine now, oldest
  // first. Keys wait while a click is queued, at most `kMaxWaitUs` (the view
  // does not pass on every click, for instance one on a selection handle).
  std::vector<QueuedKey> add(const QueuedKey &key, std::int64_t nowUs);
  // The keys that may go now (called again while waiting() holds).
  std::vector<QueuedKey> ready(std::int64_t nowUs);
  bool waiting() const { return !m_keys.empty(); }

  static constexpr std::int64_t kMaxWaitUs = std::int64_t{500} * 1000;

private:
  std::atomic<int> m_queued{0};
  std::deque<QueuedKey> m_keys;
  std::int64_t m_oldestUs = 0;
};

}  // namespace quorvel
