// SPDX-License-Identifier: GPL-3.0-or-later
// The text height the window's layout is measured in: a font's cell height
// as Windows computes it, from the font file's own tables.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>

namespace quorvel {

// A font file that cannot be read as TrueType/OpenType, or lacks a table.
class FontFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The figures Windows sizes a font's cell with: `unitsPerEm` from 'head',
// `usWinAscent` and `usWinDescent` from 'OS/2'.
struct WinMetrics {
  std::uint16_t unitsPerEm = 0;
  std::uint16_t winAscent = 0;
  std::uint16_t winDescent = 0;
  bool operator==(const WinMetrics &) const = default;
};

// Reads them from a font file's bytes; `face` picks a font of a collection
// (.ttc). Every offset is checked against the bytes: a cut or damaged file
// throws FontFileError and never reads outside `file`.
WinMetrics readWinMetrics(std::span<const std::uint8_t> file, unsigned face = 0);

// The same from a file on disk (read whole; files over 64 MB are refused).
WinMetrics readWinMetricsFromFile(const std::filesystem::path &path, unsigned face = 0);

// Ascent and descent at `pixelSize` pixels to the em, each rounded to the
// nearest pixel, added: Tahoma at 11 px is 11 + 2 = 13.
int windowsTextHeight(const WinMetrics &m, int pixelSize);

}  // namespace quorvel
