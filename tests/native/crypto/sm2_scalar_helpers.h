// Conversions between the fixed-width Scalar of the SM2 code and the hex
// text and BIGNUMs the tests use as their independent side.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <string>

#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/scalar.h"
#include "support/hex.h"
#include "support/ossl.h"

namespace tarnwick::sm2::sm2_testing {

// scalar_hex reads up to 64 hex digits (left-padded with zeros).
inline Scalar scalar_hex(const std::string& h) {
  EXPECT_LE(h.size(), 64u) << h;
  const std::string padded = std::string(64 - std::min<std::size_t>(h.size(), 64), '0') + h;
  const auto b = hex::decode(padded);
  EXPECT_TRUE(b.has_value()) << h;
  return b ? Scalar::from_bytes(b->data()) : Scalar();
}

// hex_of returns the 64 lower-case hex digits of `s`.
inline std::string hex_of(const Scalar& s) {
  std::uint8_t be[32];
  s.to_bytes(be);
  return hex::encode(ByteView(be, 32));
}

// bn_of returns `s` as a BIGNUM.
inline ossl::BnPtr bn_of(const Scalar& s) {
  std::uint8_t be[32];
  s.to_bytes(be);
  return ossl::BnPtr(BN_bin2bn(be, 32, nullptr));
}

// scalar_of reads a BIGNUM below 2^256.
inline Scalar scalar_of(const BIGNUM& x) {
  std::uint8_t be[32];
  EXPECT_EQ(BN_bn2binpad(&x, be, 32), 32);
  return Scalar::from_bytes(be);
}

// private_key_hex builds the private key {d, d·G} for `d_hex`.
inline Sm2PrivateKey private_key_hex(const std::string& d_hex) {
  const Scalar d = scalar_hex(d_hex);
  return Sm2PrivateKey{d, public_point(d)};
}

}  // namespace tarnwick::sm2::sm2_testing
