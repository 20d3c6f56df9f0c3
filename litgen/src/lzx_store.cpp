#include "lzx.h"

#include <algorithm>

namespace orvo::litgen {

LzxStream LzxStore(const std::uint8_t* data, std::size_t size) {
    LzxStream s;
    s.content.reserve(size + 16 * (size / kLzxFrame + 1) + 1);
    for (std::size_t at = 0, k = 0; at < size; at += kLzxFrame, ++k) {
        auto len = static_cast<std::uint32_t>(std::min(kLzxFrame, size - at));
        s.frameOffsets.push_back(s.content.size());
        std::uint16_t w0, w1;
        if (k % 4 == 0) {  // window start: E8 bit 0, type 3, length, 4 pad bits
            w0 = static_cast<std::uint16_t>(0x3000 | (len >> 12));
            w1 = static_cast<std::uint16_t>((len & 0xFFF) << 4);
        } else {  // type 3, length, 5 pad bits
            w0 = static_cast<std::uint16_t>(0x6000 | (len >> 11));
            w1 = static_cast<std::uint16_t>((len & 0x7FF) << 5);
        }
        PutU16(s.content, w0);
        PutU16(s.content, w1);
        for (int r = 0; r < 3; ++r) PutU32(s.content, 1);  // R0..R2 at their reset values
        s.content.insert(s.content.end(), data + at, data + at + len);
        if (len & 1) s.content.push_back(0);
    }
    return s;
}

Bytes LzxResetTable(std::uint64_t uncompressedLength, const LzxStream& stream) {
    Bytes t;
    PutU32(t, 3);
    PutU32(t, static_cast<std::uint32_t>(stream.frameOffsets.size()));
    PutU32(t, 8);
    PutU32(t, 0x28);
    PutU64(t, uncompressedLength);
    PutU64(t, stream.content.size());
    PutU64(t, kLzxFrame);
    for (std::uint64_t off : stream.frameOffsets) PutU64(t, off);
    return t;
}

Bytes LzxControlData() {
    Bytes c;
    PutU32(c, 7);
    PutBytes(c, "LZXC");
    PutU32(c, 3);
    PutU32(c, 4);
    PutU32(c, 4);
    PutU32(c, 2);
    PutU32(c, 0);
    PutU32(c, 0);
    return c;
}

}  // namespace orvo::litgen
