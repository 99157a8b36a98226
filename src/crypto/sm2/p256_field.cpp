#include "crypto/sm2/p256_field.h"

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/limb.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm2::p256_field {
namespace {

using u32 = std::uint32_t;
using u64 = std::uint64_t;

// limbs_of returns the value of `a` as four 64-bit limbs, least significant
// first (no reduction).
fp::Fe limbs_of(const FieldElement& a) noexcept {
  fp::Fe r;
  for (int i = 0; i < 4; ++i) r.v[i] = (u64{a.w[6 - 2 * i]} << 32) | a.w[7 - 2 * i];
  return r;
}

FieldElement element_of(const fp::Fe& l) noexcept {
  FieldElement r;
  for (int i = 0; i < 4; ++i) {
    r.w[6 - 2 * i] = static_cast<u32>(l.v[i] >> 32);
    r.w[7 - 2 * i] = static_cast<u32>(l.v[i]);
  }
  return r;
}

// kSqrtLimbs is (p + 1)/4.
constexpr u64 kSqrtLimbs[4] = {0x4000000000000000, 0xFFFFFFFFC0000000, 0xFFFFFFFFFFFFFFFF, 0x3FFFFFFFBFFFFFFF};

}  // namespace

// The conversions wipe their plain limbs: the value may be secret (a
// coordinate of a shared point).
fp::Fe to_montgomery(const FieldElement& a) noexcept {
  fp::Fe plain = limbs_of(a);
  fp::Fe r;
  fp::to_montgomery(r, plain);
  wipe_object(plain);
  return r;
}

FieldElement from_montgomery(const fp::Fe& m) noexcept {
  fp::Fe r;
  fp::from_montgomery(r, m);
  const FieldElement out = element_of(r);
  wipe_object(r);
  return out;
}

bool is_zero(const FieldElement& a) noexcept {
  u32 acc = 0;
  for (u32 v : a.w) acc |= v;
  return acc == 0;
}

bool is_reduced(const FieldElement& a) noexcept {
  // a < p exactly when a − p borrows.
  const fp::Fe x = limbs_of(a);
  u64 borrow = 0;
  for (int i = 0; i < 4; ++i) limb::sbb(x.v[i], fp::kP.v[i], borrow, borrow);
  return borrow != 0;
}

FieldElement mul(FieldElement a, FieldElement b) noexcept {
  // (a·R)·b·R⁻¹ = a·b; the first step also reduces an unreduced a, and the
  // second accepts an unreduced b since a·R mod p is below p.
  fp::Fe am, r;
  fp::to_montgomery(am, limbs_of(a));
  fp::mul(r, am, limbs_of(b));
  return element_of(r);
}

FieldElement add(FieldElement a, FieldElement b) noexcept {
  // One conditional subtraction of p (modulo 2^256) after a carry out or a
  // sum of p or more.
  const fp::Fe x = limbs_of(a), y = limbs_of(b);
  fp::Fe s;
  u64 c = 0;
  for (int i = 0; i < 4; ++i) s.v[i] = limb::adc(x.v[i], y.v[i], c, c);
  fp::Fe d;
  u64 borrow = 0;
  for (int i = 0; i < 4; ++i) d.v[i] = limb::sbb(s.v[i], fp::kP.v[i], borrow, borrow);
  fp::cmov(s, d, ct::mask_from_bit(c | (borrow ^ 1)));
  return element_of(s);
}

FieldElement sub(FieldElement a, FieldElement b) noexcept {
  // One addition of p (modulo 2^256) after a borrow.
  fp::Fe r;
  fp::sub(r, limbs_of(a), limbs_of(b));
  return element_of(r);
}

FieldElement invert(FieldElement a) noexcept {
  fp::Fe m = to_montgomery(a), r;
  fp::invert(r, m);
  return from_montgomery(r);
}

void write_bytes(const FieldElement& a, std::uint8_t* out) noexcept {
  for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, a.w[i]);
}

Bytes to_bytes(FieldElement a) {
  Bytes out(32);
  write_bytes(a, out.data());
  return out;
}

FieldElement from_bytes(const std::uint8_t* in) noexcept {
  FieldElement r;
  for (int i = 0; i < 8; ++i) r.w[i] = load_be32(in + 4 * i);
  return r;
}

std::expected<FieldElement, Sm2Error> from_biguint(const BIGNUM& x) {
  const auto bytes = biguint::to_bytes32(x);
  if (!bytes) return std::unexpected(Sm2Error::InvalidFieldElementLength);
  return from_bytes(bytes->data());
}

std::expected<FieldElement, Sm2Error> sqrt(FieldElement alpha) noexcept {
  // p ≡ 3 (mod 4): a root, if there is one, is alpha^((p+1)/4).
  const fp::Fe am = to_montgomery(alpha);
  fp::Fe y, yy;
  fp::pow_vartime(y, am, kSqrtLimbs);
  fp::sqr(yy, y);
  // y² is compared with alpha as stored: an unreduced alpha never matches.
  if (!ct::declassify_mask(fp::equal(yy, am)) || !is_reduced(alpha)) return std::unexpected(Sm2Error::NoSquareRoot);
  return from_montgomery(y);
}

}  // namespace tarnwick::sm2::p256_field
