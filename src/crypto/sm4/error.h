// SM4 failure kinds: one byte each, one fixed text each.
#pragma once

#include <cstdint>
#include <optional>
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

// to_error wraps the kind into the general error value, which keeps it;
// its display text is the kind's text.
inline Error to_error(Sm4Error e) { return Error(display(e), static_cast<std::uint8_t>(e)); }

// kind_of returns the Sm4Error that `e` wraps, if it wraps one.
inline std::optional<Sm4Error> kind_of(const Error& e) {
  const auto k = e.kind();
  if (!k || *k > static_cast<std::uint8_t>(Sm4Error::TagMismatch)) return std::nullopt;
  return static_cast<Sm4Error>(*k);
}

}  // namespace tarnwick::sm4
