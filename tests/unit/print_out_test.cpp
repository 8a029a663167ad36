// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/print_out.h"

#include <gtest/gtest.h>

#include "automation/automation.h"
#include "printing/credentials.h"
#include "printing/job_watch.h"

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
  std::vector<std::string> followed;  // "job pages paper|credentials"
  bool answer = true;
  bool printed = true;  // what following a job finds

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
    c.follow = [this](int job, int sides, FollowFor what) {
      followed.push_back(std::to_string(job) + " " + std::to_string(sides) +
                         (what == FollowFor::Paper ? " paper" : " credentials"));
      return printed;
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
  // The fronts are followed to paper before the question; the backs only
  // where the printer wants a password.
  EXPECT_EQ(r.followed, (Jobs{"1 3 paper", "2 2 credentials"}));

  // Fronts that the user cancelled at the printer: no question, no backs.
  PrintRun stopped;
  stopped.printed = false;
  carryOutPrintOut(req(std::nullopt, 0, true), stopped.ctx(5));
  EXPECT_EQ(stopped.spooler.jobs, (Jobs{"pdf|Таблица|1,3,5"}));
  EXPECT_TRUE(stopped.prompts.empty());

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
  EXPECT_EQ(r.followed, (Jobs{"1 1 credentials"}));
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

namespace {

JobStatus status(JobState state, std::vector<std::string> printerReasons = {}, std::string message = {},
                 int printerState = 4) {
  JobStatus s;
  s.state = state;
  s.printerReasons = std::move(printerReasons);
  s.printerMessage = std::move(message);
  s.printerState = printerState;
  return s;
}

}  // namespace

// What the user reads of each state a job and its printer can be in.
TEST(JobWatch, EachStateAndReasonInWords) {
  using S = JobState;
  struct Row {
    JobStatus status;
    JobPhase phase;
    std::string problem;
    std::string cause;
  };
  JobStatus heldForPassword = status(S::Held);
  heldForPassword.jobReasons = {"cups-held-for-authentication"};
  JobStatus heldForTicket = heldForPassword;
  heldForTicket.authInfoRequired = {"negotiate"};
  JobStatus heldAtPrinter = status(S::Held);
  heldAtPrinter.jobReasons = {"job-hold-until-specified"};
  JobStatus behindAStoppedQueue = status(S::Pending, {"paused"}, "", kPrinterStopped);
  behindAStoppedQueue.jobReasons = {"printer-stopped"};
  JobStatus gone;
  gone.gone = true;
  const std::vector<Row> rows{
      {status(S::Pending), JobPhase::Waiting, "", ""},
      {status(S::Processing, {"none"}, "Printing page 1"), JobPhase::Waiting, "", ""},
      {status(S::Completed, {"media-empty-error"}), JobPhase::Completed, "", ""},
      // As CUPS's backends report a printer out of paper: the queue stopped too.
      {status(S::Pending, {"media-empty-error", "paused"}, "Out of paper", kPrinterStopped), JobPhase::Waiting,
       "В принтере «Каб 5» нет бумаги.\nOut of paper", ""},
      {status(S::Processing, {"media-needed"}), JobPhase::Waiting, "В принтере «Каб 5» нет бумаги.", ""},
      {status(S::Processing, {"media-empty"}), JobPhase::Waiting, "В принтере «Каб 5» нет бумаги.", ""},
      {status(S::Processing, {"media-empty-report"}), JobPhase::Waiting, "В принтере «Каб 5» нет бумаги.", ""},
      // A driverless printer out of paper, as CUPS passes it on; one low on paper.
      {status(S::Processing, {"media-empty-warning"}), JobPhase::Waiting, "В принтере «Каб 5» нет бумаги.", ""},
      {status(S::Processing, {"media-low-warning"}), JobPhase::Waiting, "", ""},
      {status(S::Processing, {"media-empty-error", "media-jam-error"}), JobPhase::Waiting,
       "В принтере «Каб 5» замялась бумага.", ""},
      {status(S::Processing, {"door-open-error"}), JobPhase::Waiting, "У принтера «Каб 5» открыта крышка.", ""},
      {status(S::Processing, {"cover-open"}), JobPhase::Waiting, "У принтера «Каб 5» открыта крышка.", ""},
      {status(S::Processing, {"toner-empty-error"}), JobPhase::Waiting,
       "В принтере «Каб 5» закончились тонер или чернила.", ""},
      {status(S::Processing, {"marker-supply-empty-error"}), JobPhase::Waiting,
       "В принтере «Каб 5» закончились тонер или чернила.", ""},
      {status(S::Processing, {"toner-low-warning"}), JobPhase::Waiting, "", ""},
      {status(S::Processing, {"offline-report"}, "Unable to locate printer"), JobPhase::Waiting,
       "Принтер «Каб 5» не в сети.\nUnable to locate printer", ""},
      {status(S::Processing, {"com.vendor.fuser-error"}), JobPhase::Waiting,
       "Принтер «Каб 5» сообщает об ошибке.", ""},
      {behindAStoppedQueue, JobPhase::Waiting, "Принтер «Каб 5» остановлен.", ""},
      {status(S::Stopped), JobPhase::Waiting, "Принтер «Каб 5» остановлен.", ""},
      {heldAtPrinter, JobPhase::Waiting, "Задание ждёт на принтере «Каб 5».", ""},
      {heldForPassword, JobPhase::NeedsCredentials, "", ""},
      {heldForTicket, JobPhase::Waiting, "Задание ждёт на принтере «Каб 5».", ""},
      {status(S::Canceled), JobPhase::EndedUnprinted, "", "задание отменено"},
      {status(S::Aborted, {}, "Out of paper"), JobPhase::EndedUnprinted, "",
       "принтер «Каб 5» прервал задание (Out of paper)"},
      {status(S::Aborted), JobPhase::EndedUnprinted, "", "принтер «Каб 5» прервал задание"},
      {gone, JobPhase::EndedUnprinted, "", "принтер «Каб 5» больше не знает этого задания"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    JobWatch watch("Каб 5", 3);
    const JobView v = watch.see(rows[i].status, SteadyClock::now());
    EXPECT_EQ(v.phase, rows[i].phase) << "row " << i;
    EXPECT_EQ(v.problem, rows[i].problem) << "row " << i;
    EXPECT_EQ(v.cause, rows[i].cause) << "row " << i;
  }
}

TEST(JobWatch, ProgressConnectingAndNoAnswer) {
  JobWatch watch("Каб 5", 3);
  JobStatus s = status(JobState::Processing);
  EXPECT_EQ(watch.see(s, SteadyClock::now()).progress, "");
  s.sheetsCompleted = 0;  // a spooler that counts nothing
  s.impressionsCompleted = 0;
  EXPECT_EQ(watch.see(s, SteadyClock::now()).progress, "");
  s.sheetsCompleted = 1;
  EXPECT_EQ(watch.see(s, SteadyClock::now()).progress, "Напечатано листов: 1 из 3.");
  s.impressionsCompleted = 2;
  EXPECT_EQ(watch.see(s, SteadyClock::now()).progress, "Напечатано страниц: 2 из 3.");
  s.impressionsCompleted = 7;  // counted past what was sent (copies the queue added)
  EXPECT_EQ(watch.see(s, SteadyClock::now()).progress, "Напечатано страниц: 3 из 3.");

  // Connecting for a while is normal; past the limit the printer is offline,
  // and once it answers the clock starts again.
  const auto t0 = SteadyClock::now();
  const JobStatus connecting = status(JobState::Processing, {"connecting-to-device"});
  EXPECT_EQ(watch.see(connecting, t0).problem, "");
  EXPECT_EQ(watch.see(connecting, t0 + kConnectingLimit).problem, "");
  EXPECT_EQ(watch.see(connecting, t0 + kConnectingLimit + std::chrono::seconds(1)).problem,
            "Принтер «Каб 5» не в сети.");
  EXPECT_EQ(watch.see(status(JobState::Processing), t0 + std::chrono::seconds(40)).problem, "");
  EXPECT_EQ(watch.see(connecting, t0 + std::chrono::seconds(41)).problem, "");

  EXPECT_EQ(watch.notAnswering().phase, JobPhase::Waiting);
  EXPECT_EQ(watch.notAnswering().problem, "Принтер «Каб 5» не отвечает.");
}

TEST(JobWatch, SpoolerRefusalsInRussian) {
  const std::vector<std::pair<int, std::string>> rows{
      {0x0401, "печать на нём вам запрещена"},
      {0x0402, "нужны имя пользователя и пароль"},
      {0x0403, "у вас нет на это прав"},
      {0x0404, "он не может выполнить это задание"},
      {0x0406, "его нет в системе печати"},
      {0x040A, "он не принимает документы в формате PDF"},
      {0x0506, "он сейчас не принимает задания"},
      {0x1000, "нужны имя пользователя и пароль"},
      {0x0500, "Internal Server Error"},  // none of ours: the spooler's words
  };
  for (const auto &[status, text] : rows) EXPECT_EQ(spoolerRefusal(status, "Internal Server Error"), text) << status;
  EXPECT_EQ(spoolerRefusal(0x0500, ""), "неизвестная ошибка");
  EXPECT_TRUE(needsCredentials(0x0402));
  EXPECT_TRUE(needsCredentials(0x1000));
  EXPECT_FALSE(needsCredentials(0x0401));
  EXPECT_FALSE(needsCredentials(0x0403));
}

TEST(Credentials, KeptPerServerGivenInTheQueuesOrderAndWiped) {
  CredentialStore store;
  store.keep("share smb://school", {"SCHOOL", "teacher", Secret("s3cret")});
  store.keep("server print", {"", "admin", Secret("other")});
  ASSERT_NE(store.find("share smb://school"), nullptr);
  EXPECT_EQ(store.find("share smb://school")->user, "teacher");
  EXPECT_EQ(store.find("share smb://other"), nullptr);

  auto values = [](const std::optional<std::vector<Secret>> &v) {
    std::vector<std::string> out;
    if (v)
      for (const Secret &s : *v) out.push_back(s.text());
    return out;
  };
  const Credentials &c = *store.find("share smb://school");
  EXPECT_EQ(values(authInfo({"domain", "username", "password"}, c)), (Jobs{"SCHOOL", "teacher", "s3cret"}));
  EXPECT_EQ(values(authInfo({"username", "password"}, c)), (Jobs{"teacher", "s3cret"}));
  EXPECT_FALSE(authInfo({"negotiate"}, c).has_value());

  store.forget("share smb://school");
  EXPECT_EQ(store.find("share smb://school"), nullptr);
  store.clear();
  EXPECT_TRUE(store.empty());

  // Copies and moves leave nothing behind in what they came from.
  Secret a("short");
  Secret b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(b.text(), "short");
  b.wipe();
  EXPECT_TRUE(b.empty());
}
