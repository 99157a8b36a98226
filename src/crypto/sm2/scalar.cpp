#include "crypto/sm2/scalar.h"

#include <openssl/crypto.h>

#include "crypto/sm2/limb.h"
#include "crypto/sm2/modinv.h"
#include "support/ct.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm2 {

namespace {

using u64 = std::uint64_t;
using Limbs = std::array<u64, 4>;

constexpr Limbs kNLimbs = {0x53BBF40939D54123, 0x7203DF6B21C6052B, 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFEFFFFFFFF};
// kR2 is 2^512 mod n; kN0 is −n⁻¹ mod 2^64.
constexpr Limbs kR2 = {0x901192AF7C114F20, 0x3464504ADE6FA2FA, 0x620FC84C3AFFE0D4, 0x1EB5E412A22B3D3B};
constexpr u64 kN0 = 0x327F9E8872350975;

using limb::adc;
using limb::sbb;

// reduce_once returns x − n when x + top·2^256 ≥ n, else x (x + top·2^256
// must be below 2n).
Limbs reduce_once(const Limbs& x, u64 top) noexcept {
  Limbs d;
  u64 b = 0;
  for (int i = 0; i < 4; ++i) d[i] = sbb(x[i], kNLimbs[i], b, b);
  const u64 keep = ct::mask_from_bit(b & (top ^ 1));
  Limbs r;
  for (int i = 0; i < 4; ++i) r[i] = ct::select(keep, x[i], d[i]);
  wipe_object(d);
  return r;
}

using limb::mac;

// reduce_step adds m·n at limb l0 (m = l0·(−n⁻¹) mod 2^64, so l0 becomes
// 0 and is dropped) and carries into l4; `carry` is the carry out of the
// previous step, which belongs at l4 (an add-with-carry input, so no
// overflow).
[[gnu::always_inline]] inline void reduce_step(u64 l0, u64& l1, u64& l2, u64& l3, u64& l4, u64& carry) noexcept {
  const u64 m = l0 * kN0;
  u64 c = 0;
  (void)mac(m, kNLimbs[0], l0, c);
  l1 = mac(m, kNLimbs[1], l1, c);
  l2 = mac(m, kNLimbs[2], l2, c);
  l3 = mac(m, kNLimbs[3], l3, c);
  l4 = adc(l4, c, carry, carry);
}

// montgomery_reduce returns t·2^−256 mod n for t below n·2^256.
[[gnu::always_inline]] inline Limbs montgomery_reduce(u64 t0, u64 t1, u64 t2, u64 t3, u64 t4, u64 t5, u64 t6,
                                                      u64 t7) noexcept {
  u64 carry = 0;
  reduce_step(t0, t1, t2, t3, t4, carry);
  reduce_step(t1, t2, t3, t4, t5, carry);
  reduce_step(t2, t3, t4, t5, t6, carry);
  reduce_step(t3, t4, t5, t6, t7, carry);
  Limbs high{t4, t5, t6, t7};
  const Limbs r = reduce_once(high, carry);
  wipe_object(high);
  return r;
}

// mont_mul returns a·b·2^−256 mod n, for a below 2^256 and b below n.
Limbs mont_mul(const Limbs& a, const Limbs& b) noexcept {
  u64 c = 0;
  const u64 t0 = mac(a[0], b[0], 0, c);
  u64 t1 = mac(a[0], b[1], 0, c);
  u64 t2 = mac(a[0], b[2], 0, c);
  u64 t3 = mac(a[0], b[3], 0, c);
  u64 t4 = c;
  c = 0;
  t1 = mac(a[1], b[0], t1, c);
  t2 = mac(a[1], b[1], t2, c);
  t3 = mac(a[1], b[2], t3, c);
  t4 = mac(a[1], b[3], t4, c);
  u64 t5 = c;
  c = 0;
  t2 = mac(a[2], b[0], t2, c);
  t3 = mac(a[2], b[1], t3, c);
  t4 = mac(a[2], b[2], t4, c);
  t5 = mac(a[2], b[3], t5, c);
  u64 t6 = c;
  c = 0;
  t3 = mac(a[3], b[0], t3, c);
  t4 = mac(a[3], b[1], t4, c);
  t5 = mac(a[3], b[2], t5, c);
  t6 = mac(a[3], b[3], t6, c);
  return montgomery_reduce(t0, t1, t2, t3, t4, t5, t6, c);
}

Scalar of(const Limbs& l) noexcept {
  Scalar s;
  s.v = l;
  return s;
}

}  // namespace

Scalar::~Scalar() { wipe_memory(v.data(), sizeof v); }

Scalar Scalar::from_bytes(const std::uint8_t in[32]) noexcept {
  Scalar s;
  for (int i = 0; i < 4; ++i) s.v[i] = load_be64(in + 8 * (3 - i));
  return s;
}

Scalar Scalar::from_word(std::uint64_t w) noexcept {
  Scalar s;
  s.v[0] = w;
  return s;
}

void Scalar::to_bytes(std::uint8_t out[32]) const noexcept {
  for (int i = 0; i < 4; ++i) store_be64(out + 8 * (3 - i), v[i]);
}

namespace scalar {

const Scalar kN = of(kNLimbs);

u64 is_zero(const Scalar& a) noexcept { return ct::is_zero(a.v[0] | a.v[1] | a.v[2] | a.v[3]); }

u64 equal(const Scalar& a, const Scalar& b) noexcept {
  return ct::is_zero((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3]));
}

u64 less(const Scalar& a, const Scalar& b) noexcept {
  u64 borrow = 0;
  for (int i = 0; i < 4; ++i) sbb(a.v[i], b.v[i], borrow, borrow);
  return ct::mask_from_bit(borrow);
}

Scalar reduce(const Scalar& a) noexcept {
  Limbs r = reduce_once(a.v, 0);
  Scalar out = of(r);
  wipe_object(r);
  return out;
}

Scalar add_mod(const Scalar& a, const Scalar& b) noexcept {
  Limbs s;
  u64 c = 0;
  for (int i = 0; i < 4; ++i) s[i] = adc(a.v[i], b.v[i], c, c);
  Limbs r = reduce_once(s, c);
  Scalar out = of(r);
  wipe_object(s);
  wipe_object(r);
  return out;
}

Scalar sub_mod(const Scalar& a, const Scalar& b) noexcept {
  Limbs d;
  u64 borrow = 0;
  for (int i = 0; i < 4; ++i) d[i] = sbb(a.v[i], b.v[i], borrow, borrow);
  const u64 m = ct::mask_from_bit(borrow);
  Limbs r;
  u64 c = 0;
  for (int i = 0; i < 4; ++i) r[i] = adc(d[i], kNLimbs[i] & m, c, c);
  Scalar out = of(r);
  wipe_object(d);
  wipe_object(r);
  return out;
}

Scalar mul_mod(const Scalar& a, const Scalar& b) noexcept {
  // (a·b·R⁻¹)·R²·R⁻¹ = a·b. The operands may be secret (r·d, (1 + d)⁻¹·t):
  // the intermediate limbs are wiped.
  Limbs t = mont_mul(a.v, b.v);
  Limbs r = mont_mul(t, kR2);
  Scalar s = of(r);
  wipe_object(t);
  wipe_object(r);
  return s;
}

Scalar inv_mod(const Scalar& a) noexcept {
  Scalar r;
  modinv::invert(r.v.data(), a.v.data(), modinv::kN);
  return r;
}

}  // namespace scalar
}  // namespace tarnwick::sm2
