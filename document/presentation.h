// SPDX-License-Identifier: GPL-3.0-or-later
// The document's presentation: pictures of its page, rendered by the engine
// when the program is built, that the container draws until the engine is
// running. Each picture is the page as the view draws it for one width of
// the document area, and the whole is tied to the exact bytes of the
// document it shows, so that it is never shown for another one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvel {

struct PresentationPicture {
  int areaWidth = 0;  // width of the document area it was fitted to
  float zoom = 0;     // the view's zoom at that width
  int width = 0, height = 0;
  std::span<const std::uint8_t> png;  // points into the bytes it was read from
};

struct Presentation {
  std::uint64_t documentHash = 0;
  long docWidthTwips = 0, docHeightTwips = 0;
  std::vector<PresentationPicture> pictures;
};

// A fingerprint of the document's bytes (64-bit FNV-1a).
std::uint64_t documentHash(std::span<const std::uint8_t> document);

std::vector<std::uint8_t> writePresentation(const Presentation &p);
// nullopt when the bytes are not a well-formed presentation.
std::optional<Presentation> readPresentation(std::span<const std::uint8_t> bytes);

// The presentation in `bytes` if it shows exactly `document`.
std::optional<Presentation> presentationOf(std::span<const std::uint8_t> bytes,
                                           std::span<const std::uint8_t> document);

// The picture to draw in an area `areaWidth` wide: the one made for that
// width, else the smallest one wider (drawn scaled down), else the widest.
const PresentationPicture *pictureFor(const Presentation &p, int areaWidth);

}  // namespace quorvel
