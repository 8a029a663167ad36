// SPDX-License-Identifier: GPL-3.0-or-later
// Print-system calls off the GUI thread: bounded waits, giving up, and the
// print service and printer list built on them, with test doubles.
#include <gtest/gtest.h>

#include <condition_variable>
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

// A spooler whose calls block until told to stop, when asked to.
struct SlowSpooler : PrintSpooler {
  std::mutex lock;
  std::vector<std::string> log;
  bool hangOnCheck = false;
  int hangOnJob = 0;  // the job number that hangs; 0: none
  int jobs = 0;

  void record(const std::string &line) {
    std::lock_guard l(lock);
    log.push_back(line);
  }
  void hang(const StopFlag &stop) {
    const auto giveUpAt = SteadyClock::now() + 10s;
    while (!stop.stopped() && SteadyClock::now() < giveUpAt) std::this_thread::sleep_for(1ms);
  }
  void checkQueue(const std::string &queue, const StopFlag &stop) override {
    if (hangOnCheck) {
      hang(stop);
      record("check gave up " + queue);
      throw OleServerError(printerNotAnswering(queue));
    }
    record("check " + queue);
  }
  int submitPdf(const std::string &queue, const std::string &title, const std::vector<std::uint8_t> &pdf,
                const JobSettings &settings, const StopFlag &stop) override {
    const int job = ++jobs;
    if (job == hangOnJob) {
      hang(stop);
      record("cancelled " + std::to_string(job));
      throw OleServerError(printerNotAnswering(queue));
    }
    record("job " + std::to_string(job) + " " + queue + " " + title + " " +
           std::string(pdf.begin(), pdf.end()) + " x" + std::to_string(settings.copies) +
           (settings.sides == JobSides::OneSided ? " one-sided" : ""));
    return job;
  }
};

struct ServiceRun {
  std::shared_ptr<SlowSpooler> spooler = std::make_shared<SlowSpooler>();
  FakePump pump;
  int questions = 0;
  SpoolerPrintService service{spooler, pump,
                              [this](const std::string &) {
                                ++questions;
                                return true;
                              },
                              300ms};
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
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(SpoolerPrintService, JobsGoThroughTheSpoolerOffTheGuiThread) {
  ServiceRun r;
  r.service.checkPrinter("Кабинет");
  PrintOutRequest req;
  req.manualDuplex = true;
  r.service.printOut("Кабинет", req, r.doc);
  EXPECT_EQ(r.log(), (Lines{"check Кабинет", "job 1 Кабинет Таблица 1,3 x1 one-sided",
                            "job 2 Кабинет Таблица 2 x1 one-sided"}));
  EXPECT_EQ(r.questions, 1);
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
