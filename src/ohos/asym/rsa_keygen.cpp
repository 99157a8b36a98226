// RSA key generation: two primes, e = 65537, and the documents of the pair.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <array>
#include <optional>
#include <utility>

#include "ohos/asym/rsa_key.h"
#include "ohos/asym/rsa_key_parts.h"
#include "support/os_random.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace {

using namespace rsa_detail;

constexpr int kMinGeneratedBits = 512;
constexpr int kFewestBits = 12;
constexpr unsigned long kPublicExponent = 65537;

constexpr const char* kTooFewPrimes = "too few primes of given length to generate an RSA key";
constexpr const char* kModulusTooLarge = "modulus too large";
constexpr const char* kModulusTooSmall = "modulus too small";
constexpr const char* kKeygenFailed = "RSA key generation failed";
constexpr const char* kKeygenRandomFailed = "random source failure during RSA key generation";

// keygen_failure names a failed OpenSSL generation step.
std::unexpected<Error> keygen_failure() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code != 0 && ERR_GET_LIB(code) == ERR_LIB_RAND) return fail(kKeygenRandomFailed);
  return fail(kKeygenFailed);
}

// mix_os_random draws fresh bytes from the OS random source into OpenSSL's
// generator before a key is made, so a failing source fails the generation.
Result<void> mix_os_random() {
  std::array<std::uint8_t, 48> seed{};
  auto filled = os_random::fill(seed);
  if (!filled) {
    wipe_memory(seed.data(), seed.size());
    return fail(filled.error().display());
  }
  RAND_add(seed.data(), static_cast<int>(seed.size()), 0.0);
  wipe_memory(seed.data(), seed.size());
  return {};
}

ossl::SecretBnPtr get_secret_param(const EVP_PKEY* pkey, const char* name) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &raw) != 1) return nullptr;
  ossl::SecretBnPtr bn(raw);
  BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
  return bn;
}

// generate_with_openssl runs OpenSSL's two-prime generator and takes n, p, q.
Result<RsaParts> generate_with_openssl(int bits, const BIGNUM* e) {
  ossl::PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!pctx || EVP_PKEY_keygen_init(pctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(pctx.get(), bits) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_primes(pctx.get(), 2) != 1 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(pctx.get(), const_cast<BIGNUM*>(e)) != 1)
    return keygen_failure();
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_keygen(pctx.get(), &raw) != 1) return keygen_failure();
  ossl::PkeyPtr pkey(raw);
  RsaParts k;
  BIGNUM* n = nullptr;
  if (EVP_PKEY_get_bn_param(pkey.get(), OSSL_PKEY_PARAM_RSA_N, &n) != 1) return keygen_failure();
  k.n.reset(n);
  k.p = get_secret_param(pkey.get(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  k.q = get_secret_param(pkey.get(), OSSL_PKEY_PARAM_RSA_FACTOR2);
  if (!k.p || !k.q) return keygen_failure();
  return k;
}

// generate_prime draws a `bits`-bit prime with its top two bits set (BN's
// candidates always have them) and p-1 coprime to e.
Result<ossl::SecretBnPtr> generate_prime(int bits, BN_CTX* ctx) {
  ossl::SecretBnPtr prime = secret_bn();
  if (!prime) return keygen_failure();
  for (;;) {
    if (BN_generate_prime_ex2(prime.get(), bits, 0, nullptr, nullptr, nullptr, ctx) != 1)
      return keygen_failure();
    // e is prime, so gcd(p-1, e) = 1 exactly when p-1 is not a multiple of it.
    const BN_ULONG r = BN_mod_word(prime.get(), kPublicExponent);
    if (r == static_cast<BN_ULONG>(-1)) return keygen_failure();
    if (r != 1) return prime;
  }
}

// generate_odd_large covers odd sizes from 2049 up, where OpenSSL's
// SP 800-56B generator gives a modulus one bit short: primes of ceil(bits/2)
// and floor(bits/2) bits, each with its top two bits set, multiply to
// exactly `bits` bits.
Result<RsaParts> generate_odd_large(int bits) {
  ossl::BnCtxPtr ctx(BN_CTX_secure_new());
  if (!ctx) return keygen_failure();
  auto p = generate_prime((bits + 1) / 2, ctx.get());
  if (!p) return std::unexpected(p.error());
  auto q = generate_prime(bits / 2, ctx.get());
  if (!q) return std::unexpected(q.error());
  RsaParts k;
  k.n.reset(BN_new());
  if (!k.n || BN_mul(k.n.get(), p->get(), q->get(), ctx.get()) != 1) return keygen_failure();
  k.p = std::move(*p);
  k.q = std::move(*q);
  return k;
}

// complete_private sets e and d = e^-1 mod (p-1)(q-1).
Result<void> complete_private(RsaParts& k) {
  ossl::BnCtxPtr ctx(BN_CTX_secure_new());
  ossl::SecretBnPtr phi = secret_bn();
  ossl::SecretBnPtr q1 = secret_bn();
  k.e.reset(BN_new());
  k.d = secret_bn();
  if (!ctx || !phi || !q1 || !k.e || !k.d) return keygen_failure();
  if (BN_set_word(k.e.get(), kPublicExponent) != 1 ||
      BN_sub(phi.get(), k.p.get(), BN_value_one()) != 1 ||
      BN_sub(q1.get(), k.q.get(), BN_value_one()) != 1 ||
      BN_mul(phi.get(), phi.get(), q1.get(), ctx.get()) != 1 ||
      BN_mod_inverse(k.d.get(), k.e.get(), phi.get(), ctx.get()) == nullptr)
    return keygen_failure();
  return {};
}

}  // namespace

Result<RsaKeyPairDer> generate_rsa_key_pair(std::int32_t bits) {
  ossl::ErrorQueueGuard guard;
  if (bits < 0 || bits > kMaxModulusBits) return fail(kModulusTooLarge);
  if (bits < kFewestBits) return fail(kTooFewPrimes);
  if (bits < kMinGeneratedBits) return fail(kModulusTooSmall);
  if (auto mixed = mix_os_random(); !mixed) return std::unexpected(mixed.error());

  ossl::BnPtr e(BN_new());
  if (!e || BN_set_word(e.get(), kPublicExponent) != 1) return keygen_failure();
  const bool openssl_exact = bits < 2048 || bits % 2 == 0;
  auto parts = openssl_exact ? generate_with_openssl(bits, e.get()) : generate_odd_large(bits);
  if (!parts) return std::unexpected(parts.error());
  RsaParts& k = *parts;
  if (auto done = complete_private(k); !done) return std::unexpected(done.error());
  if (BN_num_bits(k.n.get()) != bits) return fail(kKeygenFailed);

  // The generated key goes through the same checks as a key read from outside.
  ossl::BnCtxPtr ctx(BN_CTX_secure_new());
  if (!ctx || !private_checks_pass(k, ctx.get())) return fail(kKeygenFailed);
  std::optional<CrtParts> crt = compute_crt(k, ctx.get());
  if (!crt) return fail(kKeygenFailed);
  return encode_key_pair(k, *crt);
}

}  // namespace tarnwick::ohos::asym
