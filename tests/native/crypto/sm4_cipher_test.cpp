#include "crypto/sm4/cipher.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "../common/peer.h"
#include "../common/sm4_schedule.h"

namespace tarnwick::sm4 {
namespace {

using testing::evp_crypt;
using testing::pattern;
using testing::schedule_of;
using testing::tohex;
using testing::unhex;

// GB/T 32907-2016 Appendix A, example 1. Example 2, a million encryptions
// in a row, runs on each vector path in sm4_paths_test.cpp.
TEST(Sm4Block, StandardExample) {
  const auto s = schedule_of(unhex("0123456789abcdeffedcba9876543210"));
  const Bytes plain = unhex("0123456789abcdeffedcba9876543210");

  auto once = cipher::encrypt_block(s, plain);
  ASSERT_TRUE(once.has_value());
  EXPECT_EQ(tohex(*once), "681edf34d206965e86b3e94f536e4246");
  auto back = cipher::decrypt_block(s, *once);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(tohex(*back), tohex(plain));
}

TEST(Sm4Block, RejectsWrongLengths) {
  for (std::size_t n : {0u, 1u, 15u, 17u, 32u}) {
    SCOPED_TRACE(n);
    auto s = cipher::key_schedule(Bytes(n, 0x11));
    ASSERT_FALSE(s.has_value());
    EXPECT_EQ(s.error(), Sm4Error::InvalidBlockSize);
    EXPECT_EQ(display(s.error()), "the block size of SM4 must be 16");

    auto e = cipher::encrypt_block(schedule_of(unhex("00112233445566778899aabbccddeeff")), Bytes(n, 0x22));
    ASSERT_FALSE(e.has_value());
    EXPECT_EQ(e.error(), Sm4Error::InvalidBlockSize);
  }
}

// Many keys and blocks against OpenSSL's SM4, which exercises every S-box
// entry and both directions.
TEST(Sm4Block, AgreesWithOpenSsl) {
  for (unsigned seed = 1; seed <= 64; ++seed) {
    const Bytes key = pattern(16, seed);
    const Bytes data = pattern(16 * 64, seed + 1000);
    const auto s = cipher::key_schedule(key);
    ASSERT_TRUE(s.has_value());
    auto ours = cipher::encrypt_ecb(*s, data);
    ASSERT_TRUE(ours.has_value());
    const Bytes peer = evp_crypt(EVP_sm4_ecb(), true, key, {}, data, false);
    ASSERT_EQ(tohex(*ours), tohex(peer)) << "seed " << seed;
    auto back = cipher::decrypt_ecb(*s, *ours);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(*back, data);
  }
}

TEST(Sm4Ecb, WholeBlocksOnly) {
  const Bytes key = unhex("0123456789abcdeffedcba9876543210");
  const auto s = schedule_of(unhex("0123456789abcdeffedcba9876543210"));
  const Bytes data = pattern(40);
  struct Case {
    std::size_t len;
    std::size_t out;
  };
  for (const Case c : {Case{0, 0}, Case{1, 0}, Case{15, 0}, Case{16, 16}, Case{20, 16}, Case{33, 32}, Case{40, 32}}) {
    SCOPED_TRACE(c.len);
    const ByteView in(data.data(), c.len);
    const ByteView whole(data.data(), c.out);
    auto enc = cipher::encrypt_ecb(s, in);
    ASSERT_TRUE(enc.has_value());
    EXPECT_EQ(tohex(*enc), tohex(evp_crypt(EVP_sm4_ecb(), true, key, {}, whole, false)));
    auto dec = cipher::decrypt_ecb(s, in);
    ASSERT_TRUE(dec.has_value());
    EXPECT_EQ(tohex(*dec), tohex(evp_crypt(EVP_sm4_ecb(), false, key, {}, whole, false)));
  }
}

TEST(Sm4Ecb, EqualBlocksGiveEqualCiphertext) {
  const auto s = schedule_of(unhex("00112233445566778899aabbccddeeff"));
  Bytes data = pattern(48);
  std::copy(data.begin(), data.begin() + 16, data.begin() + 32);
  auto enc = cipher::encrypt_ecb(s, data);
  ASSERT_TRUE(enc.has_value());
  EXPECT_TRUE(std::equal(enc->begin(), enc->begin() + 16, enc->begin() + 32));
  EXPECT_FALSE(std::equal(enc->begin(), enc->begin() + 16, enc->begin() + 16));
}

}  // namespace
}  // namespace tarnwick::sm4
