#include "crypto/sm2/p256_field.h"

#include "crypto/sm2/biguint.h"

namespace tarnwick::sm2::p256_field {
namespace {

using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i64 = std::int64_t;

// geq compares the eight-word values from the most significant word.
bool geq(const FieldElement& a, const FieldElement& b) noexcept {
  for (int i = 0; i < 8; ++i) {
    if (a.w[i] != b.w[i]) return a.w[i] > b.w[i];
  }
  return true;
}

// sub_in_place computes a −= b modulo 2^256 and returns the borrow out.
u32 sub_in_place(FieldElement& a, const FieldElement& b) noexcept {
  u64 borrow = 0;
  for (int i = 7; i >= 0; --i) {
    const u64 d = u64{a.w[i]} - b.w[i] - borrow;
    a.w[i] = static_cast<u32>(d);
    borrow = (d >> 32) & 1;
  }
  return static_cast<u32>(borrow);
}

// add_in_place computes a += b modulo 2^256 and returns the carry out.
u32 add_in_place(FieldElement& a, const FieldElement& b) noexcept {
  u64 carry = 0;
  for (int i = 7; i >= 0; --i) {
    const u64 s = u64{a.w[i]} + b.w[i] + carry;
    a.w[i] = static_cast<u32>(s);
    carry = s >> 32;
  }
  return static_cast<u32>(carry);
}

bool is_even(const FieldElement& a) noexcept { return (a.w[7] & 1) == 0; }

// shr1 shifts right by one bit, shifting `top` in at the most significant end.
void shr1(FieldElement& a, u32 top) noexcept {
  for (int i = 7; i > 0; --i) a.w[i] = (a.w[i] >> 1) | (a.w[i - 1] << 31);
  a.w[0] = (a.w[0] >> 1) | (top << 31);
}

// halve_mod_p returns x/2 mod p: x/2 for even x, else (x + p)/2 over 257 bits.
void halve_mod_p(FieldElement& x) noexcept {
  if (is_even(x)) {
    shr1(x, 0);
  } else {
    const u32 carry = add_in_place(x, kP);
    shr1(x, carry);
  }
}

}  // namespace

bool is_zero(const FieldElement& a) noexcept {
  u32 acc = 0;
  for (u32 v : a.w) acc |= v;
  return acc == 0;
}

bool is_reduced(const FieldElement& a) noexcept { return !geq(a, kP); }

FieldElement mul(FieldElement a, FieldElement b) noexcept {
  // The 512-bit product as sixteen 32-bit words, c[0] the least significant.
  u32 x[8], y[8];
  for (int i = 0; i < 8; ++i) {
    x[i] = a.w[7 - i];
    y[i] = b.w[7 - i];
  }
  // Row by row with fixed bounds, which the compiler unrolls completely;
  // each step's 64-bit sum x·y + c + carry cannot overflow.
  u64 c[16] = {};
  for (int i = 0; i < 8; ++i) {
    u64 carry = 0;
    for (int j = 0; j < 8; ++j) {
      const u64 t = static_cast<u64>(x[i]) * y[j] + c[i + j] + carry;
      c[i + j] = static_cast<u32>(t);
      carry = t >> 32;
    }
    c[i + 8] = carry;
  }

  // Fold the upper half with 2^256 ≡ 2^224 + 2^96 − 2^64 + 1 (mod p).
  // t[j] is the coefficient of 2^(32j).
  i64 t[8];
  t[0] = i64(c[0] + c[8] + c[12] + c[10] + c[9] + c[11]) + 2 * i64(c[13] + c[14] + c[15]);
  t[1] = i64(c[1] + c[9] + c[13] + c[11] + c[10] + c[12]) + 2 * i64(c[14] + c[15]);
  t[2] = i64(c[2]) - i64(c[8] + c[9] + c[13] + c[14]);
  t[3] = i64(c[3] + c[11] + c[14] + c[12] + c[8] + c[15]) + 2 * i64(c[13]);
  t[4] = i64(c[4] + c[12] + c[15] + c[13] + c[9]) + 2 * i64(c[14]);
  t[5] = i64(c[5] + c[13] + c[10] + c[14]) + 2 * i64(c[15]);
  t[6] = i64(c[6] + c[14] + c[11] + c[15]);
  t[7] = i64(c[7] + c[15] + c[11] + c[10] + c[9] + c[8]) + 2 * i64(c[14] + c[13] + c[12] + c[15]);

  FieldElement r;
  i64 carry = 0;
  for (int j = 0; j < 8; ++j) {
    const i64 v = t[j] + carry;
    r.w[7 - j] = static_cast<u32>(v);
    carry = v >> 32;  // arithmetic shift: the borrow of position 2 runs upwards
  }
  // Final reduction: the value is carry·2^256 + r with 0 ≤ carry ≤ 13.
  u32 top = static_cast<u32>(carry);
  while (top > 0 || geq(r, kP)) top -= sub_in_place(r, kP);
  return r;
}

FieldElement add(FieldElement a, FieldElement b) noexcept {
  const u32 carry = add_in_place(a, b);
  if (carry != 0 || geq(a, kP)) sub_in_place(a, kP);
  return a;
}

FieldElement sub(FieldElement a, FieldElement b) noexcept {
  if (sub_in_place(a, b) != 0) add_in_place(a, kP);
  return a;
}

FieldElement invert(FieldElement a) noexcept {
  FieldElement u = a, v = kP, x1 = kOne, x2 = kZero;
  while (!is_zero(u)) {
    if (is_even(u)) {
      shr1(u, 0);
      halve_mod_p(x1);
    }
    if (is_even(v)) {
      shr1(v, 0);
      halve_mod_p(x2);
    }
    if (geq(u, v)) {
      sub_in_place(u, v);
      x1 = sub(x1, x2);
    } else {
      sub_in_place(v, u);
      x2 = sub(x2, x1);
    }
  }
  return x2;
}

void write_bytes(const FieldElement& a, std::uint8_t* out) noexcept {
  for (int i = 0; i < 8; ++i) {
    out[4 * i] = static_cast<std::uint8_t>(a.w[i] >> 24);
    out[4 * i + 1] = static_cast<std::uint8_t>(a.w[i] >> 16);
    out[4 * i + 2] = static_cast<std::uint8_t>(a.w[i] >> 8);
    out[4 * i + 3] = static_cast<std::uint8_t>(a.w[i]);
  }
}

Bytes to_bytes(FieldElement a) {
  Bytes out(32);
  write_bytes(a, out.data());
  return out;
}

FieldElement from_bytes(const std::uint8_t* in) noexcept {
  FieldElement r;
  for (int i = 0; i < 8; ++i) {
    r.w[i] = (u32{in[4 * i]} << 24) | (u32{in[4 * i + 1]} << 16) | (u32{in[4 * i + 2]} << 8) |
             u32{in[4 * i + 3]};
  }
  return r;
}

std::expected<FieldElement, Sm2Error> from_biguint(const BIGNUM& x) {
  const auto bytes = biguint::to_bytes32(x);
  if (!bytes) return std::unexpected(Sm2Error::InvalidFieldElementLength);
  return from_bytes(bytes->data());
}

std::expected<FieldElement, Sm2Error> sqrt(FieldElement alpha) noexcept {
  FieldElement r0 = kOne, r1 = alpha;
  for (int i = 0; i < 8; ++i) {
    for (int bit = 31; bit >= 0; --bit) {
      const FieldElement t = mul(r0, r1);
      if ((kSqrtExponent.w[i] >> bit) & 1) {
        r0 = t;
        r1 = mul(r1, r1);
      } else {
        r1 = t;
        r0 = mul(r0, r0);
      }
    }
  }
  if (mul(r0, r0) != alpha) return std::unexpected(Sm2Error::NoSquareRoot);
  return r0;
}

}  // namespace tarnwick::sm2::p256_field
