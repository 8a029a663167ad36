// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shell_rules.h"
#include "app/font_metrics.h"

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

// The whole chain at 96, 144 and 192 dpi for Tahoma (2049 + 423 of 2048
// units) and DejaVu Sans (1901 + 483): font pixels, text height, client
// area, a control, and the centred frame of that window.
TEST(Layout, EachResolutionScalesTheWholeWindowTogether) {
  struct Case {
    int dpi;
    WinMetrics font;
    int fontPx, textHeight;
    ClientSize client;
    Rect button1;
  };
  const WinMetrics tahoma{2048, 2049, 423}, dejavu{2048, 1901, 483};
  const Case cases[] = {
      {96, tahoma, 11, 13, {726, 520}, {200, 113, 497, 25}},
      {144, tahoma, 17, 21, {1173, 840}, {323, 183, 803, 40}},
      {192, tahoma, 22, 27, {1508, 1080}, {415, 235, 1032, 52}},
      {96, dejavu, 11, 13, {726, 520}, {200, 113, 497, 25}},
      {144, dejavu, 17, 20, {1117, 800}, {308, 174, 765, 38}},
      {192, dejavu, 22, 25, {1396, 1000}, {385, 217, 956, 48}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.dpi);
    const int px = scaledFontHeight(kFontHeight, c.dpi);
    EXPECT_EQ(px, c.fontPx);
    const int th = windowsTextHeight(c.font, px);
    EXPECT_EQ(th, c.textHeight);
    EXPECT_EQ(scaledClientSize(th), c.client);
    EXPECT_EQ(scaleRect({200, 113, 497, 25}, th, kStoredTextHeight), c.button1);
  }
  EXPECT_EQ(scaledClientSize(0), (ClientSize{726, 520}));  // no measure: the declared size
}

TEST(Layout, CentringAtEachResolution) {
  // A 37-pixel title bar and 1-pixel borders around the client area.
  auto frameOf = [](ClientSize client) { return ClientSize{client.width + 2, client.height + 38}; };
  struct Case {
    ClientSize work;
    ClientSize client;
    Point expected;
  };
  const Case cases[] = {
      {{1280, 1024}, {726, 520}, {276, 233}},  // 96 dpi
      {{1920, 1080}, {726, 520}, {596, 261}},
      {{1920, 1048}, {726, 520}, {596, 245}},   // less a 32-pixel top bar, offset not added
      {{1920, 1080}, {1173, 840}, {372, 101}},  // 144 dpi
      {{1920, 1080}, {1508, 1080}, {205, 0}},   // 192 dpi: taller than the screen, kept on it
      {{3840, 2160}, {1508, 1080}, {1165, 521}},
  };
  for (const Case &c : cases) {
    const ClientSize frame = frameOf(c.client);
    EXPECT_EQ(centredPosition(c.work.width, c.work.height, frame.width, frame.height), c.expected)
        << c.work.width << "x" << c.work.height << ", client " << c.client.width << "x" << c.client.height;
  }
}
