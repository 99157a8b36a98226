// The GFNI + AVX2 kernels (SM4 and 256-bit GHASH) compiled a second time
// with their GFNI and VPCLMULQDQ instructions replaced by models written
// from the instructions' definitions in the Intel SDM, so that the rest of
// each kernel (transposes, shuffles, counters, the pre-mapped rounds, the
// driver around them, the GHASH folding) runs on any processor with AVX2
// and PCLMULQDQ. The models check nothing about the compiler's encoding of
// the instructions; sm4_paths_test.cpp runs the real path wherever the
// processor has it. Compared here against the portable path and OpenSSL
// at every length around the kernels' group and batch boundaries.
#include <gtest/gtest.h>
#include <immintrin.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "../common/peer.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"

namespace tarnwick::sm4::emulated {

// gf_inverse is the inverse in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 (0 maps
// to 0), by search.
inline std::uint8_t gf_inverse(std::uint8_t x) {
  static const auto table = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned a = 1; a < 256; ++a)
      for (unsigned b = 1; b < 256; ++b) {
        unsigned p = 0, u = a;
        for (unsigned v = b; v != 0; v >>= 1) {
          if (v & 1) p ^= u;
          u <<= 1;
          if (u & 0x100) u ^= 0x11b;
        }
        if (p == 1) t[a] = static_cast<std::uint8_t>(b);
      }
    return t;
  }();
  return table[x];
}

// affine is GF2P8AFFINEQB on `bytes` bytes: bit i of an output byte is the
// parity of (byte 7 − i of the source's qword) AND x, XORed with bit i of
// `imm`; with `invert`, x is first replaced by its inverse
// (GF2P8AFFINEINVQB).
inline void affine(std::uint8_t* out, const std::uint8_t* x, const std::uint8_t* matrix, int imm, bool invert,
                   int bytes) {
  for (int n = 0; n < bytes; ++n) {
    const std::uint8_t v = invert ? gf_inverse(x[n]) : x[n];
    const std::uint8_t* q = matrix + (n & ~7);
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
      r = static_cast<std::uint8_t>(r | ((__builtin_popcount(q[7 - i] & v) & 1) << i));
    out[n] = static_cast<std::uint8_t>(r ^ imm);
  }
}

__attribute__((target("avx"))) inline __m128i affine128(__m128i x, __m128i m, int imm, bool invert) {
  std::uint8_t a[16], b[16], o[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(a), x);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(b), m);
  affine(o, a, b, imm, invert, 16);
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(o));
}

__attribute__((target("avx"))) inline __m256i affine256(__m256i x, __m256i m, int imm, bool invert) {
  std::uint8_t a[32], b[32], o[32];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(a), x);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(b), m);
  affine(o, a, b, imm, invert, 32);
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o));
}

__attribute__((target("avx"))) inline __m128i gf2p8affine_128(__m128i x, __m128i m, int imm) {
  return affine128(x, m, imm, false);
}
__attribute__((target("avx"))) inline __m128i gf2p8affineinv_128(__m128i x, __m128i m, int imm) {
  return affine128(x, m, imm, true);
}
__attribute__((target("avx"))) inline __m256i gf2p8affine_256(__m256i x, __m256i m, int imm) {
  return affine256(x, m, imm, false);
}
__attribute__((target("avx"))) inline __m256i gf2p8affineinv_256(__m256i x, __m256i m, int imm) {
  return affine256(x, m, imm, true);
}

// VPCLMULQDQ on ymm is PCLMULQDQ on each 128-bit lane with the same
// immediate.
__attribute__((target("avx2,pclmul"))) inline __m256i clmul256(__m256i a, __m256i b, int imm) {
  const __m128i a0 = _mm256_castsi256_si128(a), a1 = _mm256_extracti128_si256(a, 1);
  const __m128i b0 = _mm256_castsi256_si128(b), b1 = _mm256_extracti128_si256(b, 1);
  __m128i r0, r1;
  switch (imm & 0x11) {
    case 0x00: r0 = _mm_clmulepi64_si128(a0, b0, 0x00); r1 = _mm_clmulepi64_si128(a1, b1, 0x00); break;
    case 0x01: r0 = _mm_clmulepi64_si128(a0, b0, 0x01); r1 = _mm_clmulepi64_si128(a1, b1, 0x01); break;
    case 0x10: r0 = _mm_clmulepi64_si128(a0, b0, 0x10); r1 = _mm_clmulepi64_si128(a1, b1, 0x10); break;
    default: r0 = _mm_clmulepi64_si128(a0, b0, 0x11); r1 = _mm_clmulepi64_si128(a1, b1, 0x11); break;
  }
  return _mm256_set_m128i(r1, r0);
}

}  // namespace tarnwick::sm4::emulated

// The instructions' intrinsics (macros in unoptimised builds) become the
// models, and the paths' names become names of this file.
#undef _mm_gf2p8affine_epi64_epi8
#undef _mm_gf2p8affineinv_epi64_epi8
#undef _mm256_gf2p8affine_epi64_epi8
#undef _mm256_gf2p8affineinv_epi64_epi8
#undef _mm256_clmulepi64_epi128
#define _mm_gf2p8affine_epi64_epi8 ::tarnwick::sm4::emulated::gf2p8affine_128
#define _mm_gf2p8affineinv_epi64_epi8 ::tarnwick::sm4::emulated::gf2p8affineinv_128
#define _mm256_gf2p8affine_epi64_epi8 ::tarnwick::sm4::emulated::gf2p8affine_256
#define _mm256_gf2p8affineinv_epi64_epi8 ::tarnwick::sm4::emulated::gf2p8affineinv_256
#define _mm256_clmulepi64_epi128 ::tarnwick::sm4::emulated::clmul256
#define kGfniAvx2Path kGfniAvx2EmulatedPath
#define kGfniAvx2PclmulPath kGfniAvx2PclmulEmulatedPath
#define gfni_avx2_features gfni_avx2_emulated_features
#define ghash_vpclmul_avx2_init ghash_vpclmul_avx2_emulated_init
#define ghash_vpclmul_avx2 ghash_vpclmul_avx2_emulated

#include "crypto/sm4/cipher_gfni_avx2.cpp"
#include "crypto/sm4/ghash_vpclmul_avx2.cpp"

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
