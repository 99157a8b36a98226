// The SM4 mode engine: CFB (128-bit feedback), OFB, CTR, CBC and GCM over
// one key schedule.
#pragma once

#include <cstdint>
#include <expected>

#include "crypto/sm4/cipher.h"
#include "crypto/sm4/error.h"
#include "support/bytes.h"

namespace tarnwick::sm4 {

enum class Sm4Mode : std::uint8_t {
  Cfb = 0,
  Ofb = 1,
  Ctr = 2,
  Cbc = 3,
  Gcm = 4,
};

// Sm4ModeCipher is a key schedule and the mode it runs in; the engine only
// reads it, so one value may serve several threads at once.
struct Sm4ModeCipher {
  Sm4KeySchedule schedule;
  Sm4Mode mode;
};

namespace cipher_mode {

// encrypt runs `cipher`'s mode over `data` with the 16-byte `iv`; `aad` is
// the associated data of GCM and ignored by the other modes. An IV of any
// other length fails with InvalidBlockSize before anything is computed.
// CFB, OFB and CTR keep the length; CBC always appends 1 … 16 bytes of
// PKCS#7 padding; GCM appends the 16-byte tag.
std::expected<Bytes, Sm4Error> encrypt(const Sm4ModeCipher& cipher, ByteView aad, ByteView data, ByteView iv);

// decrypt inverts encrypt. CBC fails with InvalidDataLength when `data` is
// not a multiple of 16 bytes and with InvalidPaddingByte when it is empty or
// its last decrypted byte p is not in 1 … 16; otherwise it removes p bytes
// without examining the other p − 1. GCM fails with TagMismatch when the
// tag does not verify and with InvalidDataLength when `data` is shorter
// than the tag; no plaintext is returned on failure.
std::expected<Bytes, Sm4Error> decrypt(const Sm4ModeCipher& cipher, ByteView aad, ByteView data, ByteView iv);

// ofb XORs the OFB keystream of `iv` into `data`; it serves both directions.
std::expected<Bytes, Sm4Error> ofb(const Sm4ModeCipher& cipher, ByteView data, const Block& iv);

// ctr XORs the CTR keystream into `data`, the first counter being `iv` and
// each next one the previous plus 1 as a 128-bit big-endian integer,
// wrapping from all FF to all 00. It serves both directions.
std::expected<Bytes, Sm4Error> ctr(const Sm4ModeCipher& cipher, ByteView data, const Block& iv);

}  // namespace cipher_mode
}  // namespace tarnwick::sm4
