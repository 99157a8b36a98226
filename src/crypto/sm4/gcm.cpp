#include "crypto/sm4/gcm.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "crypto/sm4/path.h"
#include "support/ct.h"
#include "support/endian.h"

namespace tarnwick::sm4 {
namespace {

using detail::Counter;
using detail::Path;

// inc32 adds 1 modulo 2^32 to bytes 12 … 15, leaving bytes 0 … 11 alone,
// with arithmetic only (the counter derives from H).
void inc32(Block& cb) {
  store_be32(cb.data() + 12, load_be32(cb.data() + 12) + 1);
}

// Pieces of this size are encrypted and then hashed while in cache.
constexpr std::size_t kPiece = 4096;

// Context holds a call's secrets: the GHASH key made from H = E(0^128), and
// J0. Both are wiped when it goes out of scope.
struct Context {
  const Path& path;
  const Sm4KeySchedule& schedule;
  detail::GhashKey key;
  Wiped<Block> j0;

  Context(const Path& p, const Sm4KeySchedule& s, const Block& iv) : path(p), schedule(s) {
    Wiped<Block> h;
    const Block zero{};
    path.crypt_blocks(schedule.rk.data(), zero.data(), h.value.data(), 1);
    path.ghash_init(key, h.value.data());
    // J0 = GHASH(IV ‖ 0^64 ‖ [128]_64).
    std::uint8_t input[32] = {};
    std::copy(iv.begin(), iv.end(), input);
    input[31] = 0x80;
    path.ghash(key, j0.value.data(), input, 2);
  }

  // hash folds `data` into `y`, zero-padded to a whole number of blocks.
  void hash(Block& y, ByteView data) const {
    const std::size_t whole = data.size() / kBlockSize;
    if (whole > 0) path.ghash(key, y.data(), data.data(), whole);
    if (data.size() % kBlockSize != 0) {
      Block last{};
      std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole * kBlockSize), data.end(), last.begin());
      path.ghash(key, y.data(), last.data(), 1);
    }
  }

  // finish appends the length block and returns the tag GCTR(J0, S).
  void finish(Block& y, std::size_t aad_len, std::size_t ct_len, std::uint8_t* tag) const {
    std::uint8_t lengths[16];
    store_be64(lengths, static_cast<std::uint64_t>(aad_len) * 8);
    store_be64(lengths + 8, static_cast<std::uint64_t>(ct_len) * 8);
    path.ghash(key, y.data(), lengths, 1);
    Wiped<Block> e;
    path.crypt_blocks(schedule.rk.data(), j0.value.data(), e.value.data(), 1);
    for (std::size_t i = 0; i < kBlockSize; ++i) tag[i] = e.value[i] ^ y[i];
  }

  // gctr runs the counter mode from inc32(J0).
  void gctr(const std::uint8_t* in, std::uint8_t* out, std::size_t len, Block& counter) const {
    path.ctr(schedule.rk.data(), counter.data(), Counter::Low32, in, out, len);
  }
};

}  // namespace

namespace gcm {

std::vector<Block128> to_blocks(ByteView data) {
  std::vector<Block128> blocks(data.size() / kBlockSize);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::uint8_t* p = data.data() + i * kBlockSize;
    blocks[i] = {load_be64(p), load_be64(p + 8)};
  }
  return blocks;
}

std::expected<Bytes, Sm4Error> encrypt(const Sm4KeySchedule& schedule, ByteView aad, ByteView plaintext,
                                       const Block& iv) {
  const Context c(detail::active(), schedule, iv);
  Bytes out(plaintext.size() + kBlockSize);
  Wiped<Block> counter, y;
  counter.value = c.j0.value;
  inc32(counter.value);
  c.hash(y.value, aad);
  for (std::size_t off = 0; off < plaintext.size(); off += kPiece) {
    const std::size_t len = std::min(kPiece, plaintext.size() - off);
    c.gctr(plaintext.data() + off, out.data() + off, len, counter.value);
    c.hash(y.value, ByteView(out.data() + off, len));
  }
  c.finish(y.value, aad.size(), plaintext.size(), out.data() + plaintext.size());
  return out;
}

std::expected<Bytes, Sm4Error> decrypt(const Sm4KeySchedule& schedule, ByteView aad, ByteView input,
                                       const Block& iv) {
  if (input.size() < kBlockSize) return std::unexpected(Sm4Error::InvalidDataLength);
  const ByteView ciphertext = input.first(input.size() - kBlockSize);
  const ByteView received = input.last(kBlockSize);
  const Context c(detail::active(), schedule, iv);
  Wiped<Block> y, expected;
  c.hash(y.value, aad);
  c.hash(y.value, ciphertext);
  c.finish(y.value, aad.size(), ciphertext.size(), expected.value.data());
  // The two tags are compared in constant time; only the verdict is public.
  int differ = CRYPTO_memcmp(expected.value.data(), received.data(), kBlockSize);
  ct::declassify(&differ, sizeof differ);
  if (differ != 0) return std::unexpected(Sm4Error::TagMismatch);
  Bytes out(ciphertext.size());
  Wiped<Block> counter;
  counter.value = c.j0.value;
  inc32(counter.value);
  c.gctr(ciphertext.data(), out.data(), ciphertext.size(), counter.value);
  return out;
}

}  // namespace gcm

namespace cipher_mode {

std::expected<Bytes, Sm4Error> gctr(const Sm4KeySchedule& schedule, const Block& icb, ByteView x) {
  Bytes out(x.size());
  Wiped<Block> counter;
  counter.value = icb;
  detail::active().ctr(schedule.rk.data(), counter.value.data(), Counter::Low32, x.data(), out.data(), x.size());
  return out;
}

}  // namespace cipher_mode
}  // namespace tarnwick::sm4
