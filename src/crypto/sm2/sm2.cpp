#include "crypto/sm2/sm2.h"

#include <array>
#include <new>

#include "crypto/sm2/biguint.h"
#include "support/os_random.h"

namespace tarnwick::sm2 {
namespace {

constexpr int kMaxDraws = 128;

}  // namespace

Result<ossl::SecretBnPtr> random_scalar() {
  const p256_ecc::CurveParams& c = p256_ecc::init_curve_params();
  ossl::BnPtr n_minus_1 = biguint::copy(*c.n);
  biguint::check(BN_sub_word(n_minus_1.get(), 1));
  std::array<std::uint8_t, 32> buf{};
  for (int draw = 0; draw < kMaxDraws; ++draw) {
    const auto filled = os_random::fill(buf);
    if (!filled) {
      OPENSSL_cleanse(buf.data(), buf.size());
      return fail(filled.error().display());
    }
    ossl::SecretBnPtr k = biguint::secret_from_bytes(buf);
    OPENSSL_cleanse(buf.data(), buf.size());
    // Accept 1 ≤ k ≤ n − 2.
    if (!BN_is_zero(k.get()) && BN_cmp(k.get(), n_minus_1.get()) < 0) return k;
  }
  return fail("the random source yields no scalar in range");
}

Result<Sm2KeyPair> generate_key_pair() {
  auto d = random_scalar();
  if (!d) return std::unexpected(d.error());
  auto p = p256_ecc::mul_base(**d);
  if (!p) return fail(std::string(display(p.error())));
  if (!p256_ecc::is_on_curve(*p)) return fail(std::string(display(Sm2Error::InvalidPublicKey)));
  return Sm2KeyPair{*p, Sm2PrivateKey{std::move(*d), *p}};
}

ossl::SecretBnPtr reduce_mod_n(const BIGNUM& x) {
  ossl::SecretBnPtr r = biguint::new_secret();
  ossl::BnCtxPtr ctx = biguint::new_ctx();
  biguint::check(BN_nnmod(r.get(), &x, p256_ecc::init_curve_params().n.get(), ctx.get()));
  return r;
}

ossl::SecretBnPtr add_mod_n(const BIGNUM& a, const BIGNUM& b) {
  ossl::SecretBnPtr sum = biguint::new_secret();
  biguint::check(BN_add(sum.get(), &a, &b));
  return reduce_mod_n(*sum);
}

ossl::SecretBnPtr mul_mod_n(const BIGNUM& a, const BIGNUM& b) {
  ossl::SecretBnPtr prod = biguint::new_secret();
  ossl::BnCtxPtr ctx = biguint::new_ctx();
  biguint::check(BN_mul(prod.get(), &a, &b, ctx.get()));
  return reduce_mod_n(*prod);
}

}  // namespace tarnwick::sm2
