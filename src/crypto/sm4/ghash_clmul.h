// Carry-less multiplication in GF(2^128) for GHASH (internal to
// src/crypto/sm4), shared by the PCLMULQDQ and VPCLMULQDQ kernels.
//
// A block is held "reflected": its 16 bytes read as one big-endian 128-bit
// integer, so the coefficient of x^j of SP 800-38D §6.3 sits at bit 127 − j.
// A carry-less product of two such values is the field product times x,
// and H is stored "twisted", multiplied by x⁻¹ = x^127 + x^6 + x + 1, to
// cancel it. The 256-bit product is then reduced modulo
// x^128 + x^7 + x^2 + x + 1 with two further carry-less multiplications by
// the constant 0xc2 << 56, 64 bits at a time. All of it is straight-line
// code: nothing depends on the values but the values.
#pragma once

#include <immintrin.h>

#include <cstdint>

#define TARNWICK_CLMUL __attribute__((target("pclmul,ssse3,sse4.1")))

namespace tarnwick::sm4::detail::clmul {

TARNWICK_CLMUL inline __m128i reverse_bytes(__m128i v) {
  return _mm_shuffle_epi8(v, _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
}

TARNWICK_CLMUL inline __m128i load_block(const std::uint8_t* p) {
  return reverse_bytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

TARNWICK_CLMUL inline void store_block(std::uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), reverse_bytes(v));
}

// twist returns h·x⁻¹: a left shift of the reflected value by one bit,
// adding x⁻¹ when the coefficient of x^0 (bit 127) is shifted out.
TARNWICK_CLMUL inline __m128i twist(__m128i h) {
  const __m128i carry = _mm_srli_epi64(h, 63);                 // bit 63 of each half
  const __m128i shifted = _mm_or_si128(_mm_slli_epi64(h, 1), _mm_slli_si128(carry, 8));
  const __m128i top = _mm_shuffle_epi32(_mm_srai_epi32(h, 31), 0xff);  // all ones when bit 127 is set
  const __m128i poly = _mm_set_epi64x(static_cast<long long>(0xc200000000000000ULL), 1);
  return _mm_xor_si128(shifted, _mm_and_si128(top, poly));
}

// Wide is an unreduced product: lo and hi halves and the middle term.
struct Wide {
  __m128i lo, mid, hi;
};

TARNWICK_CLMUL inline Wide mul_wide(__m128i a, __m128i b) {
  return {_mm_clmulepi64_si128(a, b, 0x00),
          _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x01), _mm_clmulepi64_si128(a, b, 0x10)),
          _mm_clmulepi64_si128(a, b, 0x11)};
}

TARNWICK_CLMUL inline void accumulate(Wide& acc, const Wide& w) {
  acc.lo = _mm_xor_si128(acc.lo, w.lo);
  acc.mid = _mm_xor_si128(acc.mid, w.mid);
  acc.hi = _mm_xor_si128(acc.hi, w.hi);
}

TARNWICK_CLMUL inline __m128i reduce(const Wide& w) {
  __m128i lo = _mm_xor_si128(w.lo, _mm_slli_si128(w.mid, 8));
  const __m128i hi = _mm_xor_si128(w.hi, _mm_srli_si128(w.mid, 8));
  const __m128i poly = _mm_set_epi64x(static_cast<long long>(0xc200000000000000ULL), 1);
  __m128i t = _mm_clmulepi64_si128(lo, poly, 0x10);
  lo = _mm_xor_si128(_mm_shuffle_epi32(lo, 0x4e), t);
  t = _mm_clmulepi64_si128(lo, poly, 0x10);
  lo = _mm_xor_si128(_mm_shuffle_epi32(lo, 0x4e), t);
  return _mm_xor_si128(lo, hi);
}

// mul returns a·h for a reflected `a` and a twisted `h`.
TARNWICK_CLMUL inline __m128i mul(__m128i a, __m128i h_twisted) { return reduce(mul_wide(a, h_twisted)); }

// powers writes the twisted powers H^count … H^1, highest first, to
// `table` (16 bytes each, reflected).
TARNWICK_CLMUL inline void powers(const std::uint8_t h[16], std::uint8_t* table, int count) {
  const __m128i plain = load_block(h);
  const __m128i ht = twist(plain);
  __m128i p = plain;
  for (int e = 1; e <= count; ++e) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(table + 16 * (count - e)), twist(p));
    p = mul(p, ht);
  }
}

}  // namespace tarnwick::sm4::detail::clmul
