#include "crypto/sm2/sign.h"

#include <string>

#include "crypto/sm2/error.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm2/scalar.h"
#include "support/ct.h"
#include "support/secret.h"

namespace tarnwick::sm2 {
namespace {

// A working source yields a rejected nonce with probability about 2^−255,
// so 128 rejections in a row mean the source is not random.
constexpr int kMaxNonces = 128;

Result<SignatureValues> error_of(Sm2Error e) { return fail(std::string(display(e))); }

// minimal_bytes returns the big-endian bytes of a public scalar without
// leading zero bytes (0 as the single byte 00).
Bytes minimal_bytes(const Scalar& x) {
  std::uint8_t be[32];
  x.to_bytes(be);
  std::size_t first = 0;
  while (first < 31 && be[first] == 0) ++first;
  return Bytes(be + first, be + 32);
}

}  // namespace

Result<SignatureValues> sign_digest(ByteView e, const Sm2PrivateKey& key) {
  if (e.size() != 32) return error_of(Sm2Error::InvalidDigestLength);
  // e < 2^256 < 2n, so one conditional subtraction reduces it.
  const Scalar e_mod_n = scalar::reduce(Scalar::from_bytes(e.data()));
  const Scalar d = scalar::reduce(key.d);

  // d ≡ 0 mod n has the point at infinity as its public key: nothing could
  // verify what it signs (and s would equal the nonce).
  if (ct::declassify_mask(scalar::is_zero(d))) return error_of(Sm2Error::InvalidPrivateKey);

  // GB/T 32918.2 §6.1 A6 computes (1 + d)⁻¹, here by the constant-time
  // gcd of scalar::inv_mod; when it does not exist (d ≡ −1) every s would
  // be 0, so fail before drawing any nonce.
  const Scalar inv = scalar::inv_mod(scalar::add_mod(d, Scalar::from_word(1)));
  if (ct::declassify_mask(scalar::is_zero(inv))) return error_of(Sm2Error::ZeroSignature);

  for (int attempt = 0; attempt < kMaxNonces; ++attempt) {
    // A3: k in 1..n − 2.
    auto k = random_scalar();
    if (!k) return std::unexpected(k.error());
    // A4: (x1, y1) = k·G.
    p256_ecc::JacobianPoint kg = p256_ecc::to_affine(p256_ecc::mul_base(*k));
    std::uint8_t x1_bytes[32];
    p256_field::write_bytes(kg.x, x1_bytes);
    wipe_object(kg);
    // A5: r = (e + x1) mod n (x1 < p < 2n); r is published, or discarded
    // with its k when it is 0 or r + k = n.
    Scalar r = scalar::add_mod(e_mod_n, scalar::reduce(Scalar::from_bytes(x1_bytes)));
    wipe_object(x1_bytes);
    ct::declassify(&r, sizeof r);
    if (ct::declassify_mask(scalar::is_zero(r))) continue;
    // r + k = n exactly when k = −r mod n (r in 1..n − 1, k below n).
    if (ct::declassify_mask(scalar::equal(*k, scalar::sub_mod(Scalar(), r)))) continue;
    // A6: s = (1 + d)⁻¹ · (k − r·d) mod n; s = 0 takes a new k.
    const Scalar t = scalar::sub_mod(*k, scalar::mul_mod(r, d));
    Scalar s = scalar::mul_mod(inv, t);
    ct::declassify(&s, sizeof s);
    if (ct::declassify_mask(scalar::is_zero(s))) continue;
    return SignatureValues{minimal_bytes(r), minimal_bytes(s)};
  }
  return fail("the random source yields no usable nonce");
}

}  // namespace tarnwick::sm2
