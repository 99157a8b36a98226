#include "stack_probe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tarnwick::testing::stack_probe {
namespace {

std::vector<std::uint8_t> random_secret(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> s(n);
  for (auto& b : s) b = static_cast<std::uint8_t>(rng());
  return s;
}

// Planters leave part of a secret in their own dead frame, one way each.
[[gnu::noinline]] void plant_bytes(std::span<const std::uint8_t> s, std::size_t from, std::size_t n) {
  volatile std::uint8_t frame[512];
  for (std::size_t i = 0; i < n; ++i) frame[100 + i] = s[from + i];
  asm volatile("" : : "r"(frame) : "memory");
}

[[gnu::noinline]] void plant_words(std::span<const std::uint8_t> s, std::size_t from, std::size_t words) {
  volatile std::uint32_t frame[128];
  for (std::size_t i = 0; i < words; ++i) {
    const std::uint8_t* p = s.data() + from + 4 * i;
    frame[20 + i] = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
  }
  asm volatile("" : : "r"(frame) : "memory");
}

[[gnu::noinline]] void fill_unrelated() {
  volatile std::uint8_t frame[4096];
  for (std::size_t i = 0; i < sizeof frame; ++i) frame[i] = static_cast<std::uint8_t>(i * 7 + 3);
  asm volatile("" : : "r"(frame) : "memory");
}

struct Expect {
  std::size_t byte_windows;
  std::size_t word_windows;
};

Expect count(const Scan& scan) {
  Expect e{0, 0};
  for (const Find& f : scan.finds) (f.word_swapped ? e.word_windows : e.byte_windows)++;
  return e;
}

TEST(StackProbe, FindsWhatACallLeftAndOnlyThat) {
  if (!supported()) GTEST_SKIP() << "frames live on AddressSanitizer's fake stack";
  const std::vector<std::uint8_t> secret = random_secret(100, 1);
  const std::span<const std::uint8_t> s(secret);
  struct Case {
    const char* name;
    void (*plant)(std::span<const std::uint8_t>);
    Expect want;
  };
  const Case cases[] = {
      // 40 bytes hold 25 windows of 16.
      {"bytes", [](std::span<const std::uint8_t> x) { plant_bytes(x, 10, 40); }, {25, 0}},
      // One byte short of a window.
      {"15 bytes", [](std::span<const std::uint8_t> x) { plant_bytes(x, 10, 15); }, {0, 0}},
      // Ten words read from offset 33 (phase 1): seven runs of four.
      {"words, phase 1", [](std::span<const std::uint8_t> x) { plant_words(x, 33, 10); }, {0, 7}},
      {"words, phase 0", [](std::span<const std::uint8_t> x) { plant_words(x, 0, 4); }, {0, 1}},
      {"unrelated data", [](std::span<const std::uint8_t>) { fill_unrelated(); }, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Expect got = count(scan_after(s, [&] { c.plant(s); }));
    EXPECT_EQ(got.byte_windows, c.want.byte_windows);
    EXPECT_EQ(got.word_windows, c.want.word_windows);
  }
}

TEST(StackProbe, ReportsWhereEachWindowStarts) {
  if (!supported()) GTEST_SKIP() << "frames live on AddressSanitizer's fake stack";
  const std::vector<std::uint8_t> secret = random_secret(64, 2);
  const std::span<const std::uint8_t> s(secret);
  const Scan scan = scan_after(s, [&] { plant_words(s, 6, 4); });
  ASSERT_EQ(scan.finds.size(), 1u) << scan.describe();
  EXPECT_TRUE(scan.finds[0].word_swapped);
  EXPECT_EQ(scan.finds[0].secret_offset, 6u);
}

// What an earlier call left at the same depth is cleared before the call
// under test runs, so it is not blamed on it.
TEST(StackProbe, EarlierCallsAreNotCounted) {
  if (!supported()) GTEST_SKIP() << "frames live on AddressSanitizer's fake stack";
  const std::vector<std::uint8_t> secret = random_secret(100, 3);
  ASSERT_TRUE(control(secret));
  EXPECT_TRUE(scan_after(secret, [] {}).clean());
}

TEST(StackProbe, ShortSecretIsLookedForWhole) {
  if (!supported()) GTEST_SKIP() << "frames live on AddressSanitizer's fake stack";
  const std::vector<std::uint8_t> secret = random_secret(10, 4);
  EXPECT_TRUE(control(secret));
}

}  // namespace
}  // namespace tarnwick::testing::stack_probe
