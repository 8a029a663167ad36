// SPDX-License-Identifier: GPL-3.0-or-later
// Where the window goes on the screen, and when it is first seen: centred in
// the work area by the placement rule, its frame already in place in the
// first frame the user sees.
#pragma once

#include <gtkmm.h>

#include <optional>

#include "app/shell_rules.h"
#include "app/x11_frame.h"

namespace quorvel {

class WindowPlacement {
public:
  // Watches `window`'s mapping and its frame from now on.
  explicit WindowPlacement(Gtk::Window &window);
  ~WindowPlacement();
  WindowPlacement(const WindowPlacement &) = delete;
  WindowPlacement &operator=(const WindowPlacement &) = delete;

  // Shows the window with its frame where the rule puts it: on X11 the
  // window manager is first asked how big the frame will be.
  void showCentred();
  // Just before GTK shows (and maps) the window: the position is asked for
  // now, so that the first frame is already where it belongs.
  void beforeShow();
  // The window's size or place changed.
  void configured();
  // The window is being closed: true when it was still waiting to be shown
  // (it never will be).
  bool closedBeforeShown();
  // Where the frame was asked to go before the user first saw it.
  std::optional<Point> requestedPosition() const { return m_requestedPosition; }

private:
  void centre();
  void endFrameWait();
  void mapped();
  void placeUnseen();
  void reveal();

  Gtk::Window &m_window;
  std::optional<FrameExtents> m_frame;
  std::optional<Point> m_requestedPosition;
  sigc::connection m_frameWait, m_frameTimeout, m_mapWatch;
  // Mapped but see-through until the frame is known and in place (only when
  // the window manager could not tell the frame beforehand).
  bool m_unseen = false, m_mapSeen = false, m_frameTold = false;
  sigc::connection m_placeWait, m_revealTimeout;
};

}  // namespace quorvel
