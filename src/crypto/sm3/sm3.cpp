#include "crypto/sm3/sm3.h"

#include <cstring>
#include <utility>

#include "crypto/sm3/paths.h"
#include "crypto/sm3/rounds.h"
#include "support/cpu.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm3 {
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
inline void rounds(detail::RoundState& r, const std::uint32_t* w, const std::uint32_t* w1,
                   std::integer_sequence<unsigned, I...>) noexcept {
  (detail::four_rounds<4 * I>(r, w, w1), ...);
}

// How much of the stack below `compress` a path may have used: its frame,
// the spilled registers and the red zone. Under 700 bytes in optimised
// builds; unoptimised builds keep every temporary of the unrolled rounds in
// the frame (30 KiB for the vector paths), and AddressSanitizer adds its
// red zones.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kPathStackBytes = 1024;
#else
constexpr std::size_t kPathStackBytes = 64 * 1024;
#endif

// clear_path_stack zeroes the stack a compression path just used: called
// from the same frame as the path, its own frame lies where the path's did.
[[gnu::noinline]] void clear_path_stack() noexcept {
  std::uint8_t area[kPathStackBytes];
  wipe(area);
  __asm__ volatile("" : : "r"(area) : "memory");
}

}  // namespace

namespace detail {

void compress_portable(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  for (std::size_t n = 0; n < blocks; ++n, data += 64) {
    std::uint32_t w[68], w1[64];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(data + 4 * i);
    expand(w, std::make_integer_sequence<unsigned, 52>{});
    for (int i = 0; i < 64; ++i) w1[i] = w[i] ^ w[i + 4];
    RoundState r;
    start(r, v);
    rounds(r, w, w1, std::make_integer_sequence<unsigned, 16>{});
    for (int i = 0; i < 8; ++i) v[i] ^= r[i];
  }
#if defined(__x86_64__)
  // The compiler may have vectorised the expansion into SSE registers.
  __asm__ volatile(
      "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\tpxor %%xmm3, %%xmm3\n\t"
      "pxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\tpxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\t"
      "pxor %%xmm8, %%xmm8\n\tpxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
      "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\tpxor %%xmm15, %%xmm15"
      :
      :
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
        "xmm12", "xmm13", "xmm14", "xmm15");
#endif
}

}  // namespace detail

namespace {

// compress_blocks runs the fastest path the processor offers; the paths in
// order of speed, fastest first, as measured on a processor that runs all
// three (bench/sm4_table.sh). Inlined, so that the paths run one call below
// the caller and the caller's `clear_path_stack` covers them.
[[gnu::always_inline]] inline void compress_blocks(ChainingValue& v, const std::uint8_t* data,
                                                   std::size_t blocks) noexcept {
  if (blocks == 0) return;
  if (cpu::has(detail::kAvx512Features)) {
    detail::compress_avx512(v, data, blocks);
  } else if (cpu::has(detail::kAvx2Features)) {
    detail::compress_avx2(v, data, blocks);
  } else {
    detail::compress_portable(v, data, blocks);
  }
}

}  // namespace

void compress(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  if (blocks == 0) return;
  compress_blocks(v, data, blocks);
  clear_path_stack();
}

void finish(const ChainingValue& prefix, std::uint64_t absorbed, const std::uint8_t* tail, std::size_t n,
            std::uint8_t out[32]) noexcept {
  const std::size_t k = n / 64;
  const std::size_t r = n % 64;
  Wiped<ChainingValue> v;
  v.value = prefix;
  compress_blocks(v.value, tail, k);
  Wiped<std::uint8_t[128]> buf;
  if (r > 0) std::memcpy(buf.value, tail + 64 * k, r);
  buf.value[r] = 0x80;
  // Message length in bits, modulo 2^64.
  const std::uint64_t bits = (absorbed + static_cast<std::uint64_t>(n)) * 8u;
  const std::size_t final_blocks = r <= 55 ? 1 : 2;
  store_be64(buf.value + 64 * final_blocks - 8, bits);
  compress_blocks(v.value, buf.value, final_blocks);
  // Once for both runs of the compression.
  clear_path_stack();
  for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, v.value[static_cast<std::size_t>(i)]);
}

Bytes digest(ByteView data) {
  Bytes out(32);
  finish(kInitialValue, 0, data.data(), data.size(), out.data());
  return out;
}

}  // namespace tarnwick::sm3
