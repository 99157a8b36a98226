// SM2 signature verification over the recommended curve (GB/T 32918.2 §7.1)
// from a user ID and a message; the check on a digest, key::verify_digest,
// is declared in key.h.
//
// The signature is handed in as one byte string: its first 32 bytes are r
// (big-endian) and all the bytes after them are s (big-endian, any length,
// leading zero bytes allowed). Callers holding r and s as integers left-pad
// each to 32 bytes and concatenate them, r first.
#pragma once

#include <expected>
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/sm2/error.h"
#include "crypto/sm2/key.h"
#include "crypto/sm2/key_pair.h"
#include "support/bytes.h"

namespace tarnwick::sm2 {

// kDefaultUserId is the user ID taken when a caller gives none
// (GB/T 35276 §10): the 16 bytes "1234567812345678".
inline constexpr std::string_view kDefaultUserId = "1234567812345678";

// default_user_id returns kDefaultUserId as bytes.
inline ByteView default_user_id() noexcept {
  return {reinterpret_cast<const std::uint8_t*>(kDefaultUserId.data()), kDefaultUserId.size()};
}

// verify_with_id checks `signature` on `message` for the signer `user_id`
// (absent or empty: kDefaultUserId): e = SM3(Z ‖ message) with Z from
// util::user_digest, then key::verify_digest. Z's failures come first:
// InvalidPublicKey for a key off the curve, IdTooLong for an ID of more
// than 8191 bytes.
std::expected<void, Sm2Error> verify_with_id(const Sm2PublicKey& public_key, std::optional<ByteView> user_id,
                                             ByteView message, ByteView signature);

}  // namespace tarnwick::sm2
