// The print button: checks the strip's choices, then selects the printer and
// asks for the print-out through the document's automation object.
#pragma once

#include <functional>
#include <optional>
#include <string>

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
// a plain message box. Errors of the server pass through as exceptions.
void runPrintCommand(const PrintStrip &strip, const std::function<DispatchPtr()> &automationObject,
                     const std::function<void(const std::string &)> &showMessage);

}  // namespace quorvel
