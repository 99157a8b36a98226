#include "crypto/padding/pkcs7.h"

#include <gtest/gtest.h>

#include "../common/peer.h"

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

constexpr const char* kInvalid = "padding: invalid padding";
constexpr const char* kInconsistent = "padding: inconsistent padding bytes";

// filler returns `n` bytes that vary with their position, the last one set
// to `before` when it is given.
Bytes filler(std::size_t n, int before = -1) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(0xa5 ^ (i & 0x0f) << 1);
  if (n > 0 && before >= 0) b[n - 1] = static_cast<std::uint8_t>(before);
  return b;
}

// expect_failure checks that `data` is rejected with `text` and left exactly
// as it was, storage included.
void expect_failure(Bytes data, const char* text) {
  const Bytes before = data;
  const std::uint8_t* storage = data.data();
  auto r = pkcs7::unpad(data);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), text);
  EXPECT_EQ(data, before);
  EXPECT_EQ(data.data(), storage);
}

// Every padding length 1 … 255, after 0, 1, 17 and 300 bytes of data: the
// padding comes off, the data before it stays, whatever the byte next to
// the padding holds (a byte equal to p makes a longer run than p, which is
// still padding of length p), and the storage is kept.
TEST(Pkcs7, UnpadEveryLength) {
  for (std::size_t p = 1; p <= 255; ++p) {
    for (std::size_t n : {0u, 1u, 17u, 300u}) {
      for (int before : {-1, static_cast<int>(p), static_cast<int>(p ^ 1)}) {
        SCOPED_TRACE(::testing::Message() << "p " << p << ", data " << n << ", byte before " << before);
        const Bytes head = filler(n, before);
        Bytes data = head;
        data.insert(data.end(), p, static_cast<std::uint8_t>(p));
        const std::uint8_t* storage = data.data();
        const std::size_t capacity = data.capacity();
        auto r = pkcs7::unpad(data);
        ASSERT_TRUE(r.has_value()) << r.error().display();
        EXPECT_EQ(data, head);
        EXPECT_EQ(data.data(), storage);
        EXPECT_EQ(data.capacity(), capacity);
      }
    }
  }
}

// A wrong byte anywhere in the padding, for every length: at the first
// padding byte, in the middle, next to the last byte, and by one bit or
// by all of them.
TEST(Pkcs7, UnpadInconsistentAtEveryPlace) {
  for (std::size_t p = 2; p <= 255; ++p) {
    for (std::size_t n : {0u, 5u, 300u}) {
      for (std::size_t at : {std::size_t{0}, (p - 1) / 2, p - 2}) {
        for (std::uint8_t flip : {0x01, 0x80, 0xff}) {
          SCOPED_TRACE(::testing::Message() << "p " << p << ", data " << n << ", wrong byte " << at << " ^ "
                                          << int(flip));
          Bytes data = filler(n);
          data.insert(data.end(), p, static_cast<std::uint8_t>(p));
          data[n + at] ^= flip;
          expect_failure(data, kInconsistent);
        }
      }
    }
  }
}

// The length checks, and their order: a last byte of 0 or above the
// vector's length is "invalid" even where the bytes before it also differ
// from it, so "inconsistent" never comes first.
TEST(Pkcs7, UnpadInvalidLength) {
  for (std::size_t n = 1; n <= 255; ++n) {
    SCOPED_TRACE(::testing::Message() << "length " << n);
    // Last byte n + 1 … 255 over n bytes, all of them equal to it, and
    // with the others differing.
    for (std::size_t p : {n + 1, n + 2, std::size_t{255}}) {
      if (p <= n || p > 255) continue;
      expect_failure(Bytes(n, static_cast<std::uint8_t>(p)), kInvalid);
      Bytes mixed = filler(n);
      mixed.back() = static_cast<std::uint8_t>(p);
      expect_failure(mixed, kInvalid);
    }
    expect_failure(Bytes(n, 0), kInvalid);
    Bytes zero_last = filler(n);
    zero_last.back() = 0;
    expect_failure(zero_last, kInvalid);
  }
  for (std::size_t n : {256u, 300u, 4096u}) {
    SCOPED_TRACE(::testing::Message() << "length " << n);
    Bytes zero_last = filler(n);
    zero_last.back() = 0;
    expect_failure(zero_last, kInvalid);
  }
  expect_failure(Bytes{}, "data is empty");
}

// Only the last p bytes are padding: over more than 255 bytes, a byte
// equal to 255 or not just before the 255 padding bytes changes nothing,
// and a wrong byte at the first of them does.
TEST(Pkcs7, UnpadLongestPaddingInLongData) {
  for (std::size_t n : {1u, 16u, 256u, 1000u}) {
    SCOPED_TRACE(::testing::Message() << "data " << n);
    for (int before : {0x00, 0xfe, 0xff}) {
      Bytes data = filler(n, before);
      data.insert(data.end(), 255, 0xff);
      auto r = pkcs7::unpad(data);
      ASSERT_TRUE(r.has_value()) << r.error().display();
      EXPECT_EQ(data, filler(n, before));
    }
    Bytes bad = filler(n);
    bad.insert(bad.end(), 255, 0xff);
    bad[n] = 0xfe;
    expect_failure(bad, kInconsistent);
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
