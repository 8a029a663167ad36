// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/font_config.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <memory>
#include <set>

namespace quorvel {

namespace {
struct PatternFree {
  void operator()(FcPattern *p) const { FcPatternDestroy(p); }
};
using Pattern = std::unique_ptr<FcPattern, PatternFree>;
}  // namespace

std::vector<std::filesystem::path> wineTahomaFiles() {
  return {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"};
}

int addApplicationFonts(const std::vector<std::filesystem::path> &files) {
  // fontconfig would list a file added twice twice.
  static std::set<std::filesystem::path> known;
  int added = 0;
  for (const auto &file : files) {
    std::error_code ec;
    if (known.contains(file) || !std::filesystem::is_regular_file(file, ec)) continue;
    if (FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8 *>(file.c_str()))) {
      known.insert(file);
      ++added;
    }
  }
  // Pango keeps its own list of fonts once it has read one; make it read again.
  if (added > 0)
    if (PangoFontMap *map = pango_cairo_font_map_get_default(); PANGO_IS_FC_FONT_MAP(map))
      pango_fc_font_map_config_changed(PANGO_FC_FONT_MAP(map));
  return added;
}

std::optional<MatchedFont> matchFont(const std::string &family, int pixelSize) {
  Pattern pattern(FcPatternCreate());
  if (!pattern) return std::nullopt;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8 *>(family.c_str()));
  FcPatternAddDouble(pattern.get(), FC_PIXEL_SIZE, pixelSize);
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
  if (!FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern)) return std::nullopt;
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  Pattern match(FcFontMatch(nullptr, pattern.get(), &result));
  if (!match || result != FcResultMatch) return std::nullopt;

  FcChar8 *file = nullptr;
  if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file) return std::nullopt;
  MatchedFont found;
  found.file = reinterpret_cast<const char *>(file);
  int index = 0;
  // The high bits name an instance of a variable font; the face is below.
  if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) == FcResultMatch && index > 0)
    found.face = static_cast<unsigned>(index) & 0xFFFFu;
  FcChar8 *name = nullptr;
  if (FcPatternGetString(match.get(), FC_FAMILY, 0, &name) == FcResultMatch && name)
    found.family = reinterpret_cast<const char *>(name);
  return found;
}

}  // namespace quorvel
