// SPDX-License-Identifier: GPL-3.0-or-later
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

// Whether an answer to the request tells the frame. Mutter 48 (GNOME 48,
// Debian 13), whose frames are drawn by a client of its own, answers with
// four zeros and sets the real frame only as it maps the window; mutter 43
// (Debian 12) and openbox answer with the frame they will draw. A window
// manager that draws no frame answers zeros too, so zeros tell nothing: the
// frame is known only once the window is mapped.
bool tellsFrame(const FrameExtents &answer);

// Whether a property notify event is about _NET_FRAME_EXTENTS.
bool isFrameExtentsChange(const GdkEventProperty *event);

}  // namespace quorvel
