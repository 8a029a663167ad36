// SPDX-License-Identifier: GPL-3.0-or-later
// The printer list as the user sees it.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

// Each destination once, under the name the print system gives it, in the
// order it gives them: a driverless printer whose queue has been created
// since it was first seen is reported twice by CUPS, once as each.
std::vector<std::string> distinctPrinters(const std::vector<std::string> &names);

}  // namespace quorvel
