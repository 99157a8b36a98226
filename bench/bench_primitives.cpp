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

#include "crypto/sm3/sm3.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/gcm.h"
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

const EVP_CIPHER* fetch_cipher(const char* name) {
  EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, name, nullptr);
  if (c == nullptr) die(name);
  return c;
}

// ======================= SM3 =======================

void BM_sm3_ours(benchmark::State& state) {
  const Bytes data = pattern(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Bytes d = sm3::digest(data);
    benchmark::DoNotOptimize(d.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_sm3_openssl(benchmark::State& state) {
  const Bytes data = pattern(static_cast<std::size_t>(state.range(0)));
  std::uint8_t out[32];
  for (auto _ : state) {
    if (EVP_Digest(data.data(), data.size(), out, nullptr, md_sm3(), nullptr) != 1) {
      state.SkipWithError("EVP_Digest");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_sm3_ours)->Name("sm3/ours")->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_sm3_openssl)->Name("sm3/openssl")->Arg(64)->Arg(1024)->Arg(1 << 20);

// ======================= SM4 =======================

const sm4::Sm4KeySchedule& schedule() {
  static const sm4::Sm4KeySchedule s = [] {
    auto r = sm4::cipher::key_schedule(kKey16);
    if (!r) die("sm4 key_schedule");
    return *r;
  }();
  return s;
}

void BM_sm4_block_ours(benchmark::State& state) {
  const auto& ks = schedule();
  std::uint8_t block[16];
  std::copy(kIv16.begin(), kIv16.end(), block);
  for (auto _ : state) {
    sm4::cipher::encrypt_raw(ks, block, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

void BM_sm4_key_schedule_ours(benchmark::State& state) {
  for (auto _ : state) {
    auto r = sm4::cipher::key_schedule(kKey16);
    benchmark::DoNotOptimize(r);
  }
}

// One 16-byte EVP_EncryptUpdate on an ECB context set up once: the
// per-call cost of the EVP layer is part of what is measured.
void BM_sm4_block_openssl(benchmark::State& state) {
  ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  static const EVP_CIPHER* ecb = fetch_cipher("SM4-ECB");
  if (!ctx || EVP_EncryptInit_ex2(ctx.get(), ecb, kKey16.data(), nullptr, nullptr) != 1) die("sm4 ecb init");
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  std::uint8_t block[16];
  std::copy(kIv16.begin(), kIv16.end(), block);
  for (auto _ : state) {
    int len = 0;
    EVP_EncryptUpdate(ctx.get(), block, &len, block, 16);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16);
}

BENCHMARK(BM_sm4_block_ours)->Name("sm4_block/ours");
BENCHMARK(BM_sm4_block_openssl)->Name("sm4_block/openssl");
BENCHMARK(BM_sm4_key_schedule_ours)->Name("sm4_key_schedule/ours");

enum class Mode { Ecb, Cbc, Ctr, Gcm };

void BM_sm4_mode_ours(benchmark::State& state, Mode mode) {
  const Bytes data = pattern(static_cast<std::size_t>(state.range(0)));
  const sm4::Sm4ModeCipher cbc{schedule(), sm4::Sm4Mode::Cbc};
  const sm4::Sm4ModeCipher ctr{schedule(), sm4::Sm4Mode::Ctr};
  const sm4::Sm4ModeCipher gcm{schedule(), sm4::Sm4Mode::Gcm};
  sm4::Block iv{};
  std::copy(kIv16.begin(), kIv16.end(), iv.begin());
  for (auto _ : state) {
    std::expected<Bytes, sm4::Sm4Error> r;
    switch (mode) {
      case Mode::Ecb: r = sm4::cipher::encrypt_ecb(schedule(), data); break;
      case Mode::Cbc: r = sm4::cipher_mode::encrypt(cbc, {}, data, kIv16); break;
      case Mode::Ctr: r = sm4::cipher_mode::ctr(ctr, data, iv); break;
      case Mode::Gcm: r = sm4::cipher_mode::encrypt(gcm, {}, data, kIv16); break;
    }
    if (!r) {
      state.SkipWithError("sm4 mode failed");
      break;
    }
    benchmark::DoNotOptimize(r->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// OpenSSL: a context built once, re-initialised with the IV for every
// message (the key schedule is kept), Update + Final into a buffer.
void BM_evp_mode_openssl(benchmark::State& state, const char* name, bool gcm) {
  const Bytes data = pattern(static_cast<std::size_t>(state.range(0)));
  Bytes out(data.size() + 32);
  const EVP_CIPHER* cipher = fetch_cipher(name);
  ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_EncryptInit_ex2(ctx.get(), cipher, kKey16.data(), nullptr, nullptr) != 1) die(name);
  if (gcm) {
    OSSL_PARAM params[2] = {OSSL_PARAM_END, OSSL_PARAM_END};
    size_t ivlen = 16;
    params[0] = OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_AEAD_IVLEN, &ivlen);
    if (EVP_CIPHER_CTX_set_params(ctx.get(), params) != 1) die("gcm ivlen");
  }
  for (auto _ : state) {
    int n1 = 0, n2 = 0;
    if (EVP_EncryptInit_ex2(ctx.get(), nullptr, nullptr, kIv16.data(), nullptr) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out.data(), &n1, data.data(), static_cast<int>(data.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + n1, &n2) != 1) {
      state.SkipWithError(name);
      break;
    }
    if (gcm) EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, out.data() + n1 + n2);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_free(const_cast<EVP_CIPHER*>(cipher));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

#define SIZES Arg(1024)->Arg(64 * 1024)
BENCHMARK_CAPTURE(BM_sm4_mode_ours, ecb, Mode::Ecb)->Name("sm4_ecb/ours")->SIZES;
BENCHMARK_CAPTURE(BM_evp_mode_openssl, ecb, "SM4-ECB", false)->Name("sm4_ecb/openssl")->SIZES;
BENCHMARK_CAPTURE(BM_sm4_mode_ours, cbc, Mode::Cbc)->Name("sm4_cbc/ours")->SIZES;
BENCHMARK_CAPTURE(BM_evp_mode_openssl, cbc, "SM4-CBC", false)->Name("sm4_cbc/openssl")->SIZES;
BENCHMARK_CAPTURE(BM_sm4_mode_ours, ctr, Mode::Ctr)->Name("sm4_ctr/ours")->SIZES;
BENCHMARK_CAPTURE(BM_evp_mode_openssl, ctr, "SM4-CTR", false)->Name("sm4_ctr/openssl")->SIZES;
BENCHMARK_CAPTURE(BM_sm4_mode_ours, gcm, Mode::Gcm)->Name("sm4_gcm/ours")->SIZES;
// OpenSSL 3.0 has no SM4-GCM; AES-128-GCM (AES-NI + PCLMUL) is context only.
BENCHMARK_CAPTURE(BM_evp_mode_openssl, aesgcm, "AES-128-GCM", true)->Name("aes128_gcm_context/openssl")->SIZES;
BENCHMARK_CAPTURE(BM_evp_mode_openssl, aescbc, "AES-128-CBC", false)->Name("aes128_cbc_context/openssl")->SIZES;

// The SM2 and SM2-field cases are in bench_sm2.cpp.

const Bytes kMsg100 = pattern(100, 0x33);

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
