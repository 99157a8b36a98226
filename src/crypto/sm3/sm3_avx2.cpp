// SM3 compression, AVX2 + BMI2 path. On processors with four integer ALUs
// (AMD Zen 1, for one) the rounds are bound by the operations they issue,
// not by the chain from E to E, so this path issues fewer: GG takes three
// operations from round 16 on (see `loop_round`), P1 of the message
// expansion goes through a byte rotation, and the rounds run as three loops
// of four rounds (RORX for the rotations, T_j <<< j read from a table), a
// quarter of the code of the unrolled compression of vector.h and a little
// faster there than this file unrolled. The expansion runs four words at a
// time in xmm registers, one group per four rounds, as in vector.h.
#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/sm3/paths.h"
#include "crypto/sm3/rounds.h"

#define TARNWICK_SM3_AVX2 __attribute__((target("avx2,avx,ssse3,bmi2")))

namespace tarnwick::sm3::detail {
namespace {

template <int N>
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 __m128i rol(__m128i x) {
  return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
}

// p1 is P1(x) = x ⊕ (x <<< 15) ⊕ (x <<< 23) = x ⊕ ((x ⊕ (x <<< 8)) <<< 15),
// the rotation by 8 a byte shuffle.
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 __m128i p1(__m128i x) {
  const __m128i rol8 = _mm_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
  return _mm_xor_si128(x, rol<15>(_mm_xor_si128(x, _mm_shuffle_epi8(x, rol8))));
}

// next_group returns W_4k … W_4k+3 from groups k − 4 … k − 1 (g4 oldest)
// (GB/T 32905-2016 §5.3.2). The W_(j−3) term of the last lane is W_4k
// itself: the three other lanes are finished first, with a zero in its
// place, and as P1 is linear the last lane then takes P1(W_4k <<< 15).
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 __m128i next_group(__m128i g4, __m128i g3, __m128i g2, __m128i g1) {
  const __m128i w13 = _mm_alignr_epi8(g3, g4, 12);
  const __m128i w9 = _mm_alignr_epi8(g2, g3, 12);
  const __m128i w6 = _mm_alignr_epi8(g1, g2, 8);
  const __m128i w3 = _mm_bsrli_si128(g1, 4);
  const __m128i early = _mm_xor_si128(rol<7>(w13), w6);
  const __m128i t = _mm_xor_si128(_mm_xor_si128(g4, w9), rol<15>(w3));
  const __m128i g = _mm_xor_si128(p1(t), early);
  return _mm_xor_si128(g, p1(rol<15>(_mm_bslli_si128(g, 12))));
}

// kT holds T_j <<< (j mod 32) for the rounds that read it from memory.
constexpr std::array<std::uint32_t, 64> kT = [] {
  std::array<std::uint32_t, 64> t{};
  for (unsigned j = 0; j < 64; ++j) t[j] = t_rotated(j);
  return t;
}();

// One round j of the loops: `round` of rounds.h with T_j <<< (j mod 32)
// passed in, `First` selecting the boolean functions of rounds 0 … 15 (the
// GG it leaves for the next round is of its own kind).
//
// From round 16 on the rounds here are bound by the four integer ALUs, not
// by the chain from E to E, so GG_(j+1) takes three operations after the new
// E instead of being spread over the terms of P0 (five): the chain grows by
// one step, which the sum TT2 = (SS1 + (H + W_j)) + GG absorbs in part.
template <bool First>
[[gnu::always_inline]] inline void loop_round(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t& d,
                                              std::uint32_t e, std::uint32_t& f, std::uint32_t& h, std::uint32_t& gg,
                                              std::uint32_t w, std::uint32_t w1, std::uint32_t t) noexcept {
  std::uint32_t ff;
  if constexpr (First) {
    ff = a ^ (b ^ c);
  } else {
    ff = (a & (b ^ c)) ^ (b & c);  // majority
  }
  const std::uint32_t a12 = rotl(a, 12);
  const std::uint32_t ss1 = rotl(e + opaque(a12 + t), 7);
  std::uint32_t tt2;
  if constexpr (First) {
    tt2 = opaque(gg + opaque(h + w)) + ss1;
  } else {
    tt2 = opaque(ss1 + opaque(h + w)) + gg;
  }
  const std::uint32_t k1 = opaque(ff + opaque(d + w1));
  const std::uint32_t q = opaque(tt2 ^ rotl(tt2, 9));
  const std::uint32_t e1 = q ^ rotl(tt2, 17);  // P0(TT2)
  // The next round's E, F, G are e1, e and f <<< 19.
  const std::uint32_t f19 = rotl(f, 19);
  if constexpr (First) {
    gg = e1 ^ (e ^ f19);
  } else {
    gg = f19 ^ (e1 & (e ^ f19));
  }
  h = e1;
  d = k1 + (ss1 ^ a12);
  b = rotl(b, 9);
  f = f19;
}

// Words holds W_0 … W_67 and W′_0 … W′_63 of one block, as the rounds read
// them.
struct Words {
  alignas(16) std::uint32_t w[68];
  alignas(16) std::uint32_t w1[64];
};

TARNWICK_SM3_AVX2 inline void store(Words& out, unsigned k, __m128i w) {
  _mm_store_si128(reinterpret_cast<__m128i*>(out.w + 4 * k), w);
}

TARNWICK_SM3_AVX2 inline void store1(Words& out, unsigned k, __m128i w, __m128i next) {
  _mm_store_si128(reinterpret_cast<__m128i*>(out.w1 + 4 * k), _mm_xor_si128(w, next));
}

// Window holds the last four groups of W, oldest first.
struct Window {
  __m128i g[4];
};

// expand_next computes group k + 4 from the window of groups k … k + 3,
// stores it and W′ group k + 3, and slides the window.
[[gnu::always_inline]] inline TARNWICK_SM3_AVX2 void expand_next(Window& x, Words& out, unsigned k) {
  const __m128i n = next_group(x.g[0], x.g[1], x.g[2], x.g[3]);
  store(out, k + 4, n);
  store1(out, k + 3, x.g[3], n);
  x.g[0] = x.g[1];
  x.g[1] = x.g[2];
  x.g[2] = x.g[3];
  x.g[3] = n;
}

template <bool First>
[[gnu::always_inline]] inline void loop_rounds(RoundState& r, const Words& words, unsigned j) noexcept {
  const std::uint32_t* w = words.w + j;
  const std::uint32_t* w1 = words.w1 + j;
  const std::uint32_t* t = kT.data() + j;
  loop_round<First>(r[0], r[1], r[2], r[3], r[4], r[5], r[7], r[8], w[0], w1[0], t[0]);
  loop_round<First>(r[3], r[0], r[1], r[2], r[7], r[4], r[6], r[8], w[1], w1[1], t[1]);
  loop_round<First>(r[2], r[3], r[0], r[1], r[6], r[7], r[5], r[8], w[2], w1[2], t[2]);
  loop_round<First>(r[1], r[2], r[3], r[0], r[5], r[6], r[4], r[8], w[3], w1[3], t[3]);
}

}  // namespace

TARNWICK_SM3_AVX2 void compress_avx2(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  Words words;
  ChainingValue h = v;
  const __m128i bswap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  for (std::size_t n = 0; n < blocks; ++n, data += 64) {
    Window x;
    for (unsigned k = 0; k < 4; ++k) {
      x.g[k] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * k)), bswap);
      store(words, k, x.g[k]);
    }
    for (unsigned k = 0; k < 3; ++k) store1(words, k, x.g[k], x.g[k + 1]);
    expand_next(x, words, 0);
    RoundState r;
    start(r, h);
    // Group k + 5 is expanded during rounds 4k … 4k + 3, four groups
    // before the rounds read it as part of W′.
    unsigned k = 0;
#pragma GCC unroll 1
    for (; k < 4; ++k) {
      expand_next(x, words, k + 1);
      // The rounds read W and W′ back from memory as operands of their
      // additions; this empty statement keeps the stores ahead of them.
      __asm__("" : : "r"(&words) : "memory");
      loop_rounds<true>(r, words, 4 * k);
    }
    // Round 15 left the GG of rounds 0 … 15; round 16 takes the other.
    r[8] = r[6] ^ (r[4] & (r[5] ^ r[6]));
#pragma GCC unroll 1
    for (; k < 12; ++k) {
      expand_next(x, words, k + 1);
      __asm__("" : : "r"(&words) : "memory");
      loop_rounds<false>(r, words, 4 * k);
    }
#pragma GCC unroll 1
    for (; k < 16; ++k) {
      __asm__("" : : "r"(&words) : "memory");
      loop_rounds<false>(r, words, 4 * k);
    }
    for (int i = 0; i < 8; ++i) h[i] ^= r[i];
  }
  v = h;
  // The message words stay in vector registers: zero them.
  _mm256_zeroall();
}

}  // namespace tarnwick::sm3::detail
