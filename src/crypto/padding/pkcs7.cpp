#include "crypto/padding/pkcs7.h"

#include <algorithm>

#ifdef TARNWICK_VALGRIND_CT
#include <valgrind/memcheck.h>
#endif

namespace tarnwick::padding::pkcs7 {

namespace {

constexpr std::size_t kBlock = 16;
// The largest padding length one byte can state.
constexpr std::size_t kMaxPad = 255;

// barrier hides `v` from the optimiser, so that it cannot turn a mask back
// into a branch.
inline std::uint64_t barrier(std::uint64_t v) noexcept {
  __asm__("" : "+r"(v));
  return v;
}

// below returns all ones when `a` < `b`, both under 2^63.
inline std::uint64_t below(std::uint64_t a, std::uint64_t b) noexcept { return barrier(0 - ((a - b) >> 63)); }

// nonzero returns all ones when `v` ≠ 0, `v` under 2^63.
inline std::uint64_t nonzero(std::uint64_t v) noexcept { return below(0, v); }

// declassify tells memcheck, in the build of tests/valgrind, that a value
// computed from the plaintext is public: the outcome of the check, which the
// caller sees, and on success the padding length, which the result's length
// shows.
inline void declassify([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n) noexcept {
#ifdef TARNWICK_VALGRIND_CT
  VALGRIND_MAKE_MEM_DEFINED(p, n);
#endif
}

enum Outcome : std::uint8_t { kValid = 0, kInvalid = 1, kInconsistent = 2 };

}  // namespace

void pad(Bytes& data) {
  const std::size_t p = kBlock - data.size() % kBlock;
  data.insert(data.end(), p, static_cast<std::uint8_t>(p));
}

Result<void> unpad(Bytes& data) {
  const std::size_t n = data.size();
  if (n == 0) return fail("data is empty");
  const std::uint64_t p = data.back();
  // Every one of the last min(n, 255) bytes is read, and compared with p
  // under the mask of its position being within the padding.
  std::uint64_t differ = 0;
  const std::size_t window = std::min(n, kMaxPad);
  for (std::size_t i = 1; i <= window; ++i) {
    // Through the barrier, the optimiser cannot count the loop in p − i,
    // which would put p into the loop's exit test and the byte's address.
    const std::uint64_t in_pad = ~below(p, barrier(i));
    differ |= (data[n - i] ^ p) & in_pad;
  }
  const std::uint64_t invalid = ~nonzero(p) | below(n, p);
  const std::uint64_t inconsistent = nonzero(differ) & ~invalid;
  std::uint8_t outcome = static_cast<std::uint8_t>((invalid & kInvalid) | (inconsistent & kInconsistent));
  declassify(&outcome, sizeof outcome);
  if (outcome == kInvalid) return fail("padding: invalid padding");
  if (outcome == kInconsistent) return fail("padding: inconsistent padding bytes");
  std::size_t removed = static_cast<std::size_t>(p);
  declassify(&removed, sizeof removed);
  data.erase(data.end() - static_cast<std::ptrdiff_t>(removed), data.end());
  return {};
}

}  // namespace tarnwick::padding::pkcs7
