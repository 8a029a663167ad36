// SPDX-License-Identifier: GPL-3.0-or-later
// Print-system calls off the GUI thread: bounded waits, giving up, and the
// print service and printer list built on them, with test doubles.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "automation/automation.h"
#include "printing/off_thread.h"
#include "printing/print_out.h"
#include "printing/printer_list.h"

using namespace quorvel;
using namespace std::chrono_literals;

namespace {

// A GUI loop with no events: each iteration sleeps until woken or `max`.
class FakePump : public EventPump {
public:
  void iterate(std::chrono::milliseconds max) override {
    ++iterations;
    if (onIterate) onIterate();
    std::unique_lock l(m_lock);
    m_woken.wait_for(l, max, [this] { return m_wake; });
    m_wake = false;
  }
  void wake() override {
    std::lock_guard l(m_lock);
    m_wake = true;
    m_woken.notify_all();
  }
  bool closing() const override { return closed; }

  int iterations = 0;
  bool closed = false;
  std::function<void()> onIterate;

private:
  std::mutex m_lock;
  std::condition_variable m_woken;
  bool m_wake = false;
};

// Work that runs until told to stop, and says whether it was.
struct Blocker {
  std::shared_ptr<std::atomic<bool>> sawStop = std::make_shared<std::atomic<bool>>(false);
  OffThread::Work work() const {
    return [seen = sawStop](const StopFlag &stop) {
      const auto giveUpAt = SteadyClock::now() + 10s;  // never hang the test run
      while (!stop.stopped() && SteadyClock::now() < giveUpAt) std::this_thread::sleep_for(1ms);
      *seen = stop.stopped();
    };
  }
};

bool allWorkEnded() { return OffThread::waitIdle(5s) && OffThread::running() == 0; }

}  // namespace

TEST(OffThread, ResultComesBackWhileTheLoopKeepsTurning) {
  FakePump pump;
  const int value = runOffThread<int>(pump, 5s, [](const StopFlag &) {
    std::this_thread::sleep_for(200ms);
    return 42;
  });
  EXPECT_EQ(value, 42);
  EXPECT_GE(pump.iterations, 3);  // at most 50 ms asleep each time
  EXPECT_TRUE(allWorkEnded());
}

TEST(OffThread, ErrorsOfTheWorkReachTheCaller) {
  FakePump pump;
  EXPECT_THROW(
      {
        try {
          runOffThread<int>(pump, 5s, [](const StopFlag &) -> int { throw OleServerError("Сбой"); });
        } catch (const OleServerError &e) {
          EXPECT_STREQ(e.what(), "Сбой");
          throw;
        }
      },
      OleServerError);
  EXPECT_TRUE(allWorkEnded());
}

TEST(OffThread, ATimedOutWaitTellsTheWorkToStop) {
  FakePump pump;
  Blocker blocker;
  OffThread task(blocker.work());
  const auto t0 = SteadyClock::now();
  EXPECT_THROW(task.wait(pump, t0 + 150ms), WaitTimedOut);
  EXPECT_LT(SteadyClock::now() - t0, 5s);
  EXPECT_TRUE(allWorkEnded());
  EXPECT_TRUE(*blocker.sawStop);
}

TEST(OffThread, WorkThatIgnoresStopIsLeftToEndOnItsOwn) {
  FakePump pump;
  auto finished = std::make_shared<std::atomic<bool>>(false);
  const auto t0 = SteadyClock::now();
  EXPECT_THROW(runOffThread<bool>(pump, 50ms,
                                  [finished](const StopFlag &) {
                                    std::this_thread::sleep_for(400ms);
                                    *finished = true;
                                    return true;
                                  }),
               WaitTimedOut);
  EXPECT_LT(SteadyClock::now() - t0, 350ms);  // the caller did not wait for it
  EXPECT_FALSE(*finished);
  EXPECT_TRUE(allWorkEnded());
  EXPECT_TRUE(*finished);
}

TEST(OffThread, AClosingWindowEndsTheWaitAtOnce) {
  FakePump pump;
  Blocker blocker;
  OffThread task(blocker.work());
  pump.onIterate = [&] {
    if (pump.iterations == 3) pump.closed = true;
  };
  EXPECT_THROW(task.wait(pump, SteadyClock::now() + 60s), WaitAbandoned);
  EXPECT_EQ(pump.iterations, 3);
  EXPECT_TRUE(allWorkEnded());
  EXPECT_TRUE(*blocker.sawStop);
}

TEST(OffThread, ExitWaitsOnlyForWorkThatHoldsIt) {
  auto released = std::make_shared<std::atomic<bool>>(false);
  auto held = std::make_shared<std::atomic<bool>>(false);
  {
    // Given up on while stuck in the print system, holding nothing.
    OffThread stuck([](const StopFlag &) { std::this_thread::sleep_for(1500ms); });
    // Given up on while a job of ours is out there: it withdraws it.
    OffThread sending([held, released](const StopFlag &stop) {
      ExitHold hold;
      *held = true;
      while (!stop.stopped()) std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(100ms);
      *released = true;
    });
    while (!*held) std::this_thread::sleep_for(1ms);
  }
  const auto t0 = SteadyClock::now();
  EXPECT_TRUE(OffThread::drain(5s));
  EXPECT_TRUE(*released);
  EXPECT_LT(SteadyClock::now() - t0, 1000ms);  // not held up by the stuck one
  EXPECT_GE(OffThread::running(), 1);
  EXPECT_TRUE(allWorkEnded());

  // One that never lets go costs only the limit.
  auto letGo = std::make_shared<std::atomic<bool>>(false);
  *held = false;
  OffThread never([held, letGo](const StopFlag &) {
    ExitHold hold;
    *held = true;
    while (!*letGo) std::this_thread::sleep_for(1ms);
  });
  while (!*held) std::this_thread::sleep_for(1ms);
  const auto t1 = SteadyClock::now();
  EXPECT_FALSE(OffThread::drain(100ms));
  EXPECT_GE(SteadyClock::now() - t1, 100ms);
  *letGo = true;
  EXPECT_TRUE(allWorkEnded());
}

TEST(OffThread, DroppingTheTaskStopsItAndReadyTellsWhenDone) {
  Blocker blocker;
  { OffThread task(blocker.work()); }
  EXPECT_TRUE(allWorkEnded());
  EXPECT_TRUE(*blocker.sawStop);

  OffThread quick([](const StopFlag &) {});
  EXPECT_TRUE(allWorkEnded());
  EXPECT_TRUE(quick.ready());
  FakePump pump;
  quick.wait(pump, SteadyClock::now());  // done: no wait, no throw
  EXPECT_EQ(pump.iterations, 0);
}

namespace {

JobStatus look(JobState state, std::vector<std::string> reasons = {}, std::string message = {}, int done = -1) {
  JobStatus s;
  s.state = state;
  s.printerReasons = std::move(reasons);
  s.printerMessage = std::move(message);
  s.impressionsCompleted = done;
  return s;
}

// A spooler whose calls block until told to stop, when asked to; its jobs
// go through the states it is given, and a queue or server of it may want
// a password.
struct SlowSpooler : PrintSpooler {
  std::mutex lock;
  std::vector<std::string> log;
  bool hangOnCheck = false;
  int hangOnJob = 0;  // the job number that hangs; 0: none
  int hangOnLook = 0;  // the look at a job that hangs; 0: none
  int jobs = 0;
  int looks = 0;
  // What each look at a job finds, in turn; the last one stays.
  std::map<int, std::deque<JobStatus>> states;
  // A share queue: each job is held until given this password.
  std::optional<std::string> sharePassword;
  // A print server that wants this password for every job.
  std::optional<std::string> serverPassword;

  void record(const std::string &line) {
    std::lock_guard l(lock);
    log.push_back(line);
  }
  void hang(const StopFlag &stop) {
    const auto giveUpAt = SteadyClock::now() + 10s;
    while (!stop.stopped() && SteadyClock::now() < giveUpAt) std::this_thread::sleep_for(1ms);
  }
  QueueInfo checkQueue(const std::string &queue, const CredentialStore &, const StopFlag &stop) override {
    if (hangOnCheck) {
      hang(stop);
      record("check gave up " + queue);
      throw OleServerError(printerNotAnswering(queue));
    }
    record("check " + queue);
    QueueInfo info;
    if (sharePassword) info.authInfoRequired = {"username", "password"};
    return info;
  }
  int submitPdf(const std::string &queue, const std::string &title, const std::vector<std::uint8_t> &pdf,
                const JobSettings &settings, const CredentialStore &known, const StopFlag &stop) override {
    if (serverPassword) {
      const Credentials *c = known.find("server");
      if (!c || c->password.text() != *serverPassword) {
        record(c ? "refused " + c->user : "asked");
        throw CredentialsNeeded("server", "teacher", c != nullptr);
      }
    }
    std::lock_guard l(lock);
    const int job = ++jobs;
    if (job == hangOnJob) {
      lock.unlock();
      hang(stop);
      lock.lock();
      log.push_back("cancelled " + std::to_string(job));
      throw OleServerError(printerNotAnswering(queue));
    }
    log.push_back("job " + std::to_string(job) + " " + queue + " " + title + " " +
                  std::string(pdf.begin(), pdf.end()) + " x" + std::to_string(settings.copies) +
                  (settings.sides == JobSides::OneSided ? " one-sided" : ""));
    if (sharePassword && !states.contains(job)) states[job] = {held()};
    return job;
  }
  static JobStatus held() {
    JobStatus s;
    s.state = JobState::Held;
    s.jobReasons = {"cups-held-for-authentication"};
    s.authInfoRequired = {"username", "password"};
    s.credentialServer = "share";
    s.owner = "teacher";
    return s;
  }
  JobStatus jobStatus(const std::string &, int job, const CredentialStore &, const StopFlag &stop) override {
    std::unique_lock l(lock);
    if (++looks == hangOnLook) {
      l.unlock();
      hang(stop);
      throw OleServerError("Служба печати CUPS недоступна");
    }
    std::deque<JobStatus> &queue = states[job];
    if (queue.empty()) queue.push_back(look(JobState::Completed));
    JobStatus s = queue.front();
    if (queue.size() > 1) queue.pop_front();
    return s;
  }
  void cancelJob(const std::string &, int job, const CredentialStore &) override {
    record("cancel " + std::to_string(job));
  }
  void authenticateJob(const std::string &, int job, const std::vector<Secret> &info, const CredentialStore &,
                       const StopFlag &) override {
    std::lock_guard l(lock);
    log.push_back("auth " + std::to_string(job) + " " + info.at(0).text() + ":" + info.at(1).text());
    // Refused by the share: held again; otherwise it prints.
    states[job] = {info.at(1).text() == sharePassword ? look(JobState::Completed) : held()};
  }
};

// The boxes, answered by the test.
struct FakeDialogs : PrintDialogs {
  struct Progress : PrintProgress {
    FakeDialogs &owner;
    explicit Progress(FakeDialogs &o) : owner(o) {}
    ~Progress() override { owner.shown.push_back("box gone"); }
    void show(const std::string &progress, const std::string &problem) override {
      owner.shown.push_back(progress + "|" + problem);
      if (owner.cancelAfterShows && ++owner.showsSeen >= owner.cancelAfterShows) owner.cancelled = true;
    }
    bool cancelled() const override { return owner.cancelled; }
  };
  bool confirm(const std::string &) override {
    shown.push_back("question");
    return true;
  }
  std::unique_ptr<PrintProgress> progress(const std::string &heading) override {
    shown.push_back(heading);
    return std::make_unique<Progress>(*this);
  }
  std::optional<Credentials> askCredentials(const CredentialRequest &r) override {
    shown.push_back("ask " + r.printer + " " + r.user + (r.refused ? " refused" : "") + (r.domain ? " domain" : ""));
    if (answers.empty()) return std::nullopt;
    const std::string password = answers.front();
    answers.pop_front();
    return Credentials{"", "teacher", Secret(password)};
  }
  std::vector<std::string> shown;
  std::deque<std::string> answers;  // passwords the user gives, in turn
  int cancelAfterShows = 0;
  int showsSeen = 0;
  bool cancelled = false;
};

struct ServiceRun {
  std::shared_ptr<SlowSpooler> spooler = std::make_shared<SlowSpooler>();
  FakePump pump;
  FakeDialogs dialogs;
  SpoolerPrintService service{spooler, pump, dialogs, 300ms};
  PrintableDocument doc{"Таблица", 3, [](const std::string &range) {
                          return std::vector<std::uint8_t>(range.begin(), range.end());
                        }};
  std::string error(const std::function<void()> &f) {
    try {
      f();
    } catch (const std::exception &e) {
      return e.what();
    }
    return "";
  }
  std::vector<std::string> log() {
    EXPECT_TRUE(allWorkEnded());
    std::lock_guard l(spooler->lock);
    return spooler->log;
  }
  void twoSided(const std::string &printer = "Кабинет") {
    PrintOutRequest req;
    req.manualDuplex = true;
    service.checkPrinter(printer);
    service.printOut(printer, req, doc);
  }
  void onePass(const std::string &printer = "Кабинет") {
    service.checkPrinter(printer);
    service.printOut(printer, PrintOutRequest{}, doc);
  }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(SpoolerPrintService, JobsGoThroughTheSpoolerOffTheGuiThread) {
  ServiceRun r;
  r.twoSided();
  EXPECT_EQ(r.log(), (Lines{"check Кабинет", "job 1 Кабинет Таблица 1,3 x1 one-sided",
                            "job 2 Кабинет Таблица 2 x1 one-sided"}));
  EXPECT_EQ(r.dialogs.shown,
            (Lines{"Печатаются лицевые стороны на принтере «Кабинет»…", "box gone", "question"}));
}

TEST(SpoolerPrintService, TheQuestionComesOnlyOnceTheFrontsAreOut) {
  ServiceRun r;
  r.spooler->states[1] = {look(JobState::Pending),
                          look(JobState::Processing, {"media-empty-error", "paused"}, "Out of paper", 0),
                          look(JobState::Processing, {"none"}, "", 1), look(JobState::Processing, {}, "", 1),
                          look(JobState::Completed)};
  r.twoSided();
  EXPECT_EQ(r.dialogs.shown,
            (Lines{"Печатаются лицевые стороны на принтере «Кабинет»…", "|",
                   "|В принтере «Кабинет» нет бумаги.\nOut of paper", "Напечатано страниц: 1 из 2.|",
                   "Напечатано страниц: 1 из 2.|", "box gone", "question"}));
  EXPECT_EQ(r.log().back(), "job 2 Кабинет Таблица 2 x1 one-sided");

  // One page: no question, nothing followed.
  ServiceRun one;
  one.doc.pageCount = 1;
  one.twoSided();
  EXPECT_TRUE(one.dialogs.shown.empty());
}

TEST(SpoolerPrintService, CancellingTheFrontsTakesTheJobBackAndAsksNothing) {
  ServiceRun r;
  r.spooler->states[1] = {look(JobState::Processing, {"media-jam-error"})};
  r.dialogs.cancelAfterShows = 2;
  r.twoSided();
  EXPECT_EQ(r.log(), (Lines{"check Кабинет", "job 1 Кабинет Таблица 1,3 x1 one-sided", "cancel 1"}));
  EXPECT_EQ(r.dialogs.shown.back(), "box gone");  // the box goes before the job is taken back
  EXPECT_EQ(std::count(r.dialogs.shown.begin(), r.dialogs.shown.end(), "question"), 0);
}

TEST(SpoolerPrintService, FrontsThatEndUnprintedAreSaidAndNeverTakenAsPrinted) {
  ServiceRun aborted;
  aborted.spooler->states[1] = {look(JobState::Processing), look(JobState::Aborted, {}, "Out of paper")};
  EXPECT_EQ(aborted.error([&] { aborted.twoSided(); }),
            "Лицевые стороны не напечатаны: принтер «Кабинет» прервал задание (Out of paper)");
  ServiceRun cancelled;
  cancelled.spooler->states[1] = {look(JobState::Canceled)};
  EXPECT_EQ(cancelled.error([&] { cancelled.twoSided(); }), "Лицевые стороны не напечатаны: задание отменено");
  for (ServiceRun *r : {&aborted, &cancelled}) {
    EXPECT_EQ(r->log().size(), 2u);  // the fronts only, and nothing cancelled
    EXPECT_EQ(std::count(r->dialogs.shown.begin(), r->dialogs.shown.end(), "question"), 0);
  }
}

TEST(SpoolerPrintService, ASpoolerThatStopsAnsweringIsSaidAndAskedAgain) {
  ServiceRun r;
  r.spooler->states[1] = {look(JobState::Processing), look(JobState::Completed)};
  r.spooler->hangOnLook = 2;
  r.twoSided();
  EXPECT_EQ(r.dialogs.shown, (Lines{"Печатаются лицевые стороны на принтере «Кабинет»…", "|",
                                    "|Принтер «Кабинет» не отвечает.", "box gone", "question"}));
}

TEST(SpoolerPrintService, AShareAsksForAPasswordAgainWhenRefusedAndKeepsItForTheRun) {
  ServiceRun r;
  r.spooler->sharePassword = "right";
  r.dialogs.answers = {"wrong", "right"};
  r.onePass();
  EXPECT_EQ(r.log(), (Lines{"check Кабинет", "job 1 Кабинет Таблица 1,2,3 x1", "auth 1 teacher:wrong",
                            "auth 1 teacher:right"}));
  EXPECT_EQ(r.dialogs.shown, (Lines{"Идёт печать на принтере «Кабинет»…", "ask Кабинет teacher",
                                    "ask Кабинет teacher refused", "box gone"}));

  // The next print-out does not ask again.
  r.dialogs.shown.clear();
  r.onePass();
  EXPECT_EQ(r.log().back(), "auth 2 teacher:right");
  EXPECT_EQ(r.dialogs.shown, (Lines{"Идёт печать на принтере «Кабинет»…", "box gone"}));

  // "Отмена" leaves no job held.
  ServiceRun no;
  no.spooler->sharePassword = "right";
  no.onePass();
  EXPECT_EQ(no.log().back(), "cancel 1");
  EXPECT_EQ(no.error([&] { no.onePass(); }), "");  // asked again, cancelled again, nothing said
}

TEST(SpoolerPrintService, AServerThatWantsAPasswordIsAskedBeforeTheJobAndOnceARun) {
  ServiceRun r;
  r.spooler->serverPassword = "right";
  r.dialogs.answers = {"wrong", "right"};
  r.onePass();
  EXPECT_EQ(r.log(), (Lines{"check Кабинет", "asked", "refused teacher", "job 1 Кабинет Таблица 1,2,3 x1"}));
  EXPECT_EQ(r.dialogs.shown, (Lines{"ask Кабинет teacher", "ask Кабинет teacher refused"}));
  r.onePass();
  EXPECT_EQ(r.log().back(), "job 2 Кабинет Таблица 1,2,3 x1");
  EXPECT_EQ(r.dialogs.shown.size(), 2u);

  // Not given: nothing sent, nothing said.
  ServiceRun no;
  no.spooler->serverPassword = "right";
  EXPECT_EQ(no.error([&] { no.onePass(); }), "");
  EXPECT_EQ(no.log(), (Lines{"check Кабинет", "asked"}));
}

TEST(SpoolerPrintService, ClosingTheWindowWhileTheFrontsPrintLeavesTheJobToTheSpooler) {
  ServiceRun r;
  r.spooler->states[1] = {look(JobState::Processing)};
  r.pump.onIterate = [&] {
    if (r.pump.iterations == 3) r.pump.closed = true;
  };
  EXPECT_EQ(r.error([&] { r.twoSided(); }), kPrintingInterrupted);
  EXPECT_EQ(r.log(), (Lines{"check Кабинет", "job 1 Кабинет Таблица 1,3 x1 one-sided"}));
}

TEST(SpoolerPrintService, APrinterThatDoesNotAnswerIsNamedAndNothingIsLeft) {
  ServiceRun r;
  r.spooler->hangOnCheck = true;
  const auto t0 = SteadyClock::now();
  EXPECT_EQ(r.error([&] { r.service.checkPrinter("Сетевой"); }), "Принтер «Сетевой» не отвечает");
  EXPECT_LT(SteadyClock::now() - t0, 5s);
  EXPECT_EQ(r.log(), (Lines{"check gave up Сетевой"}));

  // Fronts sent, backs stuck: the error comes, the stuck job is withdrawn.
  r.spooler->hangOnCheck = false;
  r.spooler->hangOnJob = 2;
  PrintOutRequest req;
  req.manualDuplex = true;
  EXPECT_EQ(r.error([&] { r.service.printOut("Сетевой", req, r.doc); }), "Принтер «Сетевой» не отвечает");
  EXPECT_EQ(r.log(),
            (Lines{"check gave up Сетевой", "job 1 Сетевой Таблица 1,3 x1 one-sided", "cancelled 2"}));

  // The next click goes through.
  r.service.printOut("Сетевой", PrintOutRequest{}, r.doc);
  EXPECT_EQ(r.log().back(), "job 3 Сетевой Таблица 1,2,3 x1");
}

TEST(SpoolerPrintService, ClosingTheWindowInterruptsAPrintOut) {
  ServiceRun r;
  r.spooler->hangOnJob = 1;
  r.pump.onIterate = [&] { r.pump.closed = true; };
  EXPECT_EQ(r.error([&] { r.service.printOut("Сетевой", PrintOutRequest{}, r.doc); }), kPrintingInterrupted);
  EXPECT_EQ(r.log(), (Lines{"cancelled 1"}));
}

TEST(PrinterList, EachDestinationOnceInTheSpoolersOrder) {
  EXPECT_EQ(distinctPrinters({}), Lines{});
  EXPECT_EQ(distinctPrinters({"B", "A", "C"}), (Lines{"B", "A", "C"}));
  // A driverless printer listed again once its queue exists; an empty name.
  EXPECT_EQ(distinctPrinters({"Lab", "Quorvel_Net", "", "Office", "Quorvel_Net", "Lab"}),
            (Lines{"Lab", "Quorvel_Net", "Office"}));
  // Names differing only in case are different queues to CUPS' clients.
  EXPECT_EQ(distinctPrinters({"lab", "Lab"}), (Lines{"lab", "Lab"}));
}
