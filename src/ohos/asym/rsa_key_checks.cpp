// The rules a two-prime RSA key must pass, and the OpenSSL keys built from
// the parts that pass them.
#include <openssl/core_names.h>
#include <openssl/crypto.h>

#include <cstddef>
#include <optional>
#include <utility>

#include "ohos/asym/rsa_key_parts.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym::rsa_detail {
namespace {

// e must stay below 2^33.
constexpr int kMaxExponentBits = 33;

// same_value tells whether `a` and `b`, both below 2^(8·len), are equal,
// comparing their fixed-length forms in constant time.
bool same_value(const BIGNUM* a, const BIGNUM* b, int len) {
  SecretBytes ab(static_cast<std::size_t>(len)), bb(static_cast<std::size_t>(len));
  if (BN_bn2binpad(a, ab.data(), len) != len || BN_bn2binpad(b, bb.data(), len) != len) return false;
  return CRYPTO_memcmp(ab.data(), bb.data(), ab.size()) == 0;
}

ossl::PkeyPtr pkey_from_params(OSSL_PARAM* params, int selection) {
  ossl::PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!pctx || EVP_PKEY_fromdata_init(pctx.get()) != 1) return nullptr;
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_fromdata(pctx.get(), &raw, selection, params) != 1) return nullptr;
  return ossl::PkeyPtr(raw);
}

// private_pkey makes an OpenSSL private key from checked parts and the CRT
// values computed here. The private values carry BN_FLG_SECURE, so their
// copies in the parameter block sit in its part that is wiped when freed.
ossl::PkeyPtr private_pkey(const RsaParts& k, const CrtParts& c) {
  ossl::ParamBldPtr bld(OSSL_PARAM_BLD_new());
  if (!bld) return nullptr;
  const std::pair<const char*, const BIGNUM*> values[] = {
      {OSSL_PKEY_PARAM_RSA_N, k.n.get()},
      {OSSL_PKEY_PARAM_RSA_E, k.e.get()},
      {OSSL_PKEY_PARAM_RSA_D, k.d.get()},
      {OSSL_PKEY_PARAM_RSA_FACTOR1, k.p.get()},
      {OSSL_PKEY_PARAM_RSA_FACTOR2, k.q.get()},
      {OSSL_PKEY_PARAM_RSA_EXPONENT1, c.dp.get()},
      {OSSL_PKEY_PARAM_RSA_EXPONENT2, c.dq.get()},
      {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, c.qinv.get()},
  };
  for (const auto& [name, bn] : values) {
    if (OSSL_PARAM_BLD_push_BN(bld.get(), name, bn) != 1) return nullptr;
  }
  ossl::ParamsPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
  if (!params) return nullptr;
  return pkey_from_params(params.get(), EVP_PKEY_KEYPAIR);
}

}  // namespace

ossl::SecretBnPtr secret_bn() {
  ossl::SecretBnPtr bn(BN_secure_new());
  if (bn) BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
  return bn;
}

bool public_checks_pass(const BIGNUM* n, const BIGNUM* e) {
  if (BN_num_bits(n) > kMaxModulusBits) return false;
  if (BN_num_bits(e) > kMaxExponentBits) return false;
  if (BN_cmp(e, n) >= 0 || !BN_is_odd(n)) return false;
  if (!BN_is_odd(e)) return false;
  return !BN_is_one(e);  // odd and not 1, so at least 3
}

bool private_checks_pass(const RsaParts& k, BN_CTX* ctx) {
  if (!public_checks_pass(k.n.get(), k.e.get())) return false;
  if (BN_cmp(k.p.get(), BN_value_one()) <= 0 || BN_cmp(k.q.get(), BN_value_one()) <= 0) return false;
  // Values at or above 2^(8·len) never compare equal; p, q and p·q that
  // pass are below n.
  const int len = BN_num_bytes(k.n.get());
  if (same_value(k.p.get(), k.q.get(), len)) return false;
  ossl::SecretBnPtr pq = secret_bn();
  if (!pq || BN_mul(pq.get(), k.p.get(), k.q.get(), ctx) != 1) return false;
  if (!same_value(pq.get(), k.n.get(), len)) return false;
  ossl::SecretBnPtr de = secret_bn();
  ossl::SecretBnPtr m1 = secret_bn();
  ossl::SecretBnPtr rem = secret_bn();
  if (!de || !m1 || !rem) return false;
  if (BN_mul(de.get(), k.d.get(), k.e.get(), ctx) != 1) return false;
  for (const BIGNUM* prime : {k.p.get(), k.q.get()}) {
    if (BN_sub(m1.get(), prime, BN_value_one()) != 1) return false;
    if (BN_mod(rem.get(), de.get(), m1.get(), ctx) != 1) return false;
    if (!BN_is_one(rem.get())) return false;
  }
  return true;
}

ossl::PkeyPtr public_pkey(const BIGNUM* n, const BIGNUM* e) {
  ossl::ParamBldPtr bld(OSSL_PARAM_BLD_new());
  if (!bld) return nullptr;
  if (OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e) != 1)
    return nullptr;
  ossl::ParamsPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
  if (!params) return nullptr;
  return pkey_from_params(params.get(), EVP_PKEY_PUBLIC_KEY);
}

Result<ossl::PkeyPtr> checked_private_pkey(const RsaParts& k) {
  ossl::BnCtxPtr ctx(BN_CTX_secure_new());
  if (!ctx || !private_checks_pass(k, ctx.get())) return fail(kPkcs8Malformed);
  std::optional<CrtParts> crt = compute_crt(k, ctx.get());
  if (!crt) return fail(kPkcs8Malformed);
  ossl::PkeyPtr pkey = private_pkey(k, *crt);
  if (!pkey) return fail(kPkcs8Malformed);
  return pkey;
}

}  // namespace tarnwick::ohos::asym::rsa_detail
