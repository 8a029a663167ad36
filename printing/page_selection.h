// SPDX-License-Identifier: GPL-3.0-or-later
// Which pages a print-out sends, and in which jobs.
//
// Page list syntax: page numbers and ranges separated by commas, e.g.
// "1, 3-5". Blanks and tabs may stand around numbers, dashes and commas.
// Pages are printed once each, in ascending order. Numbers past the end of the
// document are left out; a list that does not parse, is blank, or names no
// page of the document is rejected with an OleServerError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

std::vector<int> parsePageList(std::string_view text, int pageCount);

// The pages to print: the list (or the whole document) filtered by page type
// (0 all, 1 odd, 2 even). An empty result is rejected too.
std::vector<int> selectPages(const std::optional<std::string> &pageList, std::int32_t pageType,
                             int pageCount);

// Manual two-sided printing: the 1st, 3rd, 5th ... page of the selection go on
// the fronts, the others on the backs, each in the selection's order, so the
// back of each sheet gets the page that follows its front.
struct Sides {
  std::vector<int> fronts;
  std::vector<int> backs;
};
Sides splitSides(const std::vector<int> &pages);

// "1,3,5" for the engine's page-range export option.
std::string formatPageRange(const std::vector<int> &pages);

}  // namespace quorvel
