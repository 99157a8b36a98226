// The processor-feature probe: CPUID (and XGETBV for the register state the
// operating system saves) read once per process and cached in an atomic.
// Every fast path asks `cpu::has` at its one dispatch point.
#pragma once

#include <cstdint>

namespace tarnwick::cpu {

// Feature bits. A bit is set only when the processor has the instructions
// and the operating system saves the registers they use.
enum Feature : std::uint32_t {
  kSsse3 = 1u << 0,
  kAesni = 1u << 1,       // AES-NI
  kPclmul = 1u << 2,      // PCLMULQDQ
  kAvx = 1u << 3,
  kAvx2 = 1u << 4,
  kBmi2 = 1u << 5,        // MULX, RORX, SHRX
  kAdx = 1u << 6,         // ADCX, ADOX
  kAvx512 = 1u << 7,      // AVX-512 F, BW and VL together
  kAvx512Vbmi = 1u << 8,
  kGfni = 1u << 9,
  kVaes = 1u << 10,
  kVpclmul = 1u << 11,    // VPCLMULQDQ
  kShaNi = 1u << 12,
};

// features returns the probed feature bits minus any withheld by
// `testing::withhold`.
std::uint32_t features() noexcept;

// has reports whether every bit of `wanted` is available.
inline bool has(std::uint32_t wanted) noexcept { return (features() & wanted) == wanted; }

namespace testing {
// withhold hides `mask` from `features` process-wide (0 restores every
// feature), so that tests and benchmarks can run each portable and fast path
// on one machine. Not reachable from JavaScript.
void withhold(std::uint32_t mask) noexcept;

// probed returns what the processor offers, ignoring `withhold`.
std::uint32_t probed() noexcept;
}  // namespace testing

}  // namespace tarnwick::cpu
