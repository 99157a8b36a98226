// GHASH with PCLMULQDQ, eight blocks per reduction: the running value is
// folded into the first block and the eight products with H^8 … H^1 are
// summed unreduced (SP 800-38D §6.4 unrolled: Y·H^8 ⊕ X_2·H^7 ⊕ … ).
#include "crypto/sm4/ghash_clmul.h"
#include "crypto/sm4/path.h"

namespace tarnwick::sm4::detail {

namespace {
constexpr int kPowers = 8;
}  // namespace

TARNWICK_CLMUL void ghash_pclmul_init(GhashKey& key, const std::uint8_t h[16]) {
  clmul::powers(h, key.bytes, kPowers);
}

TARNWICK_CLMUL void ghash_pclmul(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n) {
  auto power = [&](int e) TARNWICK_CLMUL {  // H^(kPowers − e), twisted
    return _mm_load_si128(reinterpret_cast<const __m128i*>(key.bytes + 16 * e));
  };
  __m128i acc = clmul::load_block(y);
  while (n > 0) {
    const int count = n >= kPowers ? kPowers : static_cast<int>(n);
    // Blocks i = 0 … count − 1 take the powers H^count … H^1.
    clmul::Wide sum = clmul::mul_wide(_mm_xor_si128(acc, clmul::load_block(in)), power(kPowers - count));
    for (int i = 1; i < count; ++i)
      clmul::accumulate(sum, clmul::mul_wide(clmul::load_block(in + 16 * i), power(kPowers - count + i)));
    acc = clmul::reduce(sum);
    in += 16 * count;
    n -= static_cast<std::size_t>(count);
  }
  clmul::store_block(y, acc);
}

}  // namespace tarnwick::sm4::detail
