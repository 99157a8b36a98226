// GHASH with VPCLMULQDQ on ymm registers (no AVX-512): sixteen blocks per
// reduction, two to a register, against the twisted powers H^16 … H^1. A
// final run of fewer blocks takes the last powers of the same table; an
// odd last block goes through the lower half of a register alone.
#include "crypto/sm4/ghash_clmul.h"
#include "crypto/sm4/path.h"

#define TARNWICK_VPCLMUL_AVX2 __attribute__((target("avx2,avx,pclmul,vpclmulqdq,ssse3,sse4.1")))

namespace tarnwick::sm4::detail {
namespace {

constexpr int kPowers = 16;

TARNWICK_VPCLMUL_AVX2 inline __m256i load2(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TARNWICK_VPCLMUL_AVX2 inline __m256i low_only(__m128i v) { return _mm256_set_m128i(_mm_setzero_si128(), v); }

TARNWICK_VPCLMUL_AVX2 inline __m128i fold(__m256i v) {
  return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

}  // namespace

TARNWICK_VPCLMUL_AVX2 void ghash_vpclmul_avx2_init(GhashKey& key, const std::uint8_t h[16]) {
  clmul::powers(h, key.bytes, kPowers);
}

TARNWICK_VPCLMUL_AVX2 void ghash_vpclmul_avx2(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in,
                                              std::size_t n) {
  const __m256i reverse =
      _mm256_broadcastsi128_si256(_mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
  __m128i acc = clmul::load_block(y);
  while (n > 0) {
    const int count = n >= kPowers ? kPowers : static_cast<int>(n);
    // Blocks 0 … count − 1 meet the powers H^count … H^1, which are the
    // table's last `count` entries.
    const std::uint8_t* keys = key.bytes + 16 * (kPowers - count);
    __m256i lo = _mm256_setzero_si256(), mid = lo, hi = lo;
    for (int q = 0; 2 * q < count; ++q) {
      __m256i d, k;
      if (count - 2 * q >= 2) {
        d = _mm256_shuffle_epi8(load2(in + 32 * q), reverse);
        k = load2(keys + 32 * q);
      } else {
        d = low_only(clmul::load_block(in + 32 * q));
        k = low_only(_mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 32 * q)));
      }
      if (q == 0) d = _mm256_xor_si256(d, low_only(acc));
      lo = _mm256_xor_si256(lo, _mm256_clmulepi64_epi128(d, k, 0x00));
      hi = _mm256_xor_si256(hi, _mm256_clmulepi64_epi128(d, k, 0x11));
      mid = _mm256_xor_si256(mid, _mm256_xor_si256(_mm256_clmulepi64_epi128(d, k, 0x01),
                                                   _mm256_clmulepi64_epi128(d, k, 0x10)));
    }
    acc = clmul::reduce({fold(lo), fold(mid), fold(hi)});
    in += 16 * count;
    n -= static_cast<std::size_t>(count);
  }
  clmul::store_block(y, acc);
}

}  // namespace tarnwick::sm4::detail
