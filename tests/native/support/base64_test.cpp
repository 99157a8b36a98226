#include "support/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "support/hex.h"

namespace tarnwick {
namespace {

// RFC 4648 §10 test vectors.
TEST(Base64, EncodesRfc4648Vectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, coded] : cases) {
    SCOPED_TRACE(plain);
    const Bytes in(plain.begin(), plain.end());
    EXPECT_EQ(base64::encode(in), coded);
    auto back = base64::decode(coded);
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(*back, in);
  }
}

TEST(Base64, RoundTripsEveryByteValue) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  for (std::size_t n = 0; n <= all.size(); n += 37) {
    const Bytes in(all.begin(), all.begin() + n);
    auto back = base64::decode(base64::encode(in));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, in);
  }
}

struct RejectCase {
  const char* name;
  std::string input;
  const char* text;
};

TEST(Base64, RejectsNonCanonicalInputWithItsText) {
  const RejectCase cases[] = {
      {"space_in_body", "Zm9v Zm9v", "Invalid symbol 32, offset 4."},
      {"newline_at_end", "Zm9v\n", "Invalid symbol 10, offset 4."},
      {"pad_in_body", "Zg==Zm9v", "Invalid symbol 61, offset 2."},
      {"dash_url_alphabet", "Zm-v", "Invalid symbol 45, offset 2."},
      {"pad_first_in_group", "Zm9v=AAA", "Invalid symbol 61, offset 4."},
      {"pad_second_in_group", "Zm9vA===", "Invalid symbol 61, offset 5."},
      {"symbol_after_pad", "Zm=v", "Invalid symbol 61, offset 2."},
      {"lone_pad", "=", "Invalid symbol 61, offset 0."},
      {"five_symbols", "AAAAA", "Invalid input length: 5"},
      {"one_symbol", "A", "Invalid input length: 1"},
      {"bad_last_of_five", "AAAA*", "Invalid symbol 42, offset 4."},
      {"two_unpadded", "AA", "Invalid padding"},
      {"three_unpadded", "AAA", "Invalid padding"},
      {"short_padding", "AA=", "Invalid padding"},
      {"extra_padding", "AAA==", "Invalid symbol 61, offset 3."},
      {"leftover_bits_two", "AB==", "Invalid last symbol 66, offset 1."},
      {"leftover_bits_three", "AAB=", "Invalid last symbol 66, offset 2."},
      {"leftover_after_body", "Zm9vZh==", "Invalid last symbol 104, offset 5."},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = base64::decode(c.input);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), c.text);
  }
}

// The decoders allocate once, exactly: a buffer of key bytes is never grown,
// so no copy of its first part is dropped on the way. Lengths cover every
// size of final group (the 150 and 1218 bytes end in a four-symbol group,
// like an SM2 PKCS#8 key and many RSA ones). decode_secret agrees with
// decode, for results and for texts.
TEST(Base64, DecodesIntoOneExactAllocation) {
  Bytes all(1300);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 7 + 3);
  for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 6u, 149u, 150u, 151u, 1217u, 1218u, 1219u}) {
    SCOPED_TRACE(n);
    const Bytes in(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    const std::string text = base64::encode(in);
    EXPECT_EQ(text.size(), base64::encoded_length(n));
    auto plain = base64::decode(text);
    auto secret = base64::decode_secret(text);
    ASSERT_TRUE(plain.has_value() && secret.has_value());
    EXPECT_EQ(*plain, in);
    EXPECT_TRUE(std::equal(secret->begin(), secret->end(), in.begin(), in.end()));
    EXPECT_EQ(plain->capacity(), n);
    EXPECT_EQ(secret->capacity(), n);
  }
  EXPECT_EQ(base64::decode_secret("Zm9v Zm9v").error().display(), "Invalid symbol 32, offset 4.");
  EXPECT_TRUE(base64::decode_secret("")->empty());
}

// openssl_decode decodes a valid, padded text with OpenSSL's EVP_DecodeBlock
// (which leaves the padding's zero bytes in its output; they are dropped).
Bytes openssl_decode(const std::string& text) {
  Bytes out(text.size() / 4 * 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  EXPECT_EQ(static_cast<std::size_t>(n), out.size());
  const std::size_t pads = static_cast<std::size_t>(std::count(text.end() - std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(text.size())), text.end(), '='));
  out.resize(out.size() - pads);
  return out;
}

// Bytes are encoded 12 at a time and the body of a text is read 16 symbols
// at a time where the processor allows, the rest one by one: at every length
// across several such blocks the texts are OpenSSL's encoder's and decode
// to their bytes, and every byte value at
// positions inside, at the edges of and after the blocks is taken as its
// symbol or refused at its own offset.
TEST(Base64, AgreesWithOpensslAcrossBlockEdges) {
  Bytes all(200);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 151 + 17);
  for (std::size_t n = 0; n <= all.size(); ++n) {
    SCOPED_TRACE(n);
    std::string text(4 * ((n + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), all.data(), static_cast<int>(n));
    EXPECT_EQ(base64::encode(ByteView(all).first(n)), text);
    auto back = base64::decode(text);
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(*back, Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n)));
  }
  std::string text(64, '\0');  // 48 bytes: a body of 60 symbols and a final group
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), all.data(), 48);
  constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t pos : {0u, 7u, 15u, 16u, 31u, 32u, 47u, 48u, 55u, 59u}) {
    for (int b = 0; b < 256; ++b) {
      SCOPED_TRACE(std::to_string(pos) + " " + std::to_string(b));
      std::string t = text;
      t[pos] = static_cast<char>(b);
      auto r = base64::decode(t);
      if (kAlphabet.find(static_cast<char>(b)) != std::string_view::npos) {
        ASSERT_TRUE(r.has_value()) << r.error().display();
        EXPECT_EQ(*r, openssl_decode(t));
      } else {
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().display(), "Invalid symbol " + std::to_string(b) + ", offset " + std::to_string(pos) + ".");
      }
    }
  }
}

TEST(Hex, EncodesLowercaseAndDecodesEitherCase) {
  const Bytes data{0x00, 0x5e, 0xA7, 0xff};
  EXPECT_EQ(hex::encode(data), "005ea7ff");
  EXPECT_EQ(hex::decode("005EA7ff"), data);
  EXPECT_FALSE(hex::decode("abc").has_value());
  EXPECT_FALSE(hex::decode("zz").has_value());
}

}  // namespace
}  // namespace tarnwick
