#include "crypto/sm2/sign.h"

#include <new>
#include <string>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/error.h"
#include "crypto/sm2/p256_field.h"

namespace tarnwick::sm2 {
namespace {

// A working source yields a rejected nonce with probability about 2^−255,
// so 128 rejections in a row mean the source is not random.
constexpr int kMaxNonces = 128;

// inverse_of_one_plus_d returns (1 + d)^(n − 2) mod n, the inverse of 1 + d
// by Fermat's little theorem, computed in constant time; 0 when
// 1 + d ≡ 0 mod n.
ossl::SecretBnPtr inverse_of_one_plus_d(const BIGNUM& d, const BIGNUM& n) {
  ossl::SecretBnPtr one_plus_d = biguint::secret_copy(d);
  biguint::check(BN_add_word(one_plus_d.get(), 1));
  ossl::SecretBnPtr base = reduce_mod_n(*one_plus_d);
  ossl::BnPtr exponent = biguint::copy(n);
  biguint::check(BN_sub_word(exponent.get(), 2));
  ossl::SecretBnPtr inv = biguint::new_secret();
  ossl::BnCtxPtr ctx = biguint::new_ctx();
  biguint::check(BN_mod_exp_mont_consttime(inv.get(), base.get(), exponent.get(), &n, ctx.get(), nullptr));
  return inv;
}

Result<SignatureValues> error_of(Sm2Error e) { return fail(std::string(display(e))); }

}  // namespace

Result<SignatureValues> sign_digest(ByteView e, const Sm2PrivateKey& key) {
  if (e.size() != 32) return error_of(Sm2Error::InvalidDigestLength);
  const p256_ecc::CurveParams& curve = p256_ecc::init_curve_params();
  const BIGNUM& n = *curve.n;
  const BIGNUM& d = *key.d;
  const ossl::BnPtr e_int = biguint::from_bytes(e);

  // d ≡ 0 mod n has the point at infinity as its public key: nothing could
  // verify what it signs (and s would equal the nonce).
  if (BN_is_zero(reduce_mod_n(d).get())) return error_of(Sm2Error::InvalidPrivateKey);

  // GB/T 32918.2 §6.1 A6 computes (1 + d)⁻¹; when it does not exist every s
  // would be 0, so fail before drawing any nonce.
  const ossl::SecretBnPtr inv = inverse_of_one_plus_d(d, n);
  if (BN_is_zero(inv.get())) return error_of(Sm2Error::ZeroSignature);

  ossl::BnCtxPtr ctx = biguint::new_ctx();
  for (int attempt = 0; attempt < kMaxNonces; ++attempt) {
    // A3: k in 1..n − 2.
    auto k = random_scalar();
    if (!k) return std::unexpected(k.error());
    // A4: (x1, y1) = k·G.
    auto kg = p256_ecc::mul_base(**k);
    if (!kg) return error_of(kg.error());
    const Bytes x1_bytes = p256_field::to_bytes(p256_ecc::to_affine(*kg).x);
    const ossl::BnPtr x1 = biguint::from_bytes(x1_bytes);
    // A5: r = (e + x1) mod n; r = 0 or r + k = n takes a new k.
    ossl::SecretBnPtr r = add_mod_n(*e_int, *x1);
    if (BN_is_zero(r.get())) continue;
    ossl::SecretBnPtr r_plus_k = biguint::new_secret();
    biguint::check(BN_add(r_plus_k.get(), r.get(), k->get()));
    if (BN_cmp(r_plus_k.get(), &n) == 0) continue;
    // A6: s = (1 + d)⁻¹ · (k − r·d) mod n; s = 0 takes a new k.
    ossl::SecretBnPtr rd = mul_mod_n(*r, d);
    ossl::SecretBnPtr t = biguint::new_secret();
    biguint::check(BN_mod_sub(t.get(), k->get(), rd.get(), &n, ctx.get()));
    ossl::SecretBnPtr s = mul_mod_n(*inv, *t);
    if (BN_is_zero(s.get())) continue;
    return SignatureValues{biguint::to_minimal_bytes(*r), biguint::to_minimal_bytes(*s)};
  }
  return fail("the random source yields no usable nonce");
}

}  // namespace tarnwick::sm2
