// The print system: CUPS through its client library, never a command line.
#pragma once

#include <string>
#include <vector>

#include "printing/print_out.h"

namespace quorvel {

class CupsSpooler : public PrintSpooler {
public:
  // Every queue CUPS knows (local, classes, remote), in CUPS's order. A
  // scheduler that is down or slow gives an empty list after at most
  // `timeoutMs`.
  static std::vector<std::string> listQueues(int timeoutMs = 3000);

  void checkQueue(const std::string &queue) override;
  int submitPdf(const std::string &queue, const std::string &title, const std::vector<std::uint8_t> &pdf,
                int copies) override;
};

}  // namespace quorvel
