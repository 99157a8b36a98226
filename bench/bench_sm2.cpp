// Speed of the SM2 code beside OpenSSL 3.0 libcrypto doing the same work,
// from the field up to the services, plus the OpenSSL rows that
// bench/sm2_bench.js sets beside the module's exported functions, and a
// dudect-style timing test of signing with a fixed against a random nonce.
// Rows are named <op>/ours and <op>/openssl; nothing here asserts a time.
#include <benchmark/benchmark.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "crypto/sm2/fp.h"
#include "crypto/sm2/fp_adx.h"
#include "crypto/sm2/key.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm2/p256_point.h"
#include "crypto/sm2/scalar.h"
#include "crypto/sm2/sign.h"
#include "crypto/sm2/verify.h"
#include "ohos/asym/algorithms.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/keygen.h"
#include "ohos/asym/sign.h"
#include "support/cpu.h"
#include "support/os_random.h"
#include "support/ossl.h"

namespace {

using namespace tarnwick;
using bench::die;
using bench::pattern;

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

// The peer's encryption and decryption on an already parsed key, of `msg`.
void BM_sm2_encrypt_openssl(benchmark::State& state, const Bytes* msg) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1) die("encrypt_init");
  std::uint8_t out[512];
  for (auto _ : state) {
    size_t len = sizeof out;
    if (EVP_PKEY_encrypt(ctx.get(), out, &len, msg->data(), msg->size()) != 1) {
      state.SkipWithError("EVP_PKEY_encrypt");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
}

void BM_sm2_decrypt_openssl(benchmark::State& state, const Bytes* msg) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, ossl_sm2_key(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1) die("encrypt_init");
  std::uint8_t ct[512];
  size_t ctlen = sizeof ct;
  if (EVP_PKEY_encrypt(ctx.get(), ct, &ctlen, msg->data(), msg->size()) != 1) die("encrypt");
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
BENCHMARK_CAPTURE(BM_sm2_encrypt_openssl, m100, &kMsg100)->Name("sm2_encrypt_100B/openssl");
BENCHMARK(BM_sm2_decrypt_ours)->Name("sm2_decrypt_100B/ours");
BENCHMARK_CAPTURE(BM_sm2_decrypt_openssl, m100, &kMsg100)->Name("sm2_decrypt_100B/openssl");

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

// ======================= internals =======================

sm2::Scalar scalar_of(const BIGNUM& k) {
  std::uint8_t be[32];
  if (BN_bn2binpad(&k, be, 32) != 32) die("scalar");
  return sm2::Scalar::from_bytes(be);
}

void BM_fp_mul(benchmark::State& state) {
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  const sm2::fp::Fe b = sm2::p256_field::to_montgomery(fe(2));
  for (auto _ : state) {
    sm2::fp::mul(a, a, b);
    benchmark::DoNotOptimize(a);
  }
}

void BM_fp_sqr(benchmark::State& state) {
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  for (auto _ : state) {
    sm2::fp::sqr(a, a);
    benchmark::DoNotOptimize(a);
  }
}

void BM_fp_invert(benchmark::State& state) {
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  for (auto _ : state) {
    sm2::fp::invert(a, a);
    benchmark::DoNotOptimize(a);
  }
}

void BM_scalar_inv_mod(benchmark::State& state) {
  sm2::Scalar a = scalar_of(*scalar_k());
  for (auto _ : state) {
    a = sm2::scalar::inv_mod(a);
    benchmark::DoNotOptimize(a);
  }
}

void BM_scalar_mul_base(benchmark::State& state) {
  const sm2::Scalar k = scalar_of(*scalar_k());
  for (auto _ : state) {
    auto r = sm2::p256_ecc::mul_base(k);
    benchmark::DoNotOptimize(r);
  }
}

void BM_scalar_mul_point(benchmark::State& state) {
  const sm2::Scalar k = scalar_of(*scalar_k());
  const auto p = our_key().public_key;
  for (auto _ : state) {
    auto r = sm2::p256_ecc::mul_point(k, p);
    benchmark::DoNotOptimize(r);
  }
}

#if defined(TARNWICK_SM2_FP_ADX)
void BM_fp_mul_adx(benchmark::State& state) {
  if (!cpu::has(sm2::fp::Adx::kFeatures)) return state.SkipWithError("no BMI2+ADX");
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  const sm2::fp::Fe b = sm2::p256_field::to_montgomery(fe(2));
  for (auto _ : state) {
    sm2::fp::Adx::mul(a, a, b);
    benchmark::DoNotOptimize(a);
  }
}

void BM_fp_sqr_adx(benchmark::State& state) {
  if (!cpu::has(sm2::fp::Adx::kFeatures)) return state.SkipWithError("no BMI2+ADX");
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  for (auto _ : state) {
    sm2::fp::Adx::sqr(a, a);
    benchmark::DoNotOptimize(a);
  }
}
#endif

// The additions and the point formulas over either field backend, each in a
// dependent chain (the result is the next operand). Every one runs in
// constant time, so the operand values do not matter.
template <class F>
void BM_fp_add_backend(benchmark::State& state) {
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  const sm2::fp::Fe b = sm2::p256_field::to_montgomery(fe(2));
  for (auto _ : state) {
    F::add(a, a, b);
    benchmark::DoNotOptimize(a);
  }
}

template <class F>
void BM_fp_sub_backend(benchmark::State& state) {
  sm2::fp::Fe a = sm2::p256_field::to_montgomery(fe(1));
  const sm2::fp::Fe b = sm2::p256_field::to_montgomery(fe(2));
  for (auto _ : state) {
    F::sub(a, a, b);
    benchmark::DoNotOptimize(a);
  }
}

sm2::point::Jacobian bench_point(std::uint32_t seed) {
  return {sm2::p256_field::to_montgomery(fe(seed)), sm2::p256_field::to_montgomery(fe(seed + 1)),
          sm2::p256_field::to_montgomery(fe(seed + 2))};
}

template <class F>
void BM_point_dbl(benchmark::State& state) {
  sm2::point::Jacobian p = bench_point(1);
  for (auto _ : state) {
    sm2::point::dbl<F>(p, p);
    benchmark::DoNotOptimize(p);
  }
}

template <class F>
void BM_point_add(benchmark::State& state) {
  sm2::point::Jacobian p = bench_point(1);
  const sm2::point::Jacobian q = bench_point(4);
  for (auto _ : state) {
    sm2::point::add<F>(p, p, q, false);
    benchmark::DoNotOptimize(p);
  }
}

template <class F>
void BM_point_add_affine(benchmark::State& state) {
  sm2::point::Jacobian p = bench_point(1);
  const sm2::point::Affine q{sm2::p256_field::to_montgomery(fe(4)), sm2::p256_field::to_montgomery(fe(5))};
  for (auto _ : state) {
    sm2::point::add_affine<F>(p, p, q, 0, false);
    benchmark::DoNotOptimize(p);
  }
}

// needs_adx skips a row without BMI2+ADX, then runs it.
template <void (*Row)(benchmark::State&)>
void BM_needs_adx(benchmark::State& state) {
#if defined(TARNWICK_SM2_FP_ADX)
  if (!cpu::has(sm2::fp::Adx::kFeatures)) return state.SkipWithError("no BMI2+ADX");
#endif
  Row(state);
}

// The portable paths of the scalar multiplications, forced by withholding
// BMI2, ADX and AVX2 for the row.
template <void (*Row)(benchmark::State&)>
void BM_portable(benchmark::State& state) {
  cpu::testing::withhold(cpu::kBmi2 | cpu::kAdx | cpu::kAvx2);
  Row(state);
  cpu::testing::withhold(0);
}

BENCHMARK(BM_fp_mul)->Name("sm2_fp_mul_montgomery/ours");
BENCHMARK(BM_fp_sqr)->Name("sm2_fp_sqr_montgomery/ours");
#if defined(TARNWICK_SM2_FP_ADX)
BENCHMARK(BM_fp_mul_adx)->Name("sm2_fp_mul_montgomery/ours_adx");
BENCHMARK(BM_fp_sqr_adx)->Name("sm2_fp_sqr_montgomery/ours_adx");
#endif
BENCHMARK(BM_fp_add_backend<sm2::fp::Portable>)->Name("sm2_fp_add/ours");
BENCHMARK(BM_fp_sub_backend<sm2::fp::Portable>)->Name("sm2_fp_sub/ours");
BENCHMARK(BM_point_dbl<sm2::fp::Portable>)->Name("sm2_fp_point_dbl/ours");
BENCHMARK(BM_point_add<sm2::fp::Portable>)->Name("sm2_fp_point_add/ours");
BENCHMARK(BM_point_add_affine<sm2::fp::Portable>)->Name("sm2_fp_point_add_affine/ours");
#if defined(TARNWICK_SM2_FP_ADX)
BENCHMARK(BM_needs_adx<BM_fp_add_backend<sm2::fp::Adx>>)->Name("sm2_fp_add/ours_adx");
BENCHMARK(BM_needs_adx<BM_fp_sub_backend<sm2::fp::Adx>>)->Name("sm2_fp_sub/ours_adx");
BENCHMARK(BM_needs_adx<BM_point_dbl<sm2::fp::Adx>>)->Name("sm2_fp_point_dbl/ours_adx");
BENCHMARK(BM_needs_adx<BM_point_add<sm2::fp::Adx>>)->Name("sm2_fp_point_add/ours_adx");
BENCHMARK(BM_needs_adx<BM_point_add_affine<sm2::fp::Adx>>)->Name("sm2_fp_point_add_affine/ours_adx");
#endif
BENCHMARK(BM_portable<BM_sm2_mul_base_ours>)->Name("sm2_mul_base/ours_portable");
BENCHMARK(BM_portable<BM_sm2_mul_point_ours>)->Name("sm2_mul_point/ours_portable");
BENCHMARK(BM_portable<BM_sm2_sign_ours>)->Name("sm2_sign_digest/ours_portable");
BENCHMARK(BM_portable<BM_sm2_verify_ours>)->Name("sm2_verify_digest/ours_portable");
BENCHMARK(BM_fp_invert)->Name("sm2_fp_invert/ours");
BENCHMARK(BM_scalar_inv_mod)->Name("sm2_scalar_inv_mod_n/ours");
BENCHMARK(BM_scalar_mul_base)->Name("sm2_mul_base_scalar/ours");
BENCHMARK(BM_scalar_mul_point)->Name("sm2_mul_point_scalar/ours");

// ======================= the OpenSSL side of bench/sm2_bench.js =======================
// libcrypto on an already parsed key: key generation, and encryption and
// decryption of 32 bytes (the rows the JS script sets beside asymGenerateKey,
// asymEncrypt and asymDecrypt; `openssl speed sm2` gives sign and verify).

const Bytes kMsg32 = pattern(32, 0x44);

void BM_peer_keygen(benchmark::State& state) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1) die("keygen_init");
  for (auto _ : state) {
    EVP_PKEY* k = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &k) != 1) {
      state.SkipWithError("EVP_PKEY_keygen");
      break;
    }
    EVP_PKEY_free(k);
  }
}

BENCHMARK(BM_peer_keygen)->Name("sm2_peer/openssl_keygen");
BENCHMARK_CAPTURE(BM_sm2_encrypt_openssl, m32, &kMsg32)->Name("sm2_peer/openssl_encrypt_32B");
BENCHMARK_CAPTURE(BM_sm2_decrypt_openssl, m32, &kMsg32)->Name("sm2_peer/openssl_decrypt_32B");

// ======================= dudect: signing, nonce fixed vs random =======================
// Two classes interleaved at random: class 0 signs with a fixed nonce, class
// 1 with a fresh random one, the nonce supplied through the random-source
// test hook, the key and digest the same. Welch's t over the raw timings and
// over timings cropped at a few upper percentiles, in the manner of dudect
// (Reparaz, Balasch, Verbauwhede 2017). |t| above 4.5 would mean that the
// time depends on the nonce. The second row (argument 1) gives class 0
// random nonces too: an A/A run that shows the noise floor of |t| on the
// machine. Reported as counters: never asserted.

struct Welch {
  double n[2] = {0, 0}, mean[2] = {0, 0}, m2[2] = {0, 0};
  void add(int cls, double x) {
    n[cls] += 1;
    const double d = x - mean[cls];
    mean[cls] += d / n[cls];
    m2[cls] += d * (x - mean[cls]);
  }
  double t() const {
    if (n[0] < 2 || n[1] < 2) return 0;
    const double v0 = m2[0] / (n[0] - 1), v1 = m2[1] / (n[1] - 1);
    return (mean[0] - mean[1]) / std::sqrt(v0 / n[0] + v1 / n[1]);
  }
};

// NonceSource answers each 32-byte draw with `next`, which the harness sets
// before each call: the fixed nonce or one drawn beforehand, so that both
// classes do the same work outside the signing itself.
struct NonceSource {
  const std::uint8_t* next = nullptr;
  static long read(void* ctx, std::uint8_t* buf, std::size_t len, int* err) {
    auto* s = static_cast<NonceSource*>(ctx);
    if (len != 32) {
      *err = 22;
      return -1;
    }
    std::memcpy(buf, s->next, 32);
    return 32;
  }
};

void BM_dudect_sign_nonce(benchmark::State& state) {
  const std::size_t per_class = static_cast<std::size_t>(state.range(0));
  const bool a_a = state.range(1) != 0;
  const auto& kp = our_key();
  NonceSource src;
  // k = 2^255 + 1: one far from the random ones in Hamming weight.
  std::uint8_t fixed_k[32] = {};
  fixed_k[0] = 0x80;
  fixed_k[31] = 0x01;
  // Random nonces below n (a clear top bit keeps them there); the A/A run
  // draws class 0's from the same kind.
  std::vector<std::uint8_t> random_k(2 * 32 * per_class);
  if (RAND_bytes(random_k.data(), static_cast<int>(random_k.size())) != 1) die("RAND_bytes");
  for (std::size_t i = 0; i < 2 * per_class; ++i) random_k[32 * i] &= 0x7F;
  for (auto _ : state) {
    os_random::testing::set_source(&NonceSource::read, &src);
    std::vector<int> classes;
    for (std::size_t i = 0; i < 2 * per_class; ++i) classes.push_back(static_cast<int>(i & 1));
    // Interleave at random (Fisher–Yates with OpenSSL's generator).
    for (std::size_t i = classes.size() - 1; i > 0; --i) {
      std::uint32_t r;
      RAND_bytes(reinterpret_cast<unsigned char*>(&r), sizeof r);
      std::swap(classes[i], classes[r % (i + 1)]);
    }
    std::vector<double> times[2];
    std::size_t next_random = 0;
    for (int cls : classes) {
      src.next = cls == 0 && !a_a ? fixed_k : &random_k[32 * next_random++];
      const auto t0 = std::chrono::steady_clock::now();
      auto sig = sm2::sign_digest(kDigest, kp.private_key);
      const auto t1 = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(sig);
      times[cls].push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    os_random::testing::set_source(nullptr, nullptr);
    Welch raw;
    for (int c = 0; c < 2; ++c)
      for (double x : times[c]) raw.add(c, x);
    state.counters["t_raw"] = std::fabs(raw.t());
    // Crops: keep the timings below a percentile of both classes together.
    std::vector<double> all(times[0]);
    all.insert(all.end(), times[1].begin(), times[1].end());
    std::sort(all.begin(), all.end());
    double worst = 0;
    for (double pct : {0.5, 0.75, 0.9, 0.95, 0.99}) {
      const double limit = all[static_cast<std::size_t>(pct * static_cast<double>(all.size() - 1))];
      Welch w;
      for (int c = 0; c < 2; ++c)
        for (double x : times[c])
          if (x <= limit) w.add(c, x);
      const double t = std::fabs(w.t());
      state.counters["t_p" + std::to_string(static_cast<int>(pct * 100))] = t;
      worst = std::max(worst, t);
    }
    state.counters["t_max_cropped"] = worst;
  }
}

BENCHMARK(BM_dudect_sign_nonce)
    ->Name("sm2_dudect/sign_nonce_fixed_vs_random")
    ->Args({5000, 0})
    ->Args({5000, 1})
    ->ArgNames({"calls", "a_a"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
