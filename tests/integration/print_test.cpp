// SPDX-License-Identifier: GPL-3.0-or-later
// Printing end to end: the real window and engine, the real CUPS scheduler
// started by tools/test.sh, and a queue that keeps what it receives. Each
// test has queues of its own; the markers on the pages say what was sent.
// The queues are set up as many school printers are, printing two-sided and
// two copies unless a job says otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "harness.h"
#include "printing/cups_spooler.h"

namespace quorvel::test {
namespace {

std::string testQueueName(const char *suffix = "") {
  return std::string("q_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix;
}

bool addQueue(const std::string &name, const std::string &mode = "capture") {
  return cupsHarness({"add-queue", cupsDir().string(), name, mode, "sides-default=two-sided-long-edge",
                      "copies-default=2"});
}

using Clock = ClickWatch::Clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Files under `folder` changed since `since` that hold `secret`.
std::vector<std::filesystem::path> filesHolding(const std::filesystem::path &folder, const std::string &secret,
                                                std::filesystem::file_time_type since) {
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           folder, std::filesystem::directory_options::skip_permission_denied, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec || !it->is_regular_file(ec) || it->last_write_time(ec) < since || it->file_size(ec) > (64u << 20))
      continue;
    const std::vector<std::uint8_t> bytes = readFile(it->path());
    if (std::search(bytes.begin(), bytes.end(), secret.begin(), secret.end()) != bytes.end())
      found.push_back(it->path());
  }
  return found;
}

class Print : public ::testing::Test {
protected:
  void SetUp() override {
    if (cupsDir().empty()) GTEST_SKIP() << "no test print scheduler (run through tools/test.sh)";
    ASSERT_TRUE(addQueue(m_queue));
    m_doc = readFile(dataFile("markers5.doc"));
  }
  void TearDown() override {
    // Printing leaves nothing, and the engine's export adds no variable.
    if (m_run) {
      EXPECT_TRUE(m_run->close());
    }
    m_run.reset();
    if (!cupsDir().empty()) cupsHarness({"delete-queue", cupsDir().string(), m_queue});
  }

  // The window on the five-page marker document, with every queue CUPS knows.
  TForm1 &start(const std::filesystem::path &privateFolderIn = testTmpDir()) {
    FormServices s = cupsServices(chartTable(m_doc));
    s.confirm = [this](const std::string &prompt) {
      m_prompts.push_back(prompt);
      m_promptTimes.push_back(Clock::now());
      return m_answer;
    };
    s.askCredentials = [this](const CredentialRequest &request) -> std::optional<Credentials> {
      m_asks.push_back(request);
      if (m_passwords.empty()) return std::nullopt;
      Credentials given{"", "teacher", Secret(m_passwords.front())};
      m_passwords.erase(m_passwords.begin());
      return given;
    };
    m_run = std::make_unique<FormRun>(std::move(s), privateFolderIn);
    EXPECT_TRUE(m_run->showAndStart());
    EXPECT_TRUE(m_run->boxes().empty()) << m_run->boxes().front().text;
    return m_run->form();
  }

  bool choosePrinter(const std::string &name) { return test::choosePrinter(m_run->form(), name); }

  // Fills the strip as the user would and clicks the button.
  void click(int pageItem, const std::string &pageList = "", bool twoSided = false) {
    TForm1 &form = m_run->form();
    form.setRadioGroupIndex(pageItem);
    form.Edit1().set_text(pageList);
    form.CheckBox1().set_active(twoSided);
    form.Button1().clicked();
  }

  // The pages of each job `queue` received, once `n` jobs are there. Each
  // job asks for one copy, whatever the queue's default.
  std::vector<std::vector<int>> jobPages(std::size_t n, const std::string &queue = "") {
    const std::string q = queue.empty() ? m_queue : queue;
    EXPECT_TRUE(waitForJobs(q, n)) << capturedJobs(q).size() << " jobs of " << n;
    pumpFor(300);  // a surplus job would show up now
    std::vector<std::vector<int>> pages;
    for (const CapturedJob &job : capturedJobs(q)) {
      EXPECT_EQ(job.title, "Периодическая система химических элементов");
      EXPECT_EQ(job.copies, 1) << "job " << job.id << ": " << job.options;
      pages.push_back(pdfMarkers(job.pdf));
      EXPECT_EQ(pdfPageCount(job.pdf), static_cast<int>(pages.back().size()));
    }
    return pages;
  }

  // How each job the queue has received is printed: the job's own sides, or
  // the queue's, which the scheduler fills in.
  std::vector<std::string> jobSides() {
    std::vector<std::string> sides;
    for (const CapturedJob &job : capturedJobs(m_queue)) sides.push_back(job.option("sides"));
    return sides;
  }

  const std::vector<Box> &boxes() { return m_run->boxes(); }

  std::string m_queue = testQueueName();
  std::vector<std::uint8_t> m_doc;
  std::unique_ptr<FormRun> m_run;
  std::vector<std::string> m_prompts;
  std::vector<Clock::time_point> m_promptTimes;
  bool m_answer = true;
  std::vector<CredentialRequest> m_asks;
  std::vector<std::string> m_passwords;  // what the user types when asked, in turn
};

using Pages = std::vector<std::vector<int>>;
using Sides = std::vector<std::string>;

TEST_F(Print, QueueIsListedAndAllPagesGoAsOneJob) {
  start();
  ASSERT_TRUE(choosePrinter(m_queue));
  click(0);
  EXPECT_EQ(jobPages(1), (Pages{{1, 2, 3, 4, 5}}));
  EXPECT_EQ(jobSides(), (Sides{"two-sided-long-edge"}));  // without the box, the queue's setting
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
  EXPECT_TRUE(m_prompts.empty());
}

TEST_F(Print, PageListSendsExactlyThosePages) {
  start();
  ASSERT_TRUE(choosePrinter(m_queue));
  click(1, " 4, 2-3 ,9");
  EXPECT_EQ(jobPages(1), (Pages{{2, 3, 4}}));
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
}

TEST_F(Print, OddAndEvenPagesAndASecondClickPrintsAgain) {
  start();
  ASSERT_TRUE(choosePrinter(m_queue));
  click(2);
  ASSERT_TRUE(waitForJobs(m_queue, 1));
  click(3);
  ASSERT_TRUE(waitForJobs(m_queue, 2));
  click(3);
  EXPECT_EQ(jobPages(3), (Pages{{1, 3, 5}, {2, 4}, {2, 4}}));
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
}

TEST_F(Print, ManualTwoSidedPrintsFrontsThenAsksThenBacks) {
  start();
  ASSERT_TRUE(choosePrinter(m_queue));
  // Each pass one-sided, though the queue prints two-sided: the fronts on
  // both sides of a sheet would not match the turned stack.
  click(0, "", true);
  EXPECT_EQ(jobPages(2), (Pages{{1, 3, 5}, {2, 4}}));
  EXPECT_EQ(jobSides(), Sides(2, "one-sided"));
  ASSERT_EQ(m_prompts.size(), 1u);
  EXPECT_EQ(m_prompts[0], kBackSidesPrompt);

  // Cancel: the fronts only. One page: no question at all.
  m_answer = false;
  click(1, "2-5", true);
  EXPECT_EQ(jobPages(3), (Pages{{1, 3, 5}, {2, 4}, {2, 4}}));
  EXPECT_EQ(jobSides(), Sides(3, "one-sided"));
  EXPECT_EQ(m_prompts.size(), 2u);
  click(1, "3", true);
  EXPECT_EQ(jobPages(4), (Pages{{1, 3, 5}, {2, 4}, {2, 4}, {3}}));
  EXPECT_EQ(jobSides(), Sides(4, "one-sided"));
  EXPECT_EQ(m_prompts.size(), 2u);
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
}

// A printer that takes a second a page: the question comes only once the
// fronts are out, and "Отмена" meanwhile takes them back.
TEST_F(Print, TwoSidedOnASlowPrinterAsksOnlyOnceTheFrontsAreOut) {
  const std::string slow = testQueueName("_slow");
  ASSERT_TRUE(addQueue(slow, "slow/1"));
  TForm1 &form = start();
  ASSERT_TRUE(choosePrinter(slow));
  {
    ClickWatch watch(form, [&] { return !capturedJobs(slow).empty(); });
    LoopProbe probe;
    click(0, "", true);
    const double stall = probe.longestGapMs();
    ASSERT_EQ(m_prompts.size(), 1u);
    ASSERT_TRUE(watch.firstOut());
    EXPECT_GT(m_promptTimes[0], *watch.firstOut());
    std::printf("question %.0f ms after the fronts came out; longest main-loop stall %.0f ms (%s)\n",
                msBetween(*watch.firstOut(), m_promptTimes[0]), stall, probe.longGaps().c_str());
    EXPECT_LT(stall, 1000);
    const std::string heading = "Печатаются лицевые стороны на принтере «" + slow + "»…";
    EXPECT_TRUE(watch.saw(heading)) << watch.all();
    EXPECT_TRUE(watch.saw(heading + "\nНапечатано страниц: 1 из 3.")) << watch.all();
    EXPECT_EQ(jobPages(2, slow), (Pages{{1, 3, 5}, {2, 4}}));
  }
  ClickWatch cancelling(form, {}, [](const std::string &text, ProgressBox &box) {
    if (text.find("Напечатано страниц: 1") != std::string::npos) pressCancel(box);
  });
  click(0, "", true);
  EXPECT_EQ(m_prompts.size(), 1u);
  EXPECT_EQ(form.printProgress(), nullptr);
  EXPECT_TRUE(pumpUntil([&] { return activeJobs(slow) == 0; }, 5000)) << activeJobs(slow);
  pumpFor(1500);  // the page under way would have come out by now
  EXPECT_EQ(capturedJobs(slow).size(), 2u);
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
  cupsHarness({"delete-queue", cupsDir().string(), slow});
}

// Out of paper as CUPS's backends say it (the queue stopped too): said in
// words, nothing asked; "Отмена" leaves nothing queued, and paper loaded
// meanwhile lets the print-out go on by itself.
TEST_F(Print, OutOfPaperIsSaidAndLoadingPaperCarriesOn) {
  const std::string empty = testQueueName("_empty"), refilled = testQueueName("_refilled");
  ASSERT_TRUE(addQueue(empty, "nopaper"));
  ASSERT_TRUE(addQueue(refilled, "nopaper"));
  TForm1 &form = start();
  const std::string noPaper = "нет бумаги.\nOut of paper";

  ASSERT_TRUE(choosePrinter(empty));
  {
    ClickWatch watch(form, {}, [&](const std::string &text, ProgressBox &box) {
      if (text.find(noPaper) != std::string::npos) pressCancel(box);
    });
    click(0, "", true);
    EXPECT_TRUE(watch.saw("Печатаются лицевые стороны на принтере «" + empty + "»…\nВ принтере «" + empty +
                          "» " + noPaper))
        << watch.all();
  }
  EXPECT_TRUE(m_prompts.empty());
  EXPECT_EQ(activeJobs(empty), 0);
  EXPECT_TRUE(capturedJobs(empty).empty());
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;

  ASSERT_TRUE(choosePrinter(refilled));
  bool loaded = false;
  ClickWatch watch(form, {}, [&](const std::string &text, ProgressBox &) {
    if (!loaded && text.find(noPaper) != std::string::npos)
      loaded = cupsHarness({"load-paper", cupsDir().string(), refilled});
  });
  click(0, "", true);
  EXPECT_TRUE(loaded) << watch.all();
  ASSERT_EQ(m_prompts.size(), 1u);
  EXPECT_EQ(jobPages(2, refilled), (Pages{{1, 3, 5}, {2, 4}}));
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
  for (const std::string &q : {empty, refilled}) cupsHarness({"delete-queue", cupsDir().string(), q});
}

// A queue printing to a Windows share: the job is held until it has the
// share's user name and password; a wrong password is refused by the share
// and asked for again; the right one prints and is not asked for again this
// run; "Отмена" leaves nothing held. The password is in no file. (A scheduler
// not run as root hands no credentials to the share, which then cannot tell
// a wrong password: there the first one is the right one.)
TEST_F(Print, AShareAsksForItsPasswordAgainWhenRefusedAndKeepsItForTheRun) {
  const auto since = std::filesystem::file_time_type::clock::now();
  const std::string share = testQueueName("_share"), other = testQueueName("_other_share");
  const std::string password = "Пароль школы 7";
  {
    std::ofstream login(cupsDir() / "share-login");
    login << "teacher\n" << password << "\n";
  }
  ASSERT_TRUE(addQueue(share, "share"));
  ASSERT_TRUE(addQueue(other, "share"));
  TForm1 &form = start();
  ASSERT_TRUE(choosePrinter(share));
  const bool checked = schedulerPassesCredentials();
  m_passwords = checked ? std::vector<std::string>{"wrong", password} : std::vector<std::string>{password};
  {
    ClickWatch watch(form, {});
    click(1, "1");
    EXPECT_TRUE(watch.saw("Идёт печать на принтере «" + share + "»…")) << watch.all();
  }
  ASSERT_EQ(m_asks.size(), checked ? 2u : 1u);
  EXPECT_EQ(m_asks[0].printer, share);
  EXPECT_EQ(m_asks[0].user, g_get_user_name());  // the job's owner, as the spooler knows it
  EXPECT_FALSE(m_asks[0].refused);
  EXPECT_FALSE(m_asks[0].domain);
  if (checked) {
    EXPECT_TRUE(m_asks[1].refused);
    EXPECT_EQ(m_asks[1].user, "teacher");  // the name just tried
  }
  EXPECT_EQ(jobPages(1, share), (Pages{{1}}));
  if (checked) {
    EXPECT_EQ(capturedJobs(share).front().authUser, "teacher");
  }
  const std::size_t asked = m_asks.size();

  click(1, "2");
  EXPECT_EQ(m_asks.size(), asked);
  EXPECT_EQ(jobPages(2, share), (Pages{{1}, {2}}));

  ASSERT_TRUE(choosePrinter(other));
  click(1, "3");
  EXPECT_EQ(m_asks.size(), asked + 1);  // another share: asked, and "Отмена"
  EXPECT_TRUE(pumpUntil([&] { return activeJobs(other) == 0; }, 5000)) << activeJobs(other);
  EXPECT_TRUE(capturedJobs(other).empty());
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;

  // Nothing the program wrote holds the password.
  for (const std::filesystem::path &folder : {m_run->root(), testTmpDir(), std::filesystem::path(g_get_home_dir())})
    EXPECT_EQ(filesHolding(folder, password, since), std::vector<std::filesystem::path>{}) << folder;
  for (const std::string &q : {share, other}) cupsHarness({"delete-queue", cupsDir().string(), q});
}

TEST_F(Print, MissingChoicesAndBadListsSendNothingAndTheWindowGoesOn) {
  start();
  click(0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Выберите принтер!");
  ASSERT_TRUE(choosePrinter(m_queue));
  click(-1);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[1].text, "Выберите страницы для печати!");
  click(1, "2-x");
  ASSERT_EQ(boxes().size(), 3u);
  EXPECT_TRUE(boxes()[2].text.starts_with("Неверный список страниц")) << boxes()[2].text;
  EXPECT_TRUE(boxes()[2].error);
  click(1, "7-9");
  ASSERT_EQ(boxes().size(), 4u);
  EXPECT_TRUE(boxes()[3].text.starts_with("Неверный список страниц")) << boxes()[3].text;
  pumpFor(500);
  EXPECT_TRUE(capturedJobs(m_queue).empty());

  click(1, "5");
  EXPECT_EQ(jobPages(1), (Pages{{5}}));
}

TEST_F(Print, GoneStoppedAndRefusingQueuesAreErrorsUntilMended) {
  TForm1 &form = start();
  ASSERT_TRUE(choosePrinter(m_queue));
  const int row = form.ComboBox1().get_active_row_number();

  ASSERT_TRUE(cupsHarness({"disable", cupsDir().string(), m_queue}));
  click(0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Принтер «" + m_queue + "» остановлен.");
  ASSERT_TRUE(cupsHarness({"enable", cupsDir().string(), m_queue}));

  ASSERT_TRUE(cupsHarness({"reject", cupsDir().string(), m_queue}));
  click(0);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[1].text, "Принтер «" + m_queue + "» не принимает задания.");
  ASSERT_TRUE(cupsHarness({"accept", cupsDir().string(), m_queue}));

  ASSERT_TRUE(cupsHarness({"delete-queue", cupsDir().string(), m_queue}));
  click(0);
  ASSERT_EQ(boxes().size(), 3u);
  EXPECT_EQ(boxes()[2].text, "Принтер «" + m_queue + "» не найден в системе печати.");

  // Mended: the same entry of the list prints again.
  ASSERT_TRUE(addQueue(m_queue));
  EXPECT_EQ(form.ComboBox1().get_active_row_number(), row);
  click(1, "1");
  EXPECT_EQ(jobPages(1), (Pages{{1}}));
  EXPECT_EQ(boxes().size(), 3u);
}

TEST_F(Print, QueueNamesArePassedUnchanged) {
  // CUPS allows any printable character in a name but space, tab, '/', '\\', '#' and quotes.
  const std::string odd = testQueueName("_Кабинет-химии.№2");
  ASSERT_TRUE(addQueue(odd));
  start();
  ASSERT_TRUE(choosePrinter(odd)) << "not listed";
  click(1, "2");
  EXPECT_EQ(jobPages(1, odd), (Pages{{2}}));
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
  cupsHarness({"delete-queue", cupsDir().string(), odd});
}

TEST_F(Print, EditsOnScreenArePrinted) {
  TForm1 &form = start();
  ASSERT_TRUE(choosePrinter(m_queue));
  // Type at the start of the document, as the user would in the view.
  LokView *view = form.oleContainer().view();
  ASSERT_NE(view, nullptr);
  form.oleContainer().setFocus();
  for (const char c : std::string("EDITED-BY-USER "))
    sendKey(view->widget(), gdk_unicode_to_keyval(static_cast<guint32>(c)));
  pumpFor(1500);
  click(1, "1");
  ASSERT_TRUE(waitForJobs(m_queue, 1));
  const CapturedJob job = capturedJobs(m_queue).front();
  gchar *text = nullptr;
  const std::string cmd = "pdftotext " + job.pdf.string() + " -";
  ASSERT_TRUE(g_spawn_command_line_sync(cmd.c_str(), &text, nullptr, nullptr, nullptr));
  EXPECT_NE(std::string(text).find("EDITED-BY-USER"), std::string::npos) << text;
  g_free(text);
}

// The engine's own save, open and print shortcuts do nothing: no file, no
// job, no dialog of its own.
TEST_F(Print, EngineShortcutsNeitherSaveNorOpenNorPrint) {
  TForm1 &form = start();
  ASSERT_TRUE(choosePrinter(m_queue));
  LokView *view = form.oleContainer().view();
  ASSERT_NE(view, nullptr);
  form.oleContainer().setFocus();
  const auto windowsBefore = Gtk::Window::list_toplevels().size();
  const guint ctrl = GDK_CONTROL_MASK, shift = GDK_SHIFT_MASK;
  for (const auto &[key, mods] : std::vector<std::pair<guint, guint>>{{GDK_KEY_s, ctrl},
                                                                      {GDK_KEY_S, ctrl | shift},
                                                                      {GDK_KEY_p, ctrl},
                                                                      {GDK_KEY_o, ctrl},
                                                                      {GDK_KEY_w, ctrl},
                                                                      {GDK_KEY_q, ctrl},
                                                                      {GDK_KEY_F12, ctrl},
                                                                      {GDK_KEY_e, ctrl | shift}})
    sendKey(view->widget(), key, mods);
  pumpFor(2500);
  EXPECT_TRUE(capturedJobs(m_queue).empty());
  EXPECT_EQ(Gtk::Window::list_toplevels().size(), windowsBefore);
  EXPECT_TRUE(boxes().empty()) << boxes().front().text;
  // The document is still open and prints as before.
  ASSERT_FALSE(form.oleContainer().isEmpty());
  click(1, "2");
  EXPECT_EQ(jobPages(1), (Pages{{2}}));
  // Nothing was written next to the engine's profile.
  std::error_code ec;
  for (const auto &e : std::filesystem::recursive_directory_iterator(m_run->root(), ec))
    EXPECT_EQ(e.path().string().find("/doc/"), std::string::npos) << e.path();
}

// Every file under `folder`.
std::set<std::filesystem::path> filesUnder(const std::filesystem::path &folder) {
  std::set<std::filesystem::path> files;
  std::error_code ec;
  for (const auto &e : std::filesystem::recursive_directory_iterator(folder, ec))
    if (!e.is_directory()) files.insert(e.path());
  return files;
}

// The temporary folder filled up after start-up (Debian 13 keeps /tmp in
// memory, sized by RAM): the cause in words, nothing sent, nothing left;
// once there is room again the next click prints.
TEST_F(Print, FullTemporaryFolderAtPrintTimeIsReportedAndLeavesNothing) {
  if (smallDisk().empty()) GTEST_SKIP() << "no small file system (run through small-disk.sh)";
  start(smallDisk());
  ASSERT_TRUE(choosePrinter(m_queue));
  const std::filesystem::path privateFolder = std::filesystem::directory_iterator(m_run->root())->path();
  const auto before = filesUnder(privateFolder);
  DiskFiller filler(smallDisk());
  ASSERT_TRUE(filler.fill());
  click(0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text,
            "LibreOffice не смог подготовить страницы к печати: нет места во временной папке «" +
                (privateFolder / "print").string() + "».");
  EXPECT_TRUE(boxes()[0].error);
  pumpFor(500);
  EXPECT_TRUE(capturedJobs(m_queue).empty());
  EXPECT_EQ(filesUnder(privateFolder), before);

  filler.release();
  click(0);
  EXPECT_EQ(jobPages(1), (Pages{{1, 2, 3, 4, 5}}));
  EXPECT_EQ(boxes().size(), 1u);
}

}  // namespace
}  // namespace quorvel::test
