#include "crypto.h"

#include "tables.h"

namespace orvo::litgen {
namespace {

std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t Ch(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return (b & c) | (~b & d); }
std::uint32_t Parity(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
std::uint32_t Maj(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return (b & c) | (b & d) | (c & d); }
std::uint32_t X(std::uint32_t b, std::uint32_t c, std::uint32_t) { return (b + c) ^ c; }

using RoundFn = std::uint32_t (*)(std::uint32_t, std::uint32_t, std::uint32_t);

RoundFn RoundFunction(int t) {
    switch (t) {
        case 3: case 10: case 15: case 51: return Parity;
        case 6: case 42: return X;
        case 26: case 68: return Ch;
        case 31: return Maj;
        default: break;
    }
    if (t < 20) return Ch;
    if (t < 40) return Parity;
    if (t < 60) return Maj;
    return Parity;
}

void Sha1Block(std::uint32_t h[5], const std::uint8_t* p) {
    static const std::uint32_t k[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = (std::uint32_t(p[4 * t]) << 24) | (std::uint32_t(p[4 * t + 1]) << 16) |
               (std::uint32_t(p[4 * t + 2]) << 8) | p[4 * t + 3];
    for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t temp = Rotl(a, 5) + RoundFunction(t)(b, c, d) + e + w[t] + k[t / 20];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

// Textbook DES over 64-bit integers, bit 1 = most significant.
const std::uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                              62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                              57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                              61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
const std::uint8_t kFp[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                              38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                              36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                              34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
const std::uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                             12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                             22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
const std::uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                               10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                               63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                               14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                               23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                               41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                               44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                             2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
const std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

std::uint64_t Permute(std::uint64_t in, int inBits, const std::uint8_t* table, int outBits) {
    std::uint64_t out = 0;
    for (int i = 0; i < outBits; ++i) out = (out << 1) | ((in >> (inBits - table[i])) & 1);
    return out;
}

std::uint32_t Rotl28(std::uint32_t x, int n) { return ((x << n) | (x >> (28 - n))) & 0x0FFFFFFF; }

struct Schedule {
    std::uint64_t subkeys[16];
};

Schedule MakeSchedule(const DesKey& key) {
    std::uint64_t k = 0;
    for (std::uint8_t b : key) k = (k << 8) | b;
    std::uint64_t cd = Permute(k, 64, kPc1, 56);
    std::uint32_t c = static_cast<std::uint32_t>(cd >> 28), d = static_cast<std::uint32_t>(cd & 0x0FFFFFFF);
    Schedule s{};
    for (int r = 0; r < 16; ++r) {
        c = Rotl28(c, kShifts[r]);
        d = Rotl28(d, kShifts[r]);
        s.subkeys[r] = Permute((std::uint64_t(c) << 28) | d, 56, kPc2, 48);
    }
    return s;
}

std::uint32_t F(std::uint32_t r, std::uint64_t subkey, bool standard) {
    const CodeTables& t = Tables();
    std::uint64_t x = Permute(r, 32, kE, 48) ^ subkey;
    std::uint32_t out = 0;
    for (int box = 0; box < 8; ++box) {
        unsigned g = static_cast<unsigned>((x >> (42 - 6 * box)) & 0x3F);
        if (!standard) {  // the variant reads each group backwards
            unsigned rev = 0;
            for (int i = 0; i < 6; ++i) rev |= ((g >> i) & 1) << (5 - i);
            g = rev;
        }
        unsigned row = ((g >> 4) & 2) | (g & 1);
        unsigned col = (g >> 1) & 0xF;
        out = (out << 4) | t.desSbox[box][row][col];
    }
    return static_cast<std::uint32_t>(Permute(out, 32, standard ? kP : t.desVariantP, 32));
}

std::uint64_t Crypt(std::uint64_t block, const Schedule& s, bool decrypt, bool standard) {
    std::uint64_t b = Permute(block, 64, kIp, 64);
    std::uint32_t l = static_cast<std::uint32_t>(b >> 32), r = static_cast<std::uint32_t>(b);
    for (int i = 0; i < 16; ++i) {
        std::uint32_t next = l ^ F(r, s.subkeys[decrypt ? 15 - i : i], standard);
        l = r;
        r = next;
    }
    return Permute((std::uint64_t(r) << 32) | l, 64, kFp, 64);
}

Bytes DesEcb(const DesKey& key, const Bytes& in, bool decrypt, bool standard) {
    Schedule s = MakeSchedule(key);
    Bytes padded = in;
    padded.resize((in.size() + 7) / 8 * 8, 0);
    Bytes out(padded.size());
    for (std::size_t at = 0; at < padded.size(); at += 8) {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | padded[at + i];
        v = Crypt(v, s, decrypt, standard);
        for (int i = 7; i >= 0; --i) {
            out[at + i] = static_cast<std::uint8_t>(v);
            v >>= 8;
        }
    }
    return out;
}

}  // namespace

Digest MsSha1(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h[5] = {0x32107654, 0x23016745, 0xC4E680A2, 0xDC679823, 0xD0857A34};
    std::size_t full = size / 64 * 64;
    for (std::size_t at = 0; at < full; at += 64) Sha1Block(h, data + at);
    std::uint8_t tail[128] = {};
    std::size_t rest = size - full;
    for (std::size_t i = 0; i < rest; ++i) tail[i] = data[full + i];
    tail[rest] = 0x80;
    std::size_t tailLen = rest + 1 + 8 <= 64 ? 64 : 128;
    std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
    for (int i = 0; i < 8; ++i) tail[tailLen - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t at = 0; at < tailLen; at += 64) Sha1Block(h, tail + at);
    Digest d{};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) d[4 * i + j] = static_cast<std::uint8_t>(h[i] >> (24 - 8 * j));
    return d;
}

Bytes DesEncrypt(const DesKey& key, const Bytes& plain, bool standardDes) {
    return DesEcb(key, plain, false, standardDes);
}

Bytes DesDecrypt(const DesKey& key, const Bytes& cipher, bool standardDes) {
    return DesEcb(key, cipher, true, standardDes);
}

}  // namespace orvo::litgen
