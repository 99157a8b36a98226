#include "crypto/sm4/cipher_mode.h"

#include <gtest/gtest.h>

#include <string>

#include "../common/peer.h"
#include "../common/sm4_schedule.h"

namespace tarnwick::sm4 {
namespace {

using testing::evp_crypt;
using testing::pattern;
using testing::tohex;
using testing::unhex;

const Bytes kKey = unhex("0123456789abcdeffedcba9876543210");
const Bytes kIv = unhex("00112233445566778899aabbccddeeff");
constexpr std::size_t kLengths[] = {0, 1, 15, 16, 17, 31, 33, 1000};

Sm4ModeCipher make(Sm4Mode mode, const Bytes& key = kKey) { return {testing::schedule_of(key), mode}; }

struct StreamMode {
  const char* name;
  Sm4Mode mode;
  const EVP_CIPHER* (*peer)();
};
const StreamMode kStreamModes[] = {
    {"cfb", Sm4Mode::Cfb, EVP_sm4_cfb128},
    {"ofb", Sm4Mode::Ofb, EVP_sm4_ofb},
    {"ctr", Sm4Mode::Ctr, EVP_sm4_ctr},
};

// CFB, OFB and CTR keep the length and agree with OpenSSL's SM4 in both
// directions.
TEST(Sm4Modes, StreamModesAgreeWithOpenSsl) {
  for (const StreamMode& m : kStreamModes) {
    const Sm4ModeCipher c = make(m.mode);
    for (std::size_t n : kLengths) {
      SCOPED_TRACE(std::string(m.name) + " len " + std::to_string(n));
      const Bytes data = pattern(n, static_cast<unsigned>(n) + 3);
      auto enc = cipher_mode::encrypt(c, {}, data, kIv);
      ASSERT_TRUE(enc.has_value());
      EXPECT_EQ(tohex(*enc), tohex(evp_crypt(m.peer(), true, kKey, kIv, data, false)));
      auto dec = cipher_mode::decrypt(c, {}, *enc, kIv);
      ASSERT_TRUE(dec.has_value());
      EXPECT_EQ(tohex(*dec), tohex(data));
    }
  }
}

// Our CBC always pads with PKCS#7 exactly as OpenSSL does, so encryption
// matches OpenSSL with padding on, and decryption takes OpenSSL's output.
TEST(Sm4Modes, CbcAgreesWithOpenSsl) {
  const Sm4ModeCipher c = make(Sm4Mode::Cbc);
  for (std::size_t n : kLengths) {
    SCOPED_TRACE(n);
    const Bytes data = pattern(n, static_cast<unsigned>(n) + 9);
    auto enc = cipher_mode::encrypt(c, {}, data, kIv);
    ASSERT_TRUE(enc.has_value());
    EXPECT_EQ(enc->size(), (n / 16 + 1) * 16);
    EXPECT_EQ(tohex(*enc), tohex(evp_crypt(EVP_sm4_cbc(), true, kKey, kIv, data, true)));
    auto dec = cipher_mode::decrypt(c, {}, *enc, kIv);
    ASSERT_TRUE(dec.has_value());
    EXPECT_EQ(tohex(*dec), tohex(data));
  }
}

// Decryption looks only at the last byte: the other padding bytes may hold
// anything.
TEST(Sm4Modes, CbcDecryptPaddingByteRule) {
  const Sm4ModeCipher c = make(Sm4Mode::Cbc);
  struct Case {
    const char* name;
    const char* plain_hex;  // the decrypted block OpenSSL encrypts for us
    const char* out_hex;    // empty when decryption must fail
  };
  const Case cases[] = {
      {"last 05, junk before", "00112233445566778899aaffffffff05", "00112233445566778899aa"},
      {"last 01", "00112233445566778899aabbccddee01", "00112233445566778899aabbccddee"},
      {"last 10", "00112233445566778899aabbccddee10", ""},
      {"last 00", "00112233445566778899aabbccddee00", nullptr},
      {"last 11", "00112233445566778899aabbccddee11", nullptr},
      {"last ff", "00112233445566778899aabbccddeeff", nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Bytes ct = evp_crypt(EVP_sm4_cbc(), true, kKey, kIv, unhex(k.plain_hex), false);
    auto dec = cipher_mode::decrypt(c, {}, ct, kIv);
    if (k.out_hex == nullptr) {
      ASSERT_FALSE(dec.has_value());
      EXPECT_EQ(display(dec.error()),
                "the last u8 of cbc_decrypt out in SM4 must be positive which isn't greater than 16");
    } else {
      ASSERT_TRUE(dec.has_value());
      EXPECT_EQ(tohex(*dec), k.out_hex);
    }
  }
}

TEST(Sm4Modes, CbcDecryptLengthErrors) {
  const Sm4ModeCipher c = make(Sm4Mode::Cbc);
  for (std::size_t n : {1u, 15u, 17u, 33u}) {
    SCOPED_TRACE(n);
    auto dec = cipher_mode::decrypt(c, {}, pattern(n), kIv);
    ASSERT_FALSE(dec.has_value());
    EXPECT_EQ(display(dec.error()), "the data len of SM4 must be 16");
  }
  auto empty = cipher_mode::decrypt(c, {}, Bytes{}, kIv);
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error(), Sm4Error::InvalidPaddingByte);
}

// The IV rule comes before everything else, in every mode and direction.
TEST(Sm4Modes, IvMustBeSixteenBytes) {
  for (Sm4Mode mode : {Sm4Mode::Cfb, Sm4Mode::Ofb, Sm4Mode::Ctr, Sm4Mode::Cbc, Sm4Mode::Gcm}) {
    const Sm4ModeCipher c = make(mode);
    for (std::size_t iv_len : {0u, 12u, 15u, 17u}) {
      for (std::size_t n : {0u, 17u, 32u}) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + " iv " + std::to_string(iv_len) +
                     " data " + std::to_string(n));
        const Bytes iv = pattern(iv_len), data = pattern(n);
        auto enc = cipher_mode::encrypt(c, {}, data, iv);
        auto dec = cipher_mode::decrypt(c, {}, data, iv);
        ASSERT_FALSE(enc.has_value());
        ASSERT_FALSE(dec.has_value());
        EXPECT_EQ(display(enc.error()), "the block size of SM4 must be 16");
        EXPECT_EQ(display(dec.error()), "the block size of SM4 must be 16");
      }
    }
  }
}

// The counter is one 128-bit big-endian integer: carries cross every byte
// and all FF wraps to all 00. OpenSSL's SM4-CTR counts the same way.
TEST(Sm4Modes, CtrCounterWraps) {
  const char* ivs[] = {
      "ffffffffffffffffffffffffffffffff",
      "000102030405060708090a0b0c0d00ff",
      "0001020304050607ffffffffffffffff",
      "00010203040506070809ffffffffffff",
      "fffffffffffffffffffffffffffffffe",
  };
  const Sm4ModeCipher c = make(Sm4Mode::Ctr);
  const Bytes data = pattern(16 * 4 + 5);
  for (const char* iv_hex : ivs) {
    SCOPED_TRACE(iv_hex);
    const Bytes iv = unhex(iv_hex);
    Block ivb;
    std::copy(iv.begin(), iv.end(), ivb.begin());
    auto ours = cipher_mode::ctr(c, data, ivb);
    ASSERT_TRUE(ours.has_value());
    EXPECT_EQ(tohex(*ours), tohex(evp_crypt(EVP_sm4_ctr(), true, kKey, iv, data, false)));
  }
  // Spelled out for the all-FF IV: the second keystream block is E(0^128).
  Block ff;
  ff.fill(0xff);
  auto ks = cipher_mode::ctr(c, Bytes(32, 0), ff);
  ASSERT_TRUE(ks.has_value());
  const Bytes e0 = evp_crypt(EVP_sm4_ecb(), true, kKey, {}, Bytes(16, 0), false);
  EXPECT_EQ(tohex(ByteView(*ks).subspan(16)), tohex(e0));
}

TEST(Sm4Modes, OfbAndCtrAreTheirOwnInverse) {
  for (Sm4Mode mode : {Sm4Mode::Ofb, Sm4Mode::Ctr}) {
    const Sm4ModeCipher c = make(mode);
    Block iv;
    std::copy(kIv.begin(), kIv.end(), iv.begin());
    const Bytes data = pattern(77);
    auto once = mode == Sm4Mode::Ofb ? cipher_mode::ofb(c, data, iv) : cipher_mode::ctr(c, data, iv);
    ASSERT_TRUE(once.has_value());
    auto twice = mode == Sm4Mode::Ofb ? cipher_mode::ofb(c, *once, iv) : cipher_mode::ctr(c, *once, iv);
    ASSERT_TRUE(twice.has_value());
    EXPECT_EQ(*twice, data);
  }
}

}  // namespace
}  // namespace tarnwick::sm4
