// SPDX-License-Identifier: GPL-3.0-or-later
// What a job of ours and its printer are doing once the spooler has taken
// the job, in the words the user reads: printed, waiting and why, asking for
// a user name and password, or ended without printing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "printing/off_thread.h"

namespace quorvel {

// IPP's job states.
enum class JobState {
  Unknown = 0,
  Pending = 3,
  Held = 4,
  Processing = 5,
  Stopped = 6,
  Canceled = 7,
  Aborted = 8,
  Completed = 9,
};
// IPP's printer state for a queue that has been stopped.
inline constexpr int kPrinterStopped = 5;

// One look at the job and the queue it went to, as the spooler reports them.
struct JobStatus {
  JobState state = JobState::Unknown;
  bool gone = false;  // the spooler no longer knows the job
  std::vector<std::string> jobReasons;      // job-state-reasons
  std::vector<std::string> printerReasons;  // the printer's state reasons
  std::string printerMessage;               // the printer's own state message
  int printerState = 0;                     // 3 idle, 4 processing, 5 stopped; 0 unknown
  int impressionsCompleted = -1;            // sides printed; -1 when not reported
  int sheetsCompleted = -1;                 // sheets printed; -1 when not reported
  std::vector<std::string> authInfoRequired;  // what the queue asks for with each job
  std::string credentialServer;  // whose credentials those are (the share's server)
  std::string owner;             // the user name the job belongs to
};

enum class JobPhase {
  Waiting,           // not printed yet; `problem` says why, when there is a reason
  Completed,         // the spooler says it is printed
  NeedsCredentials,  // held until a user name and password are given
  EndedUnprinted,    // cancelled or aborted; `cause` says which
};

struct JobView {
  JobPhase phase = JobPhase::Waiting;
  std::string problem;   // a printer problem, in words, with the printer's message
  std::string progress;  // how far it has got, where the spooler tells
  std::string cause;     // why it ended without printing
};

// Follows one job: turns each look at it into what the user is told. It
// remembers how long the printer has been connecting, so that a printer
// that cannot be reached is named once that lasts too long.
class JobWatch {
public:
  JobWatch(std::string printer, int pages) : m_printer(std::move(printer)), m_pages(pages) {}
  JobView see(const JobStatus &status, SteadyClock::time_point now);
  // The spooler did not answer this time; it is asked again.
  JobView notAnswering() const;

private:
  std::string m_printer;
  int m_pages;
  std::optional<SteadyClock::time_point> m_connectingSince;
};

// How long a printer may be "connecting" before it is said to be offline.
inline constexpr std::chrono::seconds kConnectingLimit{30};

// "«NAME»", as every message names a printer.
std::string quotedPrinter(const std::string &printer);

// The spooler's refusal of a request, in Russian where there are words of
// ours for its IPP status; the spooler's own text otherwise.
std::string spoolerRefusal(int ippStatus, const std::string &spoolerText);
// IPP statuses that mean the request needs a user name and password.
bool needsCredentials(int ippStatus);

}  // namespace quorvel
