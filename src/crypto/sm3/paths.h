// The SM3 compression paths behind `sm3::compress` and the processor
// features each one needs (internal to src/crypto/sm3; the tests and the
// benchmarks force each path through `cpu::testing::withhold`).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/sm3/sm3.h"
#include "support/cpu.h"

namespace tarnwick::sm3::detail {

// Each path compresses `blocks` blocks at `data` into `v` and clears the
// vector registers it used before it returns; `compress` clears the stack
// they used.
void compress_portable(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept;
void compress_avx2(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept;
void compress_avx512(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept;

inline constexpr std::uint32_t kAvx2Features = cpu::kAvx | cpu::kAvx2 | cpu::kSsse3 | cpu::kBmi2;
inline constexpr std::uint32_t kAvx512Features = kAvx2Features | cpu::kAvx512;

}  // namespace tarnwick::sm3::detail
