// A probe for secrets left in dead stack frames.
//
// `stack_probe::scan_after(secret, fn)` zeroes the 64 KiB of stack below
// itself, runs `fn` one call below itself, then takes an uninitialised 64 KiB frame at the same depth, so that the
// frame covers what `fn` and everything it called left below the stack
// pointer, and searches it for windows of `secret`:
//  - every `kWindow`-byte window of `secret`, as bytes;
//  - every `kWindow`-byte run of whole big-endian words read from `secret`
//    at each of the four byte phases and stored in host order, which is how
//    a hash that loads its message as big-endian words leaves it.
//
// A secret shorter than a window is looked for whole, as bytes only. The
// secret must look random: a window of repeated bytes matches stale zeros.
//
// Each test runs the positive control too (`control`, which plants the
// secret with `plant_on_stack`) and requires it to be found, so a probe that
// cannot see the frames fails instead of passing. Where the frames are known
// to be out of its sight (AddressSanitizer running with fake stacks for
// use-after-return detection), `supported` is false and the test skips.
//
// The frame is read with volatile loads after an empty asm statement that
// claims to write it, so the compiler performs every load and the sanitizers
// see no read of an uninitialised object. Under valgrind's memcheck the copy
// is marked defined before it is compared.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define TARNWICK_STACK_PROBE_DEFINED(p, n) VALGRIND_MAKE_MEM_DEFINED(p, n)
#else
#define TARNWICK_STACK_PROBE_DEFINED(p, n) ((void)(p), (void)(n))
#endif

#if defined(__SANITIZE_ADDRESS__)
extern "C" void* __asan_get_current_fake_stack();
#endif

namespace tarnwick::testing::stack_probe {

inline constexpr std::size_t kWindow = 16;
inline constexpr std::size_t kFrameBytes = 64 * 1024;

// Find is one window of the secret seen in the dead frame.
struct Find {
  std::size_t secret_offset;  // where the window starts in the secret
  bool word_swapped;          // found as host-order words, not as bytes
  std::size_t frame_offset;   // where it was seen in the probed frame
};

// Scan lists every distinct window found, at most once each.
struct Scan {
  std::vector<Find> finds;

  bool clean() const { return finds.empty(); }

  // describe names each find, for a failure message.
  std::string describe() const {
    std::string text = std::to_string(finds.size()) + " window(s) of the secret on the stack:";
    for (const Find& f : finds)
      text += "\n  window at secret[" + std::to_string(f.secret_offset) + "]" +
              (f.word_swapped ? " as host-order words" : " as bytes") + " at frame offset " +
              std::to_string(f.frame_offset);
    return text;
  }
};

namespace detail {

using Window = std::array<std::uint8_t, kWindow>;

struct Pattern {
  Window bytes;
  std::size_t secret_offset;
  bool word_swapped;
  bool operator<(const Pattern& o) const { return bytes < o.bytes; }
};

inline std::size_t window_for(std::span<const std::uint8_t> secret) { return std::min(kWindow, secret.size()); }

// patterns lists the windows to look for, sorted by content; bytes past a
// short window are zero.
inline std::vector<Pattern> patterns(std::span<const std::uint8_t> secret) {
  std::vector<Pattern> out;
  const std::size_t window = window_for(secret);
  if (window == 0) return out;
  for (std::size_t i = 0; i + window <= secret.size(); ++i) {
    Pattern p{};
    std::memcpy(p.bytes.data(), secret.data() + i, window);
    p.secret_offset = i;
    p.word_swapped = false;
    out.push_back(p);
  }
  if (window < kWindow) {
    std::sort(out.begin(), out.end());
    return out;
  }
  // Whole words at every byte phase: windows start at i ≡ phase (mod 4).
  for (std::size_t i = 0; i + kWindow <= secret.size(); ++i) {
    Pattern p{};
    for (std::size_t w = 0; w < kWindow; w += 4)
      for (std::size_t k = 0; k < 4; ++k) p.bytes[w + k] = secret[i + w + 3 - k];
    p.secret_offset = i;
    p.word_swapped = true;
    out.push_back(p);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// search looks for every pattern in `frame`.
inline Scan search(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> secret) {
  const std::vector<Pattern> wanted = patterns(secret);
  const std::size_t window = window_for(secret);
  Scan scan;
  std::vector<bool> seen(wanted.size(), false);
  for (std::size_t at = 0; window != 0 && at + window <= frame.size(); ++at) {
    Pattern key{};
    std::memcpy(key.bytes.data(), frame.data() + at, window);
    auto [lo, hi] = std::equal_range(wanted.begin(), wanted.end(), key);
    for (auto it = lo; it != hi; ++it) {
      const std::size_t index = static_cast<std::size_t>(it - wanted.begin());
      if (seen[index]) continue;
      seen[index] = true;
      scan.finds.push_back({it->secret_offset, it->word_swapped, at});
    }
  }
  std::sort(scan.finds.begin(), scan.finds.end(), [](const Find& a, const Find& b) {
    return a.word_swapped != b.word_swapped ? b.word_swapped : a.secret_offset < b.secret_offset;
  });
  return scan;
}

// scrub zeroes 64 KiB below its caller, so that a scan sees only what the
// call under test left, not what earlier calls at this depth did.
[[gnu::noinline]] inline void scrub() {
  alignas(64) volatile std::uint8_t frame[kFrameBytes];
  for (std::size_t i = 0; i < kFrameBytes; ++i) frame[i] = 0;
  asm volatile("" : : "r"(frame) : "memory");
}

// run calls `fn` in a frame of its own, below the caller of `scan_after`.
template <class Fn>
[[gnu::noinline]] void run(Fn& fn) {
  fn();
  asm volatile("" ::: "memory");
}

// read_dead_frame copies an uninitialised 64 KiB frame (what earlier calls
// at this depth left there) to the heap, then searches the copy. The heap
// buffer is allocated below the frame, so the allocation does not disturb
// it.
[[gnu::noinline]] inline Scan read_dead_frame(std::span<const std::uint8_t> secret) {
  alignas(64) volatile std::uint8_t frame[kFrameBytes];
  asm volatile("" : : "r"(frame) : "memory");
  std::vector<std::uint8_t> copy(kFrameBytes);
  for (std::size_t i = 0; i < kFrameBytes; ++i) copy[i] = frame[i];
  TARNWICK_STACK_PROBE_DEFINED(copy.data(), copy.size());
  return search(copy, secret);
}

}  // namespace detail

// scan_after zeroes the dead stack below this call, runs `fn` and returns
// the windows of `secret` found there afterwards. `secret` itself must not live on the
// stack below the caller (keep it in the caller's frame or on the heap).
template <class Fn>
[[gnu::noinline]] Scan scan_after(std::span<const std::uint8_t> secret, Fn&& fn) {
  detail::scrub();
  detail::run(fn);
  return detail::read_dead_frame(secret);
}

// plant_on_stack leaves `secret` (up to 256 bytes) in its own dead frame, as
// bytes and, after them, as host-order big-endian words: the positive
// control for `scan_after`.
[[gnu::noinline]] inline void plant_on_stack(std::span<const std::uint8_t> secret) {
  volatile std::uint8_t bytes[256];
  volatile std::uint32_t words[64];
  const std::size_t n = std::min<std::size_t>(secret.size(), sizeof bytes);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = secret[i];
  for (std::size_t i = 0; i + 4 <= n; i += 4)
    words[i / 4] = std::uint32_t{secret[i]} << 24 | std::uint32_t{secret[i + 1]} << 16 |
                   std::uint32_t{secret[i + 2]} << 8 | secret[i + 3];
  asm volatile("" : : "r"(bytes), "r"(words) : "memory");
}

// supported is false where the probe cannot see dead frames by design:
// AddressSanitizer with fake stacks moves every instrumented frame off the
// thread's stack.
inline bool supported() {
#if defined(__SANITIZE_ADDRESS__)
  if (__asan_get_current_fake_stack() != nullptr) return false;
#endif
  return true;
}

// control runs the positive control: the secret planted by `plant_on_stack`
// must be found, as bytes and (for 16 bytes or more) as words.
inline bool control(std::span<const std::uint8_t> secret) {
  const Scan scan = scan_after(secret, [&] { plant_on_stack(secret); });
  bool bytes = false, words = false;
  for (const Find& f : scan.finds) (f.word_swapped ? words : bytes) = true;
  return bytes && (words || secret.size() < kWindow);
}

}  // namespace tarnwick::testing::stack_probe
