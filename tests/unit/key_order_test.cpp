// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/key_order.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

const QueuedKey kA{true, 'a', 65}, kAUp{false, 'a', 65}, kB{true, 'b', 66};

TEST(KeyOrder, KeysGoAtOnceWithNoClickQueued) {
  KeyOrder order;
  EXPECT_EQ(order.add(kA, 0), std::vector<QueuedKey>{kA});
  EXPECT_FALSE(order.waiting());
  // A click already passed on holds nothing back.
  order.buttonQueued();
  order.buttonPosted();
  EXPECT_EQ(order.add(kB, 10), std::vector<QueuedKey>{kB});
}

TEST(KeyOrder, KeysWaitForTheClicksBeforeThemAndKeepTheirOrder) {
  KeyOrder order;
  order.buttonQueued();  // press
  order.buttonQueued();  // release
  EXPECT_TRUE(order.add(kA, 0).empty());
  EXPECT_TRUE(order.add(kAUp, 1000).empty());
  order.buttonPosted();
  EXPECT_TRUE(order.ready(2000).empty()) << "the release is still queued";
  order.buttonPosted();
  EXPECT_EQ(order.ready(3000), (std::vector<QueuedKey>{kA, kAUp}));
  EXPECT_FALSE(order.waiting());
  // A key typed while others wait goes behind them, never before.
  order.buttonQueued();
  EXPECT_TRUE(order.add(kA, 4000).empty());
  order.buttonPosted();
  EXPECT_EQ(order.add(kB, 5000), (std::vector<QueuedKey>{kA, kB}));
}

TEST(KeyOrder, AClickNeverPassedOnHoldsKeysBackOnlySoLong) {
  KeyOrder order;
  order.buttonQueued();
  EXPECT_TRUE(order.add(kA, 1'000'000).empty());
  EXPECT_TRUE(order.ready(1'000'000 + KeyOrder::kMaxWaitUs - 1).empty());
  EXPECT_EQ(order.ready(1'000'000 + KeyOrder::kMaxWaitUs), std::vector<QueuedKey>{kA});
  // Forgotten with it: the next key does not wait for that click again.
  EXPECT_EQ(order.add(kB, 2'000'000), std::vector<QueuedKey>{kB});
  // More posted than counted (the view's own clicks) does not go below zero.
  order.buttonPosted();
  order.buttonQueued();
  EXPECT_TRUE(order.add(kA, 3'000'000).empty());
}

}  // namespace
}  // namespace quorvel
