#include "crypto/sm4/cipher.h"

#include <cstring>

namespace tarnwick::sm4::cipher {
namespace {

// GB/T 32907-2016 §6.2: the S-box.
constexpr std::uint8_t kSbox[256] = {
    0xd6, 0x90, 0xe9, 0xfe, 0xcc, 0xe1, 0x3d, 0xb7, 0x16, 0xb6, 0x14, 0xc2, 0x28, 0xfb, 0x2c, 0x05,
    0x2b, 0x67, 0x9a, 0x76, 0x2a, 0xbe, 0x04, 0xc3, 0xaa, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99,
    0x9c, 0x42, 0x50, 0xf4, 0x91, 0xef, 0x98, 0x7a, 0x33, 0x54, 0x0b, 0x43, 0xed, 0xcf, 0xac, 0x62,
    0xe4, 0xb3, 0x1c, 0xa9, 0xc9, 0x08, 0xe8, 0x95, 0x80, 0xdf, 0x94, 0xfa, 0x75, 0x8f, 0x3f, 0xa6,
    0x47, 0x07, 0xa7, 0xfc, 0xf3, 0x73, 0x17, 0xba, 0x83, 0x59, 0x3c, 0x19, 0xe6, 0x85, 0x4f, 0xa8,
    0x68, 0x6b, 0x81, 0xb2, 0x71, 0x64, 0xda, 0x8b, 0xf8, 0xeb, 0x0f, 0x4b, 0x70, 0x56, 0x9d, 0x35,
    0x1e, 0x24, 0x0e, 0x5e, 0x63, 0x58, 0xd1, 0xa2, 0x25, 0x22, 0x7c, 0x3b, 0x01, 0x21, 0x78, 0x87,
    0xd4, 0x00, 0x46, 0x57, 0x9f, 0xd3, 0x27, 0x52, 0x4c, 0x36, 0x02, 0xe7, 0xa0, 0xc4, 0xc8, 0x9e,
    0xea, 0xbf, 0x8a, 0xd2, 0x40, 0xc7, 0x38, 0xb5, 0xa3, 0xf7, 0xf2, 0xce, 0xf9, 0x61, 0x15, 0xa1,
    0xe0, 0xae, 0x5d, 0xa4, 0x9b, 0x34, 0x1a, 0x55, 0xad, 0x93, 0x32, 0x30, 0xf5, 0x8c, 0xb1, 0xe3,
    0x1d, 0xf6, 0xe2, 0x2e, 0x82, 0x66, 0xca, 0x60, 0xc0, 0x29, 0x23, 0xab, 0x0d, 0x53, 0x4e, 0x6f,
    0xd5, 0xdb, 0x37, 0x45, 0xde, 0xfd, 0x8e, 0x2f, 0x03, 0xff, 0x6a, 0x72, 0x6d, 0x6c, 0x5b, 0x51,
    0x8d, 0x1b, 0xaf, 0x92, 0xbb, 0xdd, 0xbc, 0x7f, 0x11, 0xd9, 0x5c, 0x41, 0x1f, 0x10, 0x5a, 0xd8,
    0x0a, 0xc1, 0x31, 0x88, 0xa5, 0xcd, 0x7b, 0xbd, 0x2d, 0x74, 0xd0, 0x12, 0xb8, 0xe5, 0xb4, 0xb0,
    0x89, 0x69, 0x97, 0x4a, 0x0c, 0x96, 0x77, 0x7e, 0x65, 0xb9, 0xf1, 0x09, 0xc5, 0x6e, 0xc6, 0x84,
    0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d, 0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48,
};

// GB/T 32907-2016 §7.3: the system parameter FK.
constexpr std::uint32_t kFk[4] = {0xa3b1bac6, 0x56aa3350, 0x677d9197, 0xb27022dc};

// GB/T 32907-2016 §7.3: the fixed parameters CK, byte j of CK_i being
// (4i + j)·7 mod 256.
constexpr std::uint32_t kCk[32] = {
    0x00070e15, 0x1c232a31, 0x383f464d, 0x545b6269, 0x70777e85, 0x8c939aa1, 0xa8afb6bd, 0xc4cbd2d9,
    0xe0e7eef5, 0xfc030a11, 0x181f262d, 0x343b4249, 0x50575e65, 0x6c737a81, 0x888f969d, 0xa4abb2b9,
    0xc0c7ced5, 0xdce3eaf1, 0xf8ff060d, 0x141b2229, 0x30373e45, 0x4c535a61, 0x686f767d, 0x848b9299,
    0xa0a7aeb5, 0xbcc3cad1, 0xd8dfe6ed, 0xf4fb0209, 0x10171e25, 0x2c333a41, 0x484f565d, 0x646b7279,
};

constexpr bool ck_matches_formula() {
  for (unsigned i = 0; i < 32; ++i) {
    std::uint32_t w = 0;
    for (unsigned j = 0; j < 4; ++j) w = (w << 8) | (((4 * i + j) * 7) & 0xff);
    if (w != kCk[i]) return false;
  }
  return true;
}
static_assert(ck_matches_formula());

constexpr std::uint32_t rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t load_be(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline void store_be(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// τ: the S-box applied to each byte of the word.
inline std::uint32_t tau(std::uint32_t a) {
  return (std::uint32_t{kSbox[a >> 24]} << 24) | (std::uint32_t{kSbox[(a >> 16) & 0xff]} << 16) |
         (std::uint32_t{kSbox[(a >> 8) & 0xff]} << 8) | std::uint32_t{kSbox[a & 0xff]};
}

// T: the round transform, linear part L.
inline std::uint32_t t_round(std::uint32_t a) {
  const std::uint32_t b = tau(a);
  return b ^ rotl(b, 2) ^ rotl(b, 10) ^ rotl(b, 18) ^ rotl(b, 24);
}

// T′: the key-expansion transform, linear part L′.
inline std::uint32_t t_key(std::uint32_t a) {
  const std::uint32_t b = tau(a);
  return b ^ rotl(b, 13) ^ rotl(b, 23);
}

// crypt runs the 32 rounds with the round keys in the given direction and
// writes the reverse transform R(X32, X33, X34, X35).
inline void crypt(const Sm4KeySchedule& s, bool decrypt, const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t x0 = load_be(in), x1 = load_be(in + 4), x2 = load_be(in + 8), x3 = load_be(in + 12);
  for (int i = 0; i < 32; ++i) {
    const std::uint32_t rk = s.rk[decrypt ? 31 - i : i];
    const std::uint32_t x4 = x0 ^ t_round(x1 ^ x2 ^ x3 ^ rk);
    x0 = x1;
    x1 = x2;
    x2 = x3;
    x3 = x4;
  }
  store_be(out, x3);
  store_be(out + 4, x2);
  store_be(out + 8, x1);
  store_be(out + 12, x0);
}

std::expected<Bytes, Sm4Error> ecb(const Sm4KeySchedule& s, bool decrypt, ByteView data) {
  const std::size_t whole = data.size() / kBlockSize * kBlockSize;
  Bytes out(whole);
  for (std::size_t off = 0; off < whole; off += kBlockSize) crypt(s, decrypt, data.data() + off, out.data() + off);
  return out;
}

}  // namespace

std::expected<Sm4KeySchedule, Sm4Error> key_schedule(ByteView key) {
  if (key.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  std::uint32_t k[4];
  for (int i = 0; i < 4; ++i) k[i] = load_be(key.data() + 4 * i) ^ kFk[i];
  Sm4KeySchedule s{};
  for (int i = 0; i < 32; ++i) {
    const std::uint32_t next = k[0] ^ t_key(k[1] ^ k[2] ^ k[3] ^ kCk[i]);
    s.rk[i] = next;
    k[0] = k[1];
    k[1] = k[2];
    k[2] = k[3];
    k[3] = next;
  }
  return s;
}

std::expected<Block, Sm4Error> encrypt_block(const Sm4KeySchedule& schedule, ByteView block) {
  if (block.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  Block out;
  crypt(schedule, false, block.data(), out.data());
  return out;
}

std::expected<Block, Sm4Error> decrypt_block(const Sm4KeySchedule& schedule, const Block& block) {
  Block out;
  crypt(schedule, true, block.data(), out.data());
  return out;
}

void encrypt_raw(const Sm4KeySchedule& schedule, const std::uint8_t* in, std::uint8_t* out) noexcept {
  crypt(schedule, false, in, out);
}

void decrypt_raw(const Sm4KeySchedule& schedule, const std::uint8_t* in, std::uint8_t* out) noexcept {
  crypt(schedule, true, in, out);
}

std::expected<Bytes, Sm4Error> encrypt_ecb(const Sm4KeySchedule& schedule, ByteView data) {
  return ecb(schedule, false, data);
}

std::expected<Bytes, Sm4Error> decrypt_ecb(const Sm4KeySchedule& schedule, ByteView data) {
  return ecb(schedule, true, data);
}

}  // namespace tarnwick::sm4::cipher
