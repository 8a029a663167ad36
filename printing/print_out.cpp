// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/print_out.h"

#include "automation/automation.h"
#include "printing/page_selection.h"

namespace quorvel {

std::string printerNotAnswering(const std::string &printer) {
  return "Принтер «" + printer + "» не отвечает";
}

std::vector<int> carryOutPrintOut(const PrintOutRequest &request, const PrintOutContext &ctx) {
  if (ctx.printer.empty()) throw OleServerError("Принтер не выбран");
  const std::vector<int> pages = selectPages(request.pages, request.pageType, ctx.pageCount);

  // A queue that prints on both sides by default would put the fronts on
  // both sides of a sheet, and the turned stack would no longer match.
  const JobSettings settings{request.copies,
                             request.manualDuplex ? JobSides::OneSided : JobSides::QueueDefault};
  std::vector<int> jobs;
  auto send = [&](const std::vector<int> &side) {
    jobs.push_back(ctx.submit(ctx.render(formatPageRange(side)), settings));
  };
  if (!request.manualDuplex || pages.size() == 1) {
    send(pages);
    return jobs;
  }
  const Sides sides = splitSides(pages);
  send(sides.fronts);
  if (ctx.confirm(kBackSidesPrompt)) send(sides.backs);
  return jobs;
}

template <class T>
T SpoolerPrintService::bounded(const std::string &printer,
                               std::function<T(PrintSpooler &, const StopFlag &)> call) {
  // The work holds its own share of the spooler: given up on, it may still
  // be running when this service is gone.
  try {
    return runOffThread<T>(
        m_pump, m_limit,
        [spooler = m_spooler, call = std::move(call)](const StopFlag &stop) { return call(*spooler, stop); });
  } catch (const WaitTimedOut &) {
    throw OleServerError(printerNotAnswering(printer));
  } catch (const WaitAbandoned &) {
    throw OleServerError(kPrintingInterrupted);
  }
}

void SpoolerPrintService::checkPrinter(const std::string &printer) {
  bounded<bool>(printer, [printer](PrintSpooler &s, const StopFlag &stop) {
    s.checkQueue(printer, stop);
    return true;
  });
}

void SpoolerPrintService::printOut(const std::string &printer, const PrintOutRequest &request,
                                   const PrintableDocument &document) {
  PrintOutContext ctx;
  ctx.printer = printer;
  ctx.title = document.title;
  ctx.pageCount = document.pageCount;
  ctx.render = document.render;
  ctx.submit = [this, printer, title = document.title](std::vector<std::uint8_t> pdf,
                                                       const JobSettings &settings) {
    return bounded<int>(
        printer, [printer, title, settings, pdf = std::move(pdf)](PrintSpooler &s, const StopFlag &stop) {
          return s.submitPdf(printer, title, pdf, settings, stop);
        });
  };
  ctx.confirm = m_confirm;
  carryOutPrintOut(request, ctx);
}

}  // namespace quorvel
