#include "crypto/sm2/p256_ecc.h"

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/p256_pre_table.h"

namespace tarnwick::sm2::p256_ecc {
namespace {

using p256_field::add;
using p256_field::mul;
using p256_field::sub;

constexpr FieldElement kA{{0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000,
                           0xFFFFFFFF, 0xFFFFFFFC}};
constexpr FieldElement kB{{0x28E9FA9E, 0x9D9F5E34, 0x4D5A9E4B, 0xCF6509A7, 0xF39789F5, 0x15AB8F92,
                           0xDDBCBD41, 0x4D940E93}};
constexpr FieldElement kGx{{0x32C4AE2C, 0x1F198119, 0x5F990446, 0x6A39C994, 0x8FE30BBF, 0xF2660BE1,
                            0x715A4589, 0x334C74C7}};
constexpr FieldElement kGy{{0xBC3736A2, 0xF4F6779C, 0x59BDCEE3, 0x6B692153, 0xD0A9877C, 0xC62A4740,
                            0x02DF32E5, 0x2139F0A0}};
constexpr const char* kNHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

CurveParams build_curve_params() {
  CurveParams c;
  c.n = biguint::from_hex(kNHex);
  c.h = biguint::from_word(1);
  c.p = p256_field::kP;
  c.a = kA;
  c.b = kB;
  c.g = JacobianPoint{kGx, kGy, p256_field::kOne};
  return c;
}

inline bool bit_of(const FieldElement& k, int j) noexcept {
  return j <= 255 && ((k.w[7 - j / 32] >> (j % 32)) & 1) != 0;
}

}  // namespace

const CurveParams& init_curve_params() {
  static const CurveParams params = build_curve_params();
  return params;
}

JacobianPoint double_(JacobianPoint pt) noexcept {
  const FieldElement& x = pt.x;
  const FieldElement& y = pt.y;
  const FieldElement& z = pt.z;
  const FieldElement yy = mul(y, y);
  const FieldElement yyyy = mul(yy, yy);
  const FieldElement xx = mul(x, x);
  const FieldElement x2 = add(x, x);
  const FieldElement s = mul(add(x2, x2), yy);
  const FieldElement xx3 = add(add(xx, xx), xx);
  FieldElement m, z3;
  if (z == p256_field::kOne) {
    m = add(xx3, kA);
    z3 = add(y, y);
  } else {
    const FieldElement zz = mul(z, z);
    m = add(xx3, mul(kA, mul(zz, zz)));
    const FieldElement yz = add(y, z);
    z3 = sub(sub(mul(yz, yz), yy), zz);
  }
  const FieldElement x3 = sub(mul(m, m), add(s, s));
  FieldElement y8 = add(yyyy, yyyy);
  y8 = add(y8, y8);
  y8 = add(y8, y8);
  const FieldElement y3 = sub(mul(m, sub(s, x3)), y8);
  return JacobianPoint{x3, y3, z3};
}

JacobianPoint add(JacobianPoint p, JacobianPoint q) noexcept {
  if (is_infinity(p)) return q;
  if (is_infinity(q)) return p;
  if (p == q) return double_(p);
  const FieldElement z1z1 = mul(p.z, p.z);
  const FieldElement z2z2 = mul(q.z, q.z);
  const FieldElement u1 = mul(p.x, z2z2);
  const FieldElement u2 = mul(q.x, z1z1);
  const FieldElement s1 = mul(mul(p.y, q.z), z2z2);
  const FieldElement s2 = mul(mul(q.y, p.z), z1z1);
  const FieldElement h = sub(u2, u1);
  const FieldElement r = sub(s2, s1);
  if (p256_field::is_zero(h) && p256_field::is_zero(r)) return double_(p);
  const FieldElement hh = mul(h, h);
  const FieldElement hhh = mul(h, hh);
  const FieldElement v = mul(u1, hh);
  const FieldElement x3 = sub(sub(mul(r, r), hhh), add(v, v));
  const FieldElement y3 = sub(mul(r, sub(v, x3)), mul(s1, hhh));
  const FieldElement z3 = mul(mul(p.z, q.z), h);
  return JacobianPoint{x3, y3, z3};
}

JacobianPoint negate(JacobianPoint p) noexcept { return JacobianPoint{p.x, sub(p256_field::kZero, p.y), p.z}; }

JacobianPoint to_affine(JacobianPoint p) noexcept {
  const FieldElement zi = p256_field::invert(p.z);
  const FieldElement zi2 = mul(zi, zi);
  const FieldElement zi3 = mul(zi2, zi);
  return JacobianPoint{mul(p.x, zi2), mul(p.y, zi3), p256_field::kOne};
}

Bytes encode_uncompressed(JacobianPoint p) {
  const JacobianPoint a = to_affine(p);
  Bytes out(65);
  out[0] = 0x04;
  p256_field::write_bytes(a.x, out.data() + 1);
  p256_field::write_bytes(a.y, out.data() + 33);
  return out;
}

std::expected<JacobianPoint, Sm2Error> decode_point(ByteView bytes) {
  if (bytes.empty()) return std::unexpected(Sm2Error::InvalidPublicKey);
  const std::uint8_t prefix = bytes[0];
  if (prefix == 0x02 || prefix == 0x03) {
    if (bytes.size() != 33) return std::unexpected(Sm2Error::InvalidPublicKey);
    const FieldElement x = p256_field::from_bytes(bytes.data() + 1);
    const FieldElement alpha = add(add(mul(mul(x, x), x), mul(kA, x)), kB);
    auto root = p256_field::sqrt(alpha);
    if (!root) return std::unexpected(root.error());
    FieldElement y = *root;
    const bool odd = (y.w[7] & 1) != 0;
    if ((prefix == 0x02) == odd) y = sub(p256_field::kZero, y);
    return JacobianPoint{x, y, p256_field::kOne};
  }
  if (bytes.size() != 65) return std::unexpected(Sm2Error::InvalidPublicKey);
  return JacobianPoint{p256_field::from_bytes(bytes.data() + 1), p256_field::from_bytes(bytes.data() + 33),
                       p256_field::kOne};
}

bool is_on_curve(JacobianPoint p) noexcept {
  if (is_infinity(p)) return true;
  const FieldElement yy = mul(p.y, p.y);
  const FieldElement xx = mul(p.x, p.x);
  const FieldElement zz = mul(p.z, p.z);
  const FieldElement z4 = mul(zz, zz);
  const FieldElement z6 = mul(z4, zz);
  const FieldElement rhs = add(mul(add(xx, mul(kA, z4)), p.x), mul(kB, z6));
  return yy == rhs;
}

std::expected<JacobianPoint, Sm2Error> mul_base(const BIGNUM& k) {
  auto bits = p256_field::from_biguint(k);
  if (!bits) return std::unexpected(bits.error());
  const auto& low = p256_pre_table::init_low_table();
  const auto& high = p256_pre_table::init_high_table();
  JacobianPoint r = kInfinity;
  for (int i = 15; i >= 0; --i) {
    r = double_(r);
    unsigned lo = 0, hi = 0;
    for (int m = 0; m < 8; ++m) {
      const std::uint32_t km = bits->w[7 - m];
      lo |= ((km >> i) & 1u) << m;
      hi |= ((km >> (i + 16)) & 1u) << m;
    }
    r = add(r, low[lo]);
    r = add(r, high[hi]);
  }
  return r;
}

Digits recode(const FieldElement& k) noexcept {
  Digits d{};
  int j = 0;
  int c = 0;
  while (j <= 255) {
    if (static_cast<int>(bit_of(k, j)) == c) {
      ++j;
      continue;
    }
    int w = 0;
    for (int b = 0; b < 5; ++b) w |= static_cast<int>(bit_of(k, j + b)) << b;
    const int v = w + c;
    if (v >= 16) {
      d[j] = static_cast<std::int8_t>(v - 32);
      c = 1;
    } else {
      d[j] = static_cast<std::int8_t>(v);
      c = 0;
    }
    if (j > 250) break;
    j += 5;
  }
  if (c == 1) d[256] = 1;
  return d;
}

std::expected<JacobianPoint, Sm2Error> mul_point(const BIGNUM& k, JacobianPoint p) {
  auto bits = p256_field::from_biguint(k);
  if (!bits) return std::unexpected(bits.error());

  // slot 16 + d holds d·p for odd d in −15..15.
  std::array<JacobianPoint, 32> window;
  window.fill(kInfinity);
  const JacobianPoint p2 = double_(p);
  window[17] = p;
  window[15] = negate(p);
  for (int d = 3; d <= 15; d += 2) {
    window[16 + d] = add(p2, window[16 + d - 2]);
    window[16 - d] = negate(window[16 + d]);
  }

  const Digits digits = recode(*bits);
  int top = 256;
  if (digits[256] == 0) {
    for (int t = 255; t >= 0; --t) {
      if (digits[t] != 0) {
        top = t;
        break;
      }
    }
  }
  JacobianPoint r = kInfinity;
  for (int t = top; t >= 0; --t) {
    r = double_(r);
    if (digits[t] != 0) r = add(r, window[16 + digits[t]]);
  }
  return r;
}

}  // namespace tarnwick::sm2::p256_ecc
