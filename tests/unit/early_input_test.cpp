// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/early_input.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {
EarlyEvent at(EarlyKind kind, float x, std::uint32_t time) {
  EarlyEvent e;
  e.kind = kind;
  e.twipX = x;
  e.time = time;
  return e;
}
}  // namespace

TEST(EarlyInput, KeptInOrderAndHandedOverOnce) {
  EarlyInput in;
  EXPECT_TRUE(in.empty());
  in.add(at(EarlyKind::Press, 10, 1));
  in.add(at(EarlyKind::Release, 10, 2));
  in.add(at(EarlyKind::KeyPress, 0, 3));
  in.add(at(EarlyKind::KeyRelease, 0, 4));
  const auto events = in.take();
  ASSERT_EQ(events.size(), 4u);
  for (std::size_t i = 0; i < events.size(); ++i) EXPECT_EQ(events[i].time, i + 1);
  EXPECT_TRUE(in.empty());
  EXPECT_TRUE(in.take().empty());
}

TEST(EarlyInput, MovesInARowKeepOnlyWhereThePointerWent) {
  EarlyInput in;
  in.add(at(EarlyKind::Press, 10, 1));
  for (int i = 0; i < 100; ++i) in.add(at(EarlyKind::Motion, 10.0f + static_cast<float>(i), 2u + i));
  in.add(at(EarlyKind::Release, 200, 200));
  in.add(at(EarlyKind::Motion, 300, 201));
  const auto events = in.take();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].kind, EarlyKind::Motion);
  EXPECT_EQ(events[1].twipX, 109);  // the last of the drag
  EXPECT_EQ(events[2].kind, EarlyKind::Release);
  // A move after the release is a move of its own.
  EXPECT_EQ(events[3].twipX, 300);
}

TEST(EarlyInput, FullQueueRefusesMoreButKeepsWhatItHas) {
  EarlyInput in;
  for (std::size_t i = 0; i < EarlyInput::kCapacity; ++i)
    ASSERT_TRUE(in.add(at(EarlyKind::KeyPress, 0, static_cast<std::uint32_t>(i))));
  EXPECT_FALSE(in.add(at(EarlyKind::KeyRelease, 0, 0)));
  EXPECT_EQ(in.size(), EarlyInput::kCapacity);
  const auto events = in.take();
  EXPECT_EQ(events.back().kind, EarlyKind::KeyPress);
  EXPECT_EQ(events.back().time, EarlyInput::kCapacity - 1);
  // Empty again: it takes events once more.
  EXPECT_TRUE(in.add(at(EarlyKind::KeyRelease, 0, 0)));
}
