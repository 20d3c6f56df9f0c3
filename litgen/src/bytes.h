// Little helpers for building the byte streams of a .lit file.
#ifndef LITGEN_BYTES_H
#define LITGEN_BYTES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace orvo::litgen {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void PutU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void PutU64(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void SetU16(Bytes& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void SetU32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void SetU64(Bytes& out, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void PutBytes(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }
inline void PutBytes(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }

// Directory integer: big-endian groups of 7 bits, high bit set on all but the last.
void PutEncInt(Bytes& out, std::uint64_t value);

// One code point as UTF-8 (the "character integer" of binary HTML and OPF).
void PutCharInt(Bytes& out, std::uint32_t value);
using orvo::AppendUtf8;  // one code point as UTF-8, shared with the rest of ORVO

// UTF-16 <-> UTF-8, shared with the rest of ORVO.
using orvo::Utf16ToUtf8;
using orvo::Utf8ToUtf16;

// Number of code points in valid UTF-8.
std::size_t CountCodePoints(std::string_view utf8);

std::string ToLowerAscii(std::string_view s);
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);

std::string HexOf(const std::uint8_t* data, std::size_t size);

}  // namespace orvo::litgen

#endif
