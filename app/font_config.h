// SPDX-License-Identifier: GPL-3.0-or-later
// fontconfig, for the window's font: Tahoma for this process only, and the
// file fontconfig actually picks for a family.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// Wine's Tahoma (regular and bold), as Debian's fonts-wine installs it.
std::vector<std::filesystem::path> wineTahomaFiles();

// Adds these font files to this process's fontconfig as application fonts;
// the user's font settings are not touched. Missing files are skipped.
// Returns how many were added. Run it before GTK lays any text out; it also
// tells Pango to look again if it already had.
int addApplicationFonts(const std::vector<std::filesystem::path> &files);

struct MatchedFont {
  std::filesystem::path file;
  unsigned face = 0;
  std::string family;
};

// The font fontconfig substitutes for `family` at `pixelSize`, regular
// weight, upright, as Pango would ask for it.
std::optional<MatchedFont> matchFont(const std::string &family, int pixelSize);

}  // namespace quorvel
