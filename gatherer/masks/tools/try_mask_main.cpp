// Standalone form of "Gatherer --try-mask".
#include "gatherer/masks/tools/try_mask.h"

#include <cstdio>
#include <cstring>

#include "orvo_version.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("orvo-try-mask %s\n", orvo::kVersion);
    return 0;
  }
  return orvo::RunTryMask(argc, argv);
}
