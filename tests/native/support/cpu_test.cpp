#include "support/cpu.h"

#include <cpuid.h>
#include <gtest/gtest.h>

namespace tarnwick::cpu {
namespace {

// The probe agrees with the compiler runtime's own reading of CPUID.
TEST(Cpu, ProbeAgreesWithCompilerRuntime) {
  __builtin_cpu_init();
  struct Case { const char* name; std::uint32_t bit; bool runtime; };
  const Case cases[] = {
      {"ssse3", kSsse3, __builtin_cpu_supports("ssse3") != 0},
      {"aes", kAesni, __builtin_cpu_supports("aes") != 0},
      {"pclmul", kPclmul, __builtin_cpu_supports("pclmul") != 0},
      {"avx2", kAvx2, __builtin_cpu_supports("avx2") != 0},
      {"bmi2", kBmi2, __builtin_cpu_supports("bmi2") != 0},
      {"gfni", kGfni, __builtin_cpu_supports("gfni") != 0},
      {"vaes", kVaes, __builtin_cpu_supports("vaes") != 0},
      {"vpclmulqdq", kVpclmul, __builtin_cpu_supports("vpclmulqdq") != 0},
      {"avx512", kAvx512,
       __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((testing::probed() & c.bit) != 0, c.runtime);
  }
}

TEST(Cpu, WithholdHidesAndRestores) {
  const std::uint32_t all = testing::probed();
  testing::withhold(kAvx2 | kGfni);
  EXPECT_EQ(features(), all & ~(kAvx2 | kGfni));
  EXPECT_FALSE(has(kAvx2));
  testing::withhold(0);
  EXPECT_EQ(features(), all);
}

}  // namespace
}  // namespace tarnwick::cpu
