#include "crypto/sm3/sm3.h"

#include <cstring>
#include <utility>

#include "crypto/sm3/rounds.h"
#include "support/cpu.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm3 {
namespace detail {

// The compression with the message expansion in vector registers
// (sm3_avx2.cpp), and the processor features it runs on.
void compress_avx2(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept;
inline constexpr std::uint32_t kAvx2Features = cpu::kAvx | cpu::kAvx2 | cpu::kSsse3 | cpu::kBmi2;

}  // namespace detail

namespace {

using detail::p1;
using detail::rotl;

// Message expansion W16..W67 and W′0..W′63, unrolled: as a loop, GCC
// vectorises it into overlapping loads that stall on the stores three
// words back.
template <unsigned... I>
inline void expand(std::uint32_t* w, std::integer_sequence<unsigned, I...>) noexcept {
  ((w[I + 16] = p1(w[I] ^ w[I + 7] ^ rotl(w[I + 13], 15)) ^ rotl(w[I + 3], 7) ^ w[I + 10]), ...);
}

template <unsigned... I>
inline void rounds(std::uint32_t (&r)[8], const std::uint32_t* w, const std::uint32_t* w1,
                   std::integer_sequence<unsigned, I...>) noexcept {
  (detail::four_rounds<4 * I>(r, w, w1), ...);
}

void compress_portable(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  for (std::size_t n = 0; n < blocks; ++n, data += 64) {
    std::uint32_t w[68], w1[64];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(data + 4 * i);
    expand(w, std::make_integer_sequence<unsigned, 52>{});
    for (int i = 0; i < 64; ++i) w1[i] = w[i] ^ w[i + 4];
    std::uint32_t r[8] = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
    rounds(r, w, w1, std::make_integer_sequence<unsigned, 16>{});
    for (int i = 0; i < 8; ++i) v[i] ^= r[i];
  }
}

}  // namespace

void compress(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  if (blocks == 0) return;
  if (cpu::has(detail::kAvx2Features)) {
    detail::compress_avx2(v, data, blocks);
  } else {
    compress_portable(v, data, blocks);
  }
}

void finish(ChainingValue v, std::uint64_t absorbed, const std::uint8_t* tail, std::size_t n,
            std::uint8_t out[32]) noexcept {
  const std::size_t k = n / 64;
  const std::size_t r = n % 64;
  compress(v, tail, k);
  Wiped<std::uint8_t[128]> buf;
  if (r > 0) std::memcpy(buf.value, tail + 64 * k, r);
  buf.value[r] = 0x80;
  // Message length in bits, modulo 2^64.
  const std::uint64_t bits = (absorbed + static_cast<std::uint64_t>(n)) * 8u;
  const std::size_t final_blocks = r <= 55 ? 1 : 2;
  store_be64(buf.value + 64 * final_blocks - 8, bits);
  compress(v, buf.value, final_blocks);
  for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, v[static_cast<std::size_t>(i)]);
}

Bytes digest(ByteView data) {
  Bytes out(32);
  finish(kInitialValue, 0, data.data(), data.size(), out.data());
  return out;
}

}  // namespace tarnwick::sm3
