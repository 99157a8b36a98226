// Constant-time helpers of the SM2 code: word masks and selects, and the
// hooks that tell a memory checker which values are secret.
//
// A mask is 0 or all ones. Every function here runs in time independent of
// the values of its arguments.
//
// In a build with TARNWICK_CT_VALIDATION defined (the valgrind secret check),
// `classify` marks memory as undefined and `declassify` marks it defined
// again, so that memcheck reports every branch or address that depends on a
// secret. Elsewhere both are no-ops.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(TARNWICK_CT_VALIDATION)
#include <valgrind/memcheck.h>
#endif

namespace tarnwick::sm2::ct {

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

// classify marks `n` bytes at `p` as secret for the memory checker.
inline void classify(const void* p, std::size_t n) noexcept {
#if defined(TARNWICK_CT_VALIDATION)
  VALGRIND_MAKE_MEM_UNDEFINED(p, n);
#else
  (void)p;
  (void)n;
#endif
}

// declassify marks `n` bytes at `p` as public: a value the protocol
// publishes, or the outcome of a test whose result is public.
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

}  // namespace tarnwick::sm2::ct
