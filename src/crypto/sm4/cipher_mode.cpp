#include "crypto/sm4/cipher_mode.h"

#include <algorithm>

#include "crypto/sm4/gcm.h"

namespace tarnwick::sm4::cipher_mode {
namespace {

inline void xor_into(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

// cfb runs CFB with 128-bit feedback; both directions use E, the register
// taking the ciphertext block.
Bytes cfb(const Sm4KeySchedule& s, ByteView data, const Block& iv, bool decrypt) {
  Bytes out(data.size());
  Block reg = iv;
  Block ks;
  const std::size_t whole = data.size() / kBlockSize * kBlockSize;
  for (std::size_t off = 0; off < whole; off += kBlockSize) {
    cipher::encrypt_raw(s, reg.data(), ks.data());
    xor_into(out.data() + off, ks.data(), data.data() + off, kBlockSize);
    const std::uint8_t* feedback = decrypt ? data.data() + off : out.data() + off;
    std::copy_n(feedback, kBlockSize, reg.begin());
  }
  if (whole < data.size()) {
    cipher::encrypt_raw(s, reg.data(), ks.data());
    xor_into(out.data() + whole, ks.data(), data.data() + whole, data.size() - whole);
  }
  return out;
}

Bytes cbc_encrypt(const Sm4KeySchedule& s, ByteView data, const Block& iv) {
  const std::size_t whole = data.size() / kBlockSize * kBlockSize;
  const std::size_t rest = data.size() - whole;
  Bytes out(whole + kBlockSize);
  Block reg = iv;
  for (std::size_t off = 0; off < whole; off += kBlockSize) {
    xor_into(reg.data(), reg.data(), data.data() + off, kBlockSize);
    cipher::encrypt_raw(s, reg.data(), reg.data());
    std::copy(reg.begin(), reg.end(), out.begin() + static_cast<std::ptrdiff_t>(off));
  }
  // The final block: the partial tail followed by PKCS#7 padding, a whole
  // block of 0x10 when the data ends on a block boundary.
  Block last;
  last.fill(static_cast<std::uint8_t>(kBlockSize - rest));
  std::copy_n(data.data() + whole, rest, last.begin());
  xor_into(reg.data(), reg.data(), last.data(), kBlockSize);
  cipher::encrypt_raw(s, reg.data(), out.data() + whole);
  return out;
}

std::expected<Bytes, Sm4Error> cbc_decrypt(const Sm4KeySchedule& s, ByteView data, const Block& iv) {
  if (data.size() % kBlockSize != 0) return std::unexpected(Sm4Error::InvalidDataLength);
  if (data.empty()) return std::unexpected(Sm4Error::InvalidPaddingByte);
  Bytes out(data.size());
  const std::uint8_t* prev = iv.data();
  for (std::size_t off = 0; off < data.size(); off += kBlockSize) {
    cipher::decrypt_raw(s, data.data() + off, out.data() + off);
    xor_into(out.data() + off, out.data() + off, prev, kBlockSize);
    prev = data.data() + off;
  }
  const std::uint8_t p = out.back();
  if (p == 0 || p > kBlockSize) return std::unexpected(Sm4Error::InvalidPaddingByte);
  out.resize(out.size() - p);
  return out;
}

}  // namespace

std::expected<Bytes, Sm4Error> ofb(const Sm4ModeCipher& cipher, ByteView data, const Block& iv) {
  Bytes out(data.size());
  Block reg = iv;
  for (std::size_t off = 0; off < data.size(); off += kBlockSize) {
    cipher::encrypt_raw(cipher.schedule, reg.data(), reg.data());
    xor_into(out.data() + off, reg.data(), data.data() + off, std::min(kBlockSize, data.size() - off));
  }
  return out;
}

std::expected<Bytes, Sm4Error> ctr(const Sm4ModeCipher& cipher, ByteView data, const Block& iv) {
  Bytes out(data.size());
  Block counter = iv;
  Block ks;
  for (std::size_t off = 0; off < data.size(); off += kBlockSize) {
    cipher::encrypt_raw(cipher.schedule, counter.data(), ks.data());
    xor_into(out.data() + off, ks.data(), data.data() + off, std::min(kBlockSize, data.size() - off));
    // 128-bit big-endian increment; all FF wraps to all 00.
    for (std::size_t i = kBlockSize; i-- > 0;) {
      if (++counter[i] != 0) break;
    }
  }
  return out;
}

std::expected<Bytes, Sm4Error> encrypt(const Sm4ModeCipher& cipher, ByteView aad, ByteView data, ByteView iv) {
  if (iv.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  Block reg;
  std::copy(iv.begin(), iv.end(), reg.begin());
  switch (cipher.mode) {
    case Sm4Mode::Cfb: return cfb(cipher.schedule, data, reg, false);
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
    case Sm4Mode::Cfb: return cfb(cipher.schedule, data, reg, true);
    case Sm4Mode::Ofb: return ofb(cipher, data, reg);
    case Sm4Mode::Ctr: return ctr(cipher, data, reg);
    case Sm4Mode::Cbc: return cbc_decrypt(cipher.schedule, data, reg);
    case Sm4Mode::Gcm: return gcm::decrypt(cipher.schedule, aad, data, reg);
  }
  return std::unexpected(Sm4Error::InvalidBlockSize);
}

}  // namespace tarnwick::sm4::cipher_mode
