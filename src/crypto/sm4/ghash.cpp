// The portable GHASH of NIST SP 800-38D, and the wiping helpers of the
// SM4 paths.
#include <openssl/crypto.h>

#include <cstring>

#include "crypto/sm4/path.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm4::detail {
namespace {

// gf_mul is X·Y in GF(2^128) (SP 800-38D §6.3, Algorithm 1), bit by bit
// from the most significant bit of X, with masks in place of branches so
// that the time does not depend on either operand.
void gf_mul(std::uint64_t& xh, std::uint64_t& xl, std::uint64_t yh, std::uint64_t yl) {
  std::uint64_t zh = 0, zl = 0, vh = yh, vl = yl;
  for (int i = 0; i < 128; ++i) {
    const std::uint64_t word = i < 64 ? xh : xl;
    const std::uint64_t take = 0 - ((word >> (63 - (i & 63))) & 1);
    zh ^= vh & take;
    zl ^= vl & take;
    const std::uint64_t reduce = 0 - (vl & 1);
    vl = (vl >> 1) | (vh << 63);
    vh = (vh >> 1) ^ (0xe100000000000000ULL & reduce);
  }
  xh = zh;
  xl = zl;
}

}  // namespace

GhashKey::~GhashKey() { wipe_memory(bytes, sizeof bytes); }

void ghash_portable_init(GhashKey& key, const std::uint8_t h[16]) { std::memcpy(key.bytes, h, 16); }

void ghash_portable(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n) {
  const std::uint64_t hh = load_be64(key.bytes), hl = load_be64(key.bytes + 8);
  std::uint64_t yh = load_be64(y), yl = load_be64(y + 8);
  for (std::size_t i = 0; i < n; ++i, in += 16) {
    yh ^= load_be64(in);
    yl ^= load_be64(in + 8);
    gf_mul(yh, yl, hh, hl);
  }
  store_be64(y, yh);
  store_be64(y + 8, yl);
}

}  // namespace tarnwick::sm4::detail
