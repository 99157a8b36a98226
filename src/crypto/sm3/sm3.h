// SM3 hash (GB/T 32905-2016).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "support/bytes.h"

namespace tarnwick::sm3 {

using ChainingValue = std::array<std::uint32_t, 8>;

// kInitialValue is the standard's IV, V0 first.
inline constexpr ChainingValue kInitialValue = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                                                0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

// compress applies the compression function CF to `v` for each of the
// `blocks` consecutive 64-byte blocks at `data`, in order. `data` must hold
// at least 64·`blocks` bytes. Before it returns it zeroes the stack the
// compression used (the expanded message words, spilled state) and the
// vector registers that held message words, once per call.
void compress(ChainingValue& v, const std::uint8_t* data, std::size_t blocks) noexcept;

// finish completes a hash whose first `absorbed` bytes (a multiple of 64)
// are already compressed into `prefix`: it absorbs the `n` bytes at `tail`,
// pads the message (GB/T 32905 §5.2) and writes the 32-byte digest to
// `out`. Its copy of the state and the buffer that holds the padded last
// block are wiped, as the tail may be secret, and it clears the stack of
// its compressions once, as `compress` does.
void finish(const ChainingValue& prefix, std::uint64_t absorbed, const std::uint8_t* tail, std::size_t n,
            std::uint8_t out[32]) noexcept;

// digest returns the 32-byte SM3 digest of `data` (any length, empty
// included). Whole blocks are compressed straight from `data`; only the
// final partial block is copied.
Bytes digest(ByteView data);

}  // namespace tarnwick::sm3
