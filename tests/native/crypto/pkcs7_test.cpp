#include "crypto/padding/pkcs7.h"

#include <gtest/gtest.h>

#include "peer.h"

namespace tarnwick::padding {
namespace {

using testing::tohex;
using testing::unhex;

std::string repeat(const char* byte_hex, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += byte_hex;
  return s;
}

TEST(Pkcs7, Unpad) {
  struct Case {
    const char* name;
    std::string in_hex;
    const char* out_hex;  // nullptr: failure with `error`
    const char* error;
  };
  const std::string filler13 = "00112233445566778899aabbcc";
  const Case cases[] = {
      {"empty", "", nullptr, "data is empty"},
      {"single 01", "01", "", nullptr},
      {"single 02", "02", nullptr, "padding: invalid padding"},
      {"single 00", "00", nullptr, "padding: invalid padding"},
      {"sixteen 10", repeat("10", 16), "", nullptr},
      {"thirty-two 20, above the block size", repeat("20", 32), "", nullptr},
      {"ff over 255 bytes", repeat("ff", 255), "", nullptr},
      {"only the last p bytes count", "00112233445566778899aabbcc" "05030303",
       "00112233445566778899aabbcc05", nullptr},
      {"inconsistent", filler13 + "030403", nullptr, "padding: inconsistent padding bytes"},
      {"inconsistent at first padding byte", filler13 + "020303", nullptr, "padding: inconsistent padding bytes"},
      {"11 over 16 bytes", repeat("11", 16), nullptr, "padding: invalid padding"},
      {"00 last with consistent-looking data", repeat("00", 16), nullptr, "padding: invalid padding"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = unhex(c.in_hex);
    const Bytes before = data;
    auto r = padding::pkcs7::unpad(data);
    if (c.out_hex == nullptr) {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().display(), c.error);
      EXPECT_EQ(data, before);
    } else {
      ASSERT_TRUE(r.has_value()) << r.error().display();
      EXPECT_EQ(tohex(data), c.out_hex);
    }
  }
}

// pad as RFC 5652 §6.3 gives it, and unpad is its inverse at every length.
TEST(Pkcs7, PadAndRoundTrip) {
  for (std::size_t n = 0; n <= 48; ++n) {
    SCOPED_TRACE(n);
    Bytes data(n, 0xab);
    pkcs7::pad(data);
    const std::size_t p = 16 - n % 16;
    ASSERT_EQ(data.size(), n + p);
    for (std::size_t i = n; i < data.size(); ++i) EXPECT_EQ(data[i], p);
    ASSERT_TRUE(pkcs7::unpad(data).has_value());
    EXPECT_EQ(data, Bytes(n, 0xab));
  }
}

}  // namespace
}  // namespace tarnwick::padding
