// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/print_out.h"

#include <gtest/gtest.h>

#include "automation/automation.h"

using namespace quorvel;

namespace {

struct FakeSpooler {
  std::vector<std::string> jobs;      // "queue|title|pages"
  std::vector<std::string> settings;  // "copies sides" of each job
  bool refuse = false;
  int submitPdf(const std::string &q, const std::string &t, const std::vector<std::uint8_t> &pdf,
                const JobSettings &s) {
    if (refuse) throw OleServerError("Принтер «" + q + "» не принял задание");
    jobs.push_back(q + "|" + t + "|" + std::string(pdf.begin(), pdf.end()));
    settings.push_back(std::to_string(s.copies) +
                       (s.sides == JobSides::OneSided ? " one-sided" : " queue's sides"));
    return static_cast<int>(jobs.size());
  }
};

struct PrintRun {
  FakeSpooler spooler;
  std::vector<std::string> rendered;
  std::vector<std::string> prompts;
  bool answer = true;

  PrintOutContext ctx(int pages) {
    PrintOutContext c;
    c.printer = "pdf";
    c.title = "Таблица";
    c.pageCount = pages;
    c.submit = [this, printer = c.printer, title = c.title](std::vector<std::uint8_t> pdf,
                                                            const JobSettings &s) {
      return spooler.submitPdf(printer, title, pdf, s);
    };
    c.render = [this](const std::string &range) {
      rendered.push_back(range);
      return std::vector<std::uint8_t>(range.begin(), range.end());
    };
    c.confirm = [this](const std::string &p) {
      prompts.push_back(p);
      return answer;
    };
    return c;
  }
};

PrintOutRequest req(std::optional<std::string> pages, int type, bool duplex) {
  PrintOutRequest r;
  r.pages = std::move(pages);
  r.pageType = type;
  r.manualDuplex = duplex;
  return r;
}

using Jobs = std::vector<std::string>;

}  // namespace

TEST(PrintOut, OneJobOfExactlyTheChosenPages) {
  PrintRun r;
  EXPECT_EQ(carryOutPrintOut(req(std::nullopt, 0, false), r.ctx(4)).size(), 1u);
  carryOutPrintOut(req("2-3", 0, false), r.ctx(4));
  carryOutPrintOut(req(std::nullopt, 2, false), r.ctx(4));
  carryOutPrintOut(req("1-3", 1, false), r.ctx(4));
  EXPECT_EQ(r.spooler.jobs,
            (Jobs{"pdf|Таблица|1,2,3,4", "pdf|Таблица|2,3", "pdf|Таблица|2,4", "pdf|Таблица|1,3"}));
  // One copy each, said every time; the sides are left to the queue.
  EXPECT_EQ(r.spooler.settings, Jobs(4, "1 queue's sides"));
  EXPECT_TRUE(r.prompts.empty());
}

TEST(PrintOut, ManualDuplexAsksBetweenSides) {
  PrintRun r;
  carryOutPrintOut(req(std::nullopt, 0, true), r.ctx(5));
  EXPECT_EQ(r.spooler.jobs, (Jobs{"pdf|Таблица|1,3,5", "pdf|Таблица|2,4"}));
  EXPECT_EQ(r.spooler.settings, (Jobs{"1 one-sided", "1 one-sided"}));
  ASSERT_EQ(r.prompts.size(), 1u);
  EXPECT_EQ(r.prompts[0], kBackSidesPrompt);

  PrintRun cancelled;
  cancelled.answer = false;
  carryOutPrintOut(req(std::nullopt, 1, true), cancelled.ctx(7));
  EXPECT_EQ(cancelled.spooler.jobs, (Jobs{"pdf|Таблица|1,5"}));  // fronts of 1,3,5,7
  EXPECT_EQ(cancelled.spooler.settings, (Jobs{"1 one-sided"}));
  EXPECT_EQ(cancelled.rendered, (Jobs{"1,5"}));  // backs never rendered
}

TEST(PrintOut, ManualDuplexOfOnePageIsOneJobWithoutPrompt) {
  PrintRun r;
  carryOutPrintOut(req(std::nullopt, 0, true), r.ctx(1));
  EXPECT_EQ(r.spooler.jobs, (Jobs{"pdf|Таблица|1"}));
  EXPECT_EQ(r.spooler.settings, (Jobs{"1 one-sided"}));  // still one side of its sheet
  EXPECT_TRUE(r.prompts.empty());
}

TEST(PrintOut, NothingIsSentOnErrors) {
  PrintRun r;
  EXPECT_THROW(carryOutPrintOut(req(std::nullopt, 2, false), r.ctx(1)), OleServerError);
  EXPECT_THROW(carryOutPrintOut(req("9", 0, false), r.ctx(1)), OleServerError);
  PrintOutContext noPrinter = r.ctx(3);
  noPrinter.printer.clear();
  EXPECT_THROW(carryOutPrintOut(req(std::nullopt, 0, false), noPrinter), OleServerError);
  EXPECT_TRUE(r.rendered.empty());
  EXPECT_TRUE(r.spooler.jobs.empty());

  r.spooler.refuse = true;
  EXPECT_THROW(carryOutPrintOut(req(std::nullopt, 0, true), r.ctx(2)), OleServerError);
  EXPECT_TRUE(r.prompts.empty());  // no question after a refused front side
}
