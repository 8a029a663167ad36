// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_placement.h"

#include <algorithm>
#include <utility>

namespace quorvel {

namespace {

// How long the window manager may take to say how big its frame will be.
constexpr int kFrameWaitMs = 500;
// How long a window mapped unseen may wait for its frame and its place.
// Mutter 48 tells the frame as it maps the window but carries out the move
// 5 to 230 ms after it is asked (seen on a busy machine); only a window
// manager that never does is waited for this long.
constexpr int kPlaceWaitMs = 500;

}  // namespace

WindowPlacement::WindowPlacement(Gtk::Window &window) : m_window(window) {
  m_mapWatch = m_window.signal_map_event().connect(
      [this](GdkEventAny *) {
        mapped();
        return false;
      },
      false);
}

WindowPlacement::~WindowPlacement() {
  for (sigc::connection *c : {&m_frameWait, &m_frameTimeout, &m_mapWatch, &m_placeWait, &m_revealTimeout})
    c->disconnect();
}

void WindowPlacement::centre() {
  auto display = m_window.get_display();
  auto monitor = display->get_primary_monitor();
  if (!monitor) monitor = display->get_monitor(0);
  if (!monitor) return;
  Gdk::Rectangle work;
  monitor->get_workarea(work);
  int frameWidth = 0, frameHeight = 0;
  m_window.get_size(frameWidth, frameHeight);
  auto gdkWindow = m_window.get_window();
  if (gdkWindow && m_window.get_mapped()) {
    Gdk::Rectangle frame;
    gdkWindow->get_frame_extents(frame);
    frameWidth = frame.get_width();
    frameHeight = frame.get_height();
  } else if (m_frame) {
    // The window manager counts the frame in device pixels; with GDK_SCALE
    // the window's own size is in GTK's larger ones.
    const int scale = std::max(1, m_window.get_scale_factor());
    frameWidth = (frameWidth * scale + m_frame->left + m_frame->right + scale - 1) / scale;
    frameHeight = (frameHeight * scale + m_frame->top + m_frame->bottom + scale - 1) / scale;
  }
  const Point p = centredPosition(work.get_width(), work.get_height(), frameWidth, frameHeight);
  // Once on screen, only a frame that turned out other than announced moves it.
  if (m_window.get_mapped() && m_requestedPosition == p) return;
  if (!m_window.get_mapped() || m_unseen) m_requestedPosition = p;
  m_window.move(p.x, p.y);
}

void WindowPlacement::showCentred() {
  m_window.add_events(Gdk::PROPERTY_CHANGE_MASK);
  // gtkmm leaves realize() to the window's own class.
  gtk_widget_realize(GTK_WIDGET(m_window.gobj()));
  if (!requestFrameExtents(m_window.get_window()->gobj())) {
    m_window.show();
    return;
  }
  m_frameWait = m_window.signal_property_notify_event().connect([this](GdkEventProperty *event) {
    if (!isFrameExtentsChange(event)) return false;
    if (const auto answer = frameExtents(m_window.get_window()->gobj())) {
      if (tellsFrame(*answer)) m_frame = answer;
      endFrameWait();
    }
    return false;
  });
  // A window manager that never answers only costs the exact first position.
  m_frameTimeout = Glib::signal_timeout().connect(
      [this] {
        endFrameWait();
        return false;
      },
      kFrameWaitMs);
}

void WindowPlacement::beforeShow() { centre(); }

void WindowPlacement::configured() {
  if (m_unseen) placeUnseen();
}

bool WindowPlacement::closedBeforeShown() {
  m_placeWait.disconnect();
  m_revealTimeout.disconnect();
  if (!m_frameWait.connected() && !m_frameTimeout.connected()) return false;
  m_frameWait.disconnect();
  m_frameTimeout.disconnect();
  return true;
}

void WindowPlacement::endFrameWait() {
  m_frameWait.disconnect();
  m_frameTimeout.disconnect();
  if (!m_frame) {
    // No frame told beforehand: placed by a guess, the window would move
    // once the real frame is there. It is mapped see-through instead (the
    // window manager's compositor honours the opacity), placed once the
    // frame is known, and only then shown. Without a compositor it is seen
    // at once, where a window manager with no frame at all puts it right.
    m_unseen = true;
    m_window.get_window()->set_opacity(0.0);
    m_placeWait = m_window.signal_property_notify_event().connect([this](GdkEventProperty *event) {
      // The first frame the window manager sets after the request to map
      // is the real one (four zeros when it draws none).
      if (isFrameExtentsChange(event) && frameExtents(m_window.get_window()->gobj())) {
        m_frameTold = true;
        placeUnseen();
      }
      return false;
    });
  }
  m_window.show();
}

void WindowPlacement::mapped() {
  if (!m_unseen) {
    centre();
    return;
  }
  // Until it is mapped nothing is seen anyway; from then on it is shown
  // within a bound, placed or not.
  m_mapSeen = true;
  m_revealTimeout.disconnect();
  m_revealTimeout = Glib::signal_timeout().connect(
      [this] {
        reveal();
        return false;
      },
      kPlaceWaitMs);
  placeUnseen();
}

void WindowPlacement::placeUnseen() {
  if (!m_unseen || !m_mapSeen || !m_frameTold) return;
  centre();
  // Shown once the window manager has put the frame there.
  Gdk::Rectangle frame;
  m_window.get_window()->get_frame_extents(frame);
  if (m_requestedPosition == Point{frame.get_x(), frame.get_y()}) reveal();
}

void WindowPlacement::reveal() {
  if (!std::exchange(m_unseen, false)) return;
  m_placeWait.disconnect();
  m_revealTimeout.disconnect();
  if (auto window = m_window.get_window()) window->set_opacity(1.0);
}

}  // namespace quorvel
