// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/cups_spooler.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <memory>
#include <string_view>

#include "automation/automation.h"
#include "printing/printer_list.h"

namespace quorvel {

namespace {

// The CUPS client library, loaded the first time it is needed, by the thread
// that reads the printer list: with its TLS, Kerberos and DNS-SD libraries
// it would otherwise be loaded before the window can be shown.
// clang-format off
#define QUORVEL_CUPS_FUNCTIONS(X)                                               \
  X(cupsAddOption) X(cupsCancelJob2) X(cupsCopyDest) X(cupsCopyDestInfo)        \
  X(cupsCreateDestJob) X(cupsEncryption) X(cupsEnumDests) X(cupsFinishDocument) \
  X(cupsFreeDestInfo) X(cupsFreeDests) X(cupsFreeOptions) X(cupsGetNamedDest)   \
  X(cupsGetOption) X(cupsLastError) X(cupsLastErrorString) X(cupsServer)        \
  X(cupsStartDocument) X(cupsWriteRequestData) X(httpClose) X(httpConnect2)     \
  X(httpSetTimeout) X(ippPort)
// clang-format on

// One list of the functions used, so that each member is also looked up.
// (A declarator and a member name cannot be put in parentheses.)
struct CupsLibrary {
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define QUORVEL_CUPS_MEMBER(name) decltype(&::name) name = nullptr;
  QUORVEL_CUPS_FUNCTIONS(QUORVEL_CUPS_MEMBER)
#undef QUORVEL_CUPS_MEMBER
  std::string failure;  // empty once every function is there
};

CupsLibrary loadCups() {
  CupsLibrary lib;
  // Never unloaded: the library keeps per-thread state until the process ends.
  void *handle = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *why = dlerror();
    lib.failure = why ? why : "libcups.so.2";
    return lib;
  }
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define QUORVEL_CUPS_RESOLVE(name)                                      \
  lib.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  if (!lib.name && lib.failure.empty()) lib.failure = "libcups.so.2: нет функции " #name;
  QUORVEL_CUPS_FUNCTIONS(QUORVEL_CUPS_RESOLVE)
#undef QUORVEL_CUPS_RESOLVE
  return lib;
}

// The library; a clear error when it cannot be loaded.
const CupsLibrary &cups() {
  static const CupsLibrary lib = loadCups();
  if (!lib.failure.empty()) throw OleServerError("Служба печати CUPS недоступна: " + lib.failure);
  return lib;
}

struct HttpCloser {
  void operator()(http_t *h) const { cups().httpClose(h); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;
struct DestFree {
  void operator()(cups_dest_t *d) const { cups().cupsFreeDests(1, d); }
};
using Dest = std::unique_ptr<cups_dest_t, DestFree>;
struct InfoFree {
  void operator()(cups_dinfo_t *i) const { cups().cupsFreeDestInfo(i); }
};
using DestInfo = std::unique_ptr<cups_dinfo_t, InfoFree>;

// How often a blocked call looks whether it should give up.
constexpr double kPollSeconds = 0.2;
// How long printers announced on the network may take to be found.
constexpr int kBrowseMs = 1000;

int untilStopped(http_t *, void *stop) { return !static_cast<const StopFlag *>(stop)->stopped(); }

struct Deadline {
  SteadyClock::time_point at;
};
int untilDeadline(http_t *, void *deadline) {
  return SteadyClock::now() < static_cast<Deadline *>(deadline)->at;
}

// A connection to the scheduler with a bounded connect. Its later waits end
// once `stop` is set.
Http connect(int timeoutMs, const StopFlag *stop) {
  Http http(cups().httpConnect2(cups().cupsServer(), cups().ippPort(), nullptr, AF_UNSPEC,
                                cups().cupsEncryption(), 1, timeoutMs, nullptr));
  if (http && stop)
    cups().httpSetTimeout(http.get(), kPollSeconds, untilStopped, const_cast<StopFlag *>(stop));
  return http;
}

std::string lastError() {
  const char *text = cups().cupsLastErrorString();
  return text && *text ? text : "неизвестная ошибка";
}

[[noreturn]] void schedulerDown() { throw OleServerError("Служба печати CUPS недоступна: " + lastError()); }
[[noreturn]] void gaveUp(const std::string &queue) { throw OleServerError(printerNotAnswering(queue)); }

// Cancels `job` on a connection of its own: the one that created it may be
// in the middle of a request. Bounded, whatever the scheduler does.
void cancelJob(const std::string &queue, int job) {
  Deadline deadline{SteadyClock::now() + std::chrono::seconds(3)};
  Http http = connect(2000, nullptr);
  if (!http) return;
  cups().httpSetTimeout(http.get(), kPollSeconds, untilDeadline, &deadline);
  cups().cupsCancelJob2(http.get(), queue.c_str(), job, 0);
}

}  // namespace

std::vector<std::string> CupsSpooler::listQueues(int timeoutMs) {
  std::vector<std::string> names;
  // A scheduler that is down gives an empty list, driverless printers or not.
  if (!connect(timeoutMs, nullptr)) return names;
  // Driverless printers are found over DNS-SD while the list is read; CUPS's
  // own cupsGetDests2 gives them a quarter of a second, which a busy machine
  // misses. Collected the way it does: sorted by name, each name once.
  struct Found {
    int count = 0;
    cups_dest_t *dests = nullptr;
  } found;
  auto collect = [](void *data, unsigned flags, cups_dest_t *dest) -> int {
    auto *f = static_cast<Found *>(data);
    if (!(flags & (CUPS_DEST_FLAGS_REMOVED | CUPS_DEST_FLAGS_ERROR)))
      f->count = cups().cupsCopyDest(dest, f->count, &f->dests);
    return 1;
  };
  cups().cupsEnumDests(CUPS_DEST_FLAGS_NONE, kBrowseMs, nullptr, 0, 0, collect, &found);
  for (int i = 0; i < found.count; ++i)
    if (!found.dests[i].instance) names.emplace_back(found.dests[i].name);
  cups().cupsFreeDests(found.count, found.dests);
  return distinctPrinters(names);
}

void CupsSpooler::checkQueue(const std::string &queue, const StopFlag &stop) {
  Http http = connect(5000, &stop);
  if (!http) schedulerDown();
  Dest dest(cups().cupsGetNamedDest(http.get(), queue.c_str(), nullptr));
  if (stop.stopped()) gaveUp(queue);
  if (!dest) {
    if (cups().cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
        cups().cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
      schedulerDown();
    throw OleServerError("Принтер «" + queue + "» не найден в системе печати");
  }
  // A paused queue would hold the job without a word; say so instead.
  const char *state = cups().cupsGetOption("printer-state", dest->num_options, dest->options);
  const char *accepting = cups().cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
  if (state && std::string_view(state) == "5") throw OleServerError("Принтер «" + queue + "» остановлен");
  if (accepting && std::string_view(accepting) == "false")
    throw OleServerError("Принтер «" + queue + "» не принимает задания");
}

int CupsSpooler::submitPdf(const std::string &queue, const std::string &title,
                           const std::vector<std::uint8_t> &pdf, const JobSettings &settings,
                           const StopFlag &stop) {
  Http http = connect(5000, &stop);
  if (!http) schedulerDown();
  Dest dest(cups().cupsGetNamedDest(http.get(), queue.c_str(), nullptr));
  if (stop.stopped()) gaveUp(queue);
  if (!dest) throw OleServerError("Принтер «" + queue + "» не найден в системе печати");
  // For a driverless printer used the first time, CUPS creates its queue
  // here, asking the printer itself: one that does not answer fails here.
  DestInfo info(cups().cupsCopyDestInfo(http.get(), dest.get()));
  if (stop.stopped() || !info) gaveUp(queue);

  // From here on a job may exist: the program waits for it to be sent or
  // withdrawn before it ends.
  const ExitHold hold;
  // Only what the program itself decides; the queue's and the user's other
  // defaults apply as they are.
  cups_option_t *options = nullptr;
  int count = cups().cupsAddOption(CUPS_COPIES, std::to_string(settings.copies).c_str(), 0, &options);
  if (settings.sides == JobSides::OneSided)
    count = cups().cupsAddOption(CUPS_SIDES, CUPS_SIDES_ONE_SIDED, count, &options);
  int job = 0;
  const ipp_status_t created =
      cups().cupsCreateDestJob(http.get(), dest.get(), info.get(), &job, title.c_str(), count, options);
  cups().cupsFreeOptions(count, options);
  if (job > 0 && stop.stopped()) {
    cancelJob(queue, job);
    gaveUp(queue);
  }
  if (created > IPP_STATUS_OK_EVENTS_COMPLETE || job <= 0) {
    if (stop.stopped()) gaveUp(queue);
    throw OleServerError("Принтер «" + queue + "» не принял задание: " + lastError());
  }

  // Nothing half-sent stays in the queue.
  auto fail = [&]() -> int {
    const std::string why = lastError();
    cancelJob(queue, job);
    if (stop.stopped()) gaveUp(queue);
    throw OleServerError("Не удалось отправить задание на принтер «" + queue + "»: " + why);
  };
  if (cups().cupsStartDocument(http.get(), queue.c_str(), job, title.c_str(), CUPS_FORMAT_PDF, 1) !=
      HTTP_STATUS_CONTINUE)
    return fail();
  if (cups().cupsWriteRequestData(http.get(), reinterpret_cast<const char *>(pdf.data()), pdf.size()) !=
      HTTP_STATUS_CONTINUE)
    return fail();
  if (cups().cupsFinishDocument(http.get(), queue.c_str()) != IPP_STATUS_OK) return fail();
  return job;
}

}  // namespace quorvel
