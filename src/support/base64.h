// Base64 with the standard alphabet: "=" padding on encode, canonical
// padding required on decode.
#pragma once

#include <string>
#include <string_view>

#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::base64 {

// encode returns 4·⌈n/3⌉ characters for `data` of n bytes.
std::string encode(ByteView data);

// decode accepts exactly the canonical encodings. Failures carry the texts
// "Invalid symbol {byte}, offset {i}.", "Invalid input length: {n}",
// "Invalid padding" and "Invalid last symbol {byte}, offset {i}.".
Result<Bytes> decode(std::string_view text);

}  // namespace tarnwick::base64
