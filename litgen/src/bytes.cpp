#include "bytes.h"

namespace orvo::litgen {

void PutEncInt(Bytes& out, std::uint64_t value) {
    std::uint8_t groups[10];
    int n = 0;
    do {
        groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(groups[--n] | 0x80);
    out.push_back(groups[0]);
}

void PutCharInt(Bytes& out, std::uint32_t value) {
    std::string s;
    AppendUtf8(s, value);
    PutBytes(out, s);
}

std::size_t CountCodePoints(std::string_view utf8) {
    std::size_t n = 0;
    for (char ch : utf8)
        if ((static_cast<std::uint8_t>(ch) & 0xC0) != 0x80) ++n;
    return n;
}

std::string ToLowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string HexOf(const std::uint8_t* data, std::size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

}  // namespace orvo::litgen
