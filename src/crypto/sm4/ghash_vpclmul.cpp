// GHASH with VPCLMULQDQ on zmm registers: sixteen blocks per reduction,
// four to a register, against the twisted powers H^16 … H^1. A final run
// of fewer blocks takes the last powers of the same table through masked
// loads.
// GCC 12's AVX-512 intrinsics pass _mm512_undefined_epi32() as the unused
// merge operand, which -Wuninitialized reports at every use (GCC bug
// 105593, fixed in GCC 13). It must be silenced before the header is read.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "crypto/sm4/ghash_clmul.h"
#include "crypto/sm4/path.h"

#define TARNWICK_VPCLMUL __attribute__((target("avx512f,avx512bw,avx512vl,avx2,avx,pclmul,vpclmulqdq,ssse3,sse4.1")))

namespace tarnwick::sm4::detail {
namespace {

constexpr int kPowers = 16;

TARNWICK_VPCLMUL inline __m512i reverse_bytes(__m512i v) {
  return _mm512_shuffle_epi8(
      v, _mm512_broadcast_i32x4(_mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)));
}

TARNWICK_VPCLMUL inline __m128i fold(__m512i v) {
  const __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

}  // namespace

TARNWICK_VPCLMUL void ghash_vpclmul_init(GhashKey& key, const std::uint8_t h[16]) {
  clmul::powers(h, key.bytes, kPowers);
}

TARNWICK_VPCLMUL void ghash_vpclmul(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n) {
  __m128i acc = clmul::load_block(y);
  while (n > 0) {
    const int count = n >= kPowers ? kPowers : static_cast<int>(n);
    // Blocks 0 … count − 1 meet the powers H^count … H^1, which are the
    // table's last `count` entries.
    const std::uint8_t* keys = key.bytes + 16 * (kPowers - count);
    __m512i lo = _mm512_setzero_si512(), mid = lo, hi = lo;
    for (int q = 0; 4 * q < count; ++q) {
      const int lanes = count - 4 * q >= 4 ? 4 : count - 4 * q;
      const __mmask8 m = static_cast<__mmask8>((1u << (2 * lanes)) - 1);
      __m512i d = reverse_bytes(_mm512_maskz_loadu_epi64(m, in + 64 * q));
      if (q == 0) d = _mm512_xor_si512(d, _mm512_zextsi128_si512(acc));
      const __m512i k = _mm512_maskz_loadu_epi64(m, keys + 64 * q);
      lo = _mm512_xor_si512(lo, _mm512_clmulepi64_epi128(d, k, 0x00));
      hi = _mm512_xor_si512(hi, _mm512_clmulepi64_epi128(d, k, 0x11));
      mid = _mm512_ternarylogic_epi64(mid, _mm512_clmulepi64_epi128(d, k, 0x01), _mm512_clmulepi64_epi128(d, k, 0x10),
                                      0x96);
    }
    acc = clmul::reduce({fold(lo), fold(mid), fold(hi)});
    in += 16 * count;
    n -= static_cast<std::size_t>(count);
  }
  clmul::store_block(y, acc);
}

}  // namespace tarnwick::sm4::detail
