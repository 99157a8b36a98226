// Arithmetic modulo the prime p of the SM2 recommended curve (GB/T 32918.5):
// p = 2^256 − 2^224 − 2^96 + 2^64 − 1, on plain (non-Montgomery) values.
// This is the boundary form; the point arithmetic inside works on the
// Montgomery form of fp.h and converts at the edges.
//
// mul, add, sub, invert, is_zero, is_reduced and the byte conversions run in
// constant time. sqrt does too, but for its final test (whose answer the
// caller acts on).
#pragma once

#include <array>
#include <cstdint>
#include <expected>

#include "crypto/sm2/error.h"
#include "crypto/sm2/fp.h"
#include "support/bytes.h"
#include "support/ossl.h"

namespace tarnwick::sm2::p256_field {

// FieldElement is a 256-bit value as eight 32-bit words, w[0] the most
// significant. mul always returns a value below p; add and sub do so for
// operands below p. Values decoded from outside data may lie in p..2^256−1.
struct FieldElement {
  std::array<std::uint32_t, 8> w{};
  bool operator==(const FieldElement&) const = default;
};

inline constexpr FieldElement kP{{0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                                  0x00000000, 0xFFFFFFFF, 0xFFFFFFFF}};
inline constexpr FieldElement kZero{};
inline constexpr FieldElement kOne{{0, 0, 0, 0, 0, 0, 0, 1}};
// kSqrtExponent is (p + 1)/4 =
// 28948022302589062189105086303505223191562588497981047863605298483322421248000.
inline constexpr FieldElement kSqrtExponent{{0x3FFFFFFF, 0xBFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                                             0xFFFFFFFF, 0xC0000000, 0x40000000, 0x00000000}};

// mul returns `a`·`b` mod p, below p, for any operands below 2^256.
FieldElement mul(FieldElement a, FieldElement b) noexcept;
// add returns `a` + `b` mod p (operands below p).
FieldElement add(FieldElement a, FieldElement b) noexcept;
// sub returns `a` − `b` mod p (operands below p).
FieldElement sub(FieldElement a, FieldElement b) noexcept;
// invert returns `a`⁻¹ mod p for `a` in 1..p−1, and 0 for `a` = 0, as
// a^(p−2) by a fixed chain of squarings and multiplications.
FieldElement invert(FieldElement a) noexcept;

bool is_zero(const FieldElement& a) noexcept;
// is_reduced reports whether `a` is below p.
bool is_reduced(const FieldElement& a) noexcept;

// to_montgomery returns a·R mod p in the form of fp.h, for any `a` below
// 2^256 (an unreduced value is reduced); from_montgomery returns the plain
// value of `m`, below p.
fp::Fe to_montgomery(const FieldElement& a) noexcept;
FieldElement from_montgomery(const fp::Fe& m) noexcept;

// to_bytes returns the 32-byte big-endian form of `a` (no reduction).
Bytes to_bytes(FieldElement a);
// write_bytes writes the 32-byte big-endian form of `a` to `out`.
void write_bytes(const FieldElement& a, std::uint8_t* out) noexcept;
// from_bytes reads 32 big-endian bytes at `in` without reduction.
FieldElement from_bytes(const std::uint8_t* in) noexcept;

// from_biguint stores the 256 bits of `x` without reduction; a value of
// 2^256 or more (or a negative one) fails with InvalidFieldElementLength.
std::expected<FieldElement, Sm2Error> from_biguint(const BIGNUM& x);

// sqrt returns y = alpha^((p+1)/4) when y² = `alpha` (alpha below p), or
// NoSquareRoot.
std::expected<FieldElement, Sm2Error> sqrt(FieldElement alpha) noexcept;

}  // namespace tarnwick::sm2::p256_field
