// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/printer_listing.h"

#include <exception>

namespace quorvel {

PrinterListing::PrinterListing(List list, std::chrono::milliseconds limit)
    : m_reading([names = m_names, list = std::move(list)](const StopFlag &) { *names = list(); }),
      m_deadline(SteadyClock::now() + limit) {}

bool PrinterListing::settled() const { return m_reading.ready() || SteadyClock::now() >= m_deadline; }

std::vector<std::string> PrinterListing::take() {
  if (!m_reading.ready()) {
    m_reading.abandon();
    return {};
  }
  // Only a failed reading is left to see; it gives an empty list.
  struct NoEvents : EventPump {
    void iterate(std::chrono::milliseconds) override {}
    void wake() override {}
    bool closing() const override { return false; }
  } none;
  try {
    m_reading.wait(none, SteadyClock::now());
  } catch (const std::exception &) {
    return {};
  }
  return std::move(*m_names);
}

}  // namespace quorvel
