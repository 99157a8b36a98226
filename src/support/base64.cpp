#include "support/base64.h"

#include <array>
#include <string>

namespace tarnwick::base64 {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPad = '=';

constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  for (int i = 0; i < 64; ++i) t[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  return t;
}
constexpr std::array<std::uint8_t, 256> kTable = make_table();

std::unexpected<Error> invalid_symbol(std::uint8_t byte, std::size_t offset) {
  return fail("Invalid symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) + ".");
}

}  // namespace

std::string encode(ByteView data) {
  std::string out;
  out.reserve(encoded_length(data.size()));
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[v >> 12 & 63]);
    out.push_back(kAlphabet[v >> 6 & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    std::uint32_t v = std::uint32_t{data[i]} << 16;
    if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[v >> 12 & 63]);
    out.push_back(rest == 2 ? kAlphabet[v >> 6 & 63] : '=');
    out.push_back('=');
  }
  return out;
}

namespace {

template <class Out>
Result<Out> decode_into(std::string_view text) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t len = text.size();
  if (len == 0) return Out{};

  if (len % 4 == 1 && in[len - 1] != kPad && kTable[in[len - 1]] == kInvalid) {
    return invalid_symbol(in[len - 1], len - 1);
  }

  // The final group: the last four bytes, or the len % 4 bytes left over.
  const std::size_t tail = len % 4 == 0 ? 4 : len % 4;
  const std::size_t body = len - tail;

  for (std::size_t i = 0; i < body; ++i) {
    if (kTable[in[i]] == kInvalid) return invalid_symbol(in[i], i);
  }

  std::size_t symbols = 0;
  std::size_t pads = 0;
  std::size_t first_pad = 0;
  std::uint32_t acc = 0;
  for (std::size_t k = 0; k < tail; ++k) {
    const std::uint8_t b = in[body + k];
    if (b == kPad) {
      if (k < 2) return invalid_symbol(kPad, body + (pads > 0 ? first_pad : k));
      if (pads == 0) first_pad = k;
      ++pads;
      continue;
    }
    if (pads > 0) return invalid_symbol(kPad, body + first_pad);
    const std::uint8_t v = kTable[b];
    if (v == kInvalid) return invalid_symbol(b, body + k);
    acc = acc << 6 | v;
    ++symbols;
  }

  if (symbols < 2) return fail("Invalid input length: " + std::to_string(body + symbols));
  if ((symbols + pads) % 4 != 0) return fail("Invalid padding");

  // Two symbols carry one byte (4 spare bits), three carry two (2 spare bits).
  const unsigned spare_bits = symbols == 2 ? 4 : symbols == 3 ? 2 : 0;
  if ((acc & ((1u << spare_bits) - 1)) != 0) {
    const std::size_t last = body + symbols - 1;
    return fail("Invalid last symbol " + std::to_string(in[last]) + ", offset " + std::to_string(last) + ".");
  }

  // Every check has passed: one allocation of the exact size, written in
  // place, so no partial copy is ever dropped.
  Out out(body / 4 * 3 + (symbols - 1));
  std::size_t o = 0;
  for (std::size_t i = 0; i < body; i += 4) {
    const std::uint32_t v = std::uint32_t{kTable[in[i]]} << 18 | std::uint32_t{kTable[in[i + 1]]} << 12 |
                            std::uint32_t{kTable[in[i + 2]]} << 6 | kTable[in[i + 3]];
    out[o++] = static_cast<std::uint8_t>(v >> 16);
    out[o++] = static_cast<std::uint8_t>(v >> 8);
    out[o++] = static_cast<std::uint8_t>(v);
  }
  if (symbols == 4) {
    out[o++] = static_cast<std::uint8_t>(acc >> 16);
    out[o++] = static_cast<std::uint8_t>(acc >> 8);
    out[o++] = static_cast<std::uint8_t>(acc);
  } else if (symbols == 3) {
    out[o++] = static_cast<std::uint8_t>(acc >> 10);
    out[o++] = static_cast<std::uint8_t>(acc >> 2);
  } else {
    out[o++] = static_cast<std::uint8_t>(acc >> 4);
  }
  return out;
}

}  // namespace

Result<Bytes> decode(std::string_view text) { return decode_into<Bytes>(text); }

Result<SecretBytes> decode_secret(std::string_view text) { return decode_into<SecretBytes>(text); }

}  // namespace tarnwick::base64
