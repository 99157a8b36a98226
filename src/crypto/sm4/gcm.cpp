#include "crypto/sm4/gcm.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace tarnwick::sm4 {
namespace {

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

inline void store64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
}

// gf_mul is the product X·Y in GF(2^128) of SP 800-38D §6.3, bit by bit
// from the most significant bit of X, with masks in place of branches so
// that the time does not depend on H.
Block128 gf_mul(Block128 x, Block128 y) {
  Block128 z{0, 0};
  Block128 v = y;
  for (int i = 0; i < 128; ++i) {
    const std::uint64_t word = i < 64 ? x.hi : x.lo;
    const std::uint64_t bit = (word >> (63 - (i & 63))) & 1;
    const std::uint64_t take = 0 - bit;
    z.hi ^= v.hi & take;
    z.lo ^= v.lo & take;
    const std::uint64_t reduce = 0 - (v.lo & 1);
    v.lo = (v.lo >> 1) | (v.hi << 63);
    v.hi = (v.hi >> 1) ^ (0xe100000000000000ULL & reduce);
  }
  return z;
}

// ghash hashes `data`, a multiple of 16 bytes, under `h`.
Block128 ghash(Block128 h, ByteView data) {
  Block128 y{0, 0};
  for (const Block128& x : gcm::to_blocks(data)) {
    y.hi ^= x.hi;
    y.lo ^= x.lo;
    y = gf_mul(y, h);
  }
  return y;
}

Block to_block(Block128 b) {
  Block out;
  store64(out.data(), b.hi);
  store64(out.data() + 8, b.lo);
  return out;
}

void inc32(Block& cb) {
  for (std::size_t i = kBlockSize; i-- > 12;) {
    if (++cb[i] != 0) break;
  }
}

void append_padded(Bytes& buf, ByteView part) {
  buf.insert(buf.end(), part.begin(), part.end());
  const std::size_t rest = part.size() % kBlockSize;
  if (rest != 0) buf.insert(buf.end(), kBlockSize - rest, 0);
}

struct Setup {
  Block128 h;
  Block j0;
};

// setup derives H = E(0^128) and J0 = GHASH(IV ‖ 0^64 ‖ [128]_64).
Setup setup(const Sm4KeySchedule& s, const Block& iv) {
  Block zero{};
  Block h_bytes;
  cipher::encrypt_raw(s, zero.data(), h_bytes.data());
  const Block128 h{load64(h_bytes.data()), load64(h_bytes.data() + 8)};
  std::uint8_t j0_input[32] = {};
  std::copy(iv.begin(), iv.end(), j0_input);
  j0_input[31] = 0x80;
  return {h, to_block(ghash(h, j0_input))};
}

// tag computes GCTR(J0, S) with S the GHASH of the padded AAD, the padded
// ciphertext and their bit lengths.
Block tag(const Sm4KeySchedule& s, const Setup& st, ByteView aad, ByteView ciphertext) {
  Bytes buf;
  append_padded(buf, aad);
  append_padded(buf, ciphertext);
  std::uint8_t lengths[16];
  store64(lengths, static_cast<std::uint64_t>(aad.size()) * 8);
  store64(lengths + 8, static_cast<std::uint64_t>(ciphertext.size()) * 8);
  buf.insert(buf.end(), lengths, lengths + 16);
  const Block sblock = to_block(ghash(st.h, buf));
  Block t;
  cipher::encrypt_raw(s, st.j0.data(), t.data());
  for (std::size_t i = 0; i < kBlockSize; ++i) t[i] ^= sblock[i];
  return t;
}

}  // namespace

namespace gcm {

std::vector<Block128> to_blocks(ByteView data) {
  std::vector<Block128> blocks(data.size() / kBlockSize);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::uint8_t* p = data.data() + i * kBlockSize;
    blocks[i] = {load64(p), load64(p + 8)};
  }
  return blocks;
}

std::expected<Bytes, Sm4Error> encrypt(const Sm4KeySchedule& schedule, ByteView aad, ByteView plaintext,
                                       const Block& iv) {
  const Setup st = setup(schedule, iv);
  Block icb = st.j0;
  inc32(icb);
  auto out = cipher_mode::gctr(schedule, icb, plaintext);
  if (!out) return out;
  const Block t = tag(schedule, st, aad, *out);
  out->insert(out->end(), t.begin(), t.end());
  return out;
}

std::expected<Bytes, Sm4Error> decrypt(const Sm4KeySchedule& schedule, ByteView aad, ByteView input,
                                       const Block& iv) {
  if (input.size() < kBlockSize) return std::unexpected(Sm4Error::InvalidDataLength);
  const ByteView ciphertext = input.first(input.size() - kBlockSize);
  const ByteView received = input.last(kBlockSize);
  const Setup st = setup(schedule, iv);
  const Block expected = tag(schedule, st, aad, ciphertext);
  if (CRYPTO_memcmp(expected.data(), received.data(), kBlockSize) != 0) {
    return std::unexpected(Sm4Error::TagMismatch);
  }
  Block icb = st.j0;
  inc32(icb);
  return cipher_mode::gctr(schedule, icb, ciphertext);
}

}  // namespace gcm

namespace cipher_mode {

std::expected<Bytes, Sm4Error> gctr(const Sm4KeySchedule& schedule, const Block& icb, ByteView x) {
  Bytes out(x.size());
  Block cb = icb;
  Block ks;
  for (std::size_t off = 0; off < x.size(); off += kBlockSize) {
    cipher::encrypt_raw(schedule, cb.data(), ks.data());
    const std::size_t n = std::min(kBlockSize, x.size() - off);
    for (std::size_t i = 0; i < n; ++i) out[off + i] = x[off + i] ^ ks[i];
    inc32(cb);
  }
  return out;
}

}  // namespace cipher_mode
}  // namespace tarnwick::sm4
