// SM3 compression, AVX2 + BMI2 path: the vector schedule of vector.h with
// each rotation made of two shifts and an OR and each three-way XOR of two
// XORs. The scalar rounds use RORX.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "crypto/sm3/paths.h"
#include "crypto/sm3/rounds.h"

#define TARNWICK_SM3_COMPRESS compress_avx2
#define TARNWICK_SM3_VECTOR __attribute__((target("avx2,avx,ssse3,bmi2")))

namespace tarnwick::sm3::detail {
namespace {

[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR __m128i xor3(__m128i a, __m128i b, __m128i c) {
  return _mm_xor_si128(_mm_xor_si128(a, b), c);
}

template <int N>
[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR __m128i rol(__m128i x) {
  return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
}

[[gnu::always_inline]] inline TARNWICK_SM3_VECTOR void clear_vector_registers() {
  // The message words stay in vector registers: zero them.
  _mm256_zeroall();
}

}  // namespace
}  // namespace tarnwick::sm3::detail

#include "crypto/sm3/vector.h"
