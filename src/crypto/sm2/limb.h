// Limb arithmetic: one step of a carry or borrow chain over 64-bit words,
// and the 64×64 → 128-bit products, for the field (fp.h), the scalars
// modulo n (scalar.cpp) and the point code. Every function runs in time
// independent of its arguments.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace tarnwick::sm2::limb {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

// adc and sbb are one step of a carry (borrow) chain; carries are 0 or 1.
// On x86-64 they are the ADC and SBB instructions of the base instruction
// set, which the compiler chains without materialising the flags.
inline u64 adc(u64 a, u64 b, u64 carry_in, u64& carry_out) noexcept {
#if defined(__x86_64__)
  unsigned long long s;
  carry_out = _addcarry_u64(static_cast<unsigned char>(carry_in), a, b, &s);
  return s;
#else
  const u128 s = static_cast<u128>(a) + b + carry_in;
  carry_out = static_cast<u64>(s >> 64);
  return static_cast<u64>(s);
#endif
}

inline u64 sbb(u64 a, u64 b, u64 borrow_in, u64& borrow_out) noexcept {
#if defined(__x86_64__)
  unsigned long long d;
  borrow_out = _subborrow_u64(static_cast<unsigned char>(borrow_in), a, b, &d);
  return d;
#else
  const u128 d = static_cast<u128>(a) - b - borrow_in;
  borrow_out = static_cast<u64>(d >> 64) & 1;
  return static_cast<u64>(d);
#endif
}

// mul_wide sets lo, hi to the 128-bit product a·b.
[[gnu::always_inline]] inline void mul_wide(u64 a, u64 b, u64& lo, u64& hi) noexcept {
  const u128 p = static_cast<u128>(a) * b;
  lo = static_cast<u64>(p);
  hi = static_cast<u64>(p >> 64);
}

// mac returns the low limb of a·b + c + carry and leaves the high limb in
// `carry` (the sum fits 128 bits).
[[gnu::always_inline]] inline u64 mac(u64 a, u64 b, u64 c, u64& carry) noexcept {
  const u128 acc = static_cast<u128>(a) * b + c + carry;
  carry = static_cast<u64>(acc >> 64);
  return static_cast<u64>(acc);
}

}  // namespace tarnwick::sm2::limb
