// SPDX-License-Identifier: GPL-3.0-or-later
// Font files are read from wherever fontconfig points: the first byte picks
// the face, the rest is the file. Only the reader's declared error may come
// out, and what it does read must be in range.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "app/font_metrics.h"

using namespace quorvel;

namespace {
void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned face = data[0] % 4;
  const std::span<const std::uint8_t> file(data + 1, size - 1);
  try {
    const WinMetrics m = readWinMetrics(file, face);
    check(m.unitsPerEm >= 16 && m.unitsPerEm <= 16384, "units per em in range");
    for (int px : {11, 17, 22}) {
      const int h = windowsTextHeight(m, px);
      check(h >= 0 && h <= 2 * 65535 * px / 16 + 2, "text height within what the fields allow");
    }
    // Whatever was read lies inside the file: the same bytes give the same answer.
    check(readWinMetrics(file, face) == m, "reading is repeatable");
  } catch (const FontFileError &) {
  }
  return 0;
}
