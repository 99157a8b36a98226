// Base64 with the standard alphabet: "=" padding on encode, canonical
// padding required on decode.
#pragma once

#include <string>
#include <string_view>

#include "support/bytes.h"
#include "support/error.h"
#include "support/secret.h"

namespace tarnwick::base64 {

// encoded_length is 4·⌈n/3⌉, the length of the encoding of `n` bytes.
constexpr std::size_t encoded_length(std::size_t n) noexcept { return (n / 3 + (n % 3 != 0)) * 4; }

// encode returns encoded_length(n) characters for `data` of n bytes.
std::string encode(ByteView data);

// decode accepts exactly the canonical encodings. Failures carry the texts
// "Invalid symbol {byte}, offset {i}.", "Invalid input length: {n}",
// "Invalid padding" and "Invalid last symbol {byte}, offset {i}.".
// The output is allocated once, at its exact size, and only after the whole
// input has been checked.
Result<Bytes> decode(std::string_view text);

// decode_secret is decode for key material: the result wipes its memory
// when released.
Result<SecretBytes> decode_secret(std::string_view text);

}  // namespace tarnwick::base64
