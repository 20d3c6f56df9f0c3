// The mask-trying tool behind "Gatherer --try-mask": applies a mask to a saved
// page and prints what it extracts, for mask authors.
#pragma once

namespace orvo {

// argv may start with the program name and then "--try-mask"; both are
// skipped. Returns the process exit code.
int RunTryMask(int argc, char** argv);

}  // namespace orvo
