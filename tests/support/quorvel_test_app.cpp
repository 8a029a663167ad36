// The program with its embedded chart swapped for a file, or taken away, so
// tests and benchmarks can run the real window on other documents.
//
//   quorvel-test-app [--doc FILE | --no-p1]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/Main.h"
#include "printing/cups_spooler.h"

int main(int argc, char **argv) {
  using namespace quorvel;
  static std::vector<std::uint8_t> bytes;
  static std::vector<Resource> table;
  bool builtIn = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-p1") == 0) {
      builtIn = false;
    } else if (std::strcmp(argv[i], "--doc") == 0 && i + 1 < argc) {
      std::ifstream in(argv[++i], std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[i]);
        return 2;
      }
      bytes.assign(std::istreambuf_iterator<char>(in), {});
      table = {Resource{"p1", bytes}};
      builtIn = false;
    } else {
      std::fprintf(stderr, "usage: %s [--doc FILE | --no-p1]\n", argv[0]);
      return 2;
    }
  }
  FormServices services;
  services.resources = builtIn ? builtInResources() : ResourceTable(table);
  services.printers = [] { return CupsSpooler::listQueues(); };
  services.spooler = std::make_shared<CupsSpooler>();
  return runApplication(std::move(services));
}
