// SPDX-License-Identifier: GPL-3.0-or-later
// Page lists as a careless or hostile user might type them. Each case has one
// exact outcome: the pages printed, or the reason the list is refused.
#include <gtest/gtest.h>

#include <climits>
#include <numeric>
#include <optional>
#include <ostream>

#include "automation/automation.h"
#include "printing/page_selection.h"

using namespace quorvel;
using Pages = std::vector<int>;

namespace {

const std::string kPrefix = "Неверный список страниц: ";
const std::string kBadChar = " (допустимы цифры, «-», «,» и пробелы)";
const std::string kNoNumber = "после «-» или «,» ожидался номер страницы";

struct Case {
  std::string name;
  std::string text;
  int pageCount;
  std::optional<Pages> pages;  // accepted with these pages ...
  std::string reason;          // ... or refused for this reason
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

Case ok(std::string name, std::string text, int pageCount, Pages pages) {
  return {std::move(name), std::move(text), pageCount, std::move(pages), {}};
}
Case refused(std::string name, std::string text, int pageCount, std::string reason) {
  return {std::move(name), std::move(text), pageCount, std::nullopt, std::move(reason)};
}
std::string badCharAt(int position) {
  return "недопустимый символ в позиции " + std::to_string(position) + kBadChar;
}
std::string repeat(const std::string &s, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += s;
  return out;
}
Pages upTo(int last) {
  Pages p(static_cast<std::size_t>(last));
  std::iota(p.begin(), p.end(), 1);
  return p;
}

std::vector<Case> cases() {
  return {
      // Empty parts and nothing at all.
      refused("DoubleComma", "1,,2", 3, "пустой элемент в позиции 3"),
      refused("LeadingComma", ",1", 3, "пустой элемент в позиции 1"),
      refused("TrailingComma", "1,", 3, kNoNumber),
      refused("BlankBetweenCommas", "1, ,2", 3, "пустой элемент в позиции 4"),
      refused("OnlyCommas", ",,,,", 3, "пустой элемент в позиции 1"),
      refused("TrailingDash", "2 -", 3, kNoNumber),
      refused("Empty", "", 3, "список пуст"),
      refused("OnlyBlanks", "   ", 3, "список пуст"),
      refused("OnlyBlanksAndTabs", " \t \t", 3, "список пуст"),

      // Huge numbers: past the end, never wrapped round.
      refused("IntMaxPlusOne", "2147483648", 5, "в документе нет таких страниц (всего страниц: 5)"),
      refused("TwentyDigits", "99999999999999999999", 5, "в документе нет таких страниц (всего страниц: 5)"),
      ok("RangeToIntMaxPlusOne", "1-2147483648", 5, {1, 2, 3, 4, 5}),
      ok("RangeToTwentyDigits", "3-99999999999999999999", 5, {3, 4, 5}),
      ok("LastPagesOfTheLargestDocument", "2147483646-2147483647", INT_MAX, {2147483646, 2147483647}),
      refused("ReversedPastIntMax", "2147483648-2147483647", INT_MAX,
              "в диапазоне 2147483648-2147483647 начало больше конца"),
      refused("ReversedFromTwentyDigits", "99999999999999999999-5", 5,
              "в диапазоне 99999999999999999999-5 начало больше конца"),
      // Both ends are beyond what the value can hold; the order still counts.
      refused("ReversedBothHuge", "1,1000000000001-1000000000000", 5,
              "в диапазоне 1000000000001-1000000000000 начало больше конца"),

      // Zero, negative, reversed, doubled dashes.
      refused("Zero", "0", 3, "страницы нумеруются с 1 (позиция 1)"),
      refused("ZeroStartsRange", "0-3", 3, "страницы нумеруются с 1 (позиция 1)"),
      refused("ZeroEndsRange", "1-0", 3, "страницы нумеруются с 1 (позиция 3)"),
      refused("ManyZeros", "000", 3, "страницы нумеруются с 1 (позиция 3)"),
      refused("Negative", "-1", 3, "недопустимый символ «-» в позиции 1"),
      refused("Reversed", "5-3", 9, "в диапазоне 5-3 начало больше конца"),
      refused("ReversedWithLeadingZeros", "05-03", 9, "в диапазоне 5-3 начало больше конца"),
      refused("DoubleDash", "1--3", 9, "недопустимый символ «-» в позиции 3"),
      refused("DoubleDashSpaced", "1 - - 3", 9, "недопустимый символ «-» в позиции 5"),
      refused("ChainedRange", "1-2-3", 9, "недопустимый символ «-» в позиции 4"),

      // Characters that look like digits or blanks but are not ASCII; positions count bytes.
      refused("ArabicIndicDigit", "٣", 9, badCharAt(1)),
      refused("ArabicIndicRangeEnd", "1-٣", 9, badCharAt(3)),
      refused("FullwidthDigit", "1,３", 9, badCharAt(3)),
      refused("CyrillicLetter", "1,а", 9, badCharAt(3)),
      refused("CyrillicWord", "стр. 1", 9, badCharAt(1)),
      refused("NbspBeforeNumber",
              "\xC2\xA0"
              "1",
              9, badCharAt(1)),
      refused("NbspBeforeComma", "1\xC2\xA0,2", 9, badCharAt(2)),
      refused("OnlyNbsp", "\xC2\xA0", 9, badCharAt(1)),  // not the same as blank

      // Control characters other than tab are never blanks.
      ok("TabsAroundDash", "1\t-\t3", 5, {1, 2, 3}),
      refused("Newline", "1\n2", 5, badCharAt(2)),
      refused("CarriageReturn", "1\r", 5, badCharAt(2)),
      refused("VerticalTab", "\v1", 5, badCharAt(1)),
      refused("Nul",
              std::string("1\0"
                          "2",
                          3),
              5, badCharAt(2)),
      refused("Delete", "1\x7f", 5, badCharAt(2)),
      refused("HighByte", "\xff", 5, badCharAt(1)),

      // Other number-like notations.
      refused("LeadingPlus", "+1", 5, "недопустимый символ «+» в позиции 1"),
      refused("Decimal", "1.5", 5, "недопустимый символ «.» в позиции 2"),
      refused("NumbersWithoutComma", "1 2", 5, "недопустимый символ «2» в позиции 3"),

      // Blanks around dashes and commas.
      ok("BlanksAroundDash", " 2 - 4 ", 5, {2, 3, 4}),
      ok("BlankBeforeDash", "2 -4", 5, {2, 3, 4}),
      ok("BlankAfterDash", "2- 4", 5, {2, 3, 4}),

      // Pages past the end, repeats and overlaps.
      ok("PastEndMixedIn", "7, 2, 9-12, 3", 5, {2, 3}),
      ok("RangeOverlapsEnd", "4-9, 1", 5, {1, 4, 5}),
      refused("OnlyPastEnd", "6-9, 100", 5, "в документе нет таких страниц (всего страниц: 5)"),
      refused("EmptyDocument", "1", 0, "в документе нет таких страниц (всего страниц: 0)"),
      refused("NegativePageCount", "1", -1, "в документе нет таких страниц (всего страниц: -1)"),
      ok("OverlappingRanges", "4,1-3,2-5,4", 9, {1, 2, 3, 4, 5}),
      ok("Repeats", "1,1,1", 9, {1}),

      // 100 000 characters.
      ok("LongValidList", repeat("3-4,", 25000) + "9", 5, {3, 4}),
      ok("LongListOfWideRanges", repeat("1-99999,", 12500) + "100000", 100000, upTo(100000)),
      ok("LongRangeEnd", "1-" + std::string(100000, '9'), 5, {1, 2, 3, 4, 5}),
      refused("LongNumber", std::string(100000, '1'), 5, "в документе нет таких страниц (всего страниц: 5)"),
      refused("LongReversedRange", "2" + std::string(99999, '0') + "-1", 5,
              "в диапазоне 20000000000000000000…-1 начало больше конца"),
      refused("LongGarbage", std::string(100000, 'x'), 5, "недопустимый символ «x» в позиции 1"),
      refused("LongValidThenGarbage", repeat("1,", 50000) + "\xff", 5, badCharAt(100001)),
      refused("LongCommas", std::string(100000, ','), 5, "пустой элемент в позиции 1"),
      refused("LongBlanks", std::string(100000, ' '), 5, "список пуст"),
  };
}

class HostilePageList : public testing::TestWithParam<Case> {};

TEST_P(HostilePageList, HasItsExactOutcome) {
  const Case &c = GetParam();
  if (c.pages) {
    try {
      EXPECT_EQ(parsePageList(c.text, c.pageCount), *c.pages);
    } catch (const std::exception &e) {
      ADD_FAILURE() << "refused: " << e.what();
    }
    return;
  }
  try {
    const Pages got = parsePageList(c.text, c.pageCount);
    ADD_FAILURE() << "accepted " << got.size() << " pages";
  } catch (const OleServerError &e) {
    const std::string message = e.what();
    EXPECT_TRUE(message.starts_with(kPrefix)) << message;
    EXPECT_EQ(message, kPrefix + c.reason);
  } catch (const std::exception &e) {
    ADD_FAILURE() << "wrong error type: " << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(PageList, HostilePageList, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case> &p) { return p.param.name; });

}  // namespace
