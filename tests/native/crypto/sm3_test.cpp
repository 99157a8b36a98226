#include "crypto/sm3/sm3.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include "support/cpu.h"
#include "support/hex.h"

namespace tarnwick::sm3 {
namespace {

Bytes of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes openssl_sm3(ByteView data) {
  Bytes out(32);
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sm3(), nullptr), 1);
  EXPECT_EQ(len, 32u);
  return out;
}

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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hex::encode(digest(of(c.msg))), c.digest_hex);
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

// Both compressions (the portable one, and the one with the message
// expansion in vector registers) against OpenSSL, at every length up to
// four blocks and at a few long ones, and split calls against one call.
TEST(Sm3Compress, EveryPathAgreesWithOpenSsl) {
  struct Path {
    const char* name;
    std::uint32_t withheld;
    std::uint32_t needs;
  };
  const Path paths[] = {
      {"portable", ~std::uint32_t{0}, 0},
      {"avx2", 0, cpu::kAvx | cpu::kAvx2 | cpu::kSsse3 | cpu::kBmi2},
  };
  std::mt19937 rng(3);
  Bytes msg(70000);
  for (auto& b : msg) b = static_cast<std::uint8_t>(rng());
  struct Restore {
    ~Restore() { cpu::testing::withhold(0); }
  } restore;
  for (const Path& p : paths) {
    SCOPED_TRACE(p.name);
    if ((cpu::testing::probed() & p.needs) != p.needs) continue;
    cpu::testing::withhold(p.withheld);
    for (std::size_t len = 0; len <= 256; ++len) {
      const ByteView m(msg.data(), len);
      ASSERT_EQ(digest(m), openssl_sm3(m)) << len;
    }
    for (std::size_t len : {1000u, 1024u, 16384u, 65537u}) {
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

}  // namespace
}  // namespace tarnwick::sm3
