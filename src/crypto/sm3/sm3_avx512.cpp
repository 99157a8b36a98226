// SM3 compression, AVX-512 path: the vector schedule of vector.h with the
// AVX-512 VL forms (rotations in one instruction, three-way XORs in one
// ternary-logic instruction), for processors that run AVX-512 at full
// speed.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "crypto/sm3/paths.h"
#include "crypto/sm3/rounds.h"

#define TARNWICK_SM3_COMPRESS compress_avx512
#define TARNWICK_SM3_VECTOR __attribute__((target("avx512f,avx512vl,avx512bw,avx2,avx,ssse3,bmi2")))

namespace tarnwick::sm3::detail {
namespace {

// xor3 is a ⊕ b ⊕ c in one instruction.
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR __m128i xor3(__m128i a, __m128i b, __m128i c) {
  return _mm_ternarylogic_epi32(a, b, c, 0x96);
}

template <int N>
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR __m128i rol(__m128i x) {
  return _mm_rol_epi32(x, N);
}

[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR void clear_vector_registers() {
  // The message words stay in vector registers: zero them (VZEROALL clears
  // zmm0-15 whole, and the EVEX XORs zmm16-31).
  _mm256_zeroall();
  __asm__ volatile(
      "vpxord %%xmm16, %%xmm16, %%xmm16\n\tvpxord %%xmm17, %%xmm17, %%xmm17\n\t"
      "vpxord %%xmm18, %%xmm18, %%xmm18\n\tvpxord %%xmm19, %%xmm19, %%xmm19\n\t"
      "vpxord %%xmm20, %%xmm20, %%xmm20\n\tvpxord %%xmm21, %%xmm21, %%xmm21\n\t"
      "vpxord %%xmm22, %%xmm22, %%xmm22\n\tvpxord %%xmm23, %%xmm23, %%xmm23\n\t"
      "vpxord %%xmm24, %%xmm24, %%xmm24\n\tvpxord %%xmm25, %%xmm25, %%xmm25\n\t"
      "vpxord %%xmm26, %%xmm26, %%xmm26\n\tvpxord %%xmm27, %%xmm27, %%xmm27\n\t"
      "vpxord %%xmm28, %%xmm28, %%xmm28\n\tvpxord %%xmm29, %%xmm29, %%xmm29\n\t"
      "vpxord %%xmm30, %%xmm30, %%xmm30\n\tvpxord %%xmm31, %%xmm31, %%xmm31"
      :
      :
      : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26",
        "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
}

}  // namespace
}  // namespace tarnwick::sm3::detail

#include "crypto/sm3/vector.h"
