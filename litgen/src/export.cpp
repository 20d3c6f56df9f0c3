// The one symbol the library exports; the writer lives in litgen_core.
#include "litgen/litgen.h"
#include "writer.h"

extern "C" __attribute__((visibility("default"))) orvo::litgen::IUnknown* CreateWriter() {
    return orvo::litgen::NewWriter();
}
