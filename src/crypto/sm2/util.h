// SM2 building blocks over SM3 (GM/T 0003, GB/T 32918): the user digest Z
// that binds an identity and a public key into a signature, and the
// key-derivation function that stretches a shared point into a keystream.
#pragma once

#include <cstddef>
#include <expected>

#include "crypto/sm2/error.h"
#include "crypto/sm2/key_pair.h"
#include "support/bytes.h"

namespace tarnwick::sm2::util {

// kMaxUserIdLength is the longest user ID whose bit length fits the 16-bit
// ENTL field: 8191 bytes (65528 bits).
inline constexpr std::size_t kMaxUserIdLength = 8191;

// user_digest returns Z = SM3(ENTL ‖ ID ‖ a ‖ b ‖ Gx ‖ Gy ‖ xA ‖ yA)
// (GB/T 32918.2 §5.5) for `user_id` taken as it is (empty allowed) and the
// affine coordinates of `public_key` (the point at infinity contributes 64
// zero bytes). Fails with InvalidPublicKey when `public_key` is off the
// curve, checked first, then with IdTooLong for an ID of more than 8191
// bytes.
std::expected<Bytes, Sm2Error> user_digest(ByteView user_id, const Sm2PublicKey& public_key);

// kdf returns `klen` bytes of SM3(z ‖ 1) ‖ SM3(z ‖ 2) ‖ … (GB/T 32918.4
// §5.4.3), each counter a 32-bit big-endian number; `z` may be empty. A
// `klen` of 0 returns the 32 bytes of SM3(z ‖ 00000001). Never fails (but
// for std::bad_alloc). Its own buffers are wiped; the caller wipes the
// keystream it gets.
Bytes kdf(ByteView z, std::size_t klen);

}  // namespace tarnwick::sm2::util
