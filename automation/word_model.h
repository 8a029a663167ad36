// SPDX-License-Identifier: GPL-3.0-or-later
// The word processor's object model as this program drives it: document,
// window, pane, view, zoom, application and WordBasic objects that turn
// member calls into requests to a DocumentServer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace quorvel {

// Word's PrintOut values this server understands.
inline constexpr std::int32_t kRangeAllDocument = 0;
inline constexpr std::int32_t kRangeOfPages = 4;
inline constexpr std::int32_t kPageTypeAll = 0;
inline constexpr std::int32_t kPageTypeOdd = 1;
inline constexpr std::int32_t kPageTypeEven = 2;

// PrintOut's named arguments, in the order the word processor takes them.
inline constexpr std::array<std::string_view, 18> kPrintOutArgs{
    "Copies", "Pages",       "ManualDuplexPrint", "PageType",           "Background",      "Append",
    "Range",  "OutputFileName", "From",           "To",                 "Item",            "PrintToFile",
    "Collate", "ActivePrinterMacGX", "PrintZoomColumn", "PrintZoomRow", "PrintZoomPaperWidth",
    "PrintZoomPaperHeight"};

struct PrintOutRequest {
  std::int32_t copies = 1;
  std::optional<std::string> pages;  // only with range kRangeOfPages
  std::int32_t pageType = kPageTypeAll;
  bool manualDuplex = false;
};

// What carries the calls out: the engine that holds the document and the
// print system behind it.
class DocumentServer {
public:
  virtual ~DocumentServer() = default;
  virtual void setDisplayRulers(bool on) = 0;
  virtual void setPageFit(std::int32_t fit) = 0;
  virtual void setDisplayAlerts(bool on) = 0;
  virtual void filePrintSetup(const std::string &printer, bool setAsSystemDefault) = 0;
  virtual void printOut(const PrintOutRequest &request) = 0;
};

// The document's automation object.
DispatchPtr makeDocumentObject(const std::shared_ptr<DocumentServer> &server);

// Turns PrintOut's named arguments into a request; rejects arguments this
// server cannot honour instead of silently ignoring them.
PrintOutRequest parsePrintOutArgs(const NamedArgs &args);

}  // namespace quorvel
