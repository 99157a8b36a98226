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
// secret_from_bytes is from_bytes for secret values: the result is wiped on free.
ossl::SecretBnPtr secret_from_bytes(ByteView be);
// from_hex parses a hexadecimal constant (no prefix, no sign).
ossl::BnPtr from_hex(const char* hex);
ossl::BnPtr from_word(std::uint64_t v);
// copy and secret_copy duplicate `x`.
ossl::BnPtr copy(const BIGNUM& x);
ossl::SecretBnPtr secret_copy(const BIGNUM& x);

// to_minimal_bytes returns the minimal big-endian form of the absolute value
// of `x`: no leading zero bytes, and zero as the single byte 00.
Bytes to_minimal_bytes(const BIGNUM& x);
// to_bytes32 returns `x` as exactly 32 big-endian bytes, or nullopt when it
// is negative or needs more than 32 bytes.
std::optional<std::array<std::uint8_t, 32>> to_bytes32(const BIGNUM& x);

// new_secret returns a fresh zero value that is wiped when freed. It comes
// from BN_secure_new, which uses OpenSSL's secure heap only in a process
// that has set one up; this library never does (that is the application's
// process-wide choice), so in practice it is the ordinary heap.
ossl::SecretBnPtr new_secret();
// new_ctx returns a BN_CTX whose temporaries are wiped when released (from
// the ordinary heap, as for new_secret).
ossl::BnCtxPtr new_ctx();
// check turns a failed BIGNUM operation (where only an allocation can fail)
// into std::bad_alloc, leaving OpenSSL's error queue empty.
void check(int rc);

// equal compares two values.
inline bool equal(const BIGNUM& a, const BIGNUM& b) { return BN_cmp(&a, &b) == 0; }

}  // namespace tarnwick::sm2::biguint
