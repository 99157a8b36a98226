// Constant-time helpers: word masks and selects, and the one hook that
// tells a memory checker which values derived from secrets are public.
//
// A mask is 0 or all ones. Every function here runs in time independent of
// the values of its arguments.
//
// In a build with TARNWICK_CT_VALIDATION defined (the valgrind secret check
// of tests/valgrind), `declassify` marks memory as defined, so that memcheck
// accepts a branch on a value the protocol publishes while it reports every
// other branch or address that depends on a secret. Elsewhere it does
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(TARNWICK_CT_VALIDATION)
#include <valgrind/memcheck.h>
#endif

namespace tarnwick::ct {

using u64 = std::uint64_t;

// value_barrier hides `v` from the optimiser, so that it cannot turn a mask
// computation back into a branch.
inline u64 value_barrier(u64 v) noexcept {
  __asm__("" : "+r"(v));
  return v;
}

// mask_from_bit returns all ones for `bit` = 1 and 0 for `bit` = 0.
inline u64 mask_from_bit(u64 bit) noexcept { return value_barrier(0 - bit); }

// is_zero returns all ones when `v` = 0.
inline u64 is_zero(u64 v) noexcept { return mask_from_bit(((~v & (v - 1)) >> 63) & 1); }

// eq returns all ones when `a` = `b`.
inline u64 eq(u64 a, u64 b) noexcept { return is_zero(a ^ b); }

// select returns `a` where `mask` is set and `b` elsewhere.
inline u64 select(u64 mask, u64 a, u64 b) noexcept { return (a & mask) | (b & ~mask); }

// declassify marks `n` bytes at `p` as public: a value the protocol
// publishes, or the outcome of a test whose result is public (a tag check's
// verdict, the padding length a decryption removes).
inline void declassify(const void* p, std::size_t n) noexcept {
#if defined(TARNWICK_CT_VALIDATION)
  VALGRIND_MAKE_MEM_DEFINED(p, n);
#else
  (void)p;
  (void)n;
#endif
}

// declassify_mask returns `mask` as a public truth value.
inline bool declassify_mask(u64 mask) noexcept {
  declassify(&mask, sizeof mask);
  return mask != 0;
}

}  // namespace tarnwick::ct
