// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/print_out.h"

#include <algorithm>

#include "automation/automation.h"
#include "printing/page_selection.h"

namespace quorvel {

namespace {

// How often a followed job is looked at: a few times a second at first,
// then every half second, then every second, as GTK's print dialog does.
std::chrono::milliseconds pollInterval(int look) {
  using namespace std::chrono_literals;
  return look < 5 ? 100ms : look < 15 ? 500ms : 1000ms;
}

// What a queue asks for when it holds a job for authentication without
// saying so (a remote server's queue): the usual pair.
std::vector<std::string> requiredOrUsual(const std::vector<std::string> &required) {
  return required.empty() ? std::vector<std::string>{"username", "password"} : required;
}

bool asksForPassword(const QueueInfo &queue) {
  return std::ranges::any_of(queue.authInfoRequired,
                             [](const std::string &what) { return what == "username" || what == "password"; });
}

bool asksForDomain(const std::vector<std::string> &required) {
  return std::ranges::find(required, "domain") != required.end();
}

}  // namespace

std::string printerNotAnswering(const std::string &printer) {
  return "Принтер " + quotedPrinter(printer) + " не отвечает";
}

std::string frontsPrintingHeading(const std::string &printer) {
  return "Печатаются лицевые стороны на принтере " + quotedPrinter(printer) + "…";
}

std::string printingHeading(const std::string &printer) {
  return "Идёт печать на принтере " + quotedPrinter(printer) + "…";
}

std::vector<int> carryOutPrintOut(const PrintOutRequest &request, const PrintOutContext &ctx) {
  if (ctx.printer.empty()) throw OleServerError("Принтер не выбран");
  const std::vector<int> pages = selectPages(request.pages, request.pageType, ctx.pageCount);

  // A queue that prints on both sides by default would put the fronts on
  // both sides of a sheet, and the turned stack would no longer match.
  const JobSettings settings{request.copies,
                             request.manualDuplex ? JobSides::OneSided : JobSides::QueueDefault};
  std::vector<int> jobs;
  // False when the user cancelled the job on the way.
  auto send = [&](const std::vector<int> &side, FollowFor what) {
    jobs.push_back(ctx.submit(ctx.render(formatPageRange(side)), settings));
    return ctx.follow(jobs.back(), static_cast<int>(side.size()), what);
  };
  if (!request.manualDuplex || pages.size() == 1) {
    send(pages, FollowFor::Credentials);
    return jobs;
  }
  const Sides sides = splitSides(pages);
  // The stack is turned only once the fronts are out of the printer.
  if (send(sides.fronts, FollowFor::Paper) && ctx.confirm(kBackSidesPrompt))
    send(sides.backs, FollowFor::Credentials);
  return jobs;
}

template <class T>
T SpoolerPrintService::bounded(const std::string &printer, Call<T> call, const std::function<bool()> &giveUp) {
  // The work holds its own share of the spooler and its own copy of the
  // credentials: given up on, it may still be running when this service
  // is gone.
  try {
    return runOffThread<T>(
        m_pump, m_limit,
        [spooler = m_spooler, known = m_credentials, call = std::move(call)](const StopFlag &stop) {
          return call(*spooler, known, stop);
        },
        giveUp);
  } catch (const WaitTimedOut &) {
    throw OleServerError(printerNotAnswering(printer));
  } catch (const WaitAbandoned &) {
    if (m_pump.closing()) throw OleServerError(kPrintingInterrupted);
    throw;
  }
}

template <class T>
T SpoolerPrintService::authorised(const std::string &printer, const Call<T> &call,
                                  const std::function<bool()> &giveUp) {
  for (;;) {
    try {
      return bounded<T>(printer, call, giveUp);
    } catch (const CredentialsNeeded &need) {
      // Asked for again; the limit on the printer's answer starts anew once
      // the user has answered.
      const Credentials *kept = m_credentials.find(need.server);
      const CredentialRequest ask{printer, false, kept ? kept->user : need.user, need.refused};
      if (need.refused) m_credentials.forget(need.server);
      std::optional<Credentials> given = m_dialogs.askCredentials(ask);
      if (!given) throw PrintOutCancelled();
      m_credentials.keep(need.server, std::move(*given));
    }
  }
}

void SpoolerPrintService::checkPrinter(const std::string &printer) {
  m_queues[printer] = authorised<QueueInfo>(
      printer, [printer](PrintSpooler &s, const CredentialStore &known, const StopFlag &stop) {
        return s.checkQueue(printer, known, stop);
      });
}

void SpoolerPrintService::withdraw(const std::string &printer, int job) {
  // Held from here, so that the program, if it is ending, waits for it.
  auto hold = std::make_shared<ExitHold>();
  OffThread task([spooler = m_spooler, known = m_credentials, printer, job, hold](const StopFlag &) {
    spooler->cancelJob(printer, job, known);
  });
  if (m_pump.closing()) return;
  try {
    task.wait(m_pump, SteadyClock::now() + m_limit);
  } catch (const WaitTimedOut &) {
    throw OleServerError(printerNotAnswering(printer));
  } catch (const WaitAbandoned &) {
    // The window is going: the cancel goes on, and the exit waits for it.
  }
}

bool SpoolerPrintService::follow(const std::string &printer, int job, int pages, FollowFor what) {
  if (what == FollowFor::Credentials && !asksForPassword(m_queues[printer])) return true;
  JobWatch watch(printer, pages);
  std::unique_ptr<PrintProgress> box =
      m_dialogs.progress(what == FollowFor::Paper ? frontsPrintingHeading(printer) : printingHeading(printer));
  auto cancelled = [&box] { return box->cancelled(); };
  // Given for this job: held for them again means they were refused, and
  // the user name tried is offered again.
  bool gaveCredentials = false;
  std::string triedUser;
  auto endCancelled = [&] {
    box.reset();
    withdraw(printer, job);
    return false;
  };
  for (int look = 0;; ++look) {
    std::optional<JobStatus> status;
    try {
      status = authorised<JobStatus>(
          printer,
          [printer, job](PrintSpooler &s, const CredentialStore &known, const StopFlag &stop) {
            return s.jobStatus(printer, job, known, stop);
          },
          cancelled);
    } catch (const WaitAbandoned &) {
      return endCancelled();
    } catch (const PrintOutCancelled &) {
      return endCancelled();  // a server that wants a password to be asked about the job
    } catch (const OleServerError &) {
      if (m_pump.closing()) throw;
      // The print server is down or does not answer: said, and asked again.
    }
    const JobView view = status ? watch.see(*status, SteadyClock::now()) : watch.notAnswering();

    if (view.phase == JobPhase::NeedsCredentials) {
      const std::vector<std::string> required = requiredOrUsual(status->authInfoRequired);
      const std::string &server = status->credentialServer;
      if (gaveCredentials) m_credentials.forget(server);
      std::optional<Credentials> given;
      if (const Credentials *kept = m_credentials.find(server))
        given = *kept;
      else
        given = m_dialogs.askCredentials(
            {printer, asksForDomain(required), triedUser.empty() ? status->owner : triedUser, gaveCredentials});
      std::optional<std::vector<Secret>> info;
      if (given) info = authInfo(required, *given);
      if (!given || !info || box->cancelled()) return endCancelled();
      bounded<bool>(printer, [printer, job, info = *info](PrintSpooler &s, const CredentialStore &known,
                                                          const StopFlag &stop) {
        s.authenticateJob(printer, job, info, known, stop);
        return true;
      });
      triedUser = given->user;
      m_credentials.keep(server, std::move(*given));
      gaveCredentials = true;
      look = -1;  // the printer's answer to them comes soon
      continue;
    }
    if (box->cancelled()) return endCancelled();
    switch (view.phase) {
      case JobPhase::Completed: return true;
      case JobPhase::EndedUnprinted:
        throw OleServerError((what == FollowFor::Paper ? "Лицевые стороны не напечатаны: "
                                                       : "Задание не напечатано: ") +
                             view.cause);
      default: box->show(view.progress, view.problem);
    }
    pumpFor(m_pump, pollInterval(look), cancelled);
    if (m_pump.closing()) throw OleServerError(kPrintingInterrupted);
  }
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
    auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(pdf));
    return authorised<int>(printer, [printer, title, settings, shared](PrintSpooler &s, const CredentialStore &known,
                                                                       const StopFlag &stop) {
      return s.submitPdf(printer, title, *shared, settings, known, stop);
    });
  };
  ctx.follow = [this, printer](int job, int pages, FollowFor what) { return follow(printer, job, pages, what); };
  ctx.confirm = [this](const std::string &prompt) { return m_dialogs.confirm(prompt); };
  try {
    carryOutPrintOut(request, ctx);
  } catch (const PrintOutCancelled &) {
    // The user said "Отмена": nothing is left, nothing more to say.
  }
}

}  // namespace quorvel
