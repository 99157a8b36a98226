#include "crypto/padding/pkcs7.h"

#include <algorithm>

#include "support/ct.h"

namespace tarnwick::padding::pkcs7 {

namespace {

constexpr std::size_t kBlock = 16;
// The largest padding length one byte can state.
constexpr std::size_t kMaxPad = 255;

// below returns all ones when `a` < `b`, both under 2^63.
inline std::uint64_t below(std::uint64_t a, std::uint64_t b) noexcept { return ct::value_barrier(0 - ((a - b) >> 63)); }

// nonzero returns all ones when `v` ≠ 0, `v` under 2^63.
inline std::uint64_t nonzero(std::uint64_t v) noexcept { return below(0, v); }

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
    const std::uint64_t in_pad = ~below(p, ct::value_barrier(i));
    differ |= (data[n - i] ^ p) & in_pad;
  }
  const std::uint64_t invalid = ~nonzero(p) | below(n, p);
  const std::uint64_t inconsistent = nonzero(differ) & ~invalid;
  std::uint8_t outcome = static_cast<std::uint8_t>((invalid & kInvalid) | (inconsistent & kInconsistent));
  // The outcome is public (the caller sees it), and so is the length removed
  // on success (the result's length shows it).
  ct::declassify(&outcome, sizeof outcome);
  if (outcome == kInvalid) return fail("padding: invalid padding");
  if (outcome == kInconsistent) return fail("padding: inconsistent padding bytes");
  std::size_t removed = static_cast<std::size_t>(p);
  ct::declassify(&removed, sizeof removed);
  data.erase(data.end() - static_cast<std::ptrdiff_t>(removed), data.end());
  return {};
}

}  // namespace tarnwick::padding::pkcs7
