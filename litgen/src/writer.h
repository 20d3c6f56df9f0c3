// The writer object behind CreateWriter.
#ifndef LITGEN_WRITER_H
#define LITGEN_WRITER_H

#include "litgen/litgen.h"

namespace orvo::litgen {

// A new writer with one reference, as IUnknown.
IUnknown* NewWriter();

// Fixed values for reproducible output in tests: ITSF time stamp and the
// package GUID. Zero / empty restore the defaults (now, random).
void SetWriterTestClock(ILitWriter* writer, std::uint32_t timestamp, const char* guid);

}  // namespace orvo::litgen

#endif
