#include "crypto/sm4/cipher_mode.h"

#include <algorithm>
#include <cstring>

#include "crypto/sm4/gcm.h"
#include "crypto/sm4/path.h"
#include "support/ct.h"

namespace tarnwick::sm4::cipher_mode {
namespace {

using detail::Chain;
using detail::Counter;
using detail::Path;

// The parallel modes work through the data in pieces that stay in the
// first-level cache between the block pass and the XOR pass.
constexpr std::size_t kPiece = 4096;

inline void xor_into(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

Bytes cfb_encrypt(const Sm4KeySchedule& s, ByteView data, const Block& iv) {
  Bytes out(data.size());
  Wiped<Block> reg;
  reg.value = iv;
  detail::active().chain(Chain::CfbEncrypt, s.rk.data(), reg.value.data(), data.data(), out.data(), data.size());
  return out;
}

// cfb_decrypt: P_i = E(C_(i−1)) ⊕ C_i with C_0 = IV, the E inputs being the
// IV and the ciphertext itself, so every block is independent.
Bytes cfb_decrypt(const Sm4KeySchedule& s, ByteView data, const Block& iv) {
  const Path& path = detail::active();
  const std::size_t n = data.size(), m = n / kBlockSize, r = n % kBlockSize;
  Bytes out(n);
  if (n == 0) return out;
  const std::uint8_t* c = data.data();
  Wiped<Block> ks;
  path.crypt_blocks(s.rk.data(), iv.data(), ks.value.data(), 1);
  xor_into(out.data(), ks.value.data(), c, std::min(n, kBlockSize));
  // Whole blocks 1 … m − 1 from C_0 … C_(m−2).
  for (std::size_t i = 1; i < m;) {
    const std::size_t count = std::min(m - i, kPiece / kBlockSize);
    std::uint8_t* o = out.data() + kBlockSize * i;
    path.crypt_blocks(s.rk.data(), c + kBlockSize * (i - 1), o, count);
    xor_into(o, o, c + kBlockSize * i, kBlockSize * count);
    i += count;
  }
  if (m > 0 && r > 0) {
    path.crypt_blocks(s.rk.data(), c + kBlockSize * (m - 1), ks.value.data(), 1);
    xor_into(out.data() + kBlockSize * m, ks.value.data(), c + kBlockSize * m, r);
  }
  return out;
}

Bytes cbc_encrypt(const Sm4KeySchedule& s, ByteView data, const Block& iv) {
  const Path& path = detail::active();
  const std::size_t whole = data.size() / kBlockSize * kBlockSize;
  const std::size_t rest = data.size() - whole;
  Bytes out(whole + kBlockSize);
  Wiped<Block> reg;
  reg.value = iv;
  path.chain(Chain::CbcEncrypt, s.rk.data(), reg.value.data(), data.data(), out.data(), whole);
  // The final block: the partial tail followed by PKCS#7 padding, a whole
  // block of 0x10 when the data ends on a block boundary.
  Wiped<Block> last;
  last.value.fill(static_cast<std::uint8_t>(kBlockSize - rest));
  std::copy_n(data.data() + whole, rest, last.value.begin());
  path.chain(Chain::CbcEncrypt, s.rk.data(), reg.value.data(), last.value.data(), out.data() + whole, kBlockSize);
  return out;
}

std::expected<Bytes, Sm4Error> cbc_decrypt(const Sm4KeySchedule& s, ByteView data, const Block& iv) {
  if (data.size() % kBlockSize != 0) return std::unexpected(Sm4Error::InvalidDataLength);
  if (data.empty()) return std::unexpected(Sm4Error::InvalidPaddingByte);
  const Path& path = detail::active();
  const detail::DecryptKeys d(s.rk.data());
  Bytes out(data.size());
  const std::size_t m = data.size() / kBlockSize;
  for (std::size_t i = 0; i < m;) {
    const std::size_t count = std::min(m - i, kPiece / kBlockSize);
    std::uint8_t* o = out.data() + kBlockSize * i;
    path.crypt_blocks(d.keys.value, data.data() + kBlockSize * i, o, count);
    xor_into(o, o, i == 0 ? iv.data() : data.data() + kBlockSize * (i - 1), kBlockSize);
    xor_into(o + kBlockSize, o + kBlockSize, data.data() + kBlockSize * i, kBlockSize * (count - 1));
    i += count;
  }
  // The number of bytes removed is visible in the result's length.
  std::uint8_t p = out.back();
  ct::declassify(&p, 1);
  if (p == 0 || p > kBlockSize) {
    wipe(std::span<std::uint8_t>(out));  // no plaintext leaves a failed call
    return std::unexpected(Sm4Error::InvalidPaddingByte);
  }
  out.resize(out.size() - p);
  return out;
}

}  // namespace

std::expected<Bytes, Sm4Error> ofb(const Sm4ModeCipher& cipher, ByteView data, const Block& iv) {
  Bytes out(data.size());
  Wiped<Block> reg;
  reg.value = iv;
  detail::active().chain(Chain::Ofb, cipher.schedule.rk.data(), reg.value.data(), data.data(), out.data(),
                         data.size());
  return out;
}

std::expected<Bytes, Sm4Error> ctr(const Sm4ModeCipher& cipher, ByteView data, const Block& iv) {
  Bytes out(data.size());
  Wiped<Block> counter;
  counter.value = iv;
  detail::active().ctr(cipher.schedule.rk.data(), counter.value.data(), Counter::Full128, data.data(), out.data(),
                       data.size());
  return out;
}

std::expected<Bytes, Sm4Error> encrypt(const Sm4ModeCipher& cipher, ByteView aad, ByteView data, ByteView iv) {
  if (iv.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  Block reg;
  std::copy(iv.begin(), iv.end(), reg.begin());
  switch (cipher.mode) {
    case Sm4Mode::Cfb: return cfb_encrypt(cipher.schedule, data, reg);
    case Sm4Mode::Ofb: return ofb(cipher, data, reg);
    case Sm4Mode::Ctr: return ctr(cipher, data, reg);
    case Sm4Mode::Cbc: return cbc_encrypt(cipher.schedule, data, reg);
    case Sm4Mode::Gcm: return gcm::encrypt(cipher.schedule, aad, data, reg);
  }
  return std::unexpected(Sm4Error::InvalidBlockSize);
}

std::expected<Bytes, Sm4Error> decrypt(const Sm4ModeCipher& cipher, ByteView aad, ByteView data, ByteView iv) {
  if (iv.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  Block reg;
  std::copy(iv.begin(), iv.end(), reg.begin());
  switch (cipher.mode) {
    case Sm4Mode::Cfb: return cfb_decrypt(cipher.schedule, data, reg);
    case Sm4Mode::Ofb: return ofb(cipher, data, reg);
    case Sm4Mode::Ctr: return ctr(cipher, data, reg);
    case Sm4Mode::Cbc: return cbc_decrypt(cipher.schedule, data, reg);
    case Sm4Mode::Gcm: return gcm::decrypt(cipher.schedule, aad, data, reg);
  }
  return std::unexpected(Sm4Error::InvalidBlockSize);
}

}  // namespace tarnwick::sm4::cipher_mode
