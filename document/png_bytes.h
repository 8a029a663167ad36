// SPDX-License-Identifier: GPL-3.0-or-later
// A PNG image held in memory (one of the program's resources), read by
// cairo, so that no image loader is mapped into the process for it.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <span>

namespace quorvel {

struct CairoSurfaceFree {
  void operator()(cairo_surface_t *surface) const { cairo_surface_destroy(surface); }
};
using CairoSurface = std::unique_ptr<cairo_surface_t, CairoSurfaceFree>;

// The image in `png`; null when the bytes are not a whole, readable PNG.
CairoSurface surfaceFromPng(std::span<const std::uint8_t> png);

}  // namespace quorvel
