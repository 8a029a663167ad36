// The window manager's frame round a window that is not on screen yet, on
// X11: asked for with _NET_REQUEST_FRAME_EXTENTS, answered in the window's
// _NET_FRAME_EXTENTS property.
#pragma once

#include <gdk/gdk.h>

#include <optional>

namespace quorvel {

struct FrameExtents {
  int left = 0, right = 0, top = 0, bottom = 0;
};

// Whether `window` lives on an X11 display (not Wayland).
bool isX11Window(GdkWindow *window);

// Asks the window manager to tell the frame it will put round the realised,
// unmapped `window`; false when it does not offer that (then only the first
// configure after mapping tells).
bool requestFrameExtents(GdkWindow *window);

// The frame as the window manager has set it on `window`, once it has.
std::optional<FrameExtents> frameExtents(GdkWindow *window);

// Whether a property notify event is about _NET_FRAME_EXTENTS.
bool isFrameExtentsChange(const GdkEventProperty *event);

}  // namespace quorvel
