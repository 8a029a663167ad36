// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/page_selection.h"

#include <gtest/gtest.h>

#include "automation/automation.h"

using namespace quorvel;
using Pages = std::vector<int>;

namespace {
std::string rejection(std::string_view text, int pageCount) {
  try {
    parsePageList(text, pageCount);
  } catch (const OleServerError &e) {
    return e.what();
  }
  return "accepted";
}
}  // namespace

TEST(PageList, NumbersAndRangesWithBlanks) {
  EXPECT_EQ(parsePageList("1, 3-5", 9), (Pages{1, 3, 4, 5}));
  EXPECT_EQ(parsePageList(" 2 - 3 ,\t7 ", 9), (Pages{2, 3, 7}));
  EXPECT_EQ(parsePageList("5,1,3-4,4", 9), (Pages{1, 3, 4, 5}));  // sorted, once each
  EXPECT_EQ(parsePageList("007", 9), (Pages{7}));
  EXPECT_EQ(parsePageList("3-3", 9), (Pages{3}));
}

TEST(PageList, PagesPastTheEndAreLeftOut) {
  EXPECT_EQ(parsePageList("1, 4-99", 5), (Pages{1, 4, 5}));
  EXPECT_EQ(parsePageList("2,99999999999999999999999", 3), (Pages{2}));
  EXPECT_EQ(parsePageList("1-18446744073709551617", 2), (Pages{1, 2}));
  EXPECT_NE(rejection("6-9", 5).find("всего страниц: 5"), std::string::npos);
}

TEST(PageList, RejectsWhatDoesNotParse) {
  const std::string prefix = "Неверный список страниц: ";
  EXPECT_EQ(rejection("", 3), prefix + "список пуст");
  EXPECT_EQ(rejection("   \t", 3), prefix + "список пуст");
  EXPECT_EQ(rejection("0", 3), prefix + "страницы нумеруются с 1 (позиция 1)");
  EXPECT_EQ(rejection("1,,2", 3), prefix + "пустой элемент в позиции 3");
  EXPECT_EQ(rejection(",1", 3), prefix + "пустой элемент в позиции 1");
  EXPECT_EQ(rejection("1,", 3), prefix + "после «-» или «,» ожидался номер страницы");
  EXPECT_EQ(rejection("2-", 3), prefix + "после «-» или «,» ожидался номер страницы");
  EXPECT_EQ(rejection("3-1", 3), prefix + "в диапазоне 3-1 начало больше конца");
  EXPECT_EQ(rejection("1;2", 3), prefix + "недопустимый символ «;» в позиции 2");
  EXPECT_EQ(rejection("1 2", 3), prefix + "недопустимый символ «2» в позиции 3");
  EXPECT_EQ(rejection("-2", 3), prefix + "недопустимый символ «-» в позиции 1");
  EXPECT_EQ(rejection("1-2-3", 3), prefix + "недопустимый символ «-» в позиции 4");
  // Non-ASCII digits and control characters are not echoed into the message.
  EXPECT_EQ(rejection("١", 3),
            prefix + "недопустимый символ в позиции 1 (допустимы цифры, «-», «,» и пробелы)");
  EXPECT_EQ(rejection("1\n", 3),
            prefix + "недопустимый символ в позиции 2 (допустимы цифры, «-», «,» и пробелы)");
}

TEST(PageList, LongInputIsParsedWithoutBlowingUp) {
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "1-1000000000,";
  many += "2";
  EXPECT_EQ(parsePageList(many, 3), (Pages{1, 2, 3}));
  const std::string message = rejection(std::string(100000, ' ') + "x", 3);
  EXPECT_TRUE(message.starts_with("Неверный список страниц: недопустимый символ «x»")) << message;
  EXPECT_LT(message.size(), 200u);  // the message must not echo the whole input
}

TEST(PageSelection, PageTypesKeepOddOrEvenNumbers) {
  EXPECT_EQ(selectPages(std::nullopt, 0, 5), (Pages{1, 2, 3, 4, 5}));
  EXPECT_EQ(selectPages(std::nullopt, 1, 5), (Pages{1, 3, 5}));
  EXPECT_EQ(selectPages(std::nullopt, 2, 5), (Pages{2, 4}));
  EXPECT_EQ(selectPages("2-5", 1, 9), (Pages{3, 5}));
  EXPECT_THROW(selectPages(std::nullopt, 2, 1), OleServerError);  // even pages of one page
  EXPECT_THROW(selectPages("3", 2, 9), OleServerError);
  EXPECT_THROW(selectPages(std::nullopt, 0, 0), OleServerError);
}

TEST(PageSelection, SidesAlternateThroughTheSelection) {
  Sides s = splitSides({1, 2, 3, 4, 5});
  EXPECT_EQ(s.fronts, (Pages{1, 3, 5}));
  EXPECT_EQ(s.backs, (Pages{2, 4}));
  // Odd pages only: sheets get pages 1|3, 5|7.
  s = splitSides({1, 3, 5, 7});
  EXPECT_EQ(s.fronts, (Pages{1, 5}));
  EXPECT_EQ(s.backs, (Pages{3, 7}));
  s = splitSides({4});
  EXPECT_EQ(s.fronts, (Pages{4}));
  EXPECT_TRUE(s.backs.empty());
  EXPECT_EQ(formatPageRange({1, 3, 10}), "1,3,10");
}
