// SPDX-License-Identifier: GPL-3.0-or-later
// Seeds a LibreOffice profile folder exactly as the program seeds its own, so
// the start-up benchmark can give LibreOffice the same settings.
//
//   bench_seed_profile DIR
#include <cstdio>
#include <exception>

#include "document/engine_profile.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  try {
    quorvel::seedEngineProfile(argv[1]);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
