#include "crypto/sm3/sm3.h"

#include <cstring>
#include <utility>

namespace tarnwick::sm3 {
namespace {

constexpr std::uint32_t rotl(std::uint32_t x, unsigned n) noexcept {
  n &= 31;
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}

constexpr std::uint32_t p0(std::uint32_t x) noexcept { return x ^ rotl(x, 9) ^ rotl(x, 17); }
constexpr std::uint32_t p1(std::uint32_t x) noexcept { return x ^ rotl(x, 15) ^ rotl(x, 23); }

// kT[j] = T_j <<< (j mod 32), fixed in advance.
constexpr std::array<std::uint32_t, 64> make_t() {
  std::array<std::uint32_t, 64> t{};
  for (unsigned j = 0; j < 64; ++j) t[j] = rotl(j < 16 ? 0x79CC4519u : 0x7A879D8Au, j % 32);
  return t;
}
constexpr std::array<std::uint32_t, 64> kT = make_t();

inline std::uint32_t load_be32(const std::uint8_t* p) noexcept {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// One round j of CF. FF/GG are XOR for the first 16 rounds, majority and
// choice after; the template index lets the compiler fold the round counter.
template <unsigned J>
inline void round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                  std::uint32_t& e, std::uint32_t& f, std::uint32_t& g, std::uint32_t& h,
                  const std::uint32_t* w) noexcept {
  const std::uint32_t a12 = rotl(a, 12);
  const std::uint32_t ss1 = rotl(a12 + e + kT[J], 7);
  const std::uint32_t ss2 = ss1 ^ a12;
  std::uint32_t ff, gg;
  if constexpr (J < 16) {
    ff = a ^ b ^ c;
    gg = e ^ f ^ g;
  } else {
    ff = (a & b) | (a & c) | (b & c);
    gg = (e & f) | (~e & g);
  }
  const std::uint32_t tt1 = ff + d + ss2 + (w[J] ^ w[J + 4]);
  const std::uint32_t tt2 = gg + h + ss1 + w[J];
  d = c;
  c = rotl(b, 9);
  b = a;
  a = tt1;
  h = g;
  g = rotl(f, 19);
  f = e;
  e = p0(tt2);
}

template <unsigned... J>
inline void rounds(std::uint32_t (&r)[8], const std::uint32_t* w,
                   std::integer_sequence<unsigned, J...>) noexcept {
  (round<J>(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], w), ...);
}

// Message expansion W16..W67, unrolled: as a loop, GCC vectorises it into
// overlapping loads that stall on the stores three words back.
template <unsigned... I>
inline void expand(std::uint32_t* w, std::integer_sequence<unsigned, I...>) noexcept {
  ((w[I + 16] = p1(w[I] ^ w[I + 7] ^ rotl(w[I + 13], 15)) ^ rotl(w[I + 3], 7) ^ w[I + 10]), ...);
}

void compress_one(ChainingValue& v, const std::uint8_t* block) noexcept {
  std::uint32_t w[68];
  for (int i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
  expand(w, std::make_integer_sequence<unsigned, 52>{});
  std::uint32_t r[8] = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
  rounds(r, w, std::make_integer_sequence<unsigned, 64>{});
  for (int i = 0; i < 8; ++i) v[i] ^= r[i];
}

}  // namespace

void compress(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept {
  for (std::size_t i = 0; i < blocks; ++i) compress_one(v, data + 64 * i);
}

Bytes digest(ByteView data) {
  ChainingValue v = kInitialValue;
  const std::size_t k = data.size() / 64;
  const std::size_t r = data.size() % 64;
  if (k > 0) compress(v, data.data(), k);

  std::uint8_t buf[128] = {};
  if (r > 0) std::memcpy(buf, data.data() + 64 * k, r);
  buf[r] = 0x80;
  // Message length in bits, modulo 2^64.
  const std::uint64_t bits = static_cast<std::uint64_t>(k) * 512u + static_cast<std::uint64_t>(r) * 8u;
  const std::size_t final_blocks = r <= 55 ? 1 : 2;
  std::uint8_t* len = buf + 64 * final_blocks - 8;
  store_be32(len, static_cast<std::uint32_t>(bits >> 32));
  store_be32(len + 4, static_cast<std::uint32_t>(bits));
  compress(v, buf, final_blocks);

  Bytes out(32);
  for (int i = 0; i < 8; ++i) store_be32(out.data() + 4 * i, v[i]);
  return out;
}

}  // namespace tarnwick::sm3
