// SPDX-License-Identifier: GPL-3.0-or-later
// The printer list, read off the GUI thread while the engine starts, and
// given a limit: a print system that does not answer by then leaves the
// list empty.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "printing/off_thread.h"

namespace quorvel {

class PrinterListing {
public:
  using List = std::function<std::vector<std::string>()>;
  // Starts reading the list with `list`.
  PrinterListing(List list, std::chrono::milliseconds limit);
  ~PrinterListing() = default;
  PrinterListing(const PrinterListing &) = delete;
  PrinterListing &operator=(const PrinterListing &) = delete;

  // True once the list is read, the reading failed, or the time is up.
  bool settled() const;
  // The names once settled; none when the reading failed or is still under
  // way (it is then given up).
  std::vector<std::string> take();

private:
  std::shared_ptr<std::vector<std::string>> m_names = std::make_shared<std::vector<std::string>>();
  OffThread m_reading;
  SteadyClock::time_point m_deadline;
};

}  // namespace quorvel
