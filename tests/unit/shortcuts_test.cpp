// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/shortcuts.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(Shortcuts, SaveOpenPrintCloseAndQuitAreBlocked) {
  for (const char *k : {"s", "o", "p", "n", "w", "q"})
    EXPECT_TRUE(isBlockedShortcut(k, true, false, false)) << k;
  EXPECT_TRUE(isBlockedShortcut("s", true, true, false));   // save as
  EXPECT_TRUE(isBlockedShortcut("o", true, true, false));   // print preview
  EXPECT_FALSE(isBlockedShortcut("p", true, true, false));  // superscript
  EXPECT_TRUE(isBlockedShortcut("F4", true, false, false));
  EXPECT_TRUE(isBlockedShortcut("F4", false, false, true));
  EXPECT_FALSE(isBlockedShortcut("s", false, false, false));  // typing the letter
  EXPECT_FALSE(isBlockedShortcut("b", true, false, false));   // bold stays
  EXPECT_FALSE(isBlockedShortcut("z", true, false, false));   // undo stays
  EXPECT_FALSE(isBlockedShortcut("", true, false, false));
}
