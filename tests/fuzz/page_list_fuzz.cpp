// SPDX-License-Identifier: GPL-3.0-or-later
// Input: two bytes of page count (little-endian, signed, folded into
// -4096..4096), then the page list text.
//
// Only OleServerError may come out of the parser; anything else escapes and
// crashes the run. Accepted lists are checked for shape, for agreement with
// a parse against a larger document, and for surviving a round trip through
// formatPageRange.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "printing/page_selection.h"

using quorvel::OleServerError;
using Pages = std::vector<int>;

namespace {

constexpr int kMaxPages = 4096;
constexpr int kLargerDocument = kMaxPages + 1000;
const std::string kPrefix = "Неверный список страниц: ";
const std::string kNoSuchPages = kPrefix + "в документе нет таких страниц";

void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

struct Outcome {
  std::optional<Pages> pages;
  std::string error;
};

Outcome parse(std::string_view text, int pageCount) {
  try {
    return {quorvel::parsePageList(text, pageCount), {}};
  } catch (const OleServerError &e) {
    return {std::nullopt, e.what()};
  }
}

Pages upTo(const Pages &pages, int last) {
  Pages out;
  for (int n : pages)
    if (n <= last) out.push_back(n);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const auto raw = static_cast<std::int16_t>(data[0] | data[1] << 8);
  const int pageCount = raw % (kMaxPages + 1);
  const std::string_view text(reinterpret_cast<const char *>(data + 2), size - 2);

  const Outcome got = parse(text, pageCount);
  const Outcome larger = parse(text, kLargerDocument);

  if (!got.pages) {
    check(got.error.starts_with(kPrefix), "rejection names the page list");
    if (got.error.starts_with(kNoSuchPages)) {
      // The list itself is fine; a larger document may have pages for it.
      check(!larger.pages ? larger.error.starts_with(kNoSuchPages) : upTo(*larger.pages, pageCount).empty(),
            "'no such pages' only when no listed page is in the document");
    } else {
      check(!larger.pages && larger.error == got.error, "syntax errors do not depend on the page count");
    }
    return 0;
  }

  const Pages &pages = *got.pages;
  check(!pages.empty(), "accepted list is not empty");
  for (std::size_t i = 0; i < pages.size(); ++i) {
    check(pages[i] >= 1 && pages[i] <= pageCount, "pages lie within the document");
    check(i == 0 || pages[i - 1] < pages[i], "pages strictly ascend");
  }
  for (char c : text)
    check((c >= '0' && c <= '9') || c == ',' || c == '-' || c == ' ' || c == '\t',
          "accepted text holds only digits, dashes, commas and blanks");
  check(larger.pages && upTo(*larger.pages, pageCount) == pages,
        "a larger document selects the same pages and maybe more");

  const Outcome again = parse(quorvel::formatPageRange(pages), pageCount);
  check(again.pages && *again.pages == pages, "formatted pages parse back to themselves");
  return 0;
}
