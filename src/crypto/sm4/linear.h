// The linear transform L of the SM4 round, taken apart for the vector
// paths (internal to src/crypto/sm4).
//
// L(b) = b ⊕ (b <<< 2) ⊕ (b <<< 10) ⊕ (b <<< 18) ⊕ (b <<< 24) commutes with
// rotations by whole bytes, so byte k of L(b) is B_0·b_k ⊕ B_1·b_(k−1) ⊕
// B_2·b_(k−2) ⊕ B_3·b_(k−3) for four 8×8 bit matrices B_d (byte k = bits
// 8k … 8k+7). The single-block kernels keep the state in a "pre-mapped"
// domain, every byte multiplied by the S-box's input matrix P = T·A of
// sbox.h, so that a round is
//
//   ỹ  = x̃1 ⊕ x̃2 ⊕ x̃3 ⊕ r̃k           (r̃k = P·rk ⊕ T·C, bytewise)
//   x̃4 = x̃0 ⊕ K ⊕ ⊕_d (G_d·I(ỹ)) <<< 8d   (G_d = P·B_d·A·T⁻¹, bytewise)
//
// with I the AES-field inversion: one inversion with four output matrices
// and no input affine map on the critical path. K is P applied to
// L(C,C,C,C), whose four bytes are equal.
#pragma once

#include <cstdint>

#include "crypto/sm4/sbox.h"

namespace tarnwick::sm4::linear {

constexpr std::uint32_t rotl32(std::uint32_t x, unsigned n) { return (x << n) | (x >> ((32 - n) & 31)); }

constexpr std::uint32_t l_transform(std::uint32_t b) {
  return b ^ rotl32(b, 2) ^ rotl32(b, 10) ^ rotl32(b, 18) ^ rotl32(b, 24);
}

constexpr sbox::Mat byte_block(int d) {
  return sbox::from_map([d](std::uint8_t v) { return static_cast<std::uint8_t>(l_transform(v) >> (8 * d)); });
}

constexpr std::uint32_t bytewise(const sbox::Mat& m, std::uint32_t w, std::uint8_t c) {
  std::uint32_t r = 0;
  for (int k = 0; k < 4; ++k)
    r |= static_cast<std::uint32_t>(sbox::apply(m, static_cast<std::uint8_t>(w >> (8 * k))) ^ c) << (8 * k);
  return r;
}

consteval std::uint32_t tau(std::uint32_t w) {
  std::uint32_t r = 0;
  for (int k = 0; k < 4; ++k) r |= std::uint32_t{sbox::kTable[(w >> (8 * k)) & 0xff]} << (8 * k);
  return r;
}

inline constexpr sbox::Mat kPre = sbox::kAesPre;
inline constexpr sbox::Mat kPreInverse = sbox::inverse(sbox::kAesPre);

constexpr sbox::Mat output_matrix(int d) {
  return sbox::compose(kPre, sbox::compose(byte_block(d), sbox::kAesPost));
}
inline constexpr sbox::Mat kOut[4] = {output_matrix(0), output_matrix(1), output_matrix(2), output_matrix(3)};

// B_0 = I ⊕ (<<2), B_3 = (>>6) ⊕ I and B_1 = B_2 = (>>6) ⊕ (<<2) on a byte,
// so G_1 = G_2 = G_0 ⊕ G_3: two inversions' worth of output matrices give
// all four terms.
constexpr bool outputs_related() {
  for (int i = 0; i < 8; ++i) {
    if (kOut[1].row[i] != kOut[2].row[i]) return false;
    if (kOut[1].row[i] != (kOut[0].row[i] ^ kOut[3].row[i])) return false;
  }
  return true;
}
static_assert(outputs_related());

constexpr std::uint8_t rotl8(std::uint8_t x, unsigned n) {
  return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}
inline constexpr std::uint8_t kK = sbox::apply(kPre, rotl8(sbox::kC, 2));

// The round in the pre-mapped domain equals the plain round, mapped.
consteval bool premapped_round_holds() {
  if (l_transform(0x01010101u * sbox::kC) != 0x01010101u * rotl8(sbox::kC, 2)) return false;
  std::uint32_t t = 0x01234567;
  for (int n = 0; n < 288; ++n) {
    t = t * 1664525u + 1013904223u;
    const std::uint32_t w = n < 256 ? static_cast<std::uint32_t>(n) : t;
    const std::uint32_t plain = bytewise(kPre, l_transform(tau(w)), 0);
    const std::uint32_t y = bytewise(kPre, w, sbox::kAesPreConst);
    std::uint32_t sum = 0x01010101u * kK;
    for (int d = 0; d < 4; ++d) {
      std::uint32_t q = 0;
      for (int k = 0; k < 4; ++k)
        q |= std::uint32_t{sbox::apply(kOut[d], sbox::inv_aes(static_cast<std::uint8_t>(y >> (8 * k))))} << (8 * k);
      sum ^= rotl32(q, 8 * d);
    }
    if (sum != plain) return false;
  }
  return true;
}
static_assert(premapped_round_holds());

}  // namespace tarnwick::sm4::linear
