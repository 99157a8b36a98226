#include <gtest/gtest.h>

#include "crypto/sm2/error.h"
#include "crypto/sm4/error.h"

namespace tarnwick {
namespace {

TEST(Sm2Error, ValuesAndTexts) {
  const char* texts[] = {
      "the point not on curve",
      "field elem sqrt error",
      "invalid der",
      "invalid public key",
      "invalid private key",
      "zero has no inversion",
      "cannot convert the infinite point to affine",
      "invalid jacobian point",
      "check point error",
      "the vector is zero",
      "hash and cipher not equal",
      "ID is too long",
      "zero has no inversion in filed",
      "a SCA-256 field element must be 32-byte long",
      "the signature is zero, cannot sign",
      "the length of digest must be 32-bytes",
      "invalid signature digest",
      "invalid secret key",
      "KDF hash error",
  };
  for (int v = 0; v < 19; ++v) {
    const auto e = static_cast<sm2::Sm2Error>(v);
    EXPECT_EQ(sm2::display(e), texts[v]);
    EXPECT_EQ(sm2::debug(e), texts[v]);
  }
  EXPECT_EQ(static_cast<int>(sm2::Sm2Error::HashMismatch), 10);
  EXPECT_EQ(static_cast<int>(sm2::Sm2Error::KdfHashError), 18);
  static_assert(sizeof(sm2::Sm2Error) == 1);
}

TEST(Sm4Error, ValuesAndTexts) {
  const char* texts[] = {
      "the block size of SM4 must be 16",
      "the data len of SM4 must be 16",
      "the last u8 of cbc_decrypt out in SM4 must be positive which isn't greater than 16",
      "invalid hmac tag",
  };
  for (int v = 0; v < 4; ++v) {
    const auto e = static_cast<sm4::Sm4Error>(v);
    EXPECT_EQ(sm4::display(e), texts[v]);
    EXPECT_EQ(sm4::debug(e), texts[v]);
    EXPECT_EQ(sm4::to_error(e).display(), texts[v]);
  }
  EXPECT_EQ(static_cast<int>(sm4::Sm4Error::TagMismatch), 3);
  static_assert(sizeof(sm4::Sm4Error) == 1);
}

}  // namespace
}  // namespace tarnwick
