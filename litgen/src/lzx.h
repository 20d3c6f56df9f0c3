// The LZX transform of the compressed section: 32 KiB frames, a fresh
// stream every 128 KiB window, and the reset table that lists where each
// frame starts.
#ifndef LITGEN_LZX_H
#define LITGEN_LZX_H

#include <cstdint>
#include <vector>

#include "bytes.h"

namespace orvo::litgen {

constexpr std::size_t kLzxFrame = 32768;
constexpr std::size_t kLzxWindow = 131072;

struct LzxStream {
    Bytes content;
    std::vector<std::uint64_t> frameOffsets;  // one per frame; the first is 0
};

// Matches and Huffman trees (verbatim blocks), one block per frame.
LzxStream LzxCompress(const std::uint8_t* data, std::size_t size);

// Stored (type 3) blocks only: one block per frame.
LzxStream LzxStore(const std::uint8_t* data, std::size_t size);

Bytes LzxResetTable(std::uint64_t uncompressedLength, const LzxStream& stream);
Bytes LzxControlData();

}  // namespace orvo::litgen

#endif
