// Helpers shared by the benchmark files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/bytes.h"

namespace tarnwick::bench {

// die reports a set-up failure, a programming error of the benchmark itself.
[[noreturn]] inline void die(const char* what) {
  std::fprintf(stderr, "bench set-up failed: %s\n", what);
  std::abort();
}

// pattern returns `n` deterministic bytes that depend on `seed`.
inline Bytes pattern(std::size_t n, std::uint8_t seed = 0x5a) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + 31 * i);
  return out;
}

}  // namespace tarnwick::bench
