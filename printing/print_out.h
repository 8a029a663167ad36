// SPDX-License-Identifier: GPL-3.0-or-later
// Carrying a print-out request out: choose the pages, render them, hand the
// jobs to the spooler, and for manual two-sided printing ask between sides.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/print_service.h"
#include "automation/word_model.h"
#include "printing/credentials.h"
#include "printing/job_watch.h"
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

// What the print system tells of a queue before a job goes to it.
struct QueueInfo {
  // What it asks for with each job ("username", "password", "domain"), as
  // a queue printing to a Windows share does; empty for most.
  std::vector<std::string> authInfoRequired;
};

// The print system. Every call may wait on a printer or a server, so it is
// made off the GUI thread; once `stop` is set it gives up as soon as it can
// and leaves no job behind. `known` are the credentials the user has given
// this run: a server that asks for a password gets them, and one that has
// none, or refuses them, ends the call with CredentialsNeeded.
class PrintSpooler {
public:
  virtual ~PrintSpooler() = default;
  // Throws OleServerError naming the queue when it does not exist or cannot
  // take jobs now.
  virtual QueueInfo checkQueue(const std::string &queue, const CredentialStore &known, const StopFlag &stop) = 0;
  // Returns the job id; throws OleServerError with the spooler's text.
  virtual int submitPdf(const std::string &queue, const std::string &title, const std::vector<std::uint8_t> &pdf,
                        const JobSettings &settings, const CredentialStore &known, const StopFlag &stop) = 0;
  // One look at a job of ours and its queue.
  virtual JobStatus jobStatus(const std::string &queue, int job, const CredentialStore &known,
                              const StopFlag &stop) = 0;
  // Takes the job out of the queue, held or not; bounded by itself, since it
  // is also what is left to do when nobody waits any more.
  virtual void cancelJob(const std::string &queue, int job, const CredentialStore &known) = 0;
  // Releases a job held for authentication with the values of its auth-info.
  virtual void authenticateJob(const std::string &queue, int job, const std::vector<Secret> &authInfo,
                               const CredentialStore &known, const StopFlag &stop) = 0;
};

// The boxes a print-out shows while it waits on the printer; the window
// provides them.
class PrintProgress {
public:
  virtual ~PrintProgress() = default;
  virtual void show(const std::string &progress, const std::string &problem) = 0;
  // True once the user has pressed "Отмена".
  virtual bool cancelled() const = 0;
};

class PrintDialogs {
public:
  virtual ~PrintDialogs() = default;
  // The question between the two sides: true for OK.
  virtual bool confirm(const std::string &prompt) = 0;
  // A modal box with `heading` and "Отмена", up until the object goes.
  virtual std::unique_ptr<PrintProgress> progress(const std::string &heading) = 0;
  // Asks for a user name and password; nothing when the user cancels.
  virtual std::optional<Credentials> askCredentials(const CredentialRequest &request) = 0;
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
std::string frontsPrintingHeading(const std::string &printer);
std::string printingHeading(const std::string &printer);

// How the print-out follows a job once the spooler has it.
enum class FollowFor {
  Paper,        // until it is printed (the fronts of two-sided printing by hand)
  Credentials,  // only where the queue asks for a password: until it is printed
};

struct PrintOutContext {
  std::string printer;  // the active printer; empty when none was set up
  std::string title;    // job title
  int pageCount = 0;
  std::function<std::vector<std::uint8_t>(const std::string &pageRange)> render;
  // Hands one side's PDF to the printer; returns the job id.
  std::function<int(std::vector<std::uint8_t> pdf, const JobSettings &settings)> submit;
  // Follows a job of `pages` pages; false when the user cancelled it. Throws
  // when it ends without printing.
  std::function<bool(int job, int pages, FollowFor what)> follow;
  std::function<bool(const std::string &prompt)> confirm;  // true for OK
};

// Returns the ids of the jobs sent.
std::vector<int> carryOutPrintOut(const PrintOutRequest &request, const PrintOutContext &ctx);

// The print service the document container is given: the spooler's queues,
// each call made off the GUI thread while `pump` keeps the window going and
// bounded by `limit`, and `dialogs` for what the user is told and asked.
class SpoolerPrintService : public PrintService {
public:
  SpoolerPrintService(std::shared_ptr<PrintSpooler> spooler, EventPump &pump, PrintDialogs &dialogs,
                      std::chrono::milliseconds limit = kPrinterAnswerLimit)
      : m_spooler(std::move(spooler)), m_pump(pump), m_dialogs(dialogs), m_limit(limit) {}
  void checkPrinter(const std::string &printer) override;
  void printOut(const std::string &printer, const PrintOutRequest &request,
                const PrintableDocument &document) override;

private:
  template <class T>
  using Call = std::function<T(PrintSpooler &, const CredentialStore &, const StopFlag &)>;
  // Runs one spooler call for `printer` off the GUI thread; `giveUp` ends
  // the wait early (WaitAbandoned).
  template <class T>
  T bounded(const std::string &printer, Call<T> call, const std::function<bool()> &giveUp = {});
  // The same, asking the user for credentials as long as the server wants
  // them; PrintOutCancelled when the user will not give them.
  template <class T>
  T authorised(const std::string &printer, const Call<T> &call, const std::function<bool()> &giveUp = {});
  bool follow(const std::string &printer, int job, int pages, FollowFor what);
  // Takes the job back, also while the window goes.
  void withdraw(const std::string &printer, int job);

  std::shared_ptr<PrintSpooler> m_spooler;
  EventPump &m_pump;
  PrintDialogs &m_dialogs;
  std::chrono::milliseconds m_limit;
  CredentialStore m_credentials;
  std::map<std::string, QueueInfo> m_queues;
};

}  // namespace quorvel
