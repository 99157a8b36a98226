// The GFNI + AVX2 kernels with GFNI and VPCLMULQDQ modelled
// (sm4_gfni_avx2_modelled.h), against the portable path and OpenSSL at
// every length around the kernels' group and batch boundaries. The real
// path runs in sm4_paths_test.cpp wherever the processor has it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "../common/peer.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"
#include "sm4_gfni_avx2_modelled.h"

namespace tarnwick::sm4 {
namespace {

using detail::Chain;
using detail::Counter;
using detail::Path;
using testing::evp_crypt;
using testing::pattern;
using testing::tohex;

bool runnable() { return cpu::has(cpu::kAvx2 | cpu::kAvx | cpu::kSsse3 | cpu::kPclmul); }

class Sm4GfniAvx2Emulated : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!runnable()) GTEST_SKIP() << "the models need AVX2 and PCLMULQDQ";
  }
  const Path& ours = detail::kGfniAvx2EmulatedPath;
  const Path& portable = detail::kPortablePath;
};

Bytes round_keys(const Path& p, const Bytes& key) {
  std::uint32_t rk[32];
  p.expand_key(key.data(), rk);
  Bytes out(sizeof rk);
  std::memcpy(out.data(), rk, sizeof rk);
  return out;
}

// Block counts 0 … 80: every remainder of a group of eight and a batch of
// 32, up to two and a half batches.
constexpr std::size_t kMaxBlocks = 80;

TEST_F(Sm4GfniAvx2Emulated, KeyScheduleAndBlocksAgreeWithPortableAndOpenSsl) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    const Bytes key = pattern(16, seed);
    ASSERT_EQ(tohex(round_keys(ours, key)), tohex(round_keys(portable, key))) << seed;
  }
  const Bytes key = pattern(16, 31);
  std::uint32_t rk[32];
  portable.expand_key(key.data(), rk);
  const Bytes data = pattern(16 * kMaxBlocks, 32);
  for (std::size_t n = 1; n <= kMaxBlocks; ++n) {
    SCOPED_TRACE("blocks " + std::to_string(n));
    Bytes a(16 * n), b(16 * n);
    ours.crypt_blocks(rk, data.data(), a.data(), n);
    portable.crypt_blocks(rk, data.data(), b.data(), n);
    ASSERT_EQ(tohex(a), tohex(b));
    const ByteView in(data.data(), 16 * n);
    ASSERT_EQ(tohex(a), tohex(evp_crypt(EVP_sm4_ecb(), true, key, {}, in, false)));
    ours.crypt_blocks(rk, a.data(), a.data(), n);  // in place
    portable.crypt_blocks(rk, b.data(), b.data(), n);
    ASSERT_EQ(tohex(a), tohex(b));
  }
}

// The counter keystream at every byte length up to 80 blocks, from
// counters whose words carry (or, for GCM's inc32, wrap) inside a group or
// a batch; the counter left behind must match too.
TEST_F(Sm4GfniAvx2Emulated, CounterKeystreamAgreesAtEveryLength) {
  const Bytes key = pattern(16, 41);
  std::uint32_t rk[32];
  portable.expand_key(key.data(), rk);
  const char* ivs[] = {"000102030405060708090a0b0c0d0e0f", "0001020304050607ffffffffffffffe5",
                       "fffffffffffffffffffffffffffffffb", "00112233445566778899aabbfffffff9"};
  const Bytes data = pattern(16 * kMaxBlocks + 15, 42);
  for (const char* iv_hex : ivs) {
    const Bytes iv = testing::unhex(iv_hex);
    for (Counter kind : {Counter::Full128, Counter::Low32}) {
      for (std::size_t len = 0; len <= data.size(); len += (len < 300 ? 1 : 7)) {
        SCOPED_TRACE(std::string(iv_hex) + (kind == Counter::Low32 ? " inc32" : " full") + " len " +
                     std::to_string(len));
        Bytes a(len), b(len);
        std::uint8_t ca[16], cb[16];
        std::memcpy(ca, iv.data(), 16);
        std::memcpy(cb, iv.data(), 16);
        ours.ctr(rk, ca, kind, data.data(), a.data(), len);
        portable.ctr(rk, cb, kind, data.data(), b.data(), len);
        ASSERT_EQ(tohex(a), tohex(b));
        ASSERT_EQ(tohex(ByteView(ca, 16)), tohex(ByteView(cb, 16)));
        if (kind == Counter::Full128) {
          ASSERT_EQ(tohex(a), tohex(evp_crypt(EVP_sm4_ctr(), true, key, iv, ByteView(data.data(), len), false)));
        }
      }
    }
  }
}

// The serial chains, against the portable kernel and OpenSSL, with the
// register left behind.
TEST_F(Sm4GfniAvx2Emulated, SerialChainsAgree) {
  const Bytes key = pattern(16, 51), iv = pattern(16, 52);
  std::uint32_t rk[32];
  portable.expand_key(key.data(), rk);
  const Bytes data = pattern(16 * 40 + 15, 53);
  struct Kind {
    const char* name;
    Chain chain;
    const EVP_CIPHER* (*peer)();
  };
  const Kind kinds[] = {
      {"cbc", Chain::CbcEncrypt, EVP_sm4_cbc},
      {"cfb", Chain::CfbEncrypt, EVP_sm4_cfb128},
      {"ofb", Chain::Ofb, EVP_sm4_ofb},
  };
  for (const Kind& k : kinds) {
    for (std::size_t len = 0; len <= data.size(); ++len) {
      if (k.chain == Chain::CbcEncrypt && len % 16 != 0) continue;
      SCOPED_TRACE(std::string(k.name) + " len " + std::to_string(len));
      Bytes a(len), b(len);
      std::uint8_t ra[16], rb[16];
      std::memcpy(ra, iv.data(), 16);
      std::memcpy(rb, iv.data(), 16);
      ours.chain(k.chain, rk, ra, data.data(), a.data(), len);
      portable.chain(k.chain, rk, rb, data.data(), b.data(), len);
      ASSERT_EQ(tohex(a), tohex(b));
      ASSERT_EQ(tohex(ByteView(ra, 16)), tohex(ByteView(rb, 16)));
      ASSERT_EQ(tohex(a), tohex(evp_crypt(k.peer(), true, key, iv, ByteView(data.data(), len), false)));
    }
  }
}

// GHASH over 0 … 40 blocks (each run of sixteen is one reduction, an odd
// last block takes half a register), with both of the path's GHASH
// kernels, against the portable bit-by-bit multiplication.
TEST_F(Sm4GfniAvx2Emulated, GhashAgreesWithPortable) {
  std::mt19937 rng(7);
  const Bytes blocks = pattern(16 * 40, 61);
  for (const Path* p : {&detail::kGfniAvx2EmulatedPath, &detail::kGfniAvx2PclmulEmulatedPath}) {
    for (int trial = 0; trial < 4; ++trial) {
      const Bytes h = pattern(16, rng()), y0 = pattern(16, rng());
      detail::GhashKey ka, kb;
      p->ghash_init(ka, h.data());
      portable.ghash_init(kb, h.data());
      for (std::size_t n = 0; n <= 40; ++n) {
        SCOPED_TRACE(std::string(p->name) + " blocks " + std::to_string(n));
        Bytes a = y0, b = y0;
        p->ghash(ka, a.data(), blocks.data(), n);
        portable.ghash(kb, b.data(), blocks.data(), n);
        ASSERT_EQ(tohex(a), tohex(b));
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick::sm4
