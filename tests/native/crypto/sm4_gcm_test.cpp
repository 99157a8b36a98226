#include "crypto/sm4/gcm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../common/peer.h"
#include "../common/sm4_schedule.h"
#include "crypto/sm4/cipher_mode.h"

namespace tarnwick::sm4 {
namespace {

using testing::evp_crypt;
using testing::pattern;
using testing::tohex;
using testing::unhex;

struct Vector {
  Bytes key, iv, aad, pt, ct, tag;
};

// tests/vectors/sm4_gcm.txt comes from python `cryptography`
// (scripts/gen_sm4_gcm_vectors.py).
std::vector<Vector> load_vectors() {
  std::vector<Vector> out;
  for (auto& b : testing::load_vectors("sm4_gcm.txt")) {
    if (b.size() != 6) {
      ADD_FAILURE() << "incomplete vector block";
      continue;
    }
    out.push_back({unhex(b["Key"]), unhex(b["IV"]), unhex(b["AAD"]), unhex(b["PT"]), unhex(b["CT"]), unhex(b["Tag"])});
  }
  return out;
}

Sm4ModeCipher gcm_cipher(const Bytes& key) { return {testing::schedule_of(key), Sm4Mode::Gcm}; }

TEST(Sm4Gcm, AgreesWithPythonCryptography) {
  const auto vectors = load_vectors();
  ASSERT_FALSE(vectors.empty());
  for (const Vector& v : vectors) {
    SCOPED_TRACE("aad " + std::to_string(v.aad.size()) + " pt " + std::to_string(v.pt.size()));
    const Sm4ModeCipher c = gcm_cipher(v.key);
    Bytes expected = v.ct;
    expected.insert(expected.end(), v.tag.begin(), v.tag.end());
    auto enc = cipher_mode::encrypt(c, v.aad, v.pt, v.iv);
    ASSERT_TRUE(enc.has_value());
    EXPECT_EQ(tohex(*enc), tohex(expected));
    auto dec = cipher_mode::decrypt(c, v.aad, expected, v.iv);
    ASSERT_TRUE(dec.has_value());
    EXPECT_EQ(tohex(*dec), tohex(v.pt));
  }
}

// Flipping one bit anywhere the tag covers makes decryption fail.
TEST(Sm4Gcm, TamperingFailsWithTagMismatch) {
  const auto vectors = load_vectors();
  for (const Vector& v : vectors) {
    if (v.pt.empty() || v.aad.empty()) continue;
    const Sm4ModeCipher c = gcm_cipher(v.key);
    Bytes sealed = v.ct;
    sealed.insert(sealed.end(), v.tag.begin(), v.tag.end());
    struct Case {
      const char* name;
      Bytes aad, input, iv;
    };
    std::vector<Case> cases;
    cases.push_back({"ciphertext first bit", v.aad, sealed, v.iv});
    cases.back().input[0] ^= 0x80;
    cases.push_back({"ciphertext last byte", v.aad, sealed, v.iv});
    cases.back().input[v.ct.size() - 1] ^= 0x01;
    cases.push_back({"tag first byte", v.aad, sealed, v.iv});
    cases.back().input[v.ct.size()] ^= 0x01;
    cases.push_back({"tag last byte", v.aad, sealed, v.iv});
    cases.back().input.back() ^= 0x80;
    cases.push_back({"aad", v.aad, sealed, v.iv});
    cases.back().aad[0] ^= 0x04;
    cases.push_back({"aad dropped", {}, sealed, v.iv});
    cases.push_back({"iv", v.aad, sealed, v.iv});
    cases.back().iv[15] ^= 0x01;
    cases.push_back({"truncated", v.aad, Bytes(sealed.begin() + 1, sealed.end()), v.iv});
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.name) + " pt " + std::to_string(v.pt.size()));
      auto dec = cipher_mode::decrypt(c, k.aad, k.input, k.iv);
      ASSERT_FALSE(dec.has_value());
      EXPECT_EQ(display(dec.error()), "invalid hmac tag");
    }
  }
}

TEST(Sm4Gcm, InputShorterThanTagFails) {
  const Sm4ModeCipher c = gcm_cipher(pattern(16));
  for (std::size_t n = 1; n < 16; ++n) {
    SCOPED_TRACE(n);
    auto dec = cipher_mode::decrypt(c, {}, pattern(n), pattern(16, 2));
    ASSERT_FALSE(dec.has_value());
    EXPECT_EQ(dec.error(), Sm4Error::InvalidDataLength);
  }
}

// inc32 touches bytes 12 … 15 only: after …FFFFFFFF comes …00000000 with no
// carry into byte 11. The keystream is checked against OpenSSL's SM4-ECB of
// those counter blocks.
TEST(Sm4Gcm, GctrCounterWrapsInLowWord) {
  const Bytes key = pattern(16, 5);
  const auto s = cipher::key_schedule(key);
  ASSERT_TRUE(s.has_value());
  const Bytes icb_bytes = unhex("00112233445566778899aabbffffffff");
  Block icb;
  std::copy(icb_bytes.begin(), icb_bytes.end(), icb.begin());
  const Bytes x = pattern(40, 6);
  auto out = cipher_mode::gctr(*s, icb, x);
  ASSERT_TRUE(out.has_value());
  const Bytes counters = unhex(
      "00112233445566778899aabbffffffff"
      "00112233445566778899aabb00000000"
      "00112233445566778899aabb00000001");
  const Bytes ks = evp_crypt(EVP_sm4_ecb(), true, key, {}, counters, false);
  Bytes expected(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) expected[i] = x[i] ^ ks[i];
  EXPECT_EQ(tohex(*out), tohex(expected));

  auto empty = cipher_mode::gctr(*s, icb, Bytes{});
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST(Sm4Gcm, ToBlocksIsBigEndian) {
  const auto blocks = gcm::to_blocks(unhex("000102030405060708090a0b0c0d0e0f" "f0000000000000000000000000000001"));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], (Block128{0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL}));
  EXPECT_EQ(blocks[1], (Block128{0xf000000000000000ULL, 0x0000000000000001ULL}));
}

}  // namespace
}  // namespace tarnwick::sm4
