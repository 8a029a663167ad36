// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/document_keys.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

// X key symbols used below.
constexpr std::uint32_t kTab = 0xff09, kLeftTab = 0xfe20, kKeypadTab = 0xff89, kHome = 0xff50, kLeft = 0xff51,
                        kReturn = 0xff0d, kKeypadEnter = 0xff8d, kBackSpace = 0xff08, kDelete = 0xffff,
                        kPageDown = 0xff56, kF1 = 0xffbe, kF4 = 0xffc1, kF26 = 0xffd7, kShiftL = 0xffe1,
                        kKeypad5 = 0xffb5, kCyrillicYa = 0x6d1, kCyrillicYeru = 0x6d9;

TypedKey key(std::uint32_t keyval, char32_t character = 0, const char *mods = "", std::uint32_t latin = 0) {
  TypedKey k;
  k.keyval = keyval;
  k.character = character;
  k.latinKeyval = latin;
  const std::string m = mods;
  k.shift = m.find('S') != std::string::npos;
  k.ctrl = m.find('C') != std::string::npos;
  k.alt = m.find('A') != std::string::npos;
  return k;
}

constexpr int kShift = 0x1000, kCtrl = 0x2000, kAlt = 0x4000;

}  // namespace

TEST(DocumentKeys, TabStaysInTheDocumentAndCtrlTabLeavesIt) {
  EXPECT_EQ(routeDocumentKey(key(kTab)), KeyRoute::Engine);
  EXPECT_EQ(routeDocumentKey(key(kLeftTab, 0, "S")), KeyRoute::Engine);  // Shift+Tab: previous cell
  EXPECT_EQ(routeDocumentKey(key(kTab, 0, "C")), KeyRoute::FocusNext);
  EXPECT_EQ(routeDocumentKey(key(kKeypadTab, 0, "C")), KeyRoute::FocusNext);
  EXPECT_EQ(routeDocumentKey(key(kLeftTab, 0, "CS")), KeyRoute::FocusPrevious);
  EXPECT_EQ(routeDocumentKey(key(kTab, 0, "CS")), KeyRoute::FocusPrevious);
  // X reports Shift+Tab as the left tab; with Ctrl it goes back even if the
  // Shift state went missing.
  EXPECT_EQ(routeDocumentKey(key(kLeftTab, 0, "C")), KeyRoute::FocusPrevious);
  EXPECT_EQ(routeDocumentKey(key(kTab, 0, "CA")), KeyRoute::Engine);
}

TEST(DocumentKeys, SaveOpenPrintAndCloseAreBlockedOnAnyLayout) {
  EXPECT_EQ(routeDocumentKey(key('s', 's', "C")), KeyRoute::Blocked);
  EXPECT_EQ(routeDocumentKey(key('p', 'p', "C")), KeyRoute::Blocked);
  EXPECT_EQ(routeDocumentKey(key('P', 'P', "CS")), KeyRoute::Engine);  // superscript
  EXPECT_EQ(routeDocumentKey(key(kF4, 0, "A")), KeyRoute::Blocked);
  EXPECT_EQ(routeDocumentKey(key(kF4, 0, "C")), KeyRoute::Blocked);
  EXPECT_EQ(routeDocumentKey(key(kF4)), KeyRoute::Engine);
  // Cyrillic: Ctrl+Ы is the save key, Ctrl+Я is undo.
  EXPECT_EQ(routeDocumentKey(key(kCyrillicYeru, U'ы', "C", 's')), KeyRoute::Blocked);
  EXPECT_EQ(routeDocumentKey(key(kCyrillicYa, U'я', "C", 'z')), KeyRoute::Engine);
  EXPECT_EQ(routeDocumentKey(key(kCyrillicYeru, U'ы', "", 's')), KeyRoute::Engine);  // typing the letter
  EXPECT_EQ(routeDocumentKey(key('s', 's')), KeyRoute::Engine);
}

TEST(DocumentKeys, NavigationAndEditingKeysReachTheEngineWithTheirModifiers) {
  struct Case {
    TypedKey in;
    EngineKey out;
  };
  const Case cases[] = {
      {key(kHome), {0, 1028}},
      {key(kHome, 0, "C"), {0, 1028 | kCtrl}},
      {key(kLeft, 0, "S"), {0, 1026 | kShift}},
      {key(kLeft, 0, "CS"), {0, 1026 | kShift | kCtrl}},
      {key(kPageDown), {0, 1031}},
      {key(kReturn, 0, "C"), {0, 1280 | kCtrl}},  // page break
      {key(kKeypadEnter), {0, 1280}},
      {key(kBackSpace), {0, 1283}},
      {key(kDelete), {0, 1286}},
      {key(kTab), {0, 1282}},
      {key(kLeftTab, 0, "S"), {0, 1282 | kShift}},
      {key(kF1), {0, 768}},
      {key(kF26), {0, 793}},
      {key(' ', ' '), {' ', 1284}},
  };
  for (const Case &c : cases) {
    const auto got = engineKeyFor(c.in);
    ASSERT_TRUE(got.has_value()) << c.in.keyval;
    EXPECT_EQ(*got, c.out) << c.in.keyval << ": " << got->character << " " << got->code;
  }
}

TEST(DocumentKeys, LettersCarryTheirKeyOnlyWithAModifierAndOtherLayoutsUseTheLatinOne) {
  EXPECT_EQ(engineKeyFor(key('a', 'a')), (EngineKey{'a', 0}));
  EXPECT_EQ(engineKeyFor(key('A', 'A', "S")), (EngineKey{'A', 512 | kShift}));
  EXPECT_EQ(engineKeyFor(key('z', 'z', "C")), (EngineKey{'z', 537 | kCtrl}));
  EXPECT_EQ(engineKeyFor(key('y', 'y', "C")), (EngineKey{'y', 536 | kCtrl}));
  EXPECT_EQ(engineKeyFor(key('1', '1', "C")), (EngineKey{'1', 257 | kCtrl}));
  EXPECT_EQ(engineKeyFor(key('x', 'x', "A")), (EngineKey{'x', 535 | kAlt}));
  // Cyrillic typing is the character alone; Ctrl+Я is Ctrl+Z to the engine.
  EXPECT_EQ(engineKeyFor(key(kCyrillicYa, U'я', "", 'z')), (EngineKey{0x44f, 0}));
  EXPECT_EQ(engineKeyFor(key(kCyrillicYa, U'Я', "S", 'z')), (EngineKey{0x42f, 537 | kShift}));
  EXPECT_EQ(engineKeyFor(key(kCyrillicYa, U'я', "C", 'z')), (EngineKey{0x44f, 537 | kCtrl}));
  // A layout key with no Latin twin still types its character.
  EXPECT_EQ(engineKeyFor(key(0x6a3, U'ё', "C")), (EngineKey{0x451, kCtrl}));
  EXPECT_EQ(engineKeyFor(key(kKeypad5, '5')), (EngineKey{'5', 0}));
}

TEST(DocumentKeys, KeysWithNothingForTheEngineAreNotSent) {
  EXPECT_FALSE(engineKeyFor(key(kShiftL, 0, "S")).has_value());
  EXPECT_FALSE(engineKeyFor(key(kF26 + 1)).has_value());  // F27: no key code, no character
  EXPECT_FALSE(engineKeyFor(key(0)).has_value());
}
