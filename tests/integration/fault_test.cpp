// SPDX-License-Identifier: GPL-3.0-or-later
// What real machines do to the program: a print server that is down or goes
// away, a LibreOffice that is not there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "harness.h"
#include "printing/cups_spooler.h"

namespace quorvel::test {
namespace {

TEST(Faults, PrintServerDownAtStartGivesAnEmptyListAndNoMessage) {
  // A socket path nobody listens on, and a host that never answers.
  for (const char *server : {"/tmp/quorvel-no-such-cups.sock", "10.255.255.1"}) {
    SCOPED_TRACE(server);
    setenv("CUPS_SERVER", server, 1);
    const auto queues = CupsSpooler::listQueues(1500);
    EXPECT_TRUE(queues.empty());
  }
  setenv("CUPS_SERVER", "/tmp/quorvel-no-such-cups.sock", 1);
  FormRun run(cupsServices(builtInResources()));
  ASSERT_TRUE(run.showAndStart(30000)) << "start-up hung on the print server";
  EXPECT_EQ(run->ComboBox1().get_model()->children().size(), 0u);
  EXPECT_FALSE(run->oleContainer().isEmpty());
  pumpFor(300);
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

// A scheduler of this test's own, so that stopping it disturbs no other test.
TEST(Faults, PrintServerStoppingBeforeTheClickIsAnErrorUntilItIsBack) {
  if (cupsDir().empty()) GTEST_SKIP() << "no test print scheduler (run through tools/test.sh)";
  const std::string dir = makeTestDir("qcups-fault");
  const std::string sock = dir + "/cups.sock";
  struct StopAtEnd {
    std::string dir;
    ~StopAtEnd() { cupsHarness({"stop", dir}); }
  } stopAtEnd{dir};
  ASSERT_TRUE(cupsHarness({"start", dir}));
  ASSERT_TRUE(cupsHarness({"add-queue", dir, "fault_queue"}));
  setenv("CUPS_SERVER", sock.c_str(), 1);
  setenv("QUORVEL_CUPS_DIR", dir.c_str(), 1);
  ASSERT_EQ(CupsSpooler::listQueues(), std::vector<std::string>{"fault_queue"});

  const std::vector<std::uint8_t> doc = readFile(dataFile("markers5.doc"));
  FormRun run(cupsServices(chartTable(doc)));
  ASSERT_TRUE(run.showAndStart());
  EXPECT_TRUE(run.boxes().empty()) << run.boxes().front().text;
  ASSERT_EQ(run->ComboBox1().get_model()->children().size(), 1u);
  run->ComboBox1().set_active(0);
  run->setRadioGroupIndex(0);

  ASSERT_TRUE(cupsHarness({"stop", dir}));
  run->Button1().clicked();
  ASSERT_EQ(run.boxes().size(), 1u);
  EXPECT_TRUE(run.boxes()[0].text.starts_with("Служба печати CUPS недоступна")) << run.boxes()[0].text;
  EXPECT_TRUE(run.boxes()[0].error);

  // Back again, with its queue: the next click prints.
  ASSERT_TRUE(cupsHarness({"start", dir}));
  ASSERT_TRUE(cupsHarness({"add-queue", dir, "fault_queue"}));
  run->Button1().clicked();
  EXPECT_TRUE(waitForJobs("fault_queue", 1));
  ASSERT_EQ(capturedJobs("fault_queue").size(), 1u);
  EXPECT_EQ(pdfMarkers(capturedJobs("fault_queue")[0].pdf), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(run.boxes().size(), 1u);
  EXPECT_TRUE(run.close());
}

TEST(Faults, MissingLibreOfficeIsReportedAndTheWindowStaysUsable) {
  FormServices s;
  s.resources = builtInResources();
  s.printers = [] { return std::vector<std::string>{"A"}; };
  s.engineDir = "/nonexistent/libreoffice/program";
  FormRun run(std::move(s));
  ASSERT_TRUE(run.showAndStart());
  ASSERT_FALSE(run.boxes().empty());
  EXPECT_TRUE(run.boxes()[0].text.starts_with("Не удалось запустить LibreOffice")) << run.boxes()[0].text;
  EXPECT_TRUE(run->oleContainer().isEmpty());
  // Nothing stands in for a document the container does not hold.
  EXPECT_FALSE(run->oleContainer().showsPicture());
  // The strip still answers: a click without a printer asks for one.
  run.clearBoxes();
  run->Button1().clicked();
  ASSERT_FALSE(run.boxes().empty());
  EXPECT_EQ(run.boxes().back().text, "Выберите принтер!");
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

// A temporary folder on a full file system (Debian 13 keeps /tmp in memory,
// sized by RAM): the cause in words, and no part of the chart's copy left.
TEST(Faults, FullTemporaryFolderAtStartIsReportedInWords) {
  if (smallDisk().empty()) GTEST_SKIP() << "no small file system (run through small-disk.sh)";
  FormRun run(listedPrinters(builtInResources(), {"A"}), smallDisk());
  DiskFiller filler(smallDisk());
  ASSERT_TRUE(filler.fill());
  ASSERT_TRUE(run.showAndStart());
  ASSERT_EQ(run.boxes().size(), 1u);
  EXPECT_EQ(run.boxes()[0].text, "Недостаточно места на диске для завершения операции.");
  EXPECT_TRUE(run.boxes()[0].error);
  EXPECT_TRUE(run->oleContainer().isEmpty());
  EXPECT_FALSE(run->oleContainer().showsPicture());
  std::error_code ec;
  for (const auto &e : std::filesystem::recursive_directory_iterator(run.root(), ec))
    EXPECT_FALSE(e.is_regular_file()) << "left: " << e.path();
  filler.release();
  EXPECT_TRUE(run.close()) << "files left in " << run.root();
}

}  // namespace
}  // namespace quorvel::test
