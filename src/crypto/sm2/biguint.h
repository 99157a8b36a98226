// Small conversions between big-endian byte strings and OpenSSL BIGNUMs,
// the big unsigned integers of the SM2 code at its edges: the order n, the
// signature values r and s in verification and other public values. Secret
// scalars never live in a BIGNUM (see scalar.h).
//
// Allocation failures throw std::bad_alloc (caught once at the JS boundary);
// nothing else here can fail.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "support/bytes.h"
#include "support/ossl.h"

namespace tarnwick::sm2::biguint {

// from_bytes reads `be` (any length, leading zero bytes allowed, empty = 0)
// as a big-endian unsigned integer.
ossl::BnPtr from_bytes(ByteView be);
// from_hex parses a hexadecimal constant (no prefix, no sign).
ossl::BnPtr from_hex(const char* hex);
ossl::BnPtr from_word(std::uint64_t v);

// to_bytes32 returns `x` as exactly 32 big-endian bytes, or nullopt when it
// is negative or needs more than 32 bytes.
std::optional<std::array<std::uint8_t, 32>> to_bytes32(const BIGNUM& x);

// new_value returns a fresh zero value.
ossl::BnPtr new_value();
// new_ctx returns a fresh BN_CTX.
ossl::BnCtxPtr new_ctx();
// check turns a failed BIGNUM operation (where only an allocation can fail)
// into std::bad_alloc, leaving OpenSSL's error queue empty.
void check(int rc);

}  // namespace tarnwick::sm2::biguint
