// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/png_bytes.h"

#include <algorithm>

namespace quorvel {

CairoSurface surfaceFromPng(std::span<const std::uint8_t> png) {
  auto read = [](void *closure, unsigned char *data, unsigned int length) {
    auto *rest = static_cast<std::span<const std::uint8_t> *>(closure);
    if (rest->size() < length) return CAIRO_STATUS_READ_ERROR;
    std::copy_n(rest->begin(), length, data);
    *rest = rest->subspan(length);
    return CAIRO_STATUS_SUCCESS;
  };
  CairoSurface surface(cairo_image_surface_create_from_png_stream(read, &png));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return surface;
}

}  // namespace quorvel
