// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/cups_spooler.h"

#include <cups/cups.h>
#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <thread>

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
  X(cupsCreateDestJob) X(cupsDoRequest) X(cupsEncryption) X(cupsEnumDests)      \
  X(cupsFinishDocument) X(cupsFreeDestInfo) X(cupsFreeDests) X(cupsFreeOptions) \
  X(cupsGetNamedDest) X(cupsGetOption) X(cupsLastError) X(cupsLastErrorString)  \
  X(cupsServer) X(cupsSetPasswordCB2) X(cupsSetUser) X(cupsStartDocument)       \
  X(cupsUser) X(cupsWriteRequestData) X(httpAssembleURIf) X(httpClose)          \
  X(httpConnect2) X(httpSeparateURI) X(httpSetTimeout) X(ippAddInteger)         \
  X(ippAddString) X(ippAddStrings) X(ippDelete) X(ippFindAttribute)             \
  X(ippGetCount) X(ippGetInteger) X(ippGetString) X(ippNewRequest) X(ippPort)
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
struct IppDelete {
  void operator()(ipp_t *i) const { cups().ippDelete(i); }
};
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

// How often a blocked call looks whether it should give up.
constexpr double kPollSeconds = 0.2;
// How long printers announced on the network may take to be found.
constexpr int kBrowseMs = 1000;
// How long a connection to the scheduler may take to be made.
constexpr int kConnectMs = 5000;
// How long taking a job back may take in all, whatever the scheduler does,
// and its connection of that.
constexpr auto kCancelLimit = std::chrono::seconds(3);
constexpr int kCancelConnectMs = 2000;

int untilStopped(http_t *, void *stop) { return !static_cast<const StopFlag *>(stop)->stopped(); }

struct Deadline {
  SteadyClock::time_point at;
};
int untilDeadline(http_t *, void *deadline) {
  return SteadyClock::now() < static_cast<Deadline *>(deadline)->at;
}

// Whose credentials a call to the scheduler needs: the print server's.
std::string serverKey() { return std::string("server ") + cups().cupsServer(); }

// The password a call may give, on the thread making it. libcups asks for
// one through a callback of each thread's own, whose default asks on the
// terminal and waits there; every call of ours puts this one in place.
class Login {
public:
  explicit Login(const CredentialStore &known) : m_known(known), m_server(serverKey()) {
    cups().cupsSetPasswordCB2(&Login::password, this);
  }
  ~Login() {
    // Still ours, so that nothing later on this thread asks on the terminal.
    cups().cupsSetPasswordCB2(&Login::password, nullptr);
    cups().cupsSetUser(nullptr);
  }
  Login(const Login &) = delete;
  Login &operator=(const Login &) = delete;

  // After a request that failed: CredentialsNeeded when it was for want of them.
  void check(ipp_status_t status) const {
    if (needsCredentials(status)) throw CredentialsNeeded(m_server, cups().cupsUser(), m_refused);
  }

private:
  // libcups asks again only once the password it was given has been refused
  // (twice): then the user is to be asked, not the same one given again.
  static const char *password(const char *, http_t *, const char *, const char *, void *data) {
    auto *self = static_cast<Login *>(data);
    if (!self) return nullptr;
    if (self->m_given) {
      self->m_refused = true;
      return nullptr;
    }
    const Credentials *c = self->m_known.find(self->m_server);
    if (!c) return nullptr;
    self->m_given = true;
    // Read by libcups right after this returns, with the password.
    cups().cupsSetUser(c->user.c_str());
    return c->password.text().c_str();
  }

  const CredentialStore &m_known;
  std::string m_server;
  bool m_given = false;
  bool m_refused = false;
};

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

// The scheduler's refusal in words, ours where there are some.
std::string refusal() { return spoolerRefusal(cups().cupsLastError(), lastError()); }

bool failed(ipp_status_t status) { return status > IPP_STATUS_OK_EVENTS_COMPLETE; }

std::string printerText(const std::string &queue, const char *what) {
  return "Принтер " + quotedPrinter(queue) + " " + what;
}

[[noreturn]] void schedulerDown() { throw OleServerError("Служба печати CUPS недоступна: " + lastError()); }
[[noreturn]] void gaveUp(const std::string &queue) { throw OleServerError(printerNotAnswering(queue)); }
[[noreturn]] void notFound(const std::string &queue) {
  throw OleServerError(printerText(queue, "не найден в системе печати"));
}

Http connectOrFail(const StopFlag &stop) {
  Http http = connect(kConnectMs, &stop);
  if (!http) schedulerDown();
  return http;
}

std::string printerUri(const std::string &queue) {
  char uri[1024];
  cups().httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", cups().ippPort(),
                          "/printers/%s", queue.c_str());
  return uri;
}

// A request about `queue` (and `job`, when given) as this user.
Ipp request(ipp_op_t op, const std::string &queue, int job = 0) {
  Ipp req(cups().ippNewRequest(op));
  cups().ippAddString(req.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(queue).c_str());
  if (job > 0) cups().ippAddInteger(req.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
  cups().ippAddString(req.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                      cups().cupsUser());
  return req;
}

template <std::size_t N>
void requestAttributes(const Ipp &req, const char *const (&names)[N]) {
  cups().ippAddStrings(req.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", N, nullptr, names);
}

// Sends `req`; the response, or nothing when the request failed.
Ipp send(http_t *http, Ipp req) { return Ipp(cups().cupsDoRequest(http, req.release(), "/")); }

std::vector<std::string> strings(ipp_t *response, const char *name) {
  std::vector<std::string> values;
  if (ipp_attribute_t *a = cups().ippFindAttribute(response, name, IPP_TAG_ZERO))
    for (int i = 0; i < cups().ippGetCount(a); ++i)
      if (const char *v = cups().ippGetString(a, i, nullptr)) values.emplace_back(v);
  return values;
}

std::string string(ipp_t *response, const char *name) {
  std::vector<std::string> values = strings(response, name);
  return values.empty() ? std::string() : values.front();
}

int integer(ipp_t *response, const char *name, int otherwise) {
  ipp_attribute_t *a = cups().ippFindAttribute(response, name, IPP_TAG_ZERO);
  return a ? cups().ippGetInteger(a, 0) : otherwise;
}

// Whose credentials a queue's jobs carry: the share it prints to (one
// password for all of a server's printers), or else the queue itself.
std::string shareKey(const std::string &queue, const std::string &deviceUri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (!deviceUri.empty() &&
      cups().httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri.c_str(), scheme, sizeof scheme, user, sizeof user,
                             host, sizeof host, &port, resource, sizeof resource) >= HTTP_URI_STATUS_OK &&
      *host)
    return std::string("share ") + scheme + "://" + host;
  return "queue " + queue;
}

// How often a queue CUPS is making for a printer on the network is looked
// at until it is ready; libcups, left to make it, looks every second.
constexpr auto kQueueReadyPoll = std::chrono::milliseconds(100);

// Makes the queue for a printer found on the network that CUPS has none for
// yet (a driverless printer used for the first time), as CUPS's own clients
// do when they first print to it, and waits until the scheduler has set it
// up from what the printer says of itself.
void makeLocalQueue(http_t *http, const cups_dest_t &dest, const std::string &deviceUri, const Login &login,
                    const StopFlag &stop) {
  const std::string queue = dest.name;
  Ipp req(cups().ippNewRequest(IPP_OP_CUPS_CREATE_LOCAL_PRINTER));
  cups().ippAddString(req.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  cups().ippAddString(req.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                      cups().cupsUser());
  cups().ippAddString(req.get(), IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, deviceUri.c_str());
  cups().ippAddString(req.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, queue.c_str());
  if (const char *info = cups().cupsGetOption("printer-info", dest.num_options, dest.options))
    cups().ippAddString(req.get(), IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, info);
  Ipp made = send(http, std::move(req));
  if (stop.stopped()) gaveUp(queue);
  login.check(cups().cupsLastError());
  const std::string uri = made ? string(made.get(), "printer-uri-supported") : std::string();
  if (cups().cupsLastError() == IPP_STATUS_ERROR_FORBIDDEN)
    throw OleServerError(printerText(queue, "не подключается: ") + refusal());
  // A printer the scheduler cannot reach: CUPS 2.4.10 (Debian 13) looks its
  // host up at once and refuses the queue when it cannot (2.4.2 tries later,
  // and the queue never gets ready).
  if (failed(cups().cupsLastError()) || uri.empty()) gaveUp(queue);
  // Stopped while the scheduler asks the printer about itself.
  for (int state = integer(made.get(), "printer-state", 0); state == IPP_PSTATE_STOPPED;) {
    std::this_thread::sleep_for(kQueueReadyPoll);
    if (stop.stopped()) gaveUp(queue);
    Ipp ask(cups().ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES));
    cups().ippAddString(ask.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    cups().ippAddString(ask.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                        cups().cupsUser());
    static const char *const kState[] = {"printer-state"};
    requestAttributes(ask, kState);
    const Ipp answer = send(http, std::move(ask));
    if (stop.stopped()) gaveUp(queue);
    if (!answer || failed(cups().cupsLastError())) schedulerDown();
    state = integer(answer.get(), "printer-state", 0);
  }
}

// Cancels `job` on a connection of its own: the one that created it may be
// in the middle of a request. Bounded, whatever the scheduler does.
void cancelOnItsOwn(const std::string &queue, int job) {
  Deadline deadline{SteadyClock::now() + kCancelLimit};
  Http http = connect(kCancelConnectMs, nullptr);
  if (!http) return;
  cups().httpSetTimeout(http.get(), kPollSeconds, untilDeadline, &deadline);
  cups().cupsCancelJob2(http.get(), queue.c_str(), job, 0);
}

}  // namespace

std::vector<std::string> CupsSpooler::listQueues(int timeoutMs) {
  const CredentialStore none;
  const Login login(none);
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

QueueInfo CupsSpooler::checkQueue(const std::string &queue, const CredentialStore &known, const StopFlag &stop) {
  const Login login(known);
  Http http = connectOrFail(stop);
  Dest dest(cups().cupsGetNamedDest(http.get(), queue.c_str(), nullptr));
  if (stop.stopped()) gaveUp(queue);
  if (!dest) {
    login.check(cups().cupsLastError());
    if (failed(cups().cupsLastError()) && cups().cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) schedulerDown();
    notFound(queue);
  }
  // A paused queue would hold the job without a word; say so instead.
  auto option = [&dest](const char *name) {
    const char *value = cups().cupsGetOption(name, dest->num_options, dest->options);
    return std::string_view(value ? value : "");
  };
  // Found on the network, no queue yet: made now, more quickly than libcups
  // would make it for the job.
  if (option("printer-uri-supported").empty() && !option("device-uri").empty()) {
    makeLocalQueue(http.get(), *dest, std::string(option("device-uri")), login, stop);
    return QueueInfo{};
  }
  if (option("printer-state") == "5") throw OleServerError(printerText(queue, "остановлен"));
  if (option("printer-is-accepting-jobs") == "false")
    throw OleServerError(printerText(queue, "не принимает задания"));
  QueueInfo info;
  const std::string_view required = option("auth-info-required");
  for (std::size_t at = 0; at < required.size();) {
    const std::size_t comma = std::min(required.find(',', at), required.size());
    if (const std::string_view word = required.substr(at, comma - at); !word.empty() && word != "none")
      info.authInfoRequired.emplace_back(word);
    at = comma + 1;
  }
  return info;
}

int CupsSpooler::submitPdf(const std::string &queue, const std::string &title, const std::vector<std::uint8_t> &pdf,
                           const JobSettings &settings, const CredentialStore &known, const StopFlag &stop) {
  const Login login(known);
  Http http = connectOrFail(stop);
  Dest dest(cups().cupsGetNamedDest(http.get(), queue.c_str(), nullptr));
  if (stop.stopped()) gaveUp(queue);
  if (!dest) {
    login.check(cups().cupsLastError());
    notFound(queue);
  }
  // For a driverless printer used the first time, CUPS creates its queue
  // here, asking the printer itself: one that does not answer fails here.
  DestInfo info(cups().cupsCopyDestInfo(http.get(), dest.get()));
  if (!info) login.check(cups().cupsLastError());
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
    cancelOnItsOwn(queue, job);
    gaveUp(queue);
  }
  if (failed(created) || job <= 0) {
    if (stop.stopped()) gaveUp(queue);
    login.check(created);
    throw OleServerError(printerText(queue, "не принял задание: ") + refusal());
  }

  // Nothing half-sent stays in the queue.
  auto fail = [&]() -> int {
    const std::string why = refusal();
    cancelOnItsOwn(queue, job);
    if (stop.stopped()) gaveUp(queue);
    throw OleServerError("Не удалось отправить задание на принтер " + quotedPrinter(queue) + ": " + why);
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

JobStatus CupsSpooler::jobStatus(const std::string &queue, int job, const CredentialStore &known,
                                 const StopFlag &stop) {
  const Login login(known);
  Http http = connectOrFail(stop);
  JobStatus s;

  Ipp req = request(IPP_OP_GET_JOB_ATTRIBUTES, queue, job);
  static const char *const kJob[] = {"job-state",
                                     "job-state-reasons",
                                     "job-impressions-completed",
                                     "job-media-sheets-completed",
                                     "job-printer-state-message",
                                     "job-printer-state-reasons",
                                     "job-originating-user-name"};
  requestAttributes(req, kJob);
  const Ipp jobAttrs = send(http.get(), std::move(req));
  if (stop.stopped()) gaveUp(queue);
  if (cups().cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
    s.gone = true;
    return s;
  }
  login.check(cups().cupsLastError());
  if (!jobAttrs || failed(cups().cupsLastError())) schedulerDown();
  s.state = static_cast<JobState>(integer(jobAttrs.get(), "job-state", 0));
  s.jobReasons = strings(jobAttrs.get(), "job-state-reasons");
  s.impressionsCompleted = integer(jobAttrs.get(), "job-impressions-completed", -1);
  s.sheetsCompleted = integer(jobAttrs.get(), "job-media-sheets-completed", -1);
  s.printerReasons = strings(jobAttrs.get(), "job-printer-state-reasons");
  s.printerMessage = string(jobAttrs.get(), "job-printer-state-message");
  s.owner = string(jobAttrs.get(), "job-originating-user-name");

  // The queue as it is now; what the job last saw of it otherwise.
  Ipp preq = request(IPP_OP_GET_PRINTER_ATTRIBUTES, queue);
  static const char *const kPrinter[] = {"printer-state", "printer-state-reasons", "printer-state-message",
                                         "auth-info-required", "device-uri"};
  requestAttributes(preq, kPrinter);
  const Ipp printer = send(http.get(), std::move(preq));
  if (stop.stopped()) gaveUp(queue);
  if (printer && !failed(cups().cupsLastError())) {
    s.printerState = integer(printer.get(), "printer-state", 0);
    s.printerReasons = strings(printer.get(), "printer-state-reasons");
    s.printerMessage = string(printer.get(), "printer-state-message");
    for (std::string &what : strings(printer.get(), "auth-info-required"))
      if (what != "none") s.authInfoRequired.push_back(std::move(what));
    s.credentialServer = shareKey(queue, string(printer.get(), "device-uri"));
  } else {
    s.credentialServer = shareKey(queue, "");
  }
  return s;
}

void CupsSpooler::cancelJob(const std::string &queue, int job, const CredentialStore &known) {
  const Login login(known);
  cancelOnItsOwn(queue, job);
}

void CupsSpooler::authenticateJob(const std::string &queue, int job, const std::vector<Secret> &authInfo,
                                  const CredentialStore &known, const StopFlag &stop) {
  const Login login(known);
  Http http = connectOrFail(stop);
  Ipp req = request(IPP_OP_CUPS_AUTHENTICATE_JOB, queue, job);
  std::vector<const char *> values;
  values.reserve(authInfo.size());
  for (const Secret &v : authInfo) values.push_back(v.text().c_str());
  cups().ippAddStrings(req.get(), IPP_TAG_JOB, IPP_TAG_TEXT, "auth-info", static_cast<int>(values.size()), nullptr,
                       values.data());
  const Ipp response = send(http.get(), std::move(req));
  if (stop.stopped()) gaveUp(queue);
  login.check(cups().cupsLastError());
  if (failed(cups().cupsLastError()))
    throw OleServerError("Не удалось отправить имя пользователя и пароль на принтер " + quotedPrinter(queue) +
                         ": " + refusal());
}

}  // namespace quorvel
