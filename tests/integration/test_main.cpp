// Every test process starts the engine, so it ends as the program does.
#include <gtest/gtest.h>

#include "document/lok_view.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  quorvel::exitAfterEngine(RUN_ALL_TESTS());
}
