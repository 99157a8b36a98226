// Arithmetic modulo the SM2 prime p = 2^256 − 2^224 − 2^96 + 2^64 − 1
// (GB/T 32918.5) in Montgomery form, for the point arithmetic inside the
// SM2 code. The field module (p256_field) converts between this form and
// the plain FieldElement at the boundary.
//
// An `Fe` holds a·R mod p with R = 2^256, as four 64-bit limbs, least
// significant first, always fully reduced (below p). Every function here
// runs in constant time: no branch and no memory address depends on a limb.
// Only `pow_vartime` branches, on its public exponent.
//
// p ≡ −1 (mod 2^64), so −p⁻¹ mod 2^64 = 1 and each Montgomery reduction
// step adds m·p for m = the lowest limb; with p's special form that sum is
// shifts, additions and subtractions.
#pragma once

#include <cstdint>

#include "crypto/sm2/limb.h"
#include "crypto/sm2/modinv.h"
#include "support/ct.h"

namespace tarnwick::sm2::fp {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

struct Fe {
  u64 v[4];
};

// kP is p; kOne is 1 in Montgomery form (R mod p); kR2 is R² mod p.
inline constexpr Fe kP{{0xFFFFFFFFFFFFFFFF, 0xFFFFFFFF00000000, 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFEFFFFFFFF}};
inline constexpr Fe kZero{{0, 0, 0, 0}};
inline constexpr Fe kOne{{0x0000000000000001, 0x00000000FFFFFFFF, 0x0000000000000000, 0x0000000100000000}};
inline constexpr Fe kR2{{0x0000000200000003, 0x00000002FFFFFFFF, 0x0000000100000001, 0x0000000400000002}};

// The reduction steps behind mul, sqr and from_montgomery; private to this
// header.
namespace detail {

// reduce_once sets `r` = x − p when x + top·2^256 ≥ p, else x; the input
// must be below 2p.
inline void reduce_once(Fe& r, const u64 x[4], u64 top) noexcept {
  using limb::sbb;
  u64 b;
  u64 d0 = sbb(x[0], kP.v[0], 0, b);
  u64 d1 = sbb(x[1], kP.v[1], b, b);
  u64 d2 = sbb(x[2], kP.v[2], b, b);
  u64 d3 = sbb(x[3], kP.v[3], b, b);
  // Keep x only when it is below p: no carry out and a borrow.
  const u64 keep = ct::mask_from_bit(b & (top ^ 1));
  r.v[0] = ct::select(keep, x[0], d0);
  r.v[1] = ct::select(keep, x[1], d1);
  r.v[2] = ct::select(keep, x[2], d2);
  r.v[3] = ct::select(keep, x[3], d3);
}

// reduce_step adds m·p to the running value, m = its lowest limb (already
// consumed by the caller): V = m·(p + 1)/2^64 = m·(2^192 − 2^160 − 2^32 + 1)
// goes in at the next four limbs, formed as
// [m, 0, 0, m] − [m·2^32 mod 2^64, m >> 32, m·2^32 mod 2^64, m >> 32]
// (V ≥ 0, so the chain ends without a borrow). `carry` is the carry out of
// the previous step, which belongs at the limb of v3; v3 + carry cannot
// overflow since v3 ≤ 2^64 − 2^32. On return `carry` is the carry out of
// `l3`.
[[gnu::always_inline]] inline void reduce_step(u64 m, u64& l0, u64& l1, u64& l2, u64& l3, u64& carry) noexcept {
  using limb::adc;
  using limb::sbb;
  u64 b, c;
  const u64 lo = m << 32, hi = m >> 32;
  const u64 v0 = sbb(m, lo, 0, b);
  const u64 v1 = sbb(0, hi, b, b);
  const u64 v2 = sbb(0, lo, b, b);
  const u64 v3 = sbb(m, hi, b, b) + carry;
  l0 = adc(l0, v0, 0, c);
  l1 = adc(l1, v1, c, c);
  l2 = adc(l2, v2, c, c);
  l3 = adc(l3, v3, c, c);
  carry = c;
}

// montgomery_reduce sets `r` = t·R⁻¹ mod p for the 512-bit t = t0 + t1·2^64
// + … + t7·2^448, which must be below p·R.
[[gnu::always_inline]] inline void montgomery_reduce(Fe& r, u64 t0, u64 t1, u64 t2, u64 t3, u64 t4, u64 t5,
                                                     u64 t6, u64 t7) noexcept {
  u64 carry = 0;
  reduce_step(t0, t1, t2, t3, t4, carry);
  reduce_step(t1, t2, t3, t4, t5, carry);
  reduce_step(t2, t3, t4, t5, t6, carry);
  reduce_step(t3, t4, t5, t6, t7, carry);
  const u64 x[4] = {t4, t5, t6, t7};
  reduce_once(r, x, carry);
}

}  // namespace detail

// mul sets `r` = a·b·R⁻¹ mod p. `a` may be any value below 2^256 when `b`
// is below p, or the other way round (that is how plain values enter
// Montgomery form). `r` may alias either operand.
inline void mul(Fe& r, const Fe& a, const Fe& b) noexcept {
  using limb::adc;
  using limb::mul_wide;
  const u64 b0 = b.v[0], b1 = b.v[1], b2 = b.v[2], b3 = b.v[3];
  u64 l0, l1, l2, l3, h0, h1, h2, h3, c;
  // Row by row: the four products a_i·b_j give low and high halves, summed
  // into the running value by two carry chains.
  u64 t0, t1, t2, t3, t4, t5, t6, t7;
  mul_wide(a.v[0], b0, t0, h0);
  mul_wide(a.v[0], b1, l1, h1);
  mul_wide(a.v[0], b2, l2, h2);
  mul_wide(a.v[0], b3, l3, h3);
  t1 = adc(l1, h0, 0, c);
  t2 = adc(l2, h1, c, c);
  t3 = adc(l3, h2, c, c);
  t4 = h3 + c;
  mul_wide(a.v[1], b0, l0, h0);
  mul_wide(a.v[1], b1, l1, h1);
  mul_wide(a.v[1], b2, l2, h2);
  mul_wide(a.v[1], b3, l3, h3);
  t1 = adc(t1, l0, 0, c);
  t2 = adc(t2, l1, c, c);
  t3 = adc(t3, l2, c, c);
  t4 = adc(t4, l3, c, c);
  t5 = c;
  t2 = adc(t2, h0, 0, c);
  t3 = adc(t3, h1, c, c);
  t4 = adc(t4, h2, c, c);
  t5 = adc(t5, h3, c, c);
  mul_wide(a.v[2], b0, l0, h0);
  mul_wide(a.v[2], b1, l1, h1);
  mul_wide(a.v[2], b2, l2, h2);
  mul_wide(a.v[2], b3, l3, h3);
  t2 = adc(t2, l0, 0, c);
  t3 = adc(t3, l1, c, c);
  t4 = adc(t4, l2, c, c);
  t5 = adc(t5, l3, c, c);
  t6 = c;
  t3 = adc(t3, h0, 0, c);
  t4 = adc(t4, h1, c, c);
  t5 = adc(t5, h2, c, c);
  t6 = adc(t6, h3, c, c);
  mul_wide(a.v[3], b0, l0, h0);
  mul_wide(a.v[3], b1, l1, h1);
  mul_wide(a.v[3], b2, l2, h2);
  mul_wide(a.v[3], b3, l3, h3);
  t3 = adc(t3, l0, 0, c);
  t4 = adc(t4, l1, c, c);
  t5 = adc(t5, l2, c, c);
  t6 = adc(t6, l3, c, c);
  t7 = c;
  t4 = adc(t4, h0, 0, c);
  t5 = adc(t5, h1, c, c);
  t6 = adc(t6, h2, c, c);
  t7 = adc(t7, h3, c, c);
  detail::montgomery_reduce(r, t0, t1, t2, t3, t4, t5, t6, t7);
}

// sqr sets `r` = a²·R⁻¹ mod p. `r` may alias `a`.
inline void sqr(Fe& r, const Fe& a) noexcept {
  using limb::adc;
  using limb::mac;
  const u64 a0 = a.v[0], a1 = a.v[1], a2 = a.v[2], a3 = a.v[3];
  // Products a_i·a_j for i < j.
  u64 c = 0;
  u64 t1 = mac(a0, a1, 0, c);
  u64 t2 = mac(a0, a2, 0, c);
  u64 t3 = mac(a0, a3, 0, c);
  u64 t4 = c;
  c = 0;
  t3 = mac(a1, a2, t3, c);
  t4 = mac(a1, a3, t4, c);
  u64 t5 = c;
  c = 0;
  t5 = mac(a2, a3, t5, c);
  u64 t6 = c;
  // Doubled.
  u64 t7 = t6 >> 63;
  t6 = (t6 << 1) | (t5 >> 63);
  t5 = (t5 << 1) | (t4 >> 63);
  t4 = (t4 << 1) | (t3 >> 63);
  t3 = (t3 << 1) | (t2 >> 63);
  t2 = (t2 << 1) | (t1 >> 63);
  t1 = t1 << 1;
  // Plus the squares a_i².
  u128 sq = static_cast<u128>(a0) * a0;
  const u64 t0 = static_cast<u64>(sq);
  t1 = adc(t1, static_cast<u64>(sq >> 64), 0, c);
  sq = static_cast<u128>(a1) * a1;
  t2 = adc(t2, static_cast<u64>(sq), c, c);
  t3 = adc(t3, static_cast<u64>(sq >> 64), c, c);
  sq = static_cast<u128>(a2) * a2;
  t4 = adc(t4, static_cast<u64>(sq), c, c);
  t5 = adc(t5, static_cast<u64>(sq >> 64), c, c);
  sq = static_cast<u128>(a3) * a3;
  t6 = adc(t6, static_cast<u64>(sq), c, c);
  t7 = adc(t7, static_cast<u64>(sq >> 64), c, c);
  detail::montgomery_reduce(r, t0, t1, t2, t3, t4, t5, t6, t7);
}

inline void add(Fe& r, const Fe& a, const Fe& b) noexcept {
  using limb::adc;
  using limb::sbb;
  u64 s[4], d[4], c, borrow, keep;
  s[0] = adc(a.v[0], b.v[0], 0, c);
  s[1] = adc(a.v[1], b.v[1], c, c);
  s[2] = adc(a.v[2], b.v[2], c, c);
  s[3] = adc(a.v[3], b.v[3], c, c);
  // d = s − p; the sum was below p exactly when that borrows past the carry
  // of the sum (c = 0, borrow = 1), and then p is added back.
  d[0] = sbb(s[0], kP.v[0], 0, borrow);
  d[1] = sbb(s[1], kP.v[1], borrow, borrow);
  d[2] = sbb(s[2], kP.v[2], borrow, borrow);
  d[3] = sbb(s[3], kP.v[3], borrow, borrow);
  sbb(c, 0, borrow, keep);
  const u64 m = ct::mask_from_bit(keep);
  r.v[0] = adc(d[0], kP.v[0] & m, 0, c);
  r.v[1] = adc(d[1], kP.v[1] & m, c, c);
  r.v[2] = adc(d[2], kP.v[2] & m, c, c);
  r.v[3] = adc(d[3], kP.v[3] & m, c, c);
}

inline void sub(Fe& r, const Fe& a, const Fe& b) noexcept {
  using limb::adc;
  using limb::sbb;
  u64 d[4], b_out, c;
  d[0] = sbb(a.v[0], b.v[0], 0, b_out);
  d[1] = sbb(a.v[1], b.v[1], b_out, b_out);
  d[2] = sbb(a.v[2], b.v[2], b_out, b_out);
  d[3] = sbb(a.v[3], b.v[3], b_out, b_out);
  // A borrow means a < b: add p back.
  const u64 m = ct::mask_from_bit(b_out);
  r.v[0] = adc(d[0], kP.v[0] & m, 0, c);
  r.v[1] = adc(d[1], kP.v[1] & m, c, c);
  r.v[2] = adc(d[2], kP.v[2] & m, c, c);
  r.v[3] = adc(d[3], kP.v[3] & m, c, c);
}

inline void neg(Fe& r, const Fe& a) noexcept { sub(r, kZero, a); }

// half sets `r` = a/2 mod p for `a` below p: a + p when a is odd (masked),
// an even value below 2^257, shifted right by one.
inline void half(Fe& r, const Fe& a) noexcept {
  using limb::adc;
  const u64 m = 0 - (a.v[0] & 1);
  u64 c;
  const u64 s0 = adc(a.v[0], kP.v[0] & m, 0, c);
  const u64 s1 = adc(a.v[1], kP.v[1] & m, c, c);
  const u64 s2 = adc(a.v[2], kP.v[2] & m, c, c);
  const u64 s3 = adc(a.v[3], kP.v[3] & m, c, c);
  r.v[0] = (s0 >> 1) | (s1 << 63);
  r.v[1] = (s1 >> 1) | (s2 << 63);
  r.v[2] = (s2 >> 1) | (s3 << 63);
  r.v[3] = (s3 >> 1) | (c << 63);
}

// is_zero returns all ones when `a` = 0.
inline u64 is_zero(const Fe& a) noexcept { return ct::is_zero(a.v[0] | a.v[1] | a.v[2] | a.v[3]); }

// equal returns all ones when `a` = `b`.
inline u64 equal(const Fe& a, const Fe& b) noexcept {
  return ct::is_zero((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3]));
}

// cmov sets `r` = `a` where `mask` is all ones and leaves it otherwise.
inline void cmov(Fe& r, const Fe& a, u64 mask) noexcept {
  for (int i = 0; i < 4; ++i) r.v[i] = ct::select(mask, a.v[i], r.v[i]);
}

// to_montgomery sets `r` = x·R mod p for any 256-bit x (reduced or not),
// given as limbs.
inline void to_montgomery(Fe& r, const Fe& x) noexcept { mul(r, x, kR2); }

// from_montgomery sets `r` to the plain value of `a`, below p.
inline void from_montgomery(Fe& r, const Fe& a) noexcept {
  detail::montgomery_reduce(r, a.v[0], a.v[1], a.v[2], a.v[3], 0, 0, 0, 0);
}

// kR3 is R³ mod p: modinv turns a·R into a⁻¹·R⁻¹, and one Montgomery
// multiplication by R³ gives a⁻¹·R.
inline constexpr Fe kR3{{0x0000001200000016, 0x0000000EFFFFFFF8, 0x0000000A0000000C, 0x0000001B00000009}};

// invert sets `r` = a⁻¹ (0 for a = 0) in Montgomery form, in constant time
// (safegcd, modinv.h). `r` may alias `a`.
inline void invert(Fe& r, const Fe& a) noexcept {
  Fe t;
  modinv::invert(t.v, a.v, modinv::kP);
  mul(r, t, kR3);
}

// pow_vartime sets `r` = a^e for a public exponent `e` (four limbs, least
// significant first), by left-to-right square and multiply. It branches on
// the bits of `e`, never on `a`.
inline void pow_vartime(Fe& r, const Fe& a, const u64 e[4]) noexcept {
  Fe acc = kOne;
  for (int i = 255; i >= 0; --i) {
    sqr(acc, acc);
    if ((e[i / 64] >> (i % 64)) & 1) mul(acc, acc, a);
  }
  r = acc;
}

}  // namespace tarnwick::sm2::fp
