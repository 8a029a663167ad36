// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/engine_output.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

namespace quorvel {
namespace {

// An ostream set up as std::cerr is (unit-buffered) over the filter.
struct Terminal {
  std::stringstream seen;
  EngineOutput filter{seen.rdbuf()};
  std::ostream err{&filter};
  Terminal() { err.setf(std::ios::unitbuf); }
};

TEST(EngineOutput, TheLanguageListIsDroppedAndEveryOtherLinePassesInOrder) {
  Terminal t;
  t.err << "before\n";
  // As LibreOffice 7.4 writes it: a piece at a time, then std::endl.
  t.err << "Allowlisted languages: ";
  for (const char *name : {"de_DE", "en_GB", "pt_BR", "ru"}) t.err << name << " ";
  t.err << std::endl;
  t.err << "after" << std::endl;
  EXPECT_EQ(t.seen.str(), "before\nafter\n");
  EXPECT_TRUE(EngineOutput::dropped("Allowlisted languages: "));
}

TEST(EngineOutput, LinesThatOnlyStartLikeItPassUnchanged) {
  for (const std::string line :
       {"Allowlisted languages: de_DE; rm -rf", "Allowlisted languages", "Allowlisted",
        " Allowlisted languages: ru", "No language allowlisted, turning off the language support."}) {
    Terminal t;
    for (char c : line) t.err << c;  // one character at a time, the hardest case
    t.err << std::endl;
    EXPECT_EQ(t.seen.str(), line + "\n");
  }
}

TEST(EngineOutput, OtherTextIsPassedOnAtOnceNotAtTheLinesEnd) {
  Terminal t;
  // A crash report may never get its newline out.
  t.err << "Fatal exception: Signal 11";
  EXPECT_EQ(t.seen.str(), "Fatal exception: Signal 11");
  t.err << " Allowlisted languages: ru\nAllowlisted languages: ru\n";
  EXPECT_EQ(t.seen.str(), "Fatal exception: Signal 11 Allowlisted languages: ru\n");
  // What is held back while it may still be the list goes out at release.
  t.err << "Allow";
  EXPECT_EQ(t.seen.str(), "Fatal exception: Signal 11 Allowlisted languages: ru\n");
  t.filter.release();
  EXPECT_EQ(t.seen.str(), "Fatal exception: Signal 11 Allowlisted languages: ru\nAllow");
}

}  // namespace
}  // namespace quorvel
