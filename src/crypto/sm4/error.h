// SM4 failure kinds: one byte each, one fixed text each.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/error.h"

namespace tarnwick::sm4 {

enum class Sm4Error : std::uint8_t {
  InvalidBlockSize = 0,
  InvalidDataLength = 1,
  InvalidPaddingByte = 2,
  TagMismatch = 3,
};

// display returns the kind's text; debug returns the same text.
std::string_view display(Sm4Error e) noexcept;
inline std::string_view debug(Sm4Error e) noexcept { return display(e); }

// to_error wraps the kind into the general error value; its display text is
// the kind's text.
inline Error to_error(Sm4Error e) { return Error(display(e)); }

}  // namespace tarnwick::sm4
