// The CRT values of a checked RSA key: d mod (p-1), d mod (q-1) and the
// coefficient q⁻¹ mod p.
#include <memory>

#include "ohos/asym/rsa_key_parts.h"

namespace tarnwick::ohos::asym::rsa_detail {
namespace {

using MontCtxPtr = std::unique_ptr<BN_MONT_CTX, ossl::FreeWith<BN_MONT_CTX_free>>;

// crt_coefficient sets `qinv` = q⁻¹ mod p for a key that passed the private
// checks (n = p·q odd, so p and q are odd and above 1). A stored coefficient
// is taken, reduced modulo p, when q·qinv ≡ 1 (mod p) holds for it: the
// inverse is unique, so a wrong one is never used. Otherwise, for a prime p,
// q⁻¹ ≡ q^(p−2) (mod p) (Fermat), computed in constant time and checked the
// same way. A p that is not prime fails that check (but for rare exceptions,
// which the check lets through correctly); only then is the inverse looked
// for by the extended Euclidean algorithm, whose running time depends on the
// values, and false means there is none.
bool crt_coefficient(BIGNUM* qinv, const RsaParts& k, BN_CTX* ctx) {
  ossl::SecretBnPtr exponent = secret_bn();
  ossl::SecretBnPtr reduced = secret_bn();
  ossl::SecretBnPtr check = secret_bn();
  MontCtxPtr mont(BN_MONT_CTX_new());
  if (!exponent || !reduced || !check || !mont) return false;
  if (BN_mod(reduced.get(), k.q.get(), k.p.get(), ctx) != 1) return false;
  if (BN_MONT_CTX_set(mont.get(), k.p.get(), ctx) != 1) return false;
  // inverts tells whether q·qinv ≡ 1 (mod p), through the Montgomery form:
  // (q·R)·qinv·R⁻¹.
  const auto inverts = [&]() {
    return BN_to_montgomery(check.get(), reduced.get(), mont.get(), ctx) == 1 &&
           BN_mod_mul_montgomery(check.get(), check.get(), qinv, mont.get(), ctx) == 1 &&
           BN_is_one(check.get());
  };
  if (k.stored_qinv && BN_mod(qinv, k.stored_qinv.get(), k.p.get(), ctx) == 1 && inverts()) return true;
  if (BN_copy(exponent.get(), k.p.get()) == nullptr || BN_sub_word(exponent.get(), 2) != 1) return false;
  if (BN_mod_exp_mont_consttime(qinv, reduced.get(), exponent.get(), k.p.get(), ctx, mont.get()) != 1)
    return false;
  if (inverts()) return true;
  return BN_mod_inverse(qinv, k.q.get(), k.p.get(), ctx) != nullptr;
}

}  // namespace

std::optional<CrtParts> compute_crt(const RsaParts& k, BN_CTX* ctx) {
  CrtParts c{secret_bn(), secret_bn(), secret_bn()};
  ossl::SecretBnPtr m1 = secret_bn();
  if (!c.dp || !c.dq || !c.qinv || !m1) return std::nullopt;
  if (BN_sub(m1.get(), k.p.get(), BN_value_one()) != 1) return std::nullopt;
  if (BN_mod(c.dp.get(), k.d.get(), m1.get(), ctx) != 1) return std::nullopt;
  if (BN_sub(m1.get(), k.q.get(), BN_value_one()) != 1) return std::nullopt;
  if (BN_mod(c.dq.get(), k.d.get(), m1.get(), ctx) != 1) return std::nullopt;
  if (!crt_coefficient(c.qinv.get(), k, ctx)) return std::nullopt;
  return c;
}

}  // namespace tarnwick::ohos::asym::rsa_detail
