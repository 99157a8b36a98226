// The SM4 block cipher of GB/T 32907-2016 (128-bit block, 128-bit key,
// 32 rounds) and electronic-codebook processing of whole blocks.
#pragma once

#include <array>
#include <cstdint>
#include <expected>

#include "crypto/sm4/error.h"
#include "support/bytes.h"

namespace tarnwick::sm4 {

inline constexpr std::size_t kBlockSize = 16;
using Block = std::array<std::uint8_t, kBlockSize>;

// Sm4KeySchedule holds the round keys rk0 … rk31 in the order the key
// expansion produces them. It wipes them when it is destroyed.
struct Sm4KeySchedule {
  std::array<std::uint32_t, 32> rk;
  ~Sm4KeySchedule();
};

namespace cipher {

// key_schedule expands a 16-byte `key`; any other length fails with
// InvalidBlockSize.
std::expected<Sm4KeySchedule, Sm4Error> key_schedule(ByteView key);

// encrypt_block encrypts one 16-byte `block`; any other length fails with
// InvalidBlockSize.
std::expected<Block, Sm4Error> encrypt_block(const Sm4KeySchedule& schedule, ByteView block);

// decrypt_block decrypts one block. It never fails; the result type matches
// encrypt_block.
std::expected<Block, Sm4Error> decrypt_block(const Sm4KeySchedule& schedule, const Block& block);

// encrypt_raw and decrypt_raw are the infallible single-block forms:
// `out` may alias `in`.
void encrypt_raw(const Sm4KeySchedule& schedule, const std::uint8_t* in, std::uint8_t* out) noexcept;
void decrypt_raw(const Sm4KeySchedule& schedule, const std::uint8_t* in, std::uint8_t* out) noexcept;

// encrypt_ecb encrypts the ⌊len/16⌋ whole blocks of `data`, in order; a
// trailing partial block is neither processed nor copied. Nothing is padded.
std::expected<Bytes, Sm4Error> encrypt_ecb(const Sm4KeySchedule& schedule, ByteView data);

// decrypt_ecb is the inverse of encrypt_ecb, with the same treatment of a
// trailing partial block.
std::expected<Bytes, Sm4Error> decrypt_ecb(const Sm4KeySchedule& schedule, ByteView data);

}  // namespace cipher
}  // namespace tarnwick::sm4
