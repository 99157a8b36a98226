// Every SM4 and GHASH path of this processor (portable, AES-NI/AVX2,
// GFNI/AVX2 with either GHASH, GFNI/AVX-512), forced in turn through cpu::testing::withhold, against
// OpenSSL's SM4 in every mode, against the committed GCM vectors, and
// against each other.
#include <gtest/gtest.h>

#include <expected>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "../common/peer.h"
#include "../common/sm4_schedule.h"
#include "../common/stack_probe.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/gcm.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"

namespace tarnwick::sm4 {
namespace {

using testing::evp_crypt;
using testing::pattern;
using testing::schedule_of;
using testing::tohex;
using testing::unhex;
namespace probe = testing::stack_probe;

struct PathCase {
  const char* name;
  std::uint32_t withheld;  // features hidden to force the path
  std::uint32_t needs;     // features the path runs on
  bool million;            // runs the standard's million-block example
};

void PrintTo(const PathCase& p, std::ostream* os) { *os << p.name; }

const PathCase kPaths[] = {
    // The portable path is slow enough in unoptimised sanitizer builds that
    // the million-block example is left to the fast paths; the portable
    // path meets OpenSSL and the other paths below instead.
    {"portable", ~std::uint32_t{0}, 0, false},
    {"aesni-avx2", cpu::kGfni | cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVaes | cpu::kVpclmul,
     detail::aesni_features(), true},
    {"gfni-avx2", cpu::kAvx512 | cpu::kAvx512Vbmi, detail::gfni_avx2_features() | cpu::kVpclmul, true},
    {"gfni-avx2-pclmul", cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVpclmul, detail::gfni_avx2_features(), true},
    {"gfni-avx512", 0, detail::gfni_features(), true},
};

// Forced holds one path for the lifetime of a test and restores the probe.
class Sm4Path : public ::testing::TestWithParam<PathCase> {
 protected:
  void SetUp() override {
    const PathCase& p = GetParam();
    if ((cpu::testing::probed() & p.needs) != p.needs) GTEST_SKIP() << p.name << " needs features this processor lacks";
    cpu::testing::withhold(p.withheld);
    ASSERT_STREQ(detail::active().name, p.name);
  }
  void TearDown() override { cpu::testing::withhold(0); }
};

Bytes seal_gcm(const Sm4KeySchedule& s, ByteView aad, ByteView pt, ByteView iv) {
  auto r = cipher_mode::encrypt({s, Sm4Mode::Gcm}, aad, pt, iv);
  EXPECT_TRUE(r.has_value());
  return r.value_or(Bytes{});
}

// GB/T 32907-2016 Appendix A: one block, and the same block encrypted a
// million times in a row.
TEST_P(Sm4Path, StandardExamples) {
  const Bytes key = unhex("0123456789abcdeffedcba9876543210");
  const auto s = schedule_of(key);
  auto once = cipher::encrypt_block(s, key);
  ASSERT_TRUE(once.has_value());
  EXPECT_EQ(tohex(*once), "681edf34d206965e86b3e94f536e4246");
  auto plain = cipher::decrypt_block(s, *once);
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(tohex(*plain), tohex(key));
  if (!GetParam().million) return;
  Block b;
  std::copy(key.begin(), key.end(), b.begin());
  for (int i = 0; i < 1'000'000; ++i) cipher::encrypt_raw(s, b.data(), b.data());
  EXPECT_EQ(tohex(b), "595298c7c6fd271f0402f804c33d3f66");
  for (int i = 0; i < 1'000'000; ++i) cipher::decrypt_raw(s, b.data(), b.data());
  EXPECT_EQ(tohex(b), tohex(key));
}

// The key schedule agrees with OpenSSL through ECB, over many keys; ECB of
// many blocks exercises every S-box input in every lane.
TEST_P(Sm4Path, EcbAgreesWithOpenSsl) {
  for (unsigned seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(seed);
    const Bytes key = pattern(16, seed);
    const Bytes data = pattern(16 * (seed * 7 % 70) + seed % 16, seed + 1000);
    const auto s = schedule_of(key);
    const Bytes whole(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / 16 * 16));
    auto enc = cipher::encrypt_ecb(s, data);
    ASSERT_TRUE(enc.has_value());
    ASSERT_EQ(tohex(*enc), tohex(evp_crypt(EVP_sm4_ecb(), true, key, {}, whole, false)));
    auto dec = cipher::decrypt_ecb(s, data);
    ASSERT_TRUE(dec.has_value());
    ASSERT_EQ(tohex(*dec), tohex(evp_crypt(EVP_sm4_ecb(), false, key, {}, whole, false)));
  }
}

struct ModeCase {
  const char* name;
  Sm4Mode mode;
  const EVP_CIPHER* (*peer)();
  bool padding;  // OpenSSL's PKCS#7, which our CBC always adds
};
const ModeCase kModes[] = {
    {"cfb", Sm4Mode::Cfb, EVP_sm4_cfb128, false},
    {"ofb", Sm4Mode::Ofb, EVP_sm4_ofb, false},
    {"ctr", Sm4Mode::Ctr, EVP_sm4_ctr, false},
    {"cbc", Sm4Mode::Cbc, EVP_sm4_cbc, true},
};

// Random keys, IVs and lengths 0 … 1000 in every mode, both directions:
// our encryption against OpenSSL's, our decryption of OpenSSL's
// ciphertext.
TEST_P(Sm4Path, ModesAgreeWithOpenSslAtRandomLengths) {
  std::mt19937 rng(2024);
  std::vector<std::size_t> lengths = {0, 1, 15, 16, 17, 31, 32, 33, 127, 128, 129, 255, 256, 257, 1000};
  for (int i = 0; i < 25; ++i) lengths.push_back(rng() % 1001);
  for (const ModeCase& m : kModes) {
    for (std::size_t n : lengths) {
      SCOPED_TRACE(std::string(m.name) + " len " + std::to_string(n));
      const Bytes key = pattern(16, rng()), iv = pattern(16, rng()), data = pattern(n, rng());
      const Sm4ModeCipher c{schedule_of(key), m.mode};
      const Bytes peer = evp_crypt(m.peer(), true, key, iv, data, m.padding);
      auto enc = cipher_mode::encrypt(c, {}, data, iv);
      ASSERT_TRUE(enc.has_value());
      ASSERT_EQ(tohex(*enc), tohex(peer));
      auto dec = cipher_mode::decrypt(c, {}, peer, iv);
      ASSERT_TRUE(dec.has_value());
      ASSERT_EQ(tohex(*dec), tohex(data));
    }
  }
}

// The IV rule comes first on every path, in every mode and direction.
TEST_P(Sm4Path, IvOfOtherLengthsFails) {
  const Sm4KeySchedule s = schedule_of(pattern(16, 8));
  for (Sm4Mode mode : {Sm4Mode::Cfb, Sm4Mode::Ofb, Sm4Mode::Ctr, Sm4Mode::Cbc, Sm4Mode::Gcm}) {
    for (std::size_t iv_len : {0u, 12u, 15u, 17u}) {
      SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + " iv " + std::to_string(iv_len));
      auto enc = cipher_mode::encrypt({s, mode}, {}, pattern(40), pattern(iv_len));
      auto dec = cipher_mode::decrypt({s, mode}, {}, pattern(48), pattern(iv_len));
      ASSERT_FALSE(enc.has_value());
      ASSERT_FALSE(dec.has_value());
      EXPECT_EQ(enc.error(), Sm4Error::InvalidBlockSize);
      EXPECT_EQ(dec.error(), Sm4Error::InvalidBlockSize);
    }
  }
}

// The 128-bit counter carries across every word and wraps from all FF to
// all 00, also in the middle of a batch of blocks processed together.
TEST_P(Sm4Path, CtrCarriesAndWrapsInsideBatches) {
  const char* ivs[] = {
      "ffffffffffffffffffffffffffffffff", "fffffffffffffffffffffffffffffff0", "000102030405060708090a0bfffffffa",
      "0001020304050607ffffffffffffffe0", "00010203ffffffffffffffffffffffd5", "7fffffffffffffffffffffffffffffff",
  };
  const Bytes key = pattern(16, 77);
  const Sm4ModeCipher c{schedule_of(key), Sm4Mode::Ctr};
  for (const char* iv_hex : ivs) {
    for (std::size_t n : {16 * 3 + 5, 16 * 40 + 9, 16 * 70}) {
      SCOPED_TRACE(std::string(iv_hex) + " len " + std::to_string(n));
      const Bytes iv = unhex(iv_hex), data = pattern(n, 5);
      auto out = cipher_mode::encrypt(c, {}, data, iv);
      ASSERT_TRUE(out.has_value());
      EXPECT_EQ(tohex(*out), tohex(evp_crypt(EVP_sm4_ctr(), true, key, iv, data, false)));
    }
  }
}

// GCM's counter increments bytes 12 … 15 alone: 70 blocks from …fffffff0
// wrap to …00000000 with no carry into byte 11, checked against
// OpenSSL's SM4-ECB of the counter blocks.
TEST_P(Sm4Path, GctrWrapsLowWordInsideBatches) {
  const Bytes key = pattern(16, 91);
  const auto s = schedule_of(key);
  for (const char* icb_hex : {"00112233445566778899aabbfffffff0", "ffffffffffffffffffffffffffffffff"}) {
    SCOPED_TRACE(icb_hex);
    const Bytes icb_bytes = unhex(icb_hex);
    Block icb;
    std::copy(icb_bytes.begin(), icb_bytes.end(), icb.begin());
    const Bytes x = pattern(16 * 70 + 3, 6);
    Bytes counters;
    Block cb = icb;
    for (std::size_t i = 0; i < 71; ++i) {
      counters.insert(counters.end(), cb.begin(), cb.end());
      for (int j = 15; j >= 12; --j)
        if (++cb[static_cast<std::size_t>(j)] != 0) break;
    }
    const Bytes ks = evp_crypt(EVP_sm4_ecb(), true, key, {}, counters, false);
    Bytes expected(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) expected[i] = x[i] ^ ks[i];
    auto out = cipher_mode::gctr(s, icb, x);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(tohex(*out), tohex(expected));
  }
}

struct GcmVector {
  Bytes key, iv, aad, pt, ct, tag;
};

std::vector<GcmVector> gcm_vectors(const char* file) {
  std::vector<GcmVector> out;
  for (auto& b : testing::load_vectors(file))
    out.push_back({unhex(b["Key"]), unhex(b["IV"]), unhex(b["AAD"]), unhex(b["PT"]), unhex(b["CT"]), unhex(b["Tag"])});
  return out;
}

// GCM against independently computed vectors, at the block counts where
// the paths change strategy (single blocks, partial and whole batches).
TEST_P(Sm4Path, GcmAgreesWithVectors) {
  for (const char* file : {"sm4_gcm.txt", "sm4_gcm_blocks.txt"}) {
    const auto vectors = gcm_vectors(file);
    ASSERT_FALSE(vectors.empty()) << file;
    for (const GcmVector& v : vectors) {
      SCOPED_TRACE(std::string(file) + " aad " + std::to_string(v.aad.size()) + " pt " + std::to_string(v.pt.size()));
      const auto s = schedule_of(v.key);
      Bytes sealed = v.ct;
      sealed.insert(sealed.end(), v.tag.begin(), v.tag.end());
      EXPECT_EQ(tohex(seal_gcm(s, v.aad, v.pt, v.iv)), tohex(sealed));
      auto opened = cipher_mode::decrypt({s, Sm4Mode::Gcm}, v.aad, sealed, v.iv);
      ASSERT_TRUE(opened.has_value());
      EXPECT_EQ(tohex(*opened), tohex(v.pt));
      sealed[sealed.size() / 2] ^= 0x20;
      auto forged = cipher_mode::decrypt({s, Sm4Mode::Gcm}, v.aad, sealed, v.iv);
      ASSERT_FALSE(forged.has_value());
      EXPECT_EQ(forged.error(), Sm4Error::TagMismatch);
    }
  }
}

// What a call leaves in the dead stack below its caller, probed after each
// operation: no 16-byte window of the key, the round keys, H = E(0^128),
// the CTR, OFB or CFB keystream, the plaintext, or CBC's padded last block
// (the plaintext's tail and its padding). Keystreams and H come from
// OpenSSL. Each result is kept in place in `result`, so that no free()
// runs over the frames between the call and the probe.
TEST_P(Sm4Path, LeavesNoSecretOnTheStack) {
  if (!probe::supported()) GTEST_SKIP() << "the stack probe cannot see frames under fake stacks";
#ifndef __OPTIMIZE__
  GTEST_SKIP() << "unoptimised code keeps every temporary in its frame; the probe checks the optimised module";
#endif
  const Bytes key = pattern(16, 4242), iv = pattern(16, 99), plain = pattern(1000, 7), zeros(1000, 0);
  const Sm4KeySchedule s = schedule_of(key);
  Bytes round_keys;
  for (std::uint32_t w : s.rk)
    for (int shift = 24; shift >= 0; shift -= 8) round_keys.push_back(static_cast<std::uint8_t>(w >> shift));
  Bytes cbc_last(plain.end() - 8, plain.end());
  cbc_last.resize(16, 8);
  const struct {
    const char* name;
    Bytes value;
  } secrets[] = {
      {"key", key},
      {"round keys", round_keys},
      {"H", evp_crypt(EVP_sm4_ecb(), true, key, {}, Bytes(16, 0), false)},
      {"CTR keystream", evp_crypt(EVP_sm4_ctr(), true, key, iv, zeros, false)},
      {"OFB keystream", evp_crypt(EVP_sm4_ofb(), true, key, iv, zeros, false)},
      {"CFB keystream", evp_crypt(EVP_sm4_cfb128(), true, key, iv, zeros, false)},
      {"plaintext", plain},
      {"CBC padded last block", cbc_last},
  };
  const Bytes cbc_sealed = evp_crypt(EVP_sm4_cbc(), true, key, iv, plain, true);
  Bytes gcm_sealed = seal_gcm(s, {}, plain, iv);
  std::optional<std::expected<Bytes, Sm4Error>> result;
  std::optional<std::expected<Sm4KeySchedule, Sm4Error>> schedule;
  Block block{};
  const struct {
    const char* name;
    std::function<void()> run;
  } operations[] = {
      {"key_schedule", [&] { schedule.emplace(cipher::key_schedule(key)); }},
      {"encrypt_raw", [&] { cipher::encrypt_raw(s, plain.data(), block.data()); }},
      {"encrypt_ecb", [&] { result.emplace(cipher::encrypt_ecb(s, plain)); }},
      {"decrypt_ecb", [&] { result.emplace(cipher::decrypt_ecb(s, plain)); }},
      {"ctr", [&] { result.emplace(cipher_mode::encrypt({s, Sm4Mode::Ctr}, {}, plain, iv)); }},
      {"ofb", [&] { result.emplace(cipher_mode::encrypt({s, Sm4Mode::Ofb}, {}, plain, iv)); }},
      {"cfb encrypt", [&] { result.emplace(cipher_mode::encrypt({s, Sm4Mode::Cfb}, {}, plain, iv)); }},
      {"cfb decrypt", [&] { result.emplace(cipher_mode::decrypt({s, Sm4Mode::Cfb}, {}, plain, iv)); }},
      {"cbc encrypt", [&] { result.emplace(cipher_mode::encrypt({s, Sm4Mode::Cbc}, {}, plain, iv)); }},
      {"cbc decrypt", [&] { result.emplace(cipher_mode::decrypt({s, Sm4Mode::Cbc}, {}, cbc_sealed, iv)); }},
      {"gcm encrypt", [&] { result.emplace(cipher_mode::encrypt({s, Sm4Mode::Gcm}, {}, plain, iv)); }},
      {"gcm decrypt", [&] { result.emplace(cipher_mode::decrypt({s, Sm4Mode::Gcm}, {}, gcm_sealed, iv)); }},
  };
  // Every operation runs once unprobed first: the first call of a library
  // function goes through the dynamic linker's lazy binding, whose resolver
  // saves all vector registers on the stack, and registers may still hold
  // what OpenSSL computed above.
  for (const auto& op : operations) op.run();
  for (const auto& secret : secrets) {
    ASSERT_TRUE(probe::control(secret.value)) << secret.name << ": the probe does not see a planted copy";
    for (const auto& op : operations) {
      SCOPED_TRACE(std::string(op.name) + ", " + secret.name);
      result.reset();
      schedule.reset();
      const probe::Scan scan = probe::scan_after(secret.value, op.run);
      EXPECT_TRUE(scan.clean()) << scan.describe();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sm4Path, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<PathCase>& i) {
                           std::string n = i.param.name;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

// The paths against one another on the same random input: key schedule,
// every mode and GHASH itself over 1 … 40 blocks (each path folds blocks
// in groups of its own size).
TEST(Sm4Paths, AgreeWithEachOther) {
  std::vector<const PathCase*> paths;
  for (const PathCase& p : kPaths)
    if ((cpu::testing::probed() & p.needs) == p.needs) paths.push_back(&p);
  std::mt19937 rng(99);
  struct Outputs {
    std::vector<Bytes> v;
  };
  std::vector<Outputs> results;
  for (const PathCase* p : paths) {
    cpu::testing::withhold(p->withheld);
    Outputs o;
    std::mt19937 r(rng);
    for (int round = 0; round < 6; ++round) {
      const Bytes key = pattern(16, r()), iv = pattern(16, r()), aad = pattern(r() % 50, r());
      const Bytes data = pattern(r() % 2000, r());
      const auto s = schedule_of(key);
      o.v.emplace_back(reinterpret_cast<const std::uint8_t*>(s.rk.data()),
                       reinterpret_cast<const std::uint8_t*>(s.rk.data()) + sizeof s.rk);
      for (Sm4Mode m : {Sm4Mode::Cfb, Sm4Mode::Ofb, Sm4Mode::Ctr, Sm4Mode::Cbc, Sm4Mode::Gcm})
        o.v.push_back(cipher_mode::encrypt({s, m}, aad, data, iv).value_or(Bytes{}));
      o.v.push_back(cipher::decrypt_ecb(s, data).value_or(Bytes{}));
    }
    const Bytes h = pattern(16, 4242), blocks = pattern(16 * 40, 4343);
    for (std::size_t n = 1; n <= 40; ++n) {
      detail::GhashKey key;
      detail::active().ghash_init(key, h.data());
      Bytes y = pattern(16, static_cast<unsigned>(n));
      detail::active().ghash(key, y.data(), blocks.data(), n);
      o.v.push_back(y);
    }
    results.push_back(o);
  }
  cpu::testing::withhold(0);
  for (std::size_t i = 1; i < results.size(); ++i) {
    SCOPED_TRACE(std::string(paths[i]->name) + " against " + paths[0]->name);
    ASSERT_EQ(results[i].v.size(), results[0].v.size());
    for (std::size_t k = 0; k < results[0].v.size(); ++k)
      EXPECT_EQ(tohex(results[i].v[k]), tohex(results[0].v[k])) << k;
  }
}

}  // namespace
}  // namespace tarnwick::sm4
