// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/x11_frame.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace quorvel {

bool isX11Window(GdkWindow *window) { return window && GDK_IS_X11_WINDOW(window); }

bool requestFrameExtents(GdkWindow *window) {
  if (!isX11Window(window)) return false;
  GdkScreen *screen = gdk_window_get_screen(window);
  if (!gdk_x11_screen_supports_net_wm_hint(screen,
                                           gdk_atom_intern_static_string("_NET_REQUEST_FRAME_EXTENTS")))
    return false;
  GdkDisplay *display = gdk_window_get_display(window);
  Display *xdisplay = GDK_DISPLAY_XDISPLAY(display);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = GDK_WINDOW_XID(window);
  event.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_REQUEST_FRAME_EXTENTS");
  event.xclient.format = 32;
  XSendEvent(xdisplay, GDK_WINDOW_XID(gdk_screen_get_root_window(screen)), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(xdisplay);
  return true;
}

std::optional<FrameExtents> frameExtents(GdkWindow *window) {
  if (!isX11Window(window)) return std::nullopt;
  GdkDisplay *display = gdk_window_get_display(window);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  gdk_x11_display_error_trap_push(display);
  const int status = XGetWindowProperty(GDK_DISPLAY_XDISPLAY(display), GDK_WINDOW_XID(window),
                                        gdk_x11_get_xatom_by_name_for_display(display, "_NET_FRAME_EXTENTS"),
                                        0, 4, False, XA_CARDINAL, &type, &format, &count, &after, &data);
  gdk_x11_display_error_trap_pop_ignored(display);
  std::optional<FrameExtents> extents;
  if (status == Success && type == XA_CARDINAL && format == 32 && count == 4 && data) {
    // Format 32 properties come as longs, whatever their size.
    const auto *v = reinterpret_cast<const long *>(data);
    if (v[0] >= 0 && v[1] >= 0 && v[2] >= 0 && v[3] >= 0 && v[0] < 1000 && v[1] < 1000 && v[2] < 1000 &&
        v[3] < 1000)
      extents = FrameExtents{int(v[0]), int(v[1]), int(v[2]), int(v[3])};
  }
  if (data) XFree(data);
  return extents;
}

bool tellsFrame(const FrameExtents &answer) {
  return answer.left != 0 || answer.right != 0 || answer.top != 0 || answer.bottom != 0;
}

bool isFrameExtentsChange(const GdkEventProperty *event) {
  return event && event->atom == gdk_atom_intern_static_string("_NET_FRAME_EXTENTS");
}

}  // namespace quorvel
