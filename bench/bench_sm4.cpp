// SM4 (every mode, every processor path) and SM3 beside OpenSSL 3.0's EVP
// doing the same work in the same process. Rows are named
// <operation>/<implementation>/<bytes>, the implementation being "openssl"
// or one of our paths, forced with cpu::testing::withhold for the run of
// that row. bench/sm4_table.sh runs them pinned and prints medians and
// ratios. Timings are never compared against anything here.
//
// Ours goes through the public interfaces a caller uses (a new result
// vector every call); OpenSSL's context keeps its key schedule and is
// re-initialised with the IV for every message, then Update + Final. Key
// schedules are made once, outside the timed loop, on both sides.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common.h"
#include "crypto/sm3/sm3.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"
#include "support/ossl.h"

namespace {

using namespace tarnwick;
using bench::die;
using bench::pattern;

const Bytes kKey = pattern(16, 0x01);
const Bytes kIv = pattern(16, 0x02);

struct PathChoice {
  const char* name;
  std::uint32_t withheld;
  std::uint32_t (*needs)();
};

std::uint32_t none() { return 0; }

const PathChoice kPaths[] = {
    {"gfni-avx512", 0, sm4::detail::gfni_features},
    {"gfni-avx2", cpu::kAvx512 | cpu::kAvx512Vbmi,
     [] { return std::uint32_t{sm4::detail::gfni_avx2_features() | cpu::kVpclmul}; }},
    {"aesni-avx2", cpu::kGfni | cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVaes | cpu::kVpclmul,
     sm4::detail::aesni_features},
    {"portable", ~std::uint32_t{0}, none},
};

// Forced selects one path for the life of a benchmark run.
struct Forced {
  bool ok;
  explicit Forced(const PathChoice& p) : ok((cpu::testing::probed() & p.needs()) == p.needs()) {
    cpu::testing::withhold(p.withheld);
  }
  ~Forced() { cpu::testing::withhold(0); }
};

const sm4::Sm4KeySchedule& schedule() {
  static const sm4::Sm4KeySchedule s = [] {
    auto r = sm4::cipher::key_schedule(kKey);
    if (!r) die("sm4 key_schedule");
    return *r;
  }();
  return s;
}

enum class Op { EcbEncrypt, CbcEncrypt, CbcDecrypt, CfbEncrypt, CfbDecrypt, Ofb, Ctr, Gcm, GcmDecrypt };

struct OpInfo {
  Op op;
  const char* name;
  const char* openssl;  // the EVP cipher it is compared with
  bool decrypt;
  bool padding;  // CBC: both sides add (and check) one block of PKCS#7
};

const OpInfo kOps[] = {
    {Op::EcbEncrypt, "sm4_ecb_encrypt", "SM4-ECB", false, false},
    {Op::CbcEncrypt, "sm4_cbc_encrypt", "SM4-CBC", false, true},
    {Op::CbcDecrypt, "sm4_cbc_decrypt", "SM4-CBC", true, true},
    {Op::CfbEncrypt, "sm4_cfb_encrypt", "SM4-CFB", false, false},
    {Op::CfbDecrypt, "sm4_cfb_decrypt", "SM4-CFB", true, false},
    {Op::Ofb, "sm4_ofb", "SM4-OFB", false, false},
    {Op::Ctr, "sm4_ctr", "SM4-CTR", false, false},
    // OpenSSL 3.0 has no SM4-GCM: GCM is compared with its SM4-CTR.
    {Op::Gcm, "sm4_gcm_encrypt", "SM4-CTR", false, false},
    {Op::GcmDecrypt, "sm4_gcm_decrypt", "SM4-CTR", true, false},
};

void BM_ours(benchmark::State& state, Op op, const PathChoice* path) {
  const Forced forced(*path);
  if (!forced.ok) {
    state.SkipWithError("path not available on this processor");
    return;
  }
  const auto n = static_cast<std::size_t>(state.range(0));
  const Bytes data = pattern(n, 0x5a);
  const sm4::Sm4ModeCipher cbc{schedule(), sm4::Sm4Mode::Cbc}, cfb{schedule(), sm4::Sm4Mode::Cfb},
      ofb{schedule(), sm4::Sm4Mode::Ofb}, ctr{schedule(), sm4::Sm4Mode::Ctr}, gcm{schedule(), sm4::Sm4Mode::Gcm};
  // Decryption inputs are real ciphertexts: CBC's carries its padding
  // block, GCM's its tag.
  const Bytes cbc_ct = *sm4::cipher_mode::encrypt(cbc, {}, data, kIv);
  const Bytes gcm_ct = *sm4::cipher_mode::encrypt(gcm, {}, data, kIv);
  for (auto _ : state) {
    std::expected<Bytes, sm4::Sm4Error> r;
    switch (op) {
      case Op::EcbEncrypt: r = sm4::cipher::encrypt_ecb(schedule(), data); break;
      case Op::CbcEncrypt: r = sm4::cipher_mode::encrypt(cbc, {}, data, kIv); break;
      case Op::CbcDecrypt: r = sm4::cipher_mode::decrypt(cbc, {}, cbc_ct, kIv); break;
      case Op::CfbEncrypt: r = sm4::cipher_mode::encrypt(cfb, {}, data, kIv); break;
      case Op::CfbDecrypt: r = sm4::cipher_mode::decrypt(cfb, {}, data, kIv); break;
      case Op::Ofb: r = sm4::cipher_mode::encrypt(ofb, {}, data, kIv); break;
      case Op::Ctr: r = sm4::cipher_mode::encrypt(ctr, {}, data, kIv); break;
      case Op::Gcm: r = sm4::cipher_mode::encrypt(gcm, {}, data, kIv); break;
      case Op::GcmDecrypt: r = sm4::cipher_mode::decrypt(gcm, {}, gcm_ct, kIv); break;
    }
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_openssl(benchmark::State& state, const OpInfo* info) {
  const auto n = static_cast<std::size_t>(state.range(0));
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, info->openssl, nullptr);
  ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (cipher == nullptr || !ctx) die(info->openssl);
  auto run = [&](int enc, const Bytes& in, Bytes& out) {
    int n1 = 0, n2 = 0;
    out.resize(in.size() + 32);
    if (EVP_CipherInit_ex2(ctx.get(), nullptr, nullptr, kIv.data(), enc, nullptr) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n1, in.data(), static_cast<int>(in.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1)
      return false;
    out.resize(static_cast<std::size_t>(n1 + n2));
    return true;
  };
  if (EVP_CipherInit_ex2(ctx.get(), cipher, kKey.data(), nullptr, 1, nullptr) != 1) die(info->openssl);
  EVP_CIPHER_CTX_set_padding(ctx.get(), info->padding ? 1 : 0);
  Bytes in = pattern(n, 0x5a), out;
  if (info->decrypt) {
    if (!run(1, in, out)) die(info->openssl);
    in = out;
    if (EVP_CipherInit_ex2(ctx.get(), nullptr, kKey.data(), nullptr, 0, nullptr) != 1) die(info->openssl);
  }
  out.reserve(in.size() + 32);
  const int enc = info->decrypt ? 0 : 1;
  for (auto _ : state) {
    if (!run(enc, in, out)) {
      state.SkipWithError(info->openssl);
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_free(cipher);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The SM3 compressions: with the message expansion in vector registers
// (AVX-512, AVX2), and portable.
const PathChoice kSm3Paths[] = {
    {"avx512", 0, [] { return std::uint32_t{cpu::kAvx512 | cpu::kAvx | cpu::kAvx2 | cpu::kSsse3 | cpu::kBmi2}; }},
    {"avx2-bmi2", cpu::kAvx512, [] { return std::uint32_t{cpu::kAvx | cpu::kAvx2 | cpu::kSsse3 | cpu::kBmi2}; }},
    {"portable", ~std::uint32_t{0}, none},
};

void BM_sm3_ours(benchmark::State& state, const PathChoice* path) {
  const Forced forced(*path);
  if (!forced.ok) {
    state.SkipWithError("path not available on this processor");
    return;
  }
  const Bytes data = pattern(static_cast<std::size_t>(state.range(0)), 0x5a);
  for (auto _ : state) {
    Bytes d = sm3::digest(data);
    benchmark::DoNotOptimize(d.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_sm3_openssl(benchmark::State& state) {
  const Bytes data = pattern(static_cast<std::size_t>(state.range(0)), 0x5a);
  EVP_MD* md = EVP_MD_fetch(nullptr, "SM3", nullptr);
  if (md == nullptr) die("EVP_MD_fetch SM3");
  std::uint8_t out[32];
  for (auto _ : state) {
    if (EVP_Digest(data.data(), data.size(), out, nullptr, md, nullptr) != 1) {
      state.SkipWithError("EVP_Digest");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_free(md);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_key_schedule(benchmark::State& state, const PathChoice* path) {
  const Forced forced(*path);
  if (!forced.ok) {
    state.SkipWithError("path not available on this processor");
    return;
  }
  for (auto _ : state) {
    auto r = sm4::cipher::key_schedule(kKey);
    benchmark::DoNotOptimize(r);
  }
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const OpInfo& op : kOps) {
    for (const PathChoice& p : kPaths)
      benchmark::RegisterBenchmark((std::string(op.name) + "/" + p.name).c_str(), BM_ours, op.op, &p)
          ->Arg(1024)
          ->Arg(16384);
    benchmark::RegisterBenchmark((std::string(op.name) + "/openssl").c_str(), BM_openssl, &op)->Arg(1024)->Arg(16384);
  }
  for (const PathChoice& p : kPaths)
    benchmark::RegisterBenchmark((std::string("sm4_key_schedule/") + p.name).c_str(), BM_key_schedule, &p);
  for (const PathChoice& p : kSm3Paths)
    benchmark::RegisterBenchmark((std::string("sm3/") + p.name).c_str(), BM_sm3_ours, &p)
        ->Arg(64)
        ->Arg(1024)
        ->Arg(16384);
  benchmark::RegisterBenchmark("sm3/openssl", BM_sm3_openssl)->Arg(64)->Arg(1024)->Arg(16384);
  return true;
}();

}  // namespace
