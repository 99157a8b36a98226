// The SM4 S-box as a bitsliced Boolean circuit (internal to
// src/crypto/sm4): the affine maps of sbox.h around an inversion in the
// tower field GF((2^4)^2), evaluated with AND and XOR only, so that the
// time does not depend on the inputs. A slice variable of type W holds one
// bit of many bytes at once; `ones` is W's all-lanes mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "crypto/sm4/sbox.h"

namespace tarnwick::sm4::bitslice {

// linear computes out = M·in ⊕ c on N slices: each output slice is the
// XOR of the input slices its row selects, chosen at compile time.
template <sbox::Mat M, std::uint8_t C, int I, class W, std::size_t... J>
inline W linear_row(const W* in, W ones, std::index_sequence<J...>) {
  W acc = ((C >> I) & 1) ? ones : W{0};
  ((acc ^= ((M.row[I] >> J) & 1) ? in[J] : W{0}), ...);
  return acc;
}

template <sbox::Mat M, std::uint8_t C, int N, class W, std::size_t... I>
inline void linear_rows(const W* in, W* out, W ones, std::index_sequence<I...>) {
  ((out[I] = linear_row<M, C, static_cast<int>(I)>(in, ones, std::make_index_sequence<N>{})), ...);
}

template <sbox::Mat M, std::uint8_t C, int N, class W>
inline void linear(const W* in, W* out, W ones) {
  linear_rows<M, C, N>(in, out, ones, std::make_index_sequence<N>{});
}

// mul16 multiplies in GF(16) = GF(2)[z]/(z^4+z+1).
template <class W>
inline void mul16(const W* a, const W* b, W* r) {
  const W c0 = a[0] & b[0];
  const W c1 = (a[0] & b[1]) ^ (a[1] & b[0]);
  const W c2 = (a[0] & b[2]) ^ (a[1] & b[1]) ^ (a[2] & b[0]);
  const W c3 = (a[0] & b[3]) ^ (a[1] & b[2]) ^ (a[2] & b[1]) ^ (a[3] & b[0]);
  const W c4 = (a[1] & b[3]) ^ (a[2] & b[2]) ^ (a[3] & b[1]);
  const W c5 = (a[2] & b[3]) ^ (a[3] & b[2]);
  const W c6 = a[3] & b[3];
  // z^4 = z + 1, z^5 = z^2 + z, z^6 = z^3 + z^2.
  r[0] = c0 ^ c4;
  r[1] = c1 ^ c4 ^ c5;
  r[2] = c2 ^ c5 ^ c6;
  r[3] = c3 ^ c6;
}

// sbox applies the SM4 S-box to the byte whose bit i is slice x[i].
template <class W>
inline void sbox(const W* x, W* s, W ones) {
  W y[8];
  linear<sbox::kTowerPre, sbox::kTowerPreConst, 8>(x, y, ones);
  const W* al = y;
  const W* ah = y + 4;
  // d = (λ·ah² ⊕ ah·al ⊕ al²)⁻¹ in GF(16).
  W t[4], u[4], n[4];
  linear<sbox::kLambdaSq16, 0, 4>(ah, t, ones);
  linear<sbox::kSq16, 0, 4>(al, u, ones);
  mul16(ah, al, n);
  for (int i = 0; i < 4; ++i) n[i] ^= t[i] ^ u[i];
  // n⁻¹ = n^14 = n^2·n^4·n^8.
  W n2[4], n4[4], n8[4], n6[4], d[4];
  linear<sbox::kSq16, 0, 4>(n, n2, ones);
  linear<sbox::kSq16, 0, 4>(n2, n4, ones);
  linear<sbox::kSq16, 0, 4>(n4, n8, ones);
  mul16(n2, n4, n6);
  mul16(n6, n8, d);
  // (ah·Y + al)⁻¹ = (ah·d)·Y + (ah ⊕ al)·d.
  W z[8], sum[4];
  for (int i = 0; i < 4; ++i) sum[i] = ah[i] ^ al[i];
  mul16(sum, d, z);
  mul16(ah, d, z + 4);
  linear<sbox::kTowerPost, sbox::kTowerPostConst, 8>(z, s, ones);
}

// tau applies the S-box to each byte of a 32-bit word, in constant time
// (the four bytes are four lanes of one circuit).
inline std::uint32_t tau(std::uint32_t a) {
  constexpr std::uint32_t kLanes = 0x01010101;
  std::uint32_t x[8], s[8];
  for (int i = 0; i < 8; ++i) x[i] = (a >> i) & kLanes;
  sbox(x, s, kLanes);
  std::uint32_t r = 0;
  for (int i = 0; i < 8; ++i) r |= (s[i] & kLanes) << i;
  return r;
}

}  // namespace tarnwick::sm4::bitslice
