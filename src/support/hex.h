// Hexadecimal text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/bytes.h"

namespace tarnwick::hex {

// encode returns the lowercase hexadecimal text of `data`.
std::string encode(ByteView data);

// decode reads an even-length text of hex digits (either case); nullopt for
// anything else.
std::optional<Bytes> decode(std::string_view text);

}  // namespace tarnwick::hex
