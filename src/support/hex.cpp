#include "support/hex.h"

namespace tarnwick::hex {
namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string encode(ByteView data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.resize(data.size() * 2);
  for (std::size_t i = 0; i < data.size(); ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 15];
  }
  return out;
}

std::optional<Bytes> decode(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out(text.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = digit_value(text[2 * i]);
    const int lo = digit_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return out;
}

}  // namespace tarnwick::hex
