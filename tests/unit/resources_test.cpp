// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/resources.h"

#include <gtest/gtest.h>

#include <array>

using namespace quorvel;

TEST(Resources, LookupIgnoresCase) {
  static const std::array<std::uint8_t, 3> a{1, 2, 3};
  static const std::array<std::uint8_t, 1> b{9};
  const std::array<Resource, 2> table{Resource{"p1", a}, Resource{"Other", b}};
  ASSERT_TRUE(findResource(table, "P1"));
  EXPECT_EQ(findResource(table, "p1")->size(), 3u);
  EXPECT_EQ(findResource(table, "OTHER")->front(), 9);
  EXPECT_FALSE(findResource(table, "p"));
  EXPECT_FALSE(findResource(table, "p10"));
  EXPECT_FALSE(findResource({}, "p1"));
}
