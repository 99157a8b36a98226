#include "support/base64.h"

#include <array>
#include <string>

#include "support/secret.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::base64 {
namespace {

// Base64 carries key documents, so the mapping between symbols and their
// 6-bit values is computed with masks in both directions, not looked up in a
// table: no memory address depends on a key's bytes. Only whether a symbol is
// valid decides a branch (on a refused text).
constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPad = '=';

// in_range is all ones when lo <= x <= hi, else 0, for x, lo, hi in 0..255.
constexpr std::uint32_t in_range(std::uint32_t x, std::uint32_t lo, std::uint32_t hi) noexcept {
  return ~static_cast<std::uint32_t>((static_cast<std::int32_t>(x - lo) | static_cast<std::int32_t>(hi - x)) >> 31);
}

// symbol_of returns the symbol for a 6-bit value `v`.
constexpr char symbol_of(std::uint32_t v) noexcept {
  std::uint32_t c = v + 'A';
  c += in_range(v, 26, 63) & ('a' - 'A' - 26);
  c -= in_range(v, 52, 63) & ('a' - '0' + 26);
  c -= in_range(v, 62, 62) & ('0' + 10 - '+');
  c -= in_range(v, 63, 63) & ('0' + 11 - '/');
  return static_cast<char>(c);
}

// value_of returns the 6-bit value of symbol `b`, or kInvalid.
constexpr std::uint8_t value_of(std::uint8_t b) noexcept {
  const std::uint32_t x = b;
  const std::uint32_t upper = in_range(x, 'A', 'Z'), lower = in_range(x, 'a', 'z'), digit = in_range(x, '0', '9');
  const std::uint32_t plus = in_range(x, '+', '+'), slash = in_range(x, '/', '/');
  const std::uint32_t v = (upper & (x - 'A')) | (lower & (x - 'a' + 26)) | (digit & (x - '0' + 52)) | (plus & 62) |
                          (slash & 63) | (~(upper | lower | digit | plus | slash) & kInvalid);
  return static_cast<std::uint8_t>(v);
}

constexpr bool alphabet_holds() {
  constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::uint32_t v = 0; v < 64; ++v) {
    if (symbol_of(v) != kAlphabet[v] || value_of(static_cast<std::uint8_t>(kAlphabet[v])) != v) return false;
  }
  int valid = 0;
  for (int b = 0; b < 256; ++b) valid += value_of(static_cast<std::uint8_t>(b)) != kInvalid;
  return valid == 64;
}
static_assert(alphabet_holds());

#if defined(__SSE2__)
// values_16 is value_of on 16 symbols at once, by the same masks in SSE2
// (part of every x86-64 processor): signed byte comparisons, so bytes from
// 0x80 up fall in no range and come out invalid.
inline __m128i values_16(__m128i x) noexcept {
  const auto within = [&x](char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(hi + 1)), x));
  };
  const __m128i upper = within('A', 'Z'), lower = within('a', 'z'), digit = within('0', '9');
  const __m128i plus = _mm_cmpeq_epi8(x, _mm_set1_epi8('+')), slash = _mm_cmpeq_epi8(x, _mm_set1_epi8('/'));
  const __m128i valid = _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(_mm_or_si128(digit, plus), slash));
  __m128i v = _mm_and_si128(upper, _mm_sub_epi8(x, _mm_set1_epi8('A')));
  v = _mm_or_si128(v, _mm_and_si128(lower, _mm_sub_epi8(x, _mm_set1_epi8('a' - 26))));
  v = _mm_or_si128(v, _mm_and_si128(digit, _mm_add_epi8(x, _mm_set1_epi8(52 - '0'))));
  v = _mm_or_si128(v, _mm_and_si128(plus, _mm_set1_epi8(62)));
  v = _mm_or_si128(v, _mm_and_si128(slash, _mm_set1_epi8(63)));
  return _mm_or_si128(v, _mm_andnot_si128(valid, _mm_set1_epi8(static_cast<char>(kInvalid))));
}
#endif

#if defined(__SSE2__)
// symbols_16 is symbol_of on 16 values (0..63) at once, by the same masks.
inline __m128i symbols_16(__m128i v) noexcept {
  const auto at_least = [&v](char lo) { return _mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(lo - 1))); };
  __m128i c = _mm_add_epi8(v, _mm_set1_epi8('A'));
  c = _mm_add_epi8(c, _mm_and_si128(at_least(26), _mm_set1_epi8('a' - 'A' - 26)));
  c = _mm_sub_epi8(c, _mm_and_si128(at_least(52), _mm_set1_epi8('a' - '0' + 26)));
  c = _mm_sub_epi8(c, _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(62)), _mm_set1_epi8('0' + 10 - '+')));
  return _mm_sub_epi8(c, _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(63)), _mm_set1_epi8('0' + 11 - '/')));
}
#endif

// body_has_invalid reports whether any of the `n` symbols at `in` is
// invalid (has value kInvalid), reading all of them.
bool body_has_invalid(const std::uint8_t* in, std::size_t n) noexcept {
  std::size_t i = 0;
  std::uint8_t invalid = 0;
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    acc = _mm_or_si128(acc, values_16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
  }
  invalid = static_cast<std::uint8_t>(_mm_movemask_epi8(acc) != 0 ? 0x80 : 0);
#endif
  for (; i < n; ++i) invalid |= value_of(in[i]);
  return (invalid & 0x80) != 0;
}

// decode_body writes the 3·n/4 bytes of the `n` valid symbols at `in` (n a
// multiple of 4) to `out`.
void decode_body(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16, out += 12) {
    const __m128i v = values_16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
    // Pairs of symbols into 12 bits, then pairs of pairs into 24 bits per
    // 32-bit lane, the first symbol highest.
    const __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), 6),
                                       _mm_srli_epi16(v, 8));
    __m128i groups = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(pairs, _mm_set1_epi32(0xFFFF)), 12),
                                  _mm_srli_epi32(pairs, 16));
    for (int g = 0; g < 4; ++g) {
      const auto w = static_cast<std::uint32_t>(_mm_cvtsi128_si32(groups));
      out[3 * g] = static_cast<std::uint8_t>(w >> 16);
      out[3 * g + 1] = static_cast<std::uint8_t>(w >> 8);
      out[3 * g + 2] = static_cast<std::uint8_t>(w);
      groups = _mm_srli_si128(groups, 4);
    }
  }
#endif
  for (; i < n; i += 4, out += 3) {
    const std::uint32_t v = std::uint32_t{value_of(in[i])} << 18 | std::uint32_t{value_of(in[i + 1])} << 12 |
                            std::uint32_t{value_of(in[i + 2])} << 6 | value_of(in[i + 3]);
    out[0] = static_cast<std::uint8_t>(v >> 16);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v);
  }
}

std::unexpected<Error> invalid_symbol(std::uint8_t byte, std::size_t offset) {
  return fail("Invalid symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) + ".");
}

}  // namespace

std::string encode(ByteView data) {
  std::string out;
  out.reserve(encoded_length(data.size()));
  std::size_t i = 0;
#if defined(__SSE2__)
  // Twelve bytes at a time: each group of three into a 32-bit lane, its four
  // 6-bit values into the lane's bytes (first value lowest), then symbols.
  char block[16];
  for (; i + 12 <= data.size(); i += 12) {
    const std::uint8_t* d = data.data() + i;
    const auto group = [d](int g) {
      return static_cast<int>(std::uint32_t{d[3 * g]} << 16 | std::uint32_t{d[3 * g + 1]} << 8 | d[3 * g + 2]);
    };
    const __m128i w = _mm_set_epi32(group(3), group(2), group(1), group(0));
    const __m128i six = _mm_set1_epi32(63);
    __m128i v = _mm_srli_epi32(w, 18);
    v = _mm_or_si128(v, _mm_slli_epi32(_mm_and_si128(_mm_srli_epi32(w, 12), six), 8));
    v = _mm_or_si128(v, _mm_slli_epi32(_mm_and_si128(_mm_srli_epi32(w, 6), six), 16));
    v = _mm_or_si128(v, _mm_slli_epi32(_mm_and_si128(w, six), 24));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block), symbols_16(v));
    out.append(block, sizeof block);
  }
  // The text may be a key document's.
  wipe_memory(block, sizeof block);
#endif
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
    out.push_back(symbol_of(v >> 18));
    out.push_back(symbol_of(v >> 12 & 63));
    out.push_back(symbol_of(v >> 6 & 63));
    out.push_back(symbol_of(v & 63));
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    std::uint32_t v = std::uint32_t{data[i]} << 16;
    if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
    out.push_back(symbol_of(v >> 18));
    out.push_back(symbol_of(v >> 12 & 63));
    out.push_back(rest == 2 ? symbol_of(v >> 6 & 63) : '=');
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

  if (len % 4 == 1 && in[len - 1] != kPad && value_of(in[len - 1]) == kInvalid) {
    return invalid_symbol(in[len - 1], len - 1);
  }

  // The final group: the last four bytes, or the len % 4 bytes left over.
  const std::size_t tail = len % 4 == 0 ? 4 : len % 4;
  const std::size_t body = len - tail;

  // The body is checked as a whole (invalid symbols have the top bit of
  // their value set), so a valid key text takes one branch; only a refused
  // one is searched for its first invalid symbol.
  if (body_has_invalid(in, body)) {
    for (std::size_t i = 0; i < body; ++i) {
      if (value_of(in[i]) == kInvalid) return invalid_symbol(in[i], i);
    }
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
    const std::uint8_t v = value_of(b);
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
  decode_body(in, body, out.data());
  std::size_t o = body / 4 * 3;
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
