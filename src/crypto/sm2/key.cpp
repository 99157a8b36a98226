#include "crypto/sm2/key.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "crypto/sm2/error.h"
#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm2/util.h"
#include "crypto/sm3/sm3.h"
#include "support/ct.h"
#include "support/secret.h"

namespace tarnwick::sm2::key {
namespace {

using p256_ecc::JacobianPoint;
using p256_field::FieldElement;

constexpr const char* kTooShort = "ciphertext length is less than cipher size";
// A working source yields an all-zero keystream for one pass with
// probability at most 2^−8; this many passes in a row mean it is stuck.
constexpr int kMaxPasses = 128;
constexpr const char* kNoUsableScalar = "the random source yields no usable scalar";

constexpr std::size_t kCoord = 32;
constexpr std::size_t kC1 = 1 + 2 * kCoord;  // 04 ‖ x ‖ y
constexpr std::size_t kC3 = 32;

std::unexpected<Error> fail_with(Sm2Error e) { return fail(std::string(display(e))); }

bool is_reduced(const JacobianPoint& p) {
  return p256_field::is_reduced(p.x) && p256_field::is_reduced(p.y) && p256_field::is_reduced(p.z);
}

// SharedPoint is x2 ‖ y2, the shared point as bytes; wiped on scope exit.
struct SharedPoint {
  std::array<std::uint8_t, 2 * kCoord> xy{};
  ~SharedPoint() { wipe_object(xy); }
  ByteView x() const { return ByteView(xy).first(kCoord); }
  ByteView y() const { return ByteView(xy).last(kCoord); }
};

// set_shared writes the affine point `a` and wipes it.
void set_shared(SharedPoint& s, JacobianPoint& a) {
  p256_field::write_bytes(a.x, s.xy.data());
  p256_field::write_bytes(a.y, s.xy.data() + kCoord);
  wipe_object(a);
}

// all_zero tests a secret keystream in constant time; only the answer is
// made public (an all-zero keystream restarts encryption or fails
// decryption, which the caller sees).
bool all_zero(ByteView v) {
  std::uint64_t acc = 0;
  for (std::uint8_t b : v) acc |= b;
  return ct::declassify_mask(ct::is_zero(acc));
}

// c3_of returns SM3(x2 ‖ M ‖ y2) (GB/T 32918.4 §6.1 A7 / §7.1 B6).
Bytes c3_of(const SharedPoint& s, ByteView m) {
  SecretBytes input;
  input.reserve(2 * kCoord + m.size());
  input.insert(input.end(), s.x().begin(), s.x().end());
  input.insert(input.end(), m.begin(), m.end());
  input.insert(input.end(), s.y().begin(), s.y().end());
  return sm3::digest(input);
}

// strip drops leading zero bytes.
ByteView strip(ByteView v) {
  const auto first = std::find_if(v.begin(), v.end(), [](std::uint8_t b) { return b != 0; });
  return v.subspan(static_cast<std::size_t>(first - v.begin()));
}

}  // namespace

Result<Bytes> encrypt(const Sm2PublicKey& public_key, ByteView message) {
  // The field operations are exact only on reduced operands, and a point off
  // the curve would give a ciphertext no key can open.
  if (!is_reduced(public_key) || !p256_ecc::is_on_curve(public_key)) return fail_with(Sm2Error::InvalidPublicKey);

  for (int pass = 0; pass < kMaxPasses; ++pass) {
    // A1: k in 1..n−2, or the random source's failure.
    auto k = random_scalar();
    if (!k) return std::unexpected(k.error());
    // A3: S = h·P must not be the point at infinity; with h = 1, S = P.
    if (p256_ecc::is_infinity(public_key)) return fail_with(Sm2Error::PointAtInfinity);
    // A4: (x2, y2) = k·P. For k in 1..n−2 and P on the curve it is never
    // the point at infinity; the test's outcome is public either way.
    JacobianPoint kp = p256_ecc::mul_point(*k, public_key);
    bool kp_infinite = p256_ecc::is_infinity(kp);
    ct::declassify(&kp_infinite, sizeof kp_infinite);
    if (kp_infinite) return fail_with(Sm2Error::PointAtInfinity);
    // A2: C1 = k·G, never at infinity for k in 1..n−2; both points are made
    // affine by one inversion.
    auto [shared_a, c1a] = p256_ecc::to_affine_pair(kp, p256_ecc::mul_base(*k));
    wipe_object(kp);
    SharedPoint shared;
    set_shared(shared, shared_a);
    // A5: t = KDF(x2 ‖ y2, klen); an all-zero t restarts with a new k.
    Bytes t = util::kdf(shared.xy, message.size());
    const WipeOnExit wipe_t(t);
    if (all_zero(t)) continue;

    Bytes out(kCipherOverhead + message.size());
    // C1 is published as the first part of the ciphertext.
    ct::declassify(&c1a, sizeof c1a);
    p256_field::write_bytes(c1a.x, out.data());
    p256_field::write_bytes(c1a.y, out.data() + kCoord);
    // A7: C3 = SM3(x2 ‖ M ‖ y2).
    const Bytes c3 = c3_of(shared, message);
    std::copy(c3.begin(), c3.end(), out.begin() + 2 * kCoord);
    // A6: C2 = M ⊕ t.
    for (std::size_t i = 0; i < message.size(); ++i) out[kCipherOverhead + i] = message[i] ^ t[i];
    return out;
  }
  return fail(kNoUsableScalar);
}

Result<Bytes> decrypt(const Sm2PrivateKey& private_key, ByteView x, ByteView y, ByteView c3, ByteView c2) {
  if (c3.size() + c2.size() < kC3) return fail(kTooShort);
  const ByteView xs = strip(x), ys = strip(y);
  if (xs.size() > kCoord || ys.size() > kCoord) return fail_with(Sm2Error::PointCheckFailed);
  // The ciphertext is public: no need to wipe it.
  Bytes raw(kC1 + c3.size() + c2.size(), 0);
  raw[0] = 0x04;
  std::copy(xs.begin(), xs.end(), raw.begin() + static_cast<std::ptrdiff_t>(1 + kCoord - xs.size()));
  std::copy(ys.begin(), ys.end(), raw.begin() + static_cast<std::ptrdiff_t>(kC1 - ys.size()));
  std::copy(c3.begin(), c3.end(), raw.begin() + kC1);
  std::copy(c2.begin(), c2.end(), raw.begin() + static_cast<std::ptrdiff_t>(kC1 + c3.size()));
  return decrypt_raw(private_key, raw);
}

Result<Bytes> decrypt_raw(const Sm2PrivateKey& private_key, ByteView raw) {
  if (raw.size() < kC1 + kC3) return fail(kTooShort);
  if (raw[0] != 0x04) return fail_with(Sm2Error::PointCheckFailed);
  // B1: C1 must be a point of the curve, its coordinates below p, before any
  // scalar multiplies it (the field operations assume reduced operands, and
  // d times an off-curve point can leak d).
  const JacobianPoint c1{p256_field::from_bytes(raw.data() + 1), p256_field::from_bytes(raw.data() + 1 + kCoord),
                         p256_field::kOne};
  if (!is_reduced(c1) || !p256_ecc::is_on_curve(c1)) return fail_with(Sm2Error::PointCheckFailed);
  // B2: S = h·C1 must not be the point at infinity; with h = 1, S = C1.
  if (p256_ecc::is_infinity(c1)) return fail_with(Sm2Error::PointAtInfinity);
  // B3: (x2, y2) = d·C1, at infinity only for d ≡ 0 (mod n): the outcome of
  // that test is public, as the error tells it.
  JacobianPoint dc1 = p256_ecc::mul_point(private_key.d, c1);
  bool dc1_infinite = p256_ecc::is_infinity(dc1);
  ct::declassify(&dc1_infinite, sizeof dc1_infinite);
  if (dc1_infinite) return fail_with(Sm2Error::PointAtInfinity);
  JacobianPoint dc1a = p256_ecc::to_affine(dc1);
  wipe_object(dc1);
  SharedPoint shared;
  set_shared(shared, dc1a);

  const ByteView c3 = raw.subspan(kC1, kC3);
  const ByteView c2 = raw.subspan(kC1 + kC3);
  // B4: t = KDF(x2 ‖ y2, klen) must not be all zero.
  Bytes t = util::kdf(shared.xy, c2.size());
  const WipeOnExit wipe_t(t);
  if (all_zero(t)) return fail_with(Sm2Error::ZeroVector);
  // B5: M = C2 ⊕ t; wiped unless it is returned.
  Bytes m(c2.size());
  const WipeOnExit wipe_m(m);
  for (std::size_t i = 0; i < c2.size(); ++i) m[i] = c2[i] ^ t[i];
  // B6: u = SM3(x2 ‖ M ‖ y2) must equal C3.
  Bytes u = c3_of(shared, m);
  const WipeOnExit wipe_u(u);
  int differs = CRYPTO_memcmp(u.data(), c3.data(), kC3);
  ct::declassify(&differs, sizeof differs);
  if (differs != 0) return fail_with(Sm2Error::HashMismatch);
  return Bytes(std::move(m));
}

}  // namespace tarnwick::sm2::key
