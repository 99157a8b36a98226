// Speed of our primitives and services beside OpenSSL 3.0 libcrypto doing
// the same work. Each pair is named <op>/ours and <op>/openssl so the two
// rows sit next to each other in the output. Every benchmark checks its
// first result once and stops with an error if the operation fails; the
// timings themselves are never compared against anything here.
#include <benchmark/benchmark.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/sm2/key.h"
#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm2/sign.h"
#include "crypto/sm2/sm2.h"
#include "crypto/sm2/verify.h"
#include "ohos/asym/algorithms.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/keygen.h"
#include "ohos/asym/sign.h"
#include "support/base64.h"
#include "support/ossl.h"
#include "vorel/sym/encrypt.h"

namespace {

using namespace tarnwick;

// Set-up failures are programming errors of the benchmark itself.
[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "bench set-up failed: %s\n", what);
  std::abort();
}

Bytes pattern(std::size_t n, std::uint8_t seed = 0x5a) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + 31 * i);
  return out;
}

const Bytes kKey16 = pattern(16, 0x01);
const Bytes kIv16 = pattern(16, 0x02);

// ---- fetched OpenSSL algorithms (fetched once, not on every call) ----

const EVP_MD* md_sm3() {
  static EVP_MD* md = EVP_MD_fetch(nullptr, "SM3", nullptr);
  if (md == nullptr) die("EVP_MD_fetch SM3");
  return md;
}

// ======================= SM2 =======================

ossl::BnPtr scalar_k() {
  // A fixed full-width scalar below n.
  BIGNUM* k = nullptr;
  if (BN_hex2bn(&k, "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8") == 0) die("hex2bn");
  return ossl::BnPtr(k);
}

const sm2::Sm2KeyPair& our_key() {
  static const sm2::Sm2KeyPair kp = [] {
    auto r = sm2::generate_key_pair();
    if (!r) die("sm2 generate_key_pair");
    return std::move(*r);
  }();
  return kp;
}

void BM_sm2_mul_base_ours(benchmark::State& state) {
  const auto k = scalar_k();
  for (auto _ : state) {
    auto r = sm2::p256_ecc::mul_base(*k);
    benchmark::DoNotOptimize(r);
  }
}

void BM_sm2_mul_base_affine_ours(benchmark::State& state) {
  const auto k = scalar_k();
  for (auto _ : state) {
    auto r = sm2::p256_ecc::mul_base(*k);
    auto a = sm2::p256_ecc::to_affine(*r);
    benchmark::DoNotOptimize(a);
  }
}

void BM_sm2_mul_point_ours(benchmark::State& state) {
  const auto k = scalar_k();
  const auto p = our_key().public_key;
  for (auto _ : state) {
    auto r = sm2::p256_ecc::mul_point(*k, p);
    benchmark::DoNotOptimize(r);
  }
}

struct OsslCurve {
  ossl::EcGroupPtr group{EC_GROUP_new_by_curve_name(NID_sm2)};
  ossl::BnCtxPtr ctx{BN_CTX_new()};
  ossl::EcPointPtr point;
  OsslCurve() {
    if (!group || !ctx) die("EC_GROUP sm2");
    point.reset(EC_POINT_new(group.get()));
    const auto k = scalar_k();
    // Some point other than G: 0x1234·G.
    ossl::BnPtr m(BN_new());
    BN_set_word(m.get(), 0x1234);
    if (!point || EC_POINT_mul(group.get(), point.get(), m.get(), nullptr, nullptr, ctx.get()) != 1) die("point");
  }
};

OsslCurve& curve() {
  static OsslCurve c;
  return c;
}

// EC_POINT_mul returns an affine-convertible point; OpenSSL keeps Jacobian
// internally and converts lazily, so this matches mul_base without to_affine.
void BM_sm2_mul_base_openssl(benchmark::State& state) {
  auto& c = curve();
  const auto k = scalar_k();
  ossl::EcPointPtr r(EC_POINT_new(c.group.get()));
  for (auto _ : state) {
    if (EC_POINT_mul(c.group.get(), r.get(), k.get(), nullptr, nullptr, c.ctx.get()) != 1) {
      state.SkipWithError("EC_POINT_mul");
      break;
    }
    benchmark::DoNotOptimize(r.get());
  }
}

void BM_sm2_mul_point_openssl(benchmark::State& state) {
  auto& c = curve();
  const auto k = scalar_k();
  ossl::EcPointPtr r(EC_POINT_new(c.group.get()));
  for (auto _ : state) {
    if (EC_POINT_mul(c.group.get(), r.get(), nullptr, c.point.get(), k.get(), c.ctx.get()) != 1) {
      state.SkipWithError("EC_POINT_mul");
      break;
    }
    benchmark::DoNotOptimize(r.get());
  }
}

BENCHMARK(BM_sm2_mul_base_ours)->Name("sm2_mul_base/ours");
BENCHMARK(BM_sm2_mul_base_affine_ours)->Name("sm2_mul_base+to_affine/ours");
BENCHMARK(BM_sm2_mul_base_openssl)->Name("sm2_mul_base/openssl");
BENCHMARK(BM_sm2_mul_point_ours)->Name("sm2_mul_point/ours");
BENCHMARK(BM_sm2_mul_point_openssl)->Name("sm2_mul_point/openssl");

void BM_sm2_keygen_ours(benchmark::State& state) {
  for (auto _ : state) {
    auto r = sm2::generate_key_pair();
    if (!r) {
      state.SkipWithError("generate_key_pair");
      break;
    }
    benchmark::DoNotOptimize(r->public_key);
  }
}

void BM_sm2_keygen_openssl(benchmark::State& state) {
  for (auto _ : state) {
    ossl::PkeyPtr k(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    if (!k) {
      state.SkipWithError("EVP_PKEY_Q_keygen");
      break;
    }
    benchmark::DoNotOptimize(k.get());
  }
}

BENCHMARK(BM_sm2_keygen_ours)->Name("sm2_keygen/ours");
BENCHMARK(BM_sm2_keygen_openssl)->Name("sm2_keygen/openssl");

const Bytes kDigest = pattern(32, 0x77);

Bytes pad32(const Bytes& v) {
  Bytes out(32 - v.size(), 0);
  out.insert(out.end(), v.begin(), v.end());
  return out;
}

void BM_sm2_sign_ours(benchmark::State& state) {
  const auto& kp = our_key();
  for (auto _ : state) {
    auto r = sm2::sign_digest(kDigest, kp.private_key);
    if (!r) {
      state.SkipWithError("sign_digest");
      break;
    }
    benchmark::DoNotOptimize(r->s.data());
  }
}

void BM_sm2_verify_ours(benchmark::State& state) {
  const auto& kp = our_key();
  auto sig = sm2::sign_digest(kDigest, kp.private_key);
  if (!sig) die("sign_digest");
  Bytes rs = pad32(sig->r);
  const Bytes s = pad32(sig->s);
  rs.insert(rs.end(), s.begin(), s.end());
  if (!sm2::key::verify_digest(kDigest, kp.public_key, rs)) die("verify_digest");
  for (auto _ : state) {
    auto ok = sm2::key::verify_digest(kDigest, kp.public_key, rs);
    benchmark::DoNotOptimize(ok);
  }
}

EVP_PKEY* ossl_sm2_key() {
  static EVP_PKEY* k = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
  if (k == nullptr) die("sm2 key");
  return k;
}

// EVP_PKEY_sign on an SM2 key signs the given 32 bytes as the digest e,
// the same work as sign_digest.
void BM_sm2_sign_openssl(benchmark::State& state) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) die("sign_init");
  std::uint8_t sig[80];
  for (auto _ : state) {
    size_t len = sizeof sig;
    if (EVP_PKEY_sign(ctx.get(), sig, &len, kDigest.data(), kDigest.size()) != 1) {
      state.SkipWithError("EVP_PKEY_sign");
      break;
    }
    benchmark::DoNotOptimize(sig);
  }
}

void BM_sm2_verify_openssl(benchmark::State& state) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) die("sign_init");
  std::uint8_t sig[80];
  size_t len = sizeof sig;
  if (EVP_PKEY_sign(ctx.get(), sig, &len, kDigest.data(), kDigest.size()) != 1) die("sign");
  ossl::PkeyCtxPtr vctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!vctx || EVP_PKEY_verify_init(vctx.get()) != 1) die("verify_init");
  if (EVP_PKEY_verify(vctx.get(), sig, len, kDigest.data(), kDigest.size()) != 1) die("verify");
  for (auto _ : state) {
    int ok = EVP_PKEY_verify(vctx.get(), sig, len, kDigest.data(), kDigest.size());
    benchmark::DoNotOptimize(ok);
  }
}

// The full message form with the default distinguishing ID: Z, SM3(Z ‖ M)
// and the signature (compare with the asym_sign SM3WithSM2 service row).
void BM_sm2_digestsign_openssl(benchmark::State& state) {
  const Bytes msg = pattern(100);
  static const char kId[] = "1234567812345678";
  std::uint8_t sig[80];
  ossl::MdCtxPtr md(EVP_MD_CTX_new());
  for (auto _ : state) {
    ossl::PkeyCtxPtr pctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
    EVP_PKEY_CTX_set1_id(pctx.get(), kId, 16);
    EVP_MD_CTX_set_pkey_ctx(md.get(), pctx.get());
    size_t len = sizeof sig;
    // The ID set on the context before the init is the one DigestSign uses.
    if (EVP_DigestSignInit(md.get(), nullptr, md_sm3(), nullptr, ossl_sm2_key()) != 1 ||
        EVP_DigestSign(md.get(), sig, &len, msg.data(), msg.size()) != 1) {
      state.SkipWithError("EVP_DigestSign");
      break;
    }
    EVP_MD_CTX_reset(md.get());
    benchmark::DoNotOptimize(sig);
  }
}

BENCHMARK(BM_sm2_sign_ours)->Name("sm2_sign_digest/ours");
BENCHMARK(BM_sm2_sign_openssl)->Name("sm2_sign_digest/openssl");
BENCHMARK(BM_sm2_verify_ours)->Name("sm2_verify_digest/ours");
BENCHMARK(BM_sm2_verify_openssl)->Name("sm2_verify_digest/openssl");
BENCHMARK(BM_sm2_digestsign_openssl)->Name("sm2_sign_message_distid/openssl");

const Bytes kMsg100 = pattern(100, 0x33);

void BM_sm2_encrypt_ours(benchmark::State& state) {
  const auto& kp = our_key();
  for (auto _ : state) {
    auto r = sm2::key::encrypt(kp.public_key, kMsg100);
    if (!r) {
      state.SkipWithError("encrypt");
      break;
    }
    benchmark::DoNotOptimize(r->data());
  }
}

void BM_sm2_decrypt_ours(benchmark::State& state) {
  const auto& kp = our_key();
  auto c = sm2::key::encrypt(kp.public_key, kMsg100);
  if (!c) die("encrypt");
  Bytes raw{0x04};
  raw.insert(raw.end(), c->begin(), c->end());
  auto chk = sm2::key::decrypt_raw(kp.private_key, raw);
  if (!chk || *chk != kMsg100) die("decrypt_raw");
  for (auto _ : state) {
    auto r = sm2::key::decrypt_raw(kp.private_key, raw);
    benchmark::DoNotOptimize(r);
  }
}

void BM_sm2_encrypt_openssl(benchmark::State& state) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1) die("encrypt_init");
  std::uint8_t out[512];
  for (auto _ : state) {
    size_t len = sizeof out;
    if (EVP_PKEY_encrypt(ctx.get(), out, &len, kMsg100.data(), kMsg100.size()) != 1) {
      state.SkipWithError("EVP_PKEY_encrypt");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
}

void BM_sm2_decrypt_openssl(benchmark::State& state) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1) die("encrypt_init");
  std::uint8_t ct[512];
  size_t ctlen = sizeof ct;
  if (EVP_PKEY_encrypt(ctx.get(), ct, &ctlen, kMsg100.data(), kMsg100.size()) != 1) die("encrypt");
  ossl::PkeyCtxPtr dctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!dctx || EVP_PKEY_decrypt_init(dctx.get()) != 1) die("decrypt_init");
  std::uint8_t out[512];
  for (auto _ : state) {
    size_t len = sizeof out;
    if (EVP_PKEY_decrypt(dctx.get(), out, &len, ct, ctlen) != 1) {
      state.SkipWithError("EVP_PKEY_decrypt");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
}

BENCHMARK(BM_sm2_encrypt_ours)->Name("sm2_encrypt_100B/ours");
BENCHMARK(BM_sm2_encrypt_openssl)->Name("sm2_encrypt_100B/openssl");
BENCHMARK(BM_sm2_decrypt_ours)->Name("sm2_decrypt_100B/ours");
BENCHMARK(BM_sm2_decrypt_openssl)->Name("sm2_decrypt_100B/openssl");

// ======================= field =======================

using sm2::p256_field::FieldElement;

FieldElement fe(std::uint32_t seed) {
  FieldElement f;
  for (std::size_t i = 0; i < 8; ++i) f.w[i] = seed * 0x9E3779B9u + static_cast<std::uint32_t>(i) * 0x7F4A7C15u;
  f.w[0] &= 0x7FFFFFFF;  // below p
  return f;
}

void BM_field_mul_ours(benchmark::State& state) {
  FieldElement a = fe(1);
  const FieldElement b = fe(2);
  for (auto _ : state) {
    a = sm2::p256_field::mul(a, b);
    benchmark::DoNotOptimize(a);
  }
}

void BM_field_invert_ours(benchmark::State& state) {
  FieldElement a = fe(1);
  for (auto _ : state) {
    a = sm2::p256_field::invert(a);
    benchmark::DoNotOptimize(a);
  }
}

void BM_field_sqrt_ours(benchmark::State& state) {
  const FieldElement a = fe(3);
  const FieldElement sq = sm2::p256_field::mul(a, a);
  for (auto _ : state) {
    auto r = sm2::p256_field::sqrt(sq);
    benchmark::DoNotOptimize(r);
  }
}

struct OsslField {
  ossl::BnPtr p{BN_new()}, a{BN_new()}, b{BN_new()}, r{BN_new()};
  ossl::BnCtxPtr ctx{BN_CTX_new()};
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  OsslField() {
    auto& c = curve();
    if (EC_GROUP_get_curve(c.group.get(), p.get(), nullptr, nullptr, ctx.get()) != 1) die("get_curve");
    std::uint8_t buf[32];
    sm2::p256_field::write_bytes(fe(1), buf);
    BN_bin2bn(buf, 32, a.get());
    sm2::p256_field::write_bytes(fe(2), buf);
    BN_bin2bn(buf, 32, b.get());
    BN_MONT_CTX_set(mont, p.get(), ctx.get());
  }
  ~OsslField() { BN_MONT_CTX_free(mont); }
};

OsslField& ofield() {
  static OsslField f;
  return f;
}

void BM_field_mul_openssl(benchmark::State& state) {
  auto& f = ofield();
  for (auto _ : state) {
    BN_mod_mul(f.r.get(), f.a.get(), f.b.get(), f.p.get(), f.ctx.get());
    benchmark::DoNotOptimize(f.r.get());
  }
}

// The form OpenSSL's own generic prime-curve code uses.
void BM_field_mul_mont_openssl(benchmark::State& state) {
  auto& f = ofield();
  for (auto _ : state) {
    BN_mod_mul_montgomery(f.r.get(), f.a.get(), f.b.get(), f.mont, f.ctx.get());
    benchmark::DoNotOptimize(f.r.get());
  }
}

void BM_field_invert_openssl(benchmark::State& state) {
  auto& f = ofield();
  for (auto _ : state) {
    BN_mod_inverse(f.r.get(), f.a.get(), f.p.get(), f.ctx.get());
    benchmark::DoNotOptimize(f.r.get());
  }
}

void BM_field_sqrt_openssl(benchmark::State& state) {
  auto& f = ofield();
  ossl::BnPtr sq(BN_new());
  BN_mod_sqr(sq.get(), f.a.get(), f.p.get(), f.ctx.get());
  for (auto _ : state) {
    BN_mod_sqrt(f.r.get(), sq.get(), f.p.get(), f.ctx.get());
    benchmark::DoNotOptimize(f.r.get());
  }
}

BENCHMARK(BM_field_mul_ours)->Name("field_mul/ours");
BENCHMARK(BM_field_mul_openssl)->Name("field_mul/openssl_BN_mod_mul");
BENCHMARK(BM_field_mul_mont_openssl)->Name("field_mul/openssl_BN_mod_mul_montgomery");
BENCHMARK(BM_field_invert_ours)->Name("field_invert/ours");
BENCHMARK(BM_field_invert_openssl)->Name("field_invert/openssl_BN_mod_inverse");
BENCHMARK(BM_field_sqrt_ours)->Name("field_sqrt/ours");
BENCHMARK(BM_field_sqrt_openssl)->Name("field_sqrt/openssl_BN_mod_sqrt");

// ======================= services =======================

void BM_sym_encrypt(benchmark::State& state, vorel::sym::SymAlgorithm alg) {
  const Bytes data = pattern(1024);
  const std::string key = base64::encode(kKey16);
  const std::string iv = base64::encode(kIv16);
  for (auto _ : state) {
    auto r = vorel::sym::sym_encrypt(alg, data, key, iv);
    if (!r) {
      state.SkipWithError("sym_encrypt");
      break;
    }
    benchmark::DoNotOptimize(r->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}

void BM_sym_decrypt(benchmark::State& state, vorel::sym::SymAlgorithm alg) {
  const Bytes data = pattern(1024);
  const std::string key = base64::encode(kKey16);
  const std::string iv = base64::encode(kIv16);
  auto ct = vorel::sym::sym_encrypt(alg, data, key, iv);
  if (!ct) die("sym_encrypt");
  for (auto _ : state) {
    auto r = vorel::sym::sym_decrypt(alg, *ct, key, iv);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}

BENCHMARK_CAPTURE(BM_sym_encrypt, sm4cbc, vorel::sym::SymAlgorithm::SM4CBC)->Name("svc_sym_encrypt_1KiB/SM4CBC");
BENCHMARK_CAPTURE(BM_sym_encrypt, aes128cbc, vorel::sym::SymAlgorithm::AES128CBC)
    ->Name("svc_sym_encrypt_1KiB/AES128CBC");
BENCHMARK_CAPTURE(BM_sym_encrypt, sm4gcm, vorel::sym::SymAlgorithm::SM4GCM)->Name("svc_sym_encrypt_1KiB/SM4GCM");
BENCHMARK_CAPTURE(BM_sym_decrypt, sm4cbc, vorel::sym::SymAlgorithm::SM4CBC)->Name("svc_sym_decrypt_1KiB/SM4CBC");
BENCHMARK_CAPTURE(BM_sym_decrypt, aes128cbc, vorel::sym::SymAlgorithm::AES128CBC)
    ->Name("svc_sym_decrypt_1KiB/AES128CBC");

using ohos::asym::AsymAlgorithm;
using ohos::asym::SignAlgorithm;

const ohos::asym::KeyPair& svc_key(AsymAlgorithm alg) {
  static const ohos::asym::KeyPair sm2 = [] {
    auto r = ohos::asym::asym_generate_key(AsymAlgorithm::SM2, 256);
    if (!r) die("asym_generate_key SM2");
    return *r;
  }();
  static const ohos::asym::KeyPair rsa = [] {
    auto r = ohos::asym::asym_generate_key(AsymAlgorithm::RSA, 2048);
    if (!r) die("asym_generate_key RSA");
    return *r;
  }();
  return alg == AsymAlgorithm::SM2 ? sm2 : rsa;
}

void BM_svc_sign(benchmark::State& state, SignAlgorithm alg, AsymAlgorithm key) {
  const auto& kp = svc_key(key);
  for (auto _ : state) {
    auto r = ohos::asym::asym_sign(alg, kMsg100, kp.privkey, "");
    if (!r) {
      state.SkipWithError("asym_sign");
      break;
    }
    benchmark::DoNotOptimize(r->data());
  }
}

void BM_svc_verify(benchmark::State& state, SignAlgorithm alg, AsymAlgorithm key) {
  const auto& kp = svc_key(key);
  auto sig = ohos::asym::asym_sign(alg, kMsg100, kp.privkey, "");
  if (!sig) die("asym_sign");
  if (!ohos::asym::asym_verify(alg, kMsg100, *sig, kp.pubkey, "")) die("asym_verify");
  for (auto _ : state) {
    bool ok = ohos::asym::asym_verify(alg, kMsg100, *sig, kp.pubkey, "");
    benchmark::DoNotOptimize(ok);
  }
}

void BM_svc_encrypt(benchmark::State& state, AsymAlgorithm alg) {
  const auto& kp = svc_key(alg);
  for (auto _ : state) {
    auto r = ohos::asym::asym_encrypt(alg, kMsg100, kp.pubkey);
    if (!r) {
      state.SkipWithError("asym_encrypt");
      break;
    }
    benchmark::DoNotOptimize(r->data());
  }
}

void BM_svc_decrypt(benchmark::State& state, AsymAlgorithm alg) {
  const auto& kp = svc_key(alg);
  auto ct = ohos::asym::asym_encrypt(alg, kMsg100, kp.pubkey);
  if (!ct) die("asym_encrypt");
  auto chk = ohos::asym::asym_decrypt(alg, *ct, kp.privkey);
  if (!chk || *chk != kMsg100) die("asym_decrypt");
  for (auto _ : state) {
    auto r = ohos::asym::asym_decrypt(alg, *ct, kp.privkey);
    benchmark::DoNotOptimize(r);
  }
}

void BM_svc_keygen(benchmark::State& state, AsymAlgorithm alg) {
  for (auto _ : state) {
    auto r = ohos::asym::asym_generate_key(alg, 2048);
    benchmark::DoNotOptimize(r);
  }
}

BENCHMARK_CAPTURE(BM_svc_sign, sm2, SignAlgorithm::SM3WithSM2, AsymAlgorithm::SM2)
    ->Name("svc_asym_sign_100B/SM3WithSM2");
BENCHMARK_CAPTURE(BM_svc_sign, rsa, SignAlgorithm::SHA256WithRSA, AsymAlgorithm::RSA)
    ->Name("svc_asym_sign_100B/SHA256WithRSA_2048");
BENCHMARK_CAPTURE(BM_svc_verify, sm2, SignAlgorithm::SM3WithSM2, AsymAlgorithm::SM2)
    ->Name("svc_asym_verify_100B/SM3WithSM2");
BENCHMARK_CAPTURE(BM_svc_verify, rsa, SignAlgorithm::SHA256WithRSA, AsymAlgorithm::RSA)
    ->Name("svc_asym_verify_100B/SHA256WithRSA_2048");
BENCHMARK_CAPTURE(BM_svc_encrypt, sm2, AsymAlgorithm::SM2)->Name("svc_asym_encrypt_100B/SM2");
BENCHMARK_CAPTURE(BM_svc_encrypt, rsa, AsymAlgorithm::RSA)->Name("svc_asym_encrypt_100B/RSA_2048_OAEP");
BENCHMARK_CAPTURE(BM_svc_decrypt, sm2, AsymAlgorithm::SM2)->Name("svc_asym_decrypt_100B/SM2");
BENCHMARK_CAPTURE(BM_svc_decrypt, rsa, AsymAlgorithm::RSA)->Name("svc_asym_decrypt_100B/RSA_2048_OAEP");
BENCHMARK_CAPTURE(BM_svc_keygen, sm2, AsymAlgorithm::SM2)->Name("svc_asym_generate_key/SM2");

}  // namespace
