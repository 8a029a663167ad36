// SPDX-License-Identifier: GPL-3.0-or-later
// Carrying a print-out request out: choose the pages, render them, hand the
// jobs to the spooler, and for manual two-sided printing ask between sides.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/print_service.h"
#include "automation/word_model.h"
#include "printing/off_thread.h"

namespace quorvel {

// What a job itself asks of the printer. Nothing else is set: paper, colour,
// quality and the rest stay as the queue and the user have them.
enum class JobSides {
  QueueDefault,  // no sides sent: the queue's own setting stands
  OneSided,      // a pass of two-sided printing by hand, whatever the queue's default
};
struct JobSettings {
  int copies = 1;  // always sent: a queue may default to more
  JobSides sides = JobSides::QueueDefault;
};

// The print system. Every call may wait on a printer or a server, so it is
// made off the GUI thread; once `stop` is set it gives up as soon as it can
// and leaves no job behind.
class PrintSpooler {
public:
  virtual ~PrintSpooler() = default;
  // Throws OleServerError naming the queue when it does not exist or cannot
  // take jobs now.
  virtual void checkQueue(const std::string &queue, const StopFlag &stop) = 0;
  // Returns the job id; throws OleServerError with the spooler's text.
  virtual int submitPdf(const std::string &queue, const std::string &title,
                        const std::vector<std::uint8_t> &pdf, const JobSettings &settings,
                        const StopFlag &stop) = 0;
};

inline constexpr const char *kBackSidesPrompt =
    "Лицевые стороны напечатаны.\n\n"
    "Выньте напечатанные листы, переверните стопку чистой стороной к печати и вложите её "
    "в лоток подачи так, чтобы первым был подан лист с первой страницей.\n\n"
    "Нажмите «ОК», чтобы напечатать оборотные стороны, или «Отмена», чтобы закончить.";

// How long a printer may take to answer one step (checking it, taking a
// job); a driverless printer used for the first time needs about 3 s.
inline constexpr std::chrono::milliseconds kPrinterAnswerLimit{10000};

std::string printerNotAnswering(const std::string &printer);
inline constexpr const char *kPrintingInterrupted = "Печать прервана: окно закрыто";

struct PrintOutContext {
  std::string printer;  // the active printer; empty when none was set up
  std::string title;    // job title
  int pageCount = 0;
  std::function<std::vector<std::uint8_t>(const std::string &pageRange)> render;
  // Hands one side's PDF to the printer; returns the job id.
  std::function<int(std::vector<std::uint8_t> pdf, const JobSettings &settings)> submit;
  std::function<bool(const std::string &prompt)> confirm;  // true for OK
};

// Returns the ids of the jobs sent.
std::vector<int> carryOutPrintOut(const PrintOutRequest &request, const PrintOutContext &ctx);

// The print service the document container is given: the spooler's queues,
// each call made off the GUI thread while `pump` keeps the window going and
// bounded by `limit`, and `confirm` for the question between the two sides.
class SpoolerPrintService : public PrintService {
public:
  SpoolerPrintService(std::shared_ptr<PrintSpooler> spooler, EventPump &pump,
                      std::function<bool(const std::string &prompt)> confirm,
                      std::chrono::milliseconds limit = kPrinterAnswerLimit)
      : m_spooler(std::move(spooler)), m_pump(pump), m_confirm(std::move(confirm)), m_limit(limit) {}
  void checkPrinter(const std::string &printer) override;
  void printOut(const std::string &printer, const PrintOutRequest &request,
                const PrintableDocument &document) override;

private:
  // Runs one spooler call for `printer` off the GUI thread.
  template <class T>
  T bounded(const std::string &printer, std::function<T(PrintSpooler &, const StopFlag &)> call);

  std::shared_ptr<PrintSpooler> m_spooler;
  EventPump &m_pump;
  std::function<bool(const std::string &)> m_confirm;
  std::chrono::milliseconds m_limit;
};

}  // namespace quorvel
