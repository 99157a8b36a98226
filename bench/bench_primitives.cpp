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
#include <utility>
#include <vector>

#include "common.h"
#include "ohos/asym/algorithms.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/keygen.h"
#include "ohos/asym/sign.h"
#include "support/base64.h"
#include "support/ossl.h"
#include "vorel/sym/encrypt.h"

namespace {

using namespace tarnwick;
using bench::die;
using bench::pattern;

const Bytes kKey16 = pattern(16, 0x01);
const Bytes kIv16 = pattern(16, 0x02);

// The SM3, SM4 and GCM cases are in bench_sm4.cpp; the SM2 and SM2-field
// cases in bench_sm2.cpp.

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
    return std::move(*r);
  }();
  static const ohos::asym::KeyPair rsa = [] {
    auto r = ohos::asym::asym_generate_key(AsymAlgorithm::RSA, 2048);
    if (!r) die("asym_generate_key RSA");
    return std::move(*r);
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
