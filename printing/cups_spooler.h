// SPDX-License-Identifier: GPL-3.0-or-later
// The print system: CUPS through its client library, never a command line.
// Its calls block; the program makes them off the GUI thread.
#pragma once

#include <string>
#include <vector>

#include "printing/print_out.h"

namespace quorvel {

class CupsSpooler : public PrintSpooler {
public:
  // Every destination CUPS knows (local queues, classes, remote queues,
  // driverless printers it has found), each once, in CUPS's order. A
  // scheduler that is down or does not answer gives an empty list after at
  // most about `timeoutMs`.
  static std::vector<std::string> listQueues(int timeoutMs = 3000);

  QueueInfo checkQueue(const std::string &queue, const CredentialStore &known, const StopFlag &stop) override;
  int submitPdf(const std::string &queue, const std::string &title, const std::vector<std::uint8_t> &pdf,
                const JobSettings &settings, const CredentialStore &known, const StopFlag &stop) override;
  JobStatus jobStatus(const std::string &queue, int job, const CredentialStore &known,
                      const StopFlag &stop) override;
  void cancelJob(const std::string &queue, int job, const CredentialStore &known) override;
  void authenticateJob(const std::string &queue, int job, const std::vector<Secret> &authInfo,
                       const CredentialStore &known, const StopFlag &stop) override;
};

}  // namespace quorvel
