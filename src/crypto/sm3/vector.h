// The unrolled vector SM3 compression of the AVX-512 path (the AVX2 path,
// sm3_avx2.cpp, runs its rounds in loops instead): the message expansion,
// four words at a time in xmm registers, spread over the rounds. Each group
// of four rounds computes the group of W five groups ahead, so the vector
// units work beside the scalar ones. The expansion is a serial chain (each
// group waits for the one before); its terms are ordered so that the step
// from group to group is short and the chain stays ahead of the rounds.
// (Expanding the next block during this one's rounds measured no faster,
// and costs a wasted expansion on the last block.)
//
// W_j = P1(W_(j−16) ⊕ W_(j−9) ⊕ (W_(j−3) <<< 15)) ⊕ (W_(j−13) <<< 7) ⊕ W_(j−6)
// (GB/T 32905-2016 §5.3.2). For j = 4k … 4k+3 every operand lies in the
// four groups before, except W_(j−3) of the last lane, which is W_4k itself;
// P1 is linear, so that lane is finished by XORing in P1(W_4k <<< 15).
//
// Included once by the path's file, which first defines
// TARNWICK_SM3_VECTOR (its target attribute) and TARNWICK_SM3_COMPRESS (the
// name of its entry point), and, in the anonymous namespace of
// tarnwick::sm3::detail, its own `xor3(a, b, c)` and `rol<N>(x)` on __m128i
// and `clear_vector_registers()`, which zeroes every vector register the
// path may leave message words in.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "crypto/sm3/paths.h"
#include "crypto/sm3/rounds.h"

namespace tarnwick::sm3::detail {
namespace {

// p1_of_rol15 is P1(x <<< 15) = (x <<< 15) ⊕ (x <<< 30) ⊕ (x <<< 6).
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR __m128i p1_of_rol15(__m128i x) {
  return xor3(rol<15>(x), rol<30>(x), rol<6>(x));
}

// next_group returns W_4k … W_4k+3 from groups k − 4 … k − 1 (g4 oldest).
// The terms that do not involve the group just before are combined first,
// so the chain from group to group is short: P1 of the rotated previous
// group, a shift, one three-way XOR, then the last lane's correction.
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR __m128i next_group(__m128i g4, __m128i g3, __m128i g2,
                                                                      __m128i g1) {
  // Without the W_(j−3) term: P1(W_(j−16) ⊕ W_(j−9)) ⊕ (W_(j−13) <<< 7) ⊕ W_(j−6).
  const __m128i x0 = _mm_xor_si128(g4, _mm_alignr_epi8(g2, g3, 12));
  const __m128i early = xor3(xor3(x0, rol<15>(x0), rol<23>(x0)), rol<7>(_mm_alignr_epi8(g3, g4, 12)),
                             _mm_alignr_epi8(g1, g2, 8));
  // P1(W_(j−3) <<< 15) for the first three lanes.
  const __m128i g = _mm_xor_si128(early, _mm_bsrli_si128(p1_of_rol15(g1), 4));
  return _mm_xor_si128(g, _mm_bslli_si128(p1_of_rol15(g), 12));
}

// Words holds W_0 … W_67 and W′_0 … W′_63 of one block, as the rounds read
// them.
struct Words {
  alignas(16) std::uint32_t w[68];
  alignas(16) std::uint32_t w1[64];
};

// Expander computes the words of one block a group at a time into `out`.
struct Expander {
  __m128i g[17];
  const std::uint8_t* data;
  Words* out;
};

TARNWICK_SM3_VECTOR inline void store(Words& out, unsigned k, __m128i w) {
  _mm_store_si128(reinterpret_cast<__m128i*>(out.w + 4 * k), w);
}

TARNWICK_SM3_VECTOR inline void store1(Words& out, unsigned k, __m128i w, __m128i next) {
  _mm_store_si128(reinterpret_cast<__m128i*>(out.w1 + 4 * k), _mm_xor_si128(w, next));
}

// expand_part does part M of the expansion: part 0 loads the message,
// byte-swapped, and computes group 4; part M (1 … 12) computes group M + 4.
// Each part stores the W and W′ groups it completes.
template <unsigned M>
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR void expand_part(Expander& x) {
  __m128i (&g)[17] = x.g;
  if constexpr (M == 0) {
    const __m128i bswap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    for (int k = 0; k < 4; ++k)
      g[k] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x.data + 16 * k)), bswap);
    g[4] = next_group(g[0], g[1], g[2], g[3]);
    for (unsigned k = 0; k < 5; ++k) store(*x.out, k, g[k]);
    for (unsigned k = 0; k < 4; ++k) store1(*x.out, k, g[k], g[k + 1]);
  } else if constexpr (M <= 12) {
    g[M + 4] = next_group(g[M], g[M + 1], g[M + 2], g[M + 3]);
    store(*x.out, M + 4, g[M + 4]);
    store1(*x.out, M + 3, g[M + 3], g[M + 4]);
  }
}

// step runs rounds 4M … 4M + 3 and part M + 1 of the expansion.
template <unsigned M>
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR void step(RoundState& r, Expander& x) {
  expand_part<M + 1>(x);
  // The rounds read W and W′ back from memory as operands of their
  // additions, cheaper than extracting them from the vector registers,
  // which the compiler would otherwise do: this empty statement keeps the
  // values in memory.
  __asm__("" : : "r"(x.out) : "memory");
  four_rounds<4 * M>(r, x.out->w, x.out->w1);
}

template <unsigned... M>
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR void steps(RoundState& r, Expander& x,
                                                             std::integer_sequence<unsigned, M...>) {
  (step<M>(r, x), ...);
}

}  // namespace

TARNWICK_SM3_VECTOR void TARNWICK_SM3_COMPRESS(ChainingValue& v, const std::uint8_t* data,
                                               std::size_t blocks) noexcept {
  Words words;
  Expander x;
  x.out = &words;
  ChainingValue h = v;
  for (std::size_t n = 0; n < blocks; ++n, data += 64) {
    x.data = data;
    expand_part<0>(x);
    RoundState r;
    start(r, h);
    steps(r, x, std::make_integer_sequence<unsigned, 16>{});
    for (int i = 0; i < 8; ++i) h[i] ^= r[i];
  }
  v = h;
  clear_vector_registers();
}

}  // namespace tarnwick::sm3::detail
