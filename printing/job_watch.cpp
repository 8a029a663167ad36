// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/job_watch.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quorvel {

namespace {

// IPP statuses (RFC 8011, and CUPS's own for a password that was not given).
constexpr int kForbidden = 0x0401;
constexpr int kNotAuthenticated = 0x0402;
constexpr int kNotAuthorized = 0x0403;
constexpr int kNotPossible = 0x0404;
constexpr int kNotFound = 0x0406;
constexpr int kFormatNotSupported = 0x040A;
constexpr int kNotAcceptingJobs = 0x0506;
constexpr int kAuthenticationCanceled = 0x1000;

// A reason keyword without its severity. The severity says nothing of what
// is wrong: a driverless printer out of paper comes through CUPS as
// "media-empty-warning", a low one is "media-low".
std::string_view keyword(std::string_view reason, bool *error = nullptr) {
  auto cut = [&](std::string_view suffix) {
    if (!reason.ends_with(suffix)) return false;
    reason.remove_suffix(suffix.size());
    return true;
  };
  const bool isError = cut("-error");
  if (!isError && !cut("-warning")) cut("-report");
  if (error) *error = isError;
  return reason;
}

bool has(const std::vector<std::string> &reasons, std::string_view word) {
  return std::any_of(reasons.begin(), reasons.end(), [&](const std::string &r) { return keyword(r) == word; });
}

struct Problem {
  std::array<std::string_view, 2> reasons;
  const char *before = "";  // the text, around the printer's name
  const char *after = "";
};
// The first that applies is told; each names the printer.
constexpr std::array<Problem, 5> kProblems{{
    {{"media-jam", ""}, "В принтере ", " замялась бумага."},
    {{"media-empty", "media-needed"}, "В принтере ", " нет бумаги."},
    {{"door-open", "cover-open"}, "У принтера ", " открыта крышка."},
    {{"toner-empty", "marker-supply-empty"}, "В принтере ", " закончились тонер или чернила."},
    {{"offline", ""}, "Принтер ", " не в сети."},
}};

std::string onPrinter(const char *before, const std::string &printer, const char *after) {
  return before + quotedPrinter(printer) + after;
}

}  // namespace

std::string quotedPrinter(const std::string &printer) { return "«" + printer + "»"; }

JobView JobWatch::see(const JobStatus &s, SteadyClock::time_point now) {
  JobView v;
  if (s.state == JobState::Completed) {
    v.phase = JobPhase::Completed;
    return v;
  }
  if (s.gone) {
    // Whatever became of it, it is not known to be printed.
    v.phase = JobPhase::EndedUnprinted;
    v.cause = "принтер " + quotedPrinter(m_printer) + " больше не знает этого задания";
    return v;
  }
  if (s.state == JobState::Canceled) {
    v.phase = JobPhase::EndedUnprinted;
    v.cause = "задание отменено";
    return v;
  }
  if (s.state == JobState::Aborted) {
    v.phase = JobPhase::EndedUnprinted;
    v.cause = "принтер " + quotedPrinter(m_printer) + " прервал задание";
    if (!s.printerMessage.empty()) v.cause += " (" + s.printerMessage + ")";
    return v;
  }
  // A queue asking only for Kerberos tickets cannot be helped by a password.
  const bool onlyTickets = !s.authInfoRequired.empty() &&
                           std::all_of(s.authInfoRequired.begin(), s.authInfoRequired.end(),
                                       [](const std::string &a) { return a == "negotiate"; });
  if (s.state == JobState::Held && has(s.jobReasons, "cups-held-for-authentication") && !onlyTickets) {
    v.phase = JobPhase::NeedsCredentials;
    return v;
  }

  if (has(s.printerReasons, "connecting-to-device")) {
    if (!m_connectingSince) m_connectingSince = now;
  } else {
    m_connectingSince.reset();
  }
  for (const Problem &p : kProblems) {
    if (std::any_of(p.reasons.begin(), p.reasons.end(),
                    [&](std::string_view r) { return !r.empty() && has(s.printerReasons, r); })) {
      v.problem = onPrinter(p.before, m_printer, p.after);
      break;
    }
  }
  if (v.problem.empty() && m_connectingSince && now - *m_connectingSince > kConnectingLimit)
    v.problem = onPrinter("Принтер ", m_printer, " не в сети.");
  if (v.problem.empty()) {
    const bool anError = std::any_of(s.printerReasons.begin(), s.printerReasons.end(), [](const std::string &r) {
      bool error = false;
      keyword(r, &error);
      return error;
    });
    if (anError) v.problem = onPrinter("Принтер ", m_printer, " сообщает об ошибке.");
  }
  if (v.problem.empty() && (s.printerState == kPrinterStopped || s.state == JobState::Stopped ||
                            has(s.printerReasons, "paused") || has(s.jobReasons, "printer-stopped")))
    v.problem = onPrinter("Принтер ", m_printer, " остановлен.");
  if (v.problem.empty() && s.state == JobState::Held)
    v.problem = onPrinter("Задание ждёт на принтере ", m_printer, ".");
  if (!v.problem.empty() && !s.printerMessage.empty()) v.problem += "\n" + s.printerMessage;

  // Spoolers that count nothing report nought throughout: said only once
  // something has come out.
  const std::string of = " из " + std::to_string(m_pages) + ".";
  if (s.impressionsCompleted > 0)
    v.progress = "Напечатано страниц: " + std::to_string(std::min(s.impressionsCompleted, m_pages)) + of;
  else if (s.sheetsCompleted > 0)
    v.progress = "Напечатано листов: " + std::to_string(std::min(s.sheetsCompleted, m_pages)) + of;
  return v;
}

JobView JobWatch::notAnswering() const {
  JobView v;
  v.problem = onPrinter("Принтер ", m_printer, " не отвечает.");
  return v;
}

bool needsCredentials(int ippStatus) {
  return ippStatus == kNotAuthenticated || ippStatus == kAuthenticationCanceled;
}

std::string spoolerRefusal(int ippStatus, const std::string &spoolerText) {
  switch (ippStatus) {
    case kForbidden: return "печать на нём вам запрещена";
    case kNotAuthenticated:
    case kAuthenticationCanceled: return "нужны имя пользователя и пароль";
    case kNotAuthorized: return "у вас нет на это прав";
    case kNotPossible: return "он не может выполнить это задание";
    case kNotFound: return "его нет в системе печати";
    case kFormatNotSupported: return "он не принимает документы в формате PDF";
    case kNotAcceptingJobs: return "он сейчас не принимает задания";
    default: return spoolerText.empty() ? "неизвестная ошибка" : spoolerText;
  }
}

}  // namespace quorvel
