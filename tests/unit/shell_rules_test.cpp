#include "app/shell_rules.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace quorvel;

TEST(Title, FileNameUpToFirstDotRestLowerCase) {
  EXPECT_EQ(applicationTitle("/usr/bin/quorvel"), "quorvel");
  EXPECT_EQ(applicationTitle("/opt/QUORVEL.bin"), "Quorvel");
  EXPECT_EQ(applicationTitle("qUoRvEl.tar.gz"), "quorvel");
  EXPECT_EQ(applicationTitle("/a.b/ПРОГРАММА.exe"), "Программа");
  EXPECT_EQ(applicationTitle("/x/.hidden"), "");
  EXPECT_EQ(applicationTitle("ÀÉÎ"), "Àéî");
}

TEST(ErrorBox, FullStopOnlyAfterCharactersAboveIt) {
  EXPECT_EQ(withFullStop("Нет бумаги"), "Нет бумаги.");
  EXPECT_EQ(withFullStop("Код 5"), "Код 5.");
  EXPECT_EQ(withFullStop("Готово!"), "Готово!");
  EXPECT_EQ(withFullStop("(скобка)"), "(скобка)");
  EXPECT_EQ(withFullStop("Уже."), "Уже.");
  EXPECT_EQ(withFullStop("path/"), "path/.");  // '/' comes after '.'
  EXPECT_EQ(withFullStop("a-"), "a-");
  EXPECT_EQ(withFullStop(""), "");
}

TEST(ErrorBox, InnermostTextWins) {
  auto nested = [] {
    try {
      try {
        throw std::runtime_error("Принтер занят");
      } catch (...) {
        std::throw_with_nested(std::runtime_error("Печать не удалась"));
      }
    } catch (...) {
      return std::current_exception();
    }
  };
  EXPECT_EQ(errorBoxText(nested()), "Принтер занят.");
  EXPECT_EQ(errorBoxText(std::make_exception_ptr(std::runtime_error("Invalid stream format"))),
            "Invalid stream format.");

  auto emptyInner = [] {
    try {
      try {
        throw std::runtime_error("");
      } catch (...) {
        std::throw_with_nested(std::runtime_error("Внешняя"));
      }
    } catch (...) {
      return std::current_exception();
    }
  };
  EXPECT_EQ(errorBoxText(emptyInner()), "Внешняя.");
}

TEST(Layout, MulDivRoundsToNearest) {
  EXPECT_EQ(mulDiv(726, 16, 13), 894);  // 893.54
  EXPECT_EQ(mulDiv(13, 16, 13), 16);
  EXPECT_EQ(mulDiv(5, 1, 2), 3);  // halves away from zero
  EXPECT_EQ(mulDiv(-5, 1, 2), -3);
  EXPECT_EQ(mulDiv(144, 13, 13), 144);
  EXPECT_EQ(mulDiv(2000000000, 3, 4), 1500000000);  // no overflow in between
  EXPECT_THROW(mulDiv(1, 1, 0), std::invalid_argument);
}

TEST(Layout, ScalingFollowsTheTextHeight) {
  EXPECT_EQ(scaleRect({200, 113, 497, 25}, 16, 13), (Rect{246, 139, 612, 31}));
  EXPECT_EQ(scaleRect({8, 32, 169, 105}, 13, 13), (Rect{8, 32, 169, 105}));
  EXPECT_EQ(scaledFontHeight(11, 96), 11);
  EXPECT_EQ(scaledFontHeight(11, 120), 14);  // 13.75
  EXPECT_EQ(scaledFontHeight(11, 144), 17);  // 16.5
  EXPECT_EQ(scaledFontHeight(11, 0), 11);
}

TEST(Layout, CentredInTheWorkAreaNeverOffTheDesktop) {
  EXPECT_EQ(centredPosition(1920, 1040, 736, 557), (Point{592, 241}));
  EXPECT_EQ(centredPosition(1025, 767, 736, 556), (Point{144, 105}));  // remainders dropped
  EXPECT_EQ(centredPosition(640, 480, 736, 557), (Point{0, 0}));
  EXPECT_EQ(centredPosition(640, 480, 736, 557, {-1280, 0}), (Point{-48, 0}));
}
