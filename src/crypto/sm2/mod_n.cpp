#include "crypto/sm2/mod_n.h"

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/p256_ecc.h"

namespace tarnwick::sm2 {

ossl::BnPtr reduce_mod_n(const BIGNUM& x) {
  ossl::BnPtr r = biguint::new_value();
  ossl::BnCtxPtr ctx = biguint::new_ctx();
  biguint::check(BN_nnmod(r.get(), &x, p256_ecc::init_curve_params().n.get(), ctx.get()));
  return r;
}

ossl::BnPtr add_mod_n(const BIGNUM& a, const BIGNUM& b) {
  ossl::BnPtr sum = biguint::new_value();
  biguint::check(BN_add(sum.get(), &a, &b));
  return reduce_mod_n(*sum);
}

ossl::BnPtr mul_mod_n(const BIGNUM& a, const BIGNUM& b) {
  ossl::BnPtr prod = biguint::new_value();
  ossl::BnCtxPtr ctx = biguint::new_ctx();
  biguint::check(BN_mul(prod.get(), &a, &b, ctx.get()));
  return reduce_mod_n(*prod);
}

}  // namespace tarnwick::sm2
