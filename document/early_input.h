// SPDX-License-Identifier: GPL-3.0-or-later
// What the user does to the document's picture before the engine runs: kept
// with its place in the document (not on the screen, which may be resized
// meanwhile) and handed to the live view, in order, once it can take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel {

enum class EarlyKind { Press, DoublePress, TriplePress, Release, Motion, KeyPress, KeyRelease };

struct EarlyEvent {
  EarlyKind kind = EarlyKind::Press;
  float twipX = 0, twipY = 0;  // pointer events: the place in the document
  unsigned button = 0;
  unsigned state = 0;  // modifier and button masks as the toolkit gave them
  unsigned keyval = 0, keycode = 0, group = 0;
  bool isModifier = false;
  std::uint32_t time = 0;
};

class EarlyInput {
public:
  // Far more than anyone types or clicks in the second the engine takes.
  static constexpr std::size_t kCapacity = 10000;

  // Keeps `e`; a move right after a move replaces it (only where the pointer
  // went matters). False when full: the event is not kept.
  bool add(const EarlyEvent &e);
  bool empty() const { return m_events.empty(); }
  std::size_t size() const { return m_events.size(); }
  // Everything kept, oldest first; leaves the queue empty.
  std::vector<EarlyEvent> take();

private:
  std::vector<EarlyEvent> m_events;
};

}  // namespace quorvel
