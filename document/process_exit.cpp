// SPDX-License-Identifier: GPL-3.0-or-later
#include "document/process_exit.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "document/engine_output.h"

namespace quorvel {

void exitAfterEngine(int status) {
  releaseEngineOutput();
  std::cout.flush();
  std::cerr.flush();
  // Nothing is left to tell if this fails: the streams are all there is.
  (void)std::fflush(nullptr);
  _exit(status);
}

}  // namespace quorvel
