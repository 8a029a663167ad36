// SPDX-License-Identifier: GPL-3.0-or-later
// quorvel: shows the periodic table chart and prints it.
#include "app/Main.h"
#include "document/lok_view.h"
#include "printing/cups_spooler.h"

int main() {
  using namespace quorvel;
  FormServices services;
  services.resources = builtInResources();
  services.printers = [] { return CupsSpooler::listQueues(); };
  services.spooler = std::make_shared<CupsSpooler>();
  exitAfterEngine(runApplication(std::move(services)));
}
