// Carrying a print-out request out: choose the pages, render them, hand the
// jobs to the spooler, and for manual two-sided printing ask between sides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "automation/print_service.h"
#include "automation/word_model.h"

namespace quorvel {

class PrintSpooler {
public:
  virtual ~PrintSpooler() = default;
  // Throws OleServerError naming the queue when it does not exist.
  virtual void checkQueue(const std::string &queue) = 0;
  // Returns the job id; throws OleServerError with the spooler's text.
  virtual int submitPdf(const std::string &queue, const std::string &title,
                        const std::vector<std::uint8_t> &pdf, int copies) = 0;
};

inline constexpr const char *kBackSidesPrompt =
    "Лицевые стороны напечатаны.\n\n"
    "Выньте напечатанные листы, переверните стопку чистой стороной к печати и вложите её "
    "в лоток подачи так, чтобы первым был подан лист с первой страницей.\n\n"
    "Нажмите «ОК», чтобы напечатать оборотные стороны, или «Отмена», чтобы закончить.";

struct PrintOutContext {
  std::string printer;  // the active printer; empty when none was set up
  std::string title;    // job title
  int pageCount = 0;
  std::function<std::vector<std::uint8_t>(const std::string &pageRange)> render;
  PrintSpooler *spooler = nullptr;
  std::function<bool(const std::string &prompt)> confirm;  // true for OK
};

// Returns the ids of the jobs sent.
std::vector<int> carryOutPrintOut(const PrintOutRequest &request, const PrintOutContext &ctx);

// The print service the document container is given: the spooler's queues,
// and `confirm` for the question between the two sides.
class SpoolerPrintService : public PrintService {
public:
  SpoolerPrintService(PrintSpooler &spooler, std::function<bool(const std::string &prompt)> confirm)
      : m_spooler(spooler), m_confirm(std::move(confirm)) {}
  void checkPrinter(const std::string &printer) override { m_spooler.checkQueue(printer); }
  void printOut(const std::string &printer, const PrintOutRequest &request,
                const PrintableDocument &document) override;

private:
  PrintSpooler &m_spooler;
  std::function<bool(const std::string &)> m_confirm;
};

}  // namespace quorvel
