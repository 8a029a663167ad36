// SPDX-License-Identifier: GPL-3.0-or-later
// The print button: checks the strip's choices, then selects the printer and
// asks for the print-out through the document's automation object.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "automation/automation.h"

namespace quorvel {

// The control strip as the print button reads it.
struct PrintStrip {
  std::optional<std::string> printer;  // selected entry of the printer list
  int pageItem = -1;                   // selected page item, -1 for none
  std::string pageList;                // text of the page-list box
  bool twoSided = false;
};

inline constexpr const char *kChoosePrinter = "Выберите принтер!";
inline constexpr const char *kChoosePages = "Выберите страницы для печати!";

// `automationObject` is asked afresh for each call chain; `showMessage` shows
// a plain message box; `started` runs once the choices are complete, before
// the first call to the server. Errors of the server pass through as exceptions.
void runPrintCommand(const PrintStrip &strip, const std::function<DispatchPtr()> &automationObject,
                     const std::function<void(const std::string &)> &showMessage,
                     const std::function<void()> &started = {});

// A print-out under way: the strip shows it, and a second click is not
// taken until it is done.
class PrintBusy {
public:
  // Holds the busy state for as long as it lives.
  class Guard {
  public:
    Guard() = default;
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;
    Guard(Guard &&other) noexcept : m_busy(std::exchange(other.m_busy, nullptr)) {}
    Guard &operator=(Guard &&other) noexcept {
      if (this != &other) {
        release();
        m_busy = std::exchange(other.m_busy, nullptr);
      }
      return *this;
    }
    ~Guard() { release(); }
    explicit operator bool() const { return m_busy != nullptr; }

  private:
    friend class PrintBusy;
    explicit Guard(PrintBusy *busy) : m_busy(busy) {}
    void release() {
      if (m_busy) std::exchange(m_busy, nullptr)->set(false);
    }
    PrintBusy *m_busy = nullptr;
  };

  // `show` is told each change, true when a print-out starts.
  explicit PrintBusy(std::function<void(bool)> show = {}) : m_show(std::move(show)) {}
  bool busy() const { return m_busy; }
  // An empty guard when a print-out is already under way.
  [[nodiscard]] Guard enter() {
    if (m_busy) return {};
    set(true);
    return Guard(this);
  }

private:
  void set(bool on) {
    m_busy = on;
    if (m_show) m_show(on);
  }
  std::function<void(bool)> m_show;
  bool m_busy = false;
};

}  // namespace quorvel
