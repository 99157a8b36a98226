#include "crypto/sm3/sm3.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include "../common/peer.h"
#include "../common/stack_probe.h"
#include "crypto/sm3/paths.h"
#include "support/cpu.h"
#include "support/hex.h"

namespace tarnwick::sm3 {
namespace {

using testing::openssl_sm3;

Bytes of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// Every compression path, forced by withholding the features of the faster
// ones; the first row is what the dispatcher picks when AVX-512 is there.
struct Path {
  const char* name;
  std::uint32_t withheld;
  std::uint32_t needs;
};
constexpr Path kPaths[] = {
    {"avx512", 0, detail::kAvx512Features},
    {"avx2", cpu::kAvx512, detail::kAvx2Features},
    {"portable", ~std::uint32_t{0}, 0},
};

bool runs_here(const Path& p) { return (cpu::testing::probed() & p.needs) == p.needs; }

// Forced selects one path for its scope.
struct Forced {
  explicit Forced(const Path& p) { cpu::testing::withhold(p.withheld); }
  ~Forced() { cpu::testing::withhold(0); }
  Forced(const Forced&) = delete;
  Forced& operator=(const Forced&) = delete;
};

TEST(Sm3Digest, StandardExamples) {
  struct Case {
    const char* name;
    std::string msg;
    const char* digest_hex;
  };
  std::string abcd16;
  for (int i = 0; i < 16; ++i) abcd16 += "abcd";
  const Case cases[] = {
      {"gbt32905_abc", "abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
      {"gbt32905_abcd_x16", abcd16, "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
      {"empty", "", "1ab21d8355cfa17f8e61194831e81a8f22bec8c728fefb747ed035eb5082aa2b"},
  };
  for (const Path& p : kPaths) {
    if (!runs_here(p)) continue;
    const Forced forced(p);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(p.name) + " " + c.name);
      EXPECT_EQ(hex::encode(digest(of(c.msg))), c.digest_hex);
    }
  }
}

// Lengths around the padding boundaries: 55 fits one final block, 56 and 63
// need two, 64 is a whole block plus a padding block.
TEST(Sm3Digest, PaddingBoundariesMatchOpenSsl) {
  std::mt19937 rng(7);
  for (std::size_t len : {1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
    SCOPED_TRACE(len);
    Bytes msg(len);
    for (auto& b : msg) b = static_cast<std::uint8_t>(rng());
    const Bytes got = digest(msg);
    EXPECT_EQ(got.size(), 32u);
    EXPECT_EQ(got, openssl_sm3(msg));
  }
}

TEST(Sm3Digest, OneMebibyteMatchesOpenSsl) {
  Bytes msg(1 << 20);
  std::mt19937 rng(11);
  for (auto& b : msg) b = static_cast<std::uint8_t>(rng());
  EXPECT_EQ(digest(msg), openssl_sm3(msg));
}

TEST(Sm3Compress, SplitCallsEqualOneCall) {
  Bytes msg(64 * 5);
  for (std::size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<std::uint8_t>(i * 7 + 1);
  ChainingValue one = kInitialValue;
  compress(one, msg.data(), 5);
  ChainingValue split = kInitialValue;
  compress(split, msg.data(), 2);
  compress(split, msg.data() + 128, 3);
  EXPECT_EQ(one, split);
  ChainingValue none = kInitialValue;
  compress(none, msg.data(), 0);
  EXPECT_EQ(none, kInitialValue);
}

// Every path against OpenSSL at every length up to four blocks and at long
// ones (around the padding boundaries, and not a whole number of blocks),
// and split calls against one call.
TEST(Sm3Compress, EveryPathAgreesWithOpenSsl) {
  const Bytes msg = random_bytes(70000, 3);
  for (const Path& p : kPaths) {
    SCOPED_TRACE(p.name);
    if (!runs_here(p)) continue;
    const Forced forced(p);
    for (std::size_t len = 0; len <= 256; ++len) {
      const ByteView m(msg.data(), len);
      ASSERT_EQ(digest(m), openssl_sm3(m)) << len;
    }
    for (std::size_t len : {1000u, 1024u, 16384u, 16387u, 65537u}) {
      const ByteView m(msg.data(), len);
      ASSERT_EQ(digest(m), openssl_sm3(m)) << len;
    }
    ChainingValue one = kInitialValue, split = kInitialValue;
    compress(one, msg.data(), 7);
    compress(split, msg.data(), 3);
    compress(split, msg.data() + 192, 4);
    EXPECT_EQ(one, split);
  }
}

// Each vector path called directly against the portable one, from random
// chaining values, over runs of 1 to 20 blocks at unaligned addresses.
TEST(Sm3Compress, VectorPathsMatchPortable) {
  using Fn = void (*)(ChainingValue&, const std::uint8_t*, std::size_t) noexcept;
  struct Direct {
    const char* name;
    Fn fn;
    std::uint32_t needs;
  };
  const Direct paths[] = {
      {"avx512", detail::compress_avx512, detail::kAvx512Features},
      {"avx2", detail::compress_avx2, detail::kAvx2Features},
  };
  const Bytes msg = random_bytes(64 * 20 + 3, 5);
  std::mt19937 rng(9);
  for (const Direct& d : paths) {
    SCOPED_TRACE(d.name);
    if ((cpu::testing::probed() & d.needs) != d.needs) continue;
    for (std::size_t blocks = 1; blocks <= 20; ++blocks) {
      ChainingValue start;
      for (auto& x : start) x = static_cast<std::uint32_t>(rng());
      const std::uint8_t* data = msg.data() + blocks % 4;
      ChainingValue want = start, got = start;
      detail::compress_portable(want, data, blocks);
      d.fn(got, data, blocks);
      ASSERT_EQ(got, want) << blocks;
    }
  }
}

// Hashing a secret the way SM2 hashes x2 ‖ M ‖ y2 (one call of `digest`, a
// whole block and a padded tail) or a longer one leaves no 16-byte window of
// it, plain or as big-endian words, in the stack below the call.
TEST(Sm3Stack, HashingLeavesNoWindowOfTheMessage) {
  namespace probe = testing::stack_probe;
  if (!probe::supported()) GTEST_SKIP() << "frames live on AddressSanitizer's fake stack";
  for (std::size_t size : {100u, 300u}) {
    const Bytes secret = random_bytes(size, 20 + static_cast<unsigned>(size));
    ASSERT_TRUE(probe::control(secret)) << "the probe cannot see a secret planted on the stack";
    const Bytes want = openssl_sm3(secret);
    for (const Path& p : kPaths) {
      SCOPED_TRACE(std::string(p.name) + ", " + std::to_string(size) + " bytes");
      if (!runs_here(p)) continue;
      const Forced forced(p);
      Bytes got;
      const probe::Scan scan = probe::scan_after(secret, [&] { got = digest(secret); });
      EXPECT_TRUE(scan.clean()) << scan.describe();
      EXPECT_EQ(got, want);
    }
  }
}

}  // namespace
}  // namespace tarnwick::sm3
