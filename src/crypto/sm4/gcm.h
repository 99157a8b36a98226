// Galois/Counter Mode (NIST SP 800-38D) over SM4 with a 128-bit IV and a
// 128-bit tag.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "crypto/sm4/cipher.h"
#include "crypto/sm4/error.h"
#include "support/bytes.h"

namespace tarnwick::sm4 {

// Block128 is a 16-byte block read as a 128-bit big-endian integer: `hi`
// holds bytes 0 … 7.
struct Block128 {
  std::uint64_t hi;
  std::uint64_t lo;
  bool operator==(const Block128&) const = default;
};

namespace gcm {

// to_blocks cuts `data` into consecutive 16-byte blocks. Callers pass a
// multiple of 16 bytes; a trailing partial block would be dropped.
std::vector<Block128> to_blocks(ByteView data);

// encrypt returns the ciphertext of `plaintext` followed by the 16-byte tag
// over `aad` and the ciphertext. J0 is always derived through GHASH.
std::expected<Bytes, Sm4Error> encrypt(const Sm4KeySchedule& schedule, ByteView aad, ByteView plaintext,
                                       const Block& iv);

// decrypt takes the last 16 bytes of `input` as the tag and checks it, in
// constant time, before returning the plaintext. A wrong tag fails with
// TagMismatch; an input shorter than a tag fails with InvalidDataLength.
std::expected<Bytes, Sm4Error> decrypt(const Sm4KeySchedule& schedule, ByteView aad, ByteView input,
                                       const Block& iv);

}  // namespace gcm

namespace cipher_mode {

// gctr XORs `x` with E(ICB), E(inc32(ICB)), …, where inc32 increments bytes
// 12 … 15 modulo 2^32 and leaves bytes 0 … 11 alone. The result is as long
// as `x`.
std::expected<Bytes, Sm4Error> gctr(const Sm4KeySchedule& schedule, const Block& icb, ByteView x);

}  // namespace cipher_mode
}  // namespace tarnwick::sm4
