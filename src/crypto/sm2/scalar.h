// Fixed-width 256-bit scalars and constant-time arithmetic modulo the SM2
// group order n = FFFFFFFE FFFFFFFF FFFFFFFF FFFFFFFF 7203DF6B 21C6052B
// 53BBF409 39D54123 (GB/T 32918.5).
//
// The private scalar d and the nonces k live in this type; no BIGNUM ever
// holds them. Every function here runs in constant time: no branch and no
// memory address depends on the value of a scalar. Tests on values whose
// outcome is public (a nonce rejected, r = 0, s = 0) return masks that the
// caller declassifies.
#pragma once

#include <array>
#include <cstdint>

#include "support/bytes.h"

namespace tarnwick::sm2 {

// Scalar is an unsigned integer below 2^256 as four 64-bit limbs, least
// significant first. It is wiped when it goes out of scope.
struct Scalar {
  std::array<std::uint64_t, 4> v{};

  Scalar() = default;
  Scalar(const Scalar&) = default;
  Scalar& operator=(const Scalar&) = default;
  ~Scalar();

  // from_bytes reads 32 big-endian bytes.
  static Scalar from_bytes(const std::uint8_t in[32]) noexcept;
  static Scalar from_word(std::uint64_t w) noexcept;
  // to_bytes writes the value as 32 big-endian bytes.
  void to_bytes(std::uint8_t out[32]) const noexcept;
};

namespace scalar {

using u64 = std::uint64_t;

// kN is the group order n.
extern const Scalar kN;

// is_zero, equal and less return all ones when `a` = 0, `a` = `b`, or
// `a` < `b` respectively, and 0 otherwise.
u64 is_zero(const Scalar& a) noexcept;
u64 equal(const Scalar& a, const Scalar& b) noexcept;
u64 less(const Scalar& a, const Scalar& b) noexcept;

// reduce returns `a` mod n for any `a` below 2^256 (one conditional
// subtraction, since 2^256 < 2n).
Scalar reduce(const Scalar& a) noexcept;

// add_mod and sub_mod return (`a` ± `b`) mod n for `a`, `b` below n.
Scalar add_mod(const Scalar& a, const Scalar& b) noexcept;
Scalar sub_mod(const Scalar& a, const Scalar& b) noexcept;

// mul_mod returns `a`·`b` mod n for `a` below 2^256 and `b` below n, by
// Montgomery multiplication.
Scalar mul_mod(const Scalar& a, const Scalar& b) noexcept;

// inv_mod returns the inverse of `a` modulo n for `a` below n, and 0 for
// `a` = 0, by the constant-time safegcd of modinv.h.
Scalar inv_mod(const Scalar& a) noexcept;

}  // namespace scalar
}  // namespace tarnwick::sm2
