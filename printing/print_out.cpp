#include "printing/print_out.h"

#include "automation/automation.h"
#include "printing/page_selection.h"

namespace quorvel {

std::vector<int> carryOutPrintOut(const PrintOutRequest &request, const PrintOutContext &ctx) {
  if (ctx.printer.empty()) throw OleServerError("Принтер не выбран");
  const std::vector<int> pages = selectPages(request.pages, request.pageType, ctx.pageCount);

  std::vector<int> jobs;
  auto send = [&](const std::vector<int> &side) {
    jobs.push_back(
        ctx.spooler->submitPdf(ctx.printer, ctx.title, ctx.render(formatPageRange(side)), request.copies));
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

void SpoolerPrintService::printOut(const std::string &printer, const PrintOutRequest &request,
                                   const PrintableDocument &document) {
  PrintOutContext ctx;
  ctx.printer = printer;
  ctx.title = document.title;
  ctx.pageCount = document.pageCount;
  ctx.render = document.render;
  ctx.spooler = &m_spooler;
  ctx.confirm = m_confirm;
  carryOutPrintOut(request, ctx);
}

}  // namespace quorvel
