// The two cipher variants of the sealed (level 1) .lit format: a SHA-1 with
// other initial values and round functions, and a DES whose S-boxes read
// their input bits reversed and whose P permutation is replaced.
#ifndef LITGEN_CRYPTO_H
#define LITGEN_CRYPTO_H

#include <array>
#include <cstdint>

#include "bytes.h"

namespace orvo::litgen {

using Digest = std::array<std::uint8_t, 20>;
using DesKey = std::array<std::uint8_t, 8>;

Digest MsSha1(const std::uint8_t* data, std::size_t size);
inline Digest MsSha1(const Bytes& data) { return MsSha1(data.data(), data.size()); }

// ECB over whole 8-byte blocks; the input is zero-padded to a multiple of 8.
// standardDes selects textbook DES (used to check the shared parts).
Bytes DesEncrypt(const DesKey& key, const Bytes& plain, bool standardDes = false);
Bytes DesDecrypt(const DesKey& key, const Bytes& cipher, bool standardDes = false);

}  // namespace orvo::litgen

#endif
