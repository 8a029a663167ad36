// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/printer_list.h"

#include <unordered_set>

namespace quorvel {

std::vector<std::string> distinctPrinters(const std::vector<std::string> &names) {
  std::vector<std::string> list;
  std::unordered_set<std::string> seen;
  for (const std::string &name : names)
    if (!name.empty() && seen.insert(name).second) list.push_back(name);
  return list;
}

}  // namespace quorvel
