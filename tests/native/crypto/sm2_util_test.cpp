#include "crypto/sm2/util.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <string>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/p256_ecc.h"
#include "support/hex.h"

namespace tarnwick::sm2::util {
namespace {

using testing::openssl_sm3;
using testing::unhex;

// GB/T 32918.2 Annex A key: d and its public point, with Z for the default ID.
constexpr const char* kD = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
constexpr const char* kPx = "09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020";
constexpr const char* kPy = "CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13";
constexpr const char* kZDefaultId = "b2e14c5c79c6df5b85f4fe7ed8db7a262b9da7e07ccb0ea9f4747b8ccda8a4f3";

// The curve constants of GB/T 32918.5, written out independently of the
// library's tables.
constexpr const char* kCurveABGxGy =
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC"
    "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93"
    "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7"
    "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";


Sm2PublicKey point(const std::string& x, const std::string& y) {
  const Bytes xb = unhex(x), yb = unhex(y);
  return {p256_field::from_bytes(xb.data()), p256_field::from_bytes(yb.data()), p256_field::kOne};
}

// openssl_x963_sm3 is OpenSSL's ANSI X9.63 KDF with SM3, the construction of
// GB/T 32918.4 §5.4.3.
Bytes openssl_x963_sm3(ByteView z, std::size_t klen) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
  EXPECT_NE(kdf, nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  char digest[] = "SM3";
  static const unsigned char kEmpty[1] = {0};
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
                                        const_cast<unsigned char*>(z.empty() ? kEmpty : z.data()),
                                        z.size()),
      OSSL_PARAM_construct_end()};
  Bytes out(klen);
  EXPECT_EQ(EVP_KDF_derive(ctx, out.data(), out.size(), params), 1);
  EVP_KDF_CTX_free(ctx);
  EVP_KDF_free(kdf);
  return out;
}

TEST(Sm2Kdf, PublishedX963Vector) {
  // openssl kdf -keylen 33 -kdfopt digest:SM3 -kdfopt hexsecret:00112233 X963KDF
  EXPECT_EQ(hex::encode(kdf(unhex("00112233"), 33)),
            "5090f96430bc6dfc55c2447fe80432ff0f499c2e51861a7a770c3f36801cc9442b");
}

TEST(Sm2Kdf, AgreesWithOpenSslAcrossBlockBoundaries) {
  const Bytes shared = unhex(std::string(kPx) + kPy);
  struct Case {
    const char* name;
    Bytes z;
    std::size_t klen;
  };
  const Case cases[] = {
      {"one_byte", shared, 1},        {"one_short_of_block", shared, 31}, {"one_block", shared, 32},
      {"block_and_a_byte", shared, 33}, {"two_blocks", shared, 64},       {"message_sized", shared, 200},
      {"many_blocks", shared, 5000},  {"short_z", unhex("00"), 95},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hex::encode(kdf(c.z, c.klen)), hex::encode(openssl_x963_sm3(c.z, c.klen)));
  }
}

// The secret's length decides where the counter and the padding fall in
// the last SM3 blocks: before, across and after the 56-byte mark and the
// 64-byte block boundary.
TEST(Sm2Kdf, AgreesWithOpenSslForSecretsOfEveryTailLength) {
  for (std::size_t zlen : {1u, 51u, 52u, 53u, 55u, 56u, 59u, 60u, 61u, 63u, 64u, 65u, 100u, 119u, 120u, 127u,
                           128u, 129u, 200u}) {
    SCOPED_TRACE(zlen);
    const Bytes z = tarnwick::testing::pattern(zlen, static_cast<unsigned>(zlen));
    for (std::size_t klen : {1u, 32u, 33u, 97u}) {
      SCOPED_TRACE(klen);
      EXPECT_EQ(hex::encode(kdf(z, klen)), hex::encode(openssl_x963_sm3(z, klen)));
    }
  }
}

TEST(Sm2Kdf, ZeroLengthGivesTheFirstWholeBlock) {
  const Bytes z = unhex("00112233");
  Bytes first = z;
  first.insert(first.end(), {0, 0, 0, 1});
  EXPECT_EQ(hex::encode(kdf(z, 0)), hex::encode(openssl_sm3(first)));
  EXPECT_EQ(hex::encode(kdf({}, 0)), hex::encode(openssl_sm3(unhex("00000001"))));
}

TEST(Sm2Kdf, EmptySecretHashesTheCountersAlone) {
  // OpenSSL's X9.63 KDF refuses an empty secret; build the blocks directly.
  const std::string want =
      hex::encode(openssl_sm3(unhex("00000001"))) + hex::encode(openssl_sm3(unhex("00000002"))).substr(0, 2);
  EXPECT_EQ(hex::encode(kdf({}, 33)), want);
}

TEST(Sm2UserDigest, PublishedValueForTheDefaultId) {
  const std::string id = "1234567812345678";
  const ByteView idv(reinterpret_cast<const std::uint8_t*>(id.data()), id.size());
  auto z = user_digest(idv, point(kPx, kPy));
  ASSERT_TRUE(z.has_value());
  EXPECT_EQ(hex::encode(*z), kZDefaultId);

  // The same key as d·G straight from the multiplication (z ≠ 1).
  auto dg = p256_ecc::mul_base(*biguint::from_hex(kD));
  ASSERT_TRUE(dg.has_value());
  ASSERT_NE(dg->z, p256_field::kOne);
  auto z2 = user_digest(idv, *dg);
  ASSERT_TRUE(z2.has_value());
  EXPECT_EQ(hex::encode(*z2), kZDefaultId);
}

TEST(Sm2UserDigest, EntlAndIdLengths) {
  struct Case {
    const char* name;
    std::size_t id_len;
    const char* entl;
  };
  const Case cases[] = {
      {"empty", 0, "0000"},
      {"one_byte", 1, "0008"},
      {"default_length", 16, "0080"},
      {"longest", 8191, "fff8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes id(c.id_len, 0x5A);
    Bytes input = unhex(c.entl);
    input.insert(input.end(), id.begin(), id.end());
    const Bytes tail = unhex(std::string(kCurveABGxGy) + kPx + kPy);
    input.insert(input.end(), tail.begin(), tail.end());
    auto z = user_digest(id, point(kPx, kPy));
    ASSERT_TRUE(z.has_value());
    EXPECT_EQ(hex::encode(*z), hex::encode(openssl_sm3(input)));
  }
}

TEST(Sm2UserDigest, PointAtInfinityHashesZeroCoordinates) {
  Bytes input = unhex("0000" + std::string(kCurveABGxGy) + std::string(128, '0'));
  auto z = user_digest({}, p256_ecc::kInfinity);
  ASSERT_TRUE(z.has_value());
  EXPECT_EQ(hex::encode(*z), hex::encode(openssl_sm3(input)));
}

TEST(Sm2UserDigest, Failures) {
  Sm2PublicKey off_curve = point(kPx, kPy);
  off_curve.y.w[7] ^= 1;
  const Bytes too_long(8192, 0x31);
  const Bytes ok_id(16, 0x31);
  struct Case {
    const char* name;
    const Bytes& id;
    Sm2PublicKey key;
    Sm2Error want;
  };
  const Case cases[] = {
      {"id_of_8192_bytes", too_long, point(kPx, kPy), Sm2Error::IdTooLong},
      {"off_curve", ok_id, off_curve, Sm2Error::InvalidPublicKey},
      {"off_curve_checked_before_id", too_long, off_curve, Sm2Error::InvalidPublicKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto z = user_digest(c.id, c.key);
    ASSERT_FALSE(z.has_value());
    EXPECT_EQ(z.error(), c.want);
  }
}

}  // namespace
}  // namespace tarnwick::sm2::util
