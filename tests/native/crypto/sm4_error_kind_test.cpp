// The general error value keeps the kind of the SM4 error it wraps, with
// the kind's text, also when the symmetric service hands it on.
#include <gtest/gtest.h>

#include "crypto/sm4/error.h"
#include "support/base64.h"
#include "vorel/sym/encrypt.h"

namespace tarnwick {
namespace {

TEST(Sm4ErrorKind, WrappedErrorKeepsKindAndText) {
  struct Case {
    sm4::Sm4Error kind;
    const char* text;
  };
  const Case cases[] = {
      {sm4::Sm4Error::InvalidBlockSize, "the block size of SM4 must be 16"},
      {sm4::Sm4Error::InvalidDataLength, "the data len of SM4 must be 16"},
      {sm4::Sm4Error::InvalidPaddingByte,
       "the last u8 of cbc_decrypt out in SM4 must be positive which isn't greater than 16"},
      {sm4::Sm4Error::TagMismatch, "invalid hmac tag"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Error e = sm4::to_error(c.kind);
    EXPECT_EQ(e.display(), c.text);
    ASSERT_TRUE(sm4::kind_of(e).has_value());
    EXPECT_EQ(*sm4::kind_of(e), c.kind);
  }
  // Errors made from text alone carry no kind.
  EXPECT_FALSE(sm4::kind_of(Error("padding: invalid padding")).has_value());
}

TEST(Sm4ErrorKind, SymmetricServicePassesTheKindOn) {
  using vorel::sym::SymAlgorithm;
  const std::string key = base64::encode(Bytes(16, 0x42));
  const std::string iv = base64::encode(Bytes(16, 0x24));
  struct Case {
    const char* name;
    SymAlgorithm alg;
    Bytes data;
    sm4::Sm4Error kind;
  };
  Bytes sealed = vorel::sym::sym_encrypt(SymAlgorithm::SM4GCM, Bytes(20, 7), key, iv).value();
  sealed.back() ^= 1;
  const Case cases[] = {
      {"CBC of 17 bytes", SymAlgorithm::SM4CBC, Bytes(17, 1), sm4::Sm4Error::InvalidDataLength},
      {"GCM with a changed tag", SymAlgorithm::SM4GCM, sealed, sm4::Sm4Error::TagMismatch},
      {"GCM shorter than a tag", SymAlgorithm::SM4GCM, Bytes(5, 1), sm4::Sm4Error::InvalidDataLength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = vorel::sym::sym_decrypt(c.alg, c.data, key, iv);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), sm4::display(c.kind));
    ASSERT_TRUE(sm4::kind_of(r.error()).has_value());
    EXPECT_EQ(*sm4::kind_of(r.error()), c.kind);
  }
}

}  // namespace
}  // namespace tarnwick
