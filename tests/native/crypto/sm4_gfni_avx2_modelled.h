// The GFNI + AVX2 kernels (cipher_gfni_avx2.cpp, ghash_vpclmul_avx2.cpp)
// compiled once more inside the including file, with their GFNI and
// VPCLMULQDQ instructions replaced by models written from the
// instructions' definitions in the Intel SDM, so that the rest of each
// kernel (transposes, shuffles, counters, the pre-mapped rounds, the
// driver around them, the GHASH folding) runs on any processor with AVX2
// and PCLMULQDQ. The kernels' paths appear under new names:
// detail::kGfniAvx2EmulatedPath and detail::kGfniAvx2PclmulEmulatedPath.
// The models say nothing about the compiler's encoding of the
// instructions; the real path is tested wherever the processor has it.
// Include this header once, in one file, after everything else.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>

#include "crypto/sm4/path.h"

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

// byte_map tabulates GF2P8AFFINEQB for one matrix qword `q` (its byte
// 7 − i is row i): bit i of the image of x is the parity of row i AND x.
// With `invert`, x is first replaced by its inverse (GF2P8AFFINEINVQB).
// The kernels use a handful of matrices, so the tables are kept.
inline const std::uint8_t* byte_map(const std::uint8_t* q, bool invert) {
  struct Entry {
    std::uint64_t matrix;
    bool invert;
    std::array<std::uint8_t, 256> image;
  };
  static thread_local std::deque<Entry> cache;
  std::uint64_t m;
  std::memcpy(&m, q, 8);
  for (const Entry& e : cache)
    if (e.matrix == m && e.invert == invert) return e.image.data();
  Entry e{m, invert, {}};
  for (unsigned x = 0; x < 256; ++x) {
    const std::uint8_t v = invert ? gf_inverse(static_cast<std::uint8_t>(x)) : static_cast<std::uint8_t>(x);
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<std::uint8_t>(r | ((__builtin_popcount(q[7 - i] & v) & 1) << i));
    e.image[x] = r;
  }
  cache.push_back(e);
  return cache.back().image.data();
}

// affine is GF2P8AFFINEQB (GF2P8AFFINEINVQB with `invert`) on `bytes`
// bytes: byte n uses the matrix qword that holds byte n, then XORs `imm`.
inline void affine(std::uint8_t* out, const std::uint8_t* x, const std::uint8_t* matrix, int imm, bool invert,
                   int bytes) {
  const std::uint8_t* map = nullptr;
  for (int n = 0; n < bytes; n += 8) {
    if (map == nullptr || std::memcmp(matrix + n, matrix + n - 8, 8) != 0) map = byte_map(matrix + n, invert);
    for (int k = n; k < n + 8; ++k) out[k] = static_cast<std::uint8_t>(map[x[k]] ^ imm);
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
