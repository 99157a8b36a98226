#include "crypto/sm2/key_pair.h"

#include <openssl/crypto.h>

#include <array>
#include <new>

#include "support/ct.h"
#include "support/os_random.h"
#include "support/secret.h"

namespace tarnwick::sm2 {
namespace {

constexpr int kMaxDraws = 128;

Scalar n_minus_1() noexcept {
  Scalar s = scalar::kN;
  s.v[0] -= 1;  // the low limb of n is odd: no borrow
  return s;
}

}  // namespace

Result<Scalar> random_scalar() {
  const Scalar limit = n_minus_1();
  std::array<std::uint8_t, 32> buf{};
  for (int draw = 0; draw < kMaxDraws; ++draw) {
    const auto filled = os_random::fill(buf);
    if (!filled) {
      wipe_memory(buf.data(), buf.size());
      return fail(filled.error().display());
    }
    Scalar k = Scalar::from_bytes(buf.data());
    wipe_memory(buf.data(), buf.size());
    // Accept 1 ≤ k ≤ n − 2; a rejected draw is discarded, so the outcome of
    // the test tells nothing about the scalar that is kept.
    if (ct::declassify_mask(~scalar::is_zero(k) & scalar::less(k, limit))) return k;
  }
  return fail("the random source yields no scalar in range");
}

namespace {

// affine_public returns the affine form of d·G, or (1, 1, 0) at infinity.
Sm2PublicKey affine_public(const p256_ecc::JacobianPoint& p) noexcept {
  p256_ecc::JacobianPoint a = p256_ecc::to_affine(p);
  bool infinity = p256_ecc::is_infinity(p);
  // The public key is public; its projective form never leaves this file.
  ct::declassify(&infinity, sizeof infinity);
  ct::declassify(&a, sizeof a);
  return infinity ? p256_ecc::kInfinity : a;
}

}  // namespace

Sm2PublicKey public_point(const Scalar& d) noexcept { return affine_public(p256_ecc::mul_base(d)); }

Sm2PublicKey public_point(const Scalar& d, const Sm2PublicKey& claimed) noexcept {
  const p256_ecc::JacobianPoint p = p256_ecc::mul_base(d);
  // The claim is public, and whether it is d·G's affine form tells no more
  // than d·G itself.
  bool matches = p256_ecc::is_affine_form(p, claimed);
  ct::declassify(&matches, sizeof matches);
  const bool same = matches && claimed.z == p256_field::kOne && p256_field::is_reduced(claimed.x) &&
                    p256_field::is_reduced(claimed.y);
  return same ? claimed : affine_public(p);
}

Result<Sm2KeyPair> generate_key_pair() {
  auto d = random_scalar();
  if (!d) return std::unexpected(d.error());
  const Sm2PublicKey p = public_point(*d);
  if (!p256_ecc::is_on_curve(p)) return fail(std::string(display(Sm2Error::InvalidPublicKey)));
  return Sm2KeyPair{p, Sm2PrivateKey{*d, p}};
}

}  // namespace tarnwick::sm2
