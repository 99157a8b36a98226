#include "support/cpu.h"

#include <atomic>

#include <cpuid.h>

namespace tarnwick::cpu {
namespace {

constexpr std::uint32_t kProbedBit = 1u << 31;

std::atomic<std::uint32_t> g_probed{0};
std::atomic<std::uint32_t> g_withheld{0};

std::uint64_t xgetbv0() {
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (std::uint64_t{hi} << 32) | lo;
}

std::uint32_t probe() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return 0;
  __cpuid_count(1, 0, a, b, c, d);
  const unsigned c1 = c;
  __cpuid_count(7, 0, a, b, c, d);
  const unsigned b7 = b;
  const unsigned c7 = c;

  std::uint32_t f = 0;
  if (c1 & bit_SSSE3) f |= kSsse3;
  if (c1 & bit_AES) f |= kAesni;
  if (c1 & bit_PCLMUL) f |= kPclmul;
  if (b7 & bit_BMI2) f |= kBmi2;
  if (b7 & bit_ADX) f |= kAdx;
  if (b7 & bit_SHA) f |= kShaNi;

  // The vector features need the OS to save the registers: XMM and YMM
  // state (XCR0 bits 1, 2), and for AVX-512 the opmask and ZMM state (5-7).
  const bool osxsave = (c1 & bit_OSXSAVE) != 0;
  const std::uint64_t xcr0 = osxsave ? xgetbv0() : 0;
  const bool ymm = (xcr0 & 0x6) == 0x6;
  const bool zmm = ymm && (xcr0 & 0xE0) == 0xE0;
  if (ymm && (c1 & bit_AVX)) {
    f |= kAvx;
    if (b7 & bit_AVX2) f |= kAvx2;
    if (c7 & bit_VAES) f |= kVaes;
    if (c7 & bit_VPCLMULQDQ) f |= kVpclmul;
  }
  // GFNI's SSE forms need only XMM state; its VEX/EVEX forms are gated by
  // the AVX bits above where they are used.
  if (c7 & bit_GFNI) f |= kGfni;
  if (zmm && (b7 & bit_AVX512F) && (b7 & bit_AVX512BW) && (b7 & bit_AVX512VL)) {
    f |= kAvx512;
    if (c7 & bit_AVX512VBMI) f |= kAvx512Vbmi;
  }
  return f;
}

std::uint32_t probed_bits() noexcept {
  std::uint32_t v = g_probed.load(std::memory_order_relaxed);
  if (!(v & kProbedBit)) {
    // Racing first callers compute the same value; any of them may store it.
    v = probe() | kProbedBit;
    g_probed.store(v, std::memory_order_relaxed);
  }
  return v & ~kProbedBit;
}

}  // namespace

std::uint32_t features() noexcept {
  return probed_bits() & ~g_withheld.load(std::memory_order_relaxed);
}

namespace testing {
void withhold(std::uint32_t mask) noexcept { g_withheld.store(mask, std::memory_order_relaxed); }
std::uint32_t probed() noexcept { return probed_bits(); }
}  // namespace testing

}  // namespace tarnwick::cpu
