// Drives a LIT writer over an OEB package on disk, the way the eBook
// generator does: package, stylesheets, content documents and pictures in
// the order the writer asks for them.
#ifndef LITGEN_PACK_DRIVER_H
#define LITGEN_PACK_DRIVER_H

#include <iosfwd>
#include <string>

#include "litgen/litgen.h"

namespace orvo::litgen {

// Returns 0 when the .lit file was written, 1 otherwise. Progress goes to
// out, errors and the writer's messages to err.
int PackBook(ILitWriter* writer, const std::string& packagePath, const std::string& outputPath, std::ostream& out,
             std::ostream& err, std::uint32_t flags = 0);

}  // namespace orvo::litgen

#endif
