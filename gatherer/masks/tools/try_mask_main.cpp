// Standalone form of "Gatherer --try-mask".
#include "gatherer/masks/try_mask.h"

int main(int argc, char** argv) { return orvo::RunTryMask(argc, argv); }
