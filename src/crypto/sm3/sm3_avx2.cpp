// SM3 compression with the message expansion in xmm registers (AVX2 +
// BMI2 path). Four words of W come out of a handful of vector operations,
// computed two groups ahead of the rounds that use them, while the scalar
// units run the rounds; the expansion's XORs, rotations and the W′ words
// never compete with the rounds for the integer units.
//
// W_j = P1(W_(j−16) ⊕ W_(j−9) ⊕ (W_(j−3) <<< 15)) ⊕ (W_(j−13) <<< 7) ⊕ W_(j−6)
// (GB/T 32905-2016 §5.3.2): for j = 4k … 4k+3 every operand lies in the
// four groups before, except W_(j−3) of the last lane, which is W_4k itself.
// P1 is linear, so that lane is finished by XORing in P1(W_4k <<< 15).
#include <immintrin.h>

#include <cstring>

#include "crypto/sm3/rounds.h"
#include "crypto/sm3/sm3.h"

#define TARNWICK_SM3_AVX2 __attribute__((target("avx2,avx,ssse3,bmi2")))

namespace tarnwick::sm3::detail {
namespace {

template <int N>
TARNWICK_SM3_AVX2 inline __m128i vrotl(__m128i x) {
  return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
}

TARNWICK_SM3_AVX2 inline __m128i vp1(__m128i x) { return _mm_xor_si128(x, _mm_xor_si128(vrotl<15>(x), vrotl<23>(x))); }

// next_group returns W_4k … W_4k+3 from groups k − 4 … k − 1.
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 __m128i next_group(__m128i g4, __m128i g3, __m128i g2,
                                                                    __m128i g1) {
  const __m128i x = _mm_xor_si128(_mm_xor_si128(g4, _mm_alignr_epi8(g2, g3, 12)), vrotl<15>(_mm_srli_si128(g1, 4)));
  const __m128i y = _mm_xor_si128(vrotl<7>(_mm_alignr_epi8(g3, g4, 12)), _mm_alignr_epi8(g1, g2, 8));
  const __m128i g = _mm_xor_si128(vp1(x), y);
  return _mm_xor_si128(g, _mm_slli_si128(vp1(vrotl<15>(g)), 12));
}

// W and W′ as the rounds read them.
struct Words {
  alignas(16) std::uint32_t w[68];
  alignas(16) std::uint32_t w1[64];
};

// step computes group M + 6, publishes W and W′ of group M and runs
// rounds 4M … 4M + 3. The groups stay in registers; only W and W′ go to
// memory.
template <unsigned M>
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 void step(__m128i (&g)[17], Words& s,
                                                           std::uint32_t (&r)[8]) {
  if constexpr (M + 6 <= 16) g[M + 6] = next_group(g[M + 2], g[M + 3], g[M + 4], g[M + 5]);
  _mm_store_si128(reinterpret_cast<__m128i*>(s.w + 4 * M), g[M]);
  _mm_store_si128(reinterpret_cast<__m128i*>(s.w1 + 4 * M), _mm_xor_si128(g[M], g[M + 1]));
  // The rounds read W and W′ back from memory as operands of their
  // additions, cheaper than extracting them from the vector registers,
  // which the compiler would otherwise do: this empty statement keeps the
  // values in memory.
  __asm__("" : : "r"(s.w), "r"(s.w1) : "memory");
  four_rounds<4 * M>(r, s.w, s.w1);
}

template <unsigned... M>
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 void steps(__m128i (&g)[17], Words& s, std::uint32_t (&r)[8],
                                                           std::integer_sequence<unsigned, M...>) {
  (step<M>(g, s, r), ...);
}

}  // namespace

TARNWICK_SM3_AVX2 void compress_avx2(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  const __m128i bswap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  Words s;
  for (std::size_t n = 0; n < blocks; ++n, data += 64) {
    __m128i g[17];
    for (int k = 0; k < 4; ++k)
      g[k] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * k)), bswap);
    g[4] = next_group(g[0], g[1], g[2], g[3]);
    g[5] = next_group(g[1], g[2], g[3], g[4]);
    std::uint32_t r[8] = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
    steps(g, s, r, std::make_integer_sequence<unsigned, 16>{});
    for (int i = 0; i < 8; ++i) v[i] ^= r[i];
  }
}

}  // namespace tarnwick::sm3::detail
