#include "printing/cups_spooler.h"

#include <cups/cups.h>

#include <memory>
#include <string_view>

#include "automation/automation.h"

namespace quorvel {

namespace {

struct HttpCloser {
  void operator()(http_t *h) const { httpClose(h); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

// A connection with a bounded wait, so that an unreachable scheduler cannot
// freeze the window.
Http connect(int timeoutMs) {
  return Http(
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, timeoutMs, nullptr));
}

std::string lastError() {
  const char *text = cupsLastErrorString();
  return text && *text ? text : "неизвестная ошибка";
}

[[noreturn]] void schedulerDown() { throw OleServerError("Служба печати CUPS недоступна: " + lastError()); }

}  // namespace

std::vector<std::string> CupsSpooler::listQueues(int timeoutMs) {
  std::vector<std::string> names;
  Http http = connect(timeoutMs);
  if (!http) return names;
  cups_dest_t *dests = nullptr;
  const int count = cupsGetDests2(http.get(), &dests);
  for (int i = 0; i < count; ++i)
    if (!dests[i].instance) names.emplace_back(dests[i].name);
  cupsFreeDests(count, dests);
  return names;
}

void CupsSpooler::checkQueue(const std::string &queue) {
  Http http = connect(5000);
  if (!http) schedulerDown();
  cups_dest_t *dest = cupsGetNamedDest(http.get(), queue.c_str(), nullptr);
  if (!dest) {
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
      schedulerDown();
    throw OleServerError("Принтер «" + queue + "» не найден в системе печати");
  }
  // A paused queue would hold the job without a word; say so instead.
  const char *state = cupsGetOption("printer-state", dest->num_options, dest->options);
  const char *accepting = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
  const bool stopped = state && std::string_view(state) == "5";
  const bool refusing = accepting && std::string_view(accepting) == "false";
  cupsFreeDests(1, dest);
  if (stopped) throw OleServerError("Принтер «" + queue + "» остановлен");
  if (refusing) throw OleServerError("Принтер «" + queue + "» не принимает задания");
}

int CupsSpooler::submitPdf(const std::string &queue, const std::string &title,
                           const std::vector<std::uint8_t> &pdf, int copies) {
  Http http = connect(5000);
  if (!http) schedulerDown();
  cups_option_t *options = nullptr;
  int count = 0;
  if (copies > 1) count = cupsAddOption("copies", std::to_string(copies).c_str(), count, &options);
  const int job = cupsCreateJob(http.get(), queue.c_str(), title.c_str(), count, options);
  cupsFreeOptions(count, options);
  if (job <= 0) throw OleServerError("Принтер «" + queue + "» не принял задание: " + lastError());

  auto fail = [&]() -> int {
    const std::string why = lastError();
    cupsCancelJob2(http.get(), queue.c_str(), job, 0);
    throw OleServerError("Не удалось отправить задание на принтер «" + queue + "»: " + why);
  };
  if (cupsStartDocument(http.get(), queue.c_str(), job, title.c_str(), CUPS_FORMAT_PDF, 1) !=
      HTTP_STATUS_CONTINUE)
    return fail();
  if (cupsWriteRequestData(http.get(), reinterpret_cast<const char *>(pdf.data()), pdf.size()) !=
      HTTP_STATUS_CONTINUE)
    return fail();
  if (cupsFinishDocument(http.get(), queue.c_str()) != IPP_STATUS_OK) return fail();
  return job;
}

}  // namespace quorvel
