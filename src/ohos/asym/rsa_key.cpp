#include "ohos/asym/rsa_key.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include "support/der.h"
#include "support/os_random.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace {

constexpr int kMaxModulusBits = 4096;
constexpr int kMinGeneratedBits = 512;
constexpr int kFewestBits = 12;
constexpr unsigned long kPublicExponent = 65537;
// e must stay below 2^33.
constexpr int kMaxExponentBits = 33;

constexpr const char* kTooFewPrimes = "too few primes of given length to generate an RSA key";
constexpr const char* kModulusTooLarge = "modulus too large";
constexpr const char* kModulusTooSmall = "modulus too small";
constexpr const char* kKeygenFailed = "RSA key generation failed";
constexpr const char* kKeygenRandomFailed = "random source failure during RSA key generation";
constexpr const char* kSpkiMalformed = "public key error: SPKI cryptographic key data malformed";
constexpr const char* kPkcs8Malformed = "PKCS#8 cryptographic key data malformed";

// The values of a two-prime key. n and e are public; the rest is wiped.
struct RsaParts {
  ossl::BnPtr n;
  ossl::BnPtr e;
  ossl::SecretBnPtr d;
  ossl::SecretBnPtr p;
  ossl::SecretBnPtr q;
  // The coefficient a document stores, if any: used when it is q⁻¹ mod p.
  ossl::SecretBnPtr stored_qinv;
};

// The CRT values: d mod (p-1), d mod (q-1), q^-1 mod p.
struct CrtParts {
  ossl::SecretBnPtr dp;
  ossl::SecretBnPtr dq;
  ossl::SecretBnPtr qinv;
};

// secret_bn returns a value for private material: BN_FLG_CONSTTIME selects
// OpenSSL's constant-time code paths for it, and BN_FLG_SECURE (from
// BN_secure_new) makes OpenSSL wipe its words whenever it frees them and keep
// its copies in parameter blocks apart, in a part that is wiped when freed.
// No secure heap is set up (a library must not initialise that process-wide
// facility), so these values live on the ordinary heap.
ossl::SecretBnPtr secret_bn() {
  ossl::SecretBnPtr bn(BN_secure_new());
  if (bn) BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
  return bn;
}

using MontCtxPtr = std::unique_ptr<BN_MONT_CTX, ossl::FreeWith<BN_MONT_CTX_free>>;

// same_value tells whether `a` and `b`, both below 2^(8·len), are equal,
// comparing their fixed-length forms in constant time.
bool same_value(const BIGNUM* a, const BIGNUM* b, int len) {
  SecretBytes ab(static_cast<std::size_t>(len)), bb(static_cast<std::size_t>(len));
  if (BN_bn2binpad(a, ab.data(), len) != len || BN_bn2binpad(b, bb.data(), len) != len) return false;
  return CRYPTO_memcmp(ab.data(), bb.data(), ab.size()) == 0;
}

// public_checks_pass: n odd with at most 4096 bits, e odd, 3 <= e < 2^33, e < n.
bool public_checks_pass(const BIGNUM* n, const BIGNUM* e) {
  if (BN_num_bits(n) > kMaxModulusBits) return false;
  if (BN_num_bits(e) > kMaxExponentBits) return false;
  if (BN_cmp(e, n) >= 0 || !BN_is_odd(n)) return false;
  if (!BN_is_odd(e)) return false;
  return !BN_is_one(e);  // odd and not 1, so at least 3
}

// private_checks_pass adds to the public checks: p, q > 1 and p != q (before
// anything divides by p-1 or q-1), p*q = n, d*e = 1 mod (p-1) and mod (q-1).
// The comparisons of secret values are made in constant time; only their
// outcome, whether the key is acceptable, decides a branch.
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

// compute_crt derives the CRT values from d, p and q (which have passed the
// private checks, so p-1, q-1 are non-zero and p, q are odd as n is).
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

ossl::PkeyPtr pkey_from_params(OSSL_PARAM* params, int selection) {
  ossl::PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!pctx || EVP_PKEY_fromdata_init(pctx.get()) != 1) return nullptr;
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_fromdata(pctx.get(), &raw, selection, params) != 1) return nullptr;
  return ossl::PkeyPtr(raw);
}

// public_pkey makes an OpenSSL public key from checked n and e.
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

// checked_private_pkey runs the private checks and builds the key; any
// refusal is "PKCS#8 cryptographic key data malformed".
Result<ossl::PkeyPtr> checked_private_pkey(const RsaParts& k) {
  ossl::BnCtxPtr ctx(BN_CTX_secure_new());
  if (!ctx || !private_checks_pass(k, ctx.get())) return fail(kPkcs8Malformed);
  std::optional<CrtParts> crt = compute_crt(k, ctx.get());
  if (!crt) return fail(kPkcs8Malformed);
  ossl::PkeyPtr pkey = private_pkey(k, *crt);
  if (!pkey) return fail(kPkcs8Malformed);
  return pkey;
}


// ---- documents -----------------------------------------------------------

// rsaEncryption, 1.2.840.113549.1.1.1 (RFC 8017 appendix A.1).
constexpr std::uint8_t kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

constexpr const char* kSpkiAsn1 = "public key error: ASN.1 error: ";
constexpr const char* kPkcs1BitStringTooLong = "PKCS#1 ASN.1 error: incorrect length for BIT STRING";
constexpr const char* kPkcs8Asn1 = "PKCS#8 ASN.1 error: ";

// BnBytes is the minimal big-endian form of a BIGNUM, wiped when released.
class BnBytes {
 public:
  explicit BnBytes(const BIGNUM* bn) : bytes_(static_cast<std::size_t>(BN_num_bytes(bn))) {
    if (!bytes_.empty()) BN_bn2bin(bn, bytes_.data());
  }
  BnBytes(const BnBytes&) = delete;
  BnBytes& operator=(const BnBytes&) = delete;
  ~BnBytes() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
  ByteView view() const noexcept { return bytes_; }

 private:
  Bytes bytes_;
};

void write_algorithm(der::Writer& w) {
  w.sequence([](der::Writer& a) { a.oid(kRsaEncryption).null(); });
}

// encode_public writes the SubjectPublicKeyInfo of {n, e}.
Result<Bytes> encode_public(const BIGNUM* n, const BIGNUM* e) {
  const BnBytes nb(n), eb(e);
  der::Writer inner;
  inner.sequence([&](der::Writer& w) { w.integer(nb.view()).integer(eb.view()); });
  auto rsa_public = std::move(inner).finish();
  if (!rsa_public) return rsa_public.error().fail(kSpkiAsn1);
  der::Writer outer;
  outer.sequence([&](der::Writer& w) {
    write_algorithm(w);
    w.bit_string(*rsa_public);
  });
  auto spki = std::move(outer).finish();
  if (!spki) return spki.error().fail(kSpkiAsn1);
  return std::move(*spki);
}

// encode_private writes the PKCS#8 PrivateKeyInfo (version 0, no attributes,
// no public key) around the two-prime RSAPrivateKey. Every intermediate
// buffer holding private values is wiped.
Result<Bytes> encode_private(const RsaParts& k, const CrtParts& c) {
  der::Writer inner(der::Wipe::Yes);
  {
    const BnBytes n(k.n.get()), e(k.e.get()), d(k.d.get()), p(k.p.get()), q(k.q.get());
    const BnBytes dp(c.dp.get()), dq(c.dq.get()), qinv(c.qinv.get());
    inner.sequence([&](der::Writer& w) {
      w.integer(std::uint64_t{0});
      for (const BnBytes* v : {&n, &e, &d, &p, &q, &dp, &dq, &qinv}) w.integer(v->view());
    });
  }
  auto rsa_private = std::move(inner).finish();
  if (!rsa_private) return rsa_private.error().fail(kPkcs8Asn1);
  der::Writer outer(der::Wipe::Yes);
  outer.sequence([&](der::Writer& w) {
    w.integer(std::uint64_t{0});
    write_algorithm(w);
    w.octet_string(*rsa_private);
  });
  wipe(*rsa_private);
  auto doc = std::move(outer).finish();
  if (!doc) return doc.error().fail(kPkcs8Asn1);
  return std::move(*doc);
}

Result<RsaKeyPairDer> encode_key_pair(const RsaParts& k, const CrtParts& c) {
  auto public_der = encode_public(k.n.get(), k.e.get());
  if (!public_der) return std::unexpected(public_der.error());
  auto private_der = encode_private(k, c);
  if (!private_der) return std::unexpected(private_der.error());
  return RsaKeyPairDer{std::move(*public_der), std::move(*private_der)};
}

ossl::BnPtr public_bn(ByteView magnitude) {
  return ossl::BnPtr(BN_bin2bn(magnitude.data(), static_cast<int>(magnitude.size()), nullptr));
}

ossl::SecretBnPtr private_bn(ByteView magnitude) {
  ossl::SecretBnPtr bn = secret_bn();
  if (bn && BN_bin2bn(magnitude.data(), static_cast<int>(magnitude.size()), bn.get()) == nullptr) return nullptr;
  return bn;
}

struct RsaPublicParts {
  ossl::BnPtr n;
  ossl::BnPtr e;
};

// ParsedPrivate is an RSAPrivateKey as read: its parts, or a multi-prime key
// (version 1 with otherPrimeInfos), which the key rules refuse.
struct ParsedPrivate {
  bool multi_prime = false;
  RsaParts parts;
};

// parse_rsa_public_key reads the whole of `der` as RSAPublicKey
// {modulus, publicExponent} (RFC 8017 A.1.1).
std::expected<RsaPublicParts, der::Error> parse_rsa_public_key(ByteView bytes) {
  der::Reader in(bytes);
  auto seq = in.read_sequence();
  if (!seq) return std::unexpected(seq.error());
  auto n = seq->read_integer_unsigned();
  if (!n) return std::unexpected(n.error());
  auto e = seq->read_integer_unsigned();
  if (!e) return std::unexpected(e.error());
  if (auto done = seq->finish(); !done) return std::unexpected(done.error());
  if (auto done = in.finish(); !done) return std::unexpected(done.error());
  return RsaPublicParts{public_bn(*n), public_bn(*e)};
}

// parse_rsa_private_key reads the whole of `der` as RSAPrivateKey (RFC 8017
// A.1.2): version 0 with two primes, or version 1 with otherPrimeInfos.
std::expected<ParsedPrivate, der::Error> parse_rsa_private_key(ByteView bytes) {
  der::Reader in(bytes);
  auto seq = in.read_sequence();
  if (!seq) return std::unexpected(seq.error());
  const std::size_t version_at = seq->position();
  auto version = seq->read_integer_small(1);
  if (!version) return std::unexpected(version.error());
  if (*version > 1) return std::unexpected(der::Error::value(der::kInteger).at(version_at));
  ByteView values[8];
  for (ByteView& v : values) {
    auto read = seq->read_integer_unsigned();
    if (!read) return std::unexpected(read.error());
    v = *read;
  }
  ParsedPrivate out;
  if (seq->next_is(der::kSequence)) {
    auto others = seq->read_sequence();
    if (!others) return std::unexpected(others.error());
    out.multi_prime = true;
  }
  if (out.multi_prime != (*version == 1))
    return std::unexpected(der::Error::value(der::kInteger).at(version_at));
  if (auto done = seq->finish(); !done) return std::unexpected(done.error());
  if (auto done = in.finish(); !done) return std::unexpected(done.error());
  // The stored CRT values (values[5..7]) only have to be well-formed; the
  // exponents are always recomputed, the coefficient when it is wrong.
  out.parts.n = public_bn(values[0]);
  out.parts.e = public_bn(values[1]);
  out.parts.d = private_bn(values[2]);
  out.parts.p = private_bn(values[3]);
  out.parts.q = private_bn(values[4]);
  out.parts.stored_qinv = private_bn(values[7]);
  return out;
}

// read_algorithm_is_rsa tells whether the AlgorithmIdentifier `alg` is
// rsaEncryption with its NULL parameters present.
bool read_algorithm_is_rsa(der::Reader& outer) {
  auto alg = outer.read_sequence();
  if (!alg) return false;
  auto oid = alg->read_oid();
  if (!oid || !std::equal(oid->begin(), oid->end(), std::begin(kRsaEncryption), std::end(kRsaEncryption)))
    return false;
  return alg->read_null().has_value() && alg->finish().has_value();
}

// spki_payload returns the RSAPublicKey bytes of a SubjectPublicKeyInfo
// that is the whole of `bytes` and names rsaEncryption with NULL parameters.
std::optional<ByteView> spki_payload(ByteView bytes) {
  der::Reader in(bytes);
  auto spki = in.read_sequence();
  if (!spki || !in.finish() || !read_algorithm_is_rsa(*spki)) return std::nullopt;
  auto bits = spki->read_bit_string();
  if (!bits || bits->unused_bits != 0 || !spki->finish()) return std::nullopt;
  return bits->bytes;
}

// pkcs8_payload returns the privateKey bytes of a PrivateKeyInfo (RFC 5208,
// with the RFC 5958 version 1 public key) that is the whole of `bytes` and
// names rsaEncryption with NULL parameters. Attributes and the public key
// are skipped.
std::optional<ByteView> pkcs8_payload(ByteView bytes) {
  der::Reader in(bytes);
  auto info = in.read_sequence();
  if (!info || !in.finish()) return std::nullopt;
  auto version = info->read_integer_small(1);
  if (!version || *version > 1 || !read_algorithm_is_rsa(*info)) return std::nullopt;
  auto key = info->read_octet_string();
  if (!key) return std::nullopt;
  if (info->next_is(der::Tag::context(0, true)) && !info->read_implicit(0, true)) return std::nullopt;
  bool has_public_key = false;
  if (info->next_is(der::Tag::context(1, false))) {
    if (!info->read_implicit(1, false)) return std::nullopt;
    has_public_key = true;
  }
  if (has_public_key != (*version == 1)) return std::nullopt;
  // Later extension fields are skipped.
  while (!info->empty()) {
    auto tag = info->peek_tag();
    if (!tag || !tag->context_specific() || !info->read_element()) return std::nullopt;
  }
  return *key;
}

// public_key_from_rsa_public applies the public-key checks to one
// RSAPublicKey document.
std::optional<ossl::PkeyPtr> public_key_from_rsa_public(ByteView bytes) {
  auto parts = parse_rsa_public_key(bytes);
  if (!parts || !parts->n || !parts->e || !public_checks_pass(parts->n.get(), parts->e.get()))
    return std::nullopt;
  ossl::PkeyPtr pkey = public_pkey(parts->n.get(), parts->e.get());
  if (!pkey) return std::nullopt;
  return pkey;
}

// private_key_from_rsa_private builds the key of one RSAPrivateKey document,
// reporting the failure as the PKCS#8 codec does.
Result<ossl::PkeyPtr> private_key_from_rsa_private(ByteView bytes) {
  auto parsed = parse_rsa_private_key(bytes);
  if (!parsed) return parsed.error().fail(kPkcs8Asn1);
  const RsaParts& k = parsed->parts;
  if (parsed->multi_prime || !k.n || !k.e || !k.d || !k.p || !k.q) return fail(kPkcs8Malformed);
  return checked_private_pkey(k);
}

// ---- generation ----------------------------------------------------------

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
    OPENSSL_cleanse(seed.data(), seed.size());
    return fail(filled.error().display());
  }
  RAND_add(seed.data(), static_cast<int>(seed.size()), 0.0);
  OPENSSL_cleanse(seed.data(), seed.size());
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

Result<ossl::PkeyPtr> rsa_public_key_from_der(ByteView der) {
  ossl::ErrorQueueGuard guard;
  if (std::optional<ByteView> payload = spki_payload(der)) {
    if (auto key = public_key_from_rsa_public(*payload)) return std::move(*key);
  }
  // The bytes as a bare RSAPublicKey: they must fit the BIT STRING of a
  // SubjectPublicKeyInfo, and this attempt's failure is the one reported.
  if (der.size() > der::kMaxLength) return fail(kPkcs1BitStringTooLong);
  auto parts = parse_rsa_public_key(der);
  if (!parts) return parts.error().fail(kSpkiAsn1);
  if (!parts->n || !parts->e || !public_checks_pass(parts->n.get(), parts->e.get())) return fail(kSpkiMalformed);
  ossl::PkeyPtr pkey = public_pkey(parts->n.get(), parts->e.get());
  if (!pkey) return fail(kSpkiMalformed);
  return pkey;
}

Result<ossl::PkeyPtr> rsa_private_key_from_der(ByteView der) {
  ossl::ErrorQueueGuard guard;
  if (std::optional<ByteView> payload = pkcs8_payload(der)) {
    if (auto key = private_key_from_rsa_private(*payload)) return std::move(*key);
  }
  return private_key_from_rsa_private(der);
}

}  // namespace tarnwick::ohos::asym
