// SPDX-License-Identifier: GPL-3.0-or-later
// Printing end to end: the real window and engine, the real CUPS scheduler
// started by tools/test.sh, and a queue that keeps what it receives. Each
// test has queues of its own; the markers on the pages say what was sent.
// The queues are set up as many school printers are, printing two-sided and
// two copies unless a job says otherwise.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "harness.h"
#include "printing/cups_spooler.h"

namespace quorvel::test {
namespace {

std::string testQueueName(const char *suffix = "") {
  return std::string("q_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix;
}

bool addQueue(const std::string &name) {
  return cupsHarness({"add-queue", cupsDir().string(), name, "capture", "sides-default=two-sided-long-edge",
                      "copies-default=2"});
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
      return m_answer;
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
  bool m_answer = true;
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
