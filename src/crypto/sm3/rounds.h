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

// opaque returns `x` unchanged, hidden from the optimiser: a sum passed
// through it is computed where it stands and not reassociated into the
// additions that follow it.
[[gnu::always_inline]] inline std::uint32_t opaque(std::uint32_t x) noexcept {
  __asm__("" : "+r"(x));
  return x;
}

// One round j. `w` is W_j and `w1` is W′_j = W_j ⊕ W_(j+4); `gg` holds
// GG_j(E, F, G), computed by the round before (G enters the round only
// through it), and leaves with GG_(j+1) of the new E, F, G. The new A lands
// in `d` and the new E in `h`; B and F are rotated in place.
//
// The chain that bounds the speed runs from E to the next E: E + (A <<< 12
// + T_j), <<< 7, + (GG + H + W_j), P0. Whatever does not wait for E is
// summed first, so that E meets one addition before the rotation and one
// after it, and the choice function of the next round is spread over the
// terms of P0 (AND distributes over XOR): it is ready one step after the
// new E instead of two, in time for the next round's sum.
template <unsigned J>
[[gnu::always_inline]] inline void round(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t& d,
                                         std::uint32_t e, std::uint32_t& f, std::uint32_t& h, std::uint32_t& gg,
                                         std::uint32_t w, std::uint32_t w1) noexcept {
  std::uint32_t ff;
  if constexpr (J < 16) {
    ff = a ^ (b ^ c);
  } else {
    ff = (a & (b ^ c)) ^ (b & c);  // majority
  }
  const std::uint32_t a12 = rotl(a, 12);
  const std::uint32_t ss1 = rotl(e + opaque(a12 + t_rotated(J)), 7);
  const std::uint32_t k2 = opaque(gg + opaque(h + w));
  const std::uint32_t k1 = opaque(ff + opaque(d + w1));
  const std::uint32_t tt2 = k2 + ss1;
  const std::uint32_t r17 = rotl(tt2, 17);
  const std::uint32_t q = opaque(tt2 ^ rotl(tt2, 9));
  const std::uint32_t e1 = q ^ r17;  // P0(TT2)
  // The next round's E, F, G are e1, e and f <<< 19.
  const std::uint32_t f19 = rotl(f, 19);
  if constexpr (J + 1 < 16) {
    gg = e1 ^ (e ^ f19);
  } else if constexpr (J + 1 < 64) {
    // (e1 ∧ m) ⊕ g′ with e1 = q ⊕ r17 and m = F′ ⊕ G′.
    const std::uint32_t m = e ^ f19;
    gg = opaque(f19 ^ (r17 & m)) ^ opaque(q & m);
  }
  h = e1;
  d = k1 + (ss1 ^ a12);
  b = rotl(b, 9);
  f = f19;
}

// Registers of the rounds: A … H, then GG of the coming round.
using RoundState = std::uint32_t[9];

// start loads `v` into `r` with GG_0.
inline void start(RoundState& r, const std::array<std::uint32_t, 8>& v) noexcept {
  for (int i = 0; i < 8; ++i) r[i] = v[static_cast<std::size_t>(i)];
  r[8] = r[4] ^ r[5] ^ r[6];
}

// Four rounds from J on; after them the registers are back in place.
template <unsigned J>
[[gnu::always_inline]] inline void four_rounds(RoundState& r, const std::uint32_t* w,
                                               const std::uint32_t* w1) noexcept {
  round<J>(r[0], r[1], r[2], r[3], r[4], r[5], r[7], r[8], w[J], w1[J]);
  round<J + 1>(r[3], r[0], r[1], r[2], r[7], r[4], r[6], r[8], w[J + 1], w1[J + 1]);
  round<J + 2>(r[2], r[3], r[0], r[1], r[6], r[7], r[5], r[8], w[J + 2], w1[J + 2]);
  round<J + 3>(r[1], r[2], r[3], r[0], r[5], r[6], r[4], r[8], w[J + 3], w1[J + 3]);
}

}  // namespace tarnwick::sm3::detail
