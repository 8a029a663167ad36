// SPDX-License-Identifier: GPL-3.0-or-later
// The print system as the document server sees it. The printing subsystem
// provides it and the program hands it to the document container, so the
// container prints without knowing how.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/word_model.h"

namespace quorvel {

// The document as it now stands, ready to be rendered page by page.
struct PrintableDocument {
  std::string title;  // the job title
  int pageCount = 0;
  // PDF of the given pages ("1,3,5"); throws when the engine cannot render.
  std::function<std::vector<std::uint8_t>(const std::string &pageRange)> render;
};

// The user ended the print-out in one of its boxes ("Отмена"): nothing is
// left of it, and there is nothing more to say.
struct PrintOutCancelled : std::runtime_error {
  PrintOutCancelled() : std::runtime_error("cancelled") {}
};

class PrintService {
public:
  virtual ~PrintService() = default;
  // Throws OleServerError when `printer` cannot take jobs now, and
  // PrintOutCancelled when the user would not give what it asks for.
  virtual void checkPrinter(const std::string &printer) = 0;
  virtual void printOut(const std::string &printer, const PrintOutRequest &request,
                        const PrintableDocument &document) = 0;
};

}  // namespace quorvel
