// The SM3 compression rounds (GB/T 32905-2016 §5.3.3), shared by the
// portable and the vector-expansion compressions (internal to
// src/crypto/sm3). The 64 rounds are unrolled with the eight registers
// renamed from round to round instead of moved, and with the constants
// T_j <<< (j mod 32) folded in at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace tarnwick::sm3::detail {

constexpr std::uint32_t rotl(std::uint32_t x, unsigned n) noexcept { return (x << (n & 31)) | (x >> ((32 - n) & 31)); }

constexpr std::uint32_t p0(std::uint32_t x) noexcept { return x ^ rotl(x, 9) ^ rotl(x, 17); }
constexpr std::uint32_t p1(std::uint32_t x) noexcept { return x ^ rotl(x, 15) ^ rotl(x, 23); }

constexpr std::uint32_t t_rotated(unsigned j) noexcept { return rotl(j < 16 ? 0x79cc4519u : 0x7a879d8au, j % 32); }

// One round j. `w` is W_j and `w1` is W′_j = W_j ⊕ W_(j+4). The new A lands
// in `d` and the new E in `h`; B and F are rotated in place.
template <unsigned J>
[[gnu::always_inline]] inline void round(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t& d,
                                         std::uint32_t e, std::uint32_t& f, std::uint32_t g, std::uint32_t& h,
                                         std::uint32_t w, std::uint32_t w1) noexcept {
  // The terms that do not wait for SS1 first, in program order, so that
  // the processor starts them while the previous round finishes.
  std::uint32_t ff, gg;
  if constexpr (J < 16) {
    ff = a ^ b ^ c;
    gg = e ^ f ^ g;
  } else {
    ff = (a & (b | c)) | (b & c);
    gg = (e & f) | (~e & g);
  }
  const std::uint32_t k2 = gg + (h + w);
  const std::uint32_t k1 = ff + (d + w1);
  const std::uint32_t a12 = rotl(a, 12);
  const std::uint32_t ss1 = rotl(a12 + t_rotated(J) + e, 7);
  h = p0(k2 + ss1);
  d = k1 + (ss1 ^ a12);
  b = rotl(b, 9);
  f = rotl(f, 19);
}

// Four rounds from J on; after them the registers are back in place.
template <unsigned J>
[[gnu::always_inline]] inline void four_rounds(std::uint32_t (&r)[8], const std::uint32_t* w,
                                               const std::uint32_t* w1) noexcept {
  round<J>(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], w[J], w1[J]);
  round<J + 1>(r[3], r[0], r[1], r[2], r[7], r[4], r[5], r[6], w[J + 1], w1[J + 1]);
  round<J + 2>(r[2], r[3], r[0], r[1], r[6], r[7], r[4], r[5], w[J + 2], w1[J + 2]);
  round<J + 3>(r[1], r[2], r[3], r[0], r[5], r[6], r[7], r[4], w[J + 3], w1[J + 3]);
}

}  // namespace tarnwick::sm3::detail
