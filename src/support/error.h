// The general error value: one display text, nothing chained behind it,
// and the one-byte kind of the error it wraps when it wraps one.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarnwick {

class Error {
 public:
  explicit Error(std::string text) : text_(std::move(text)) {}
  explicit Error(std::string_view text) : text_(text) {}
  explicit Error(const char* text) : text_(text) {}
  // Error(text, kind) wraps a lower error: `kind` is its one-byte value
  // (an Sm4Error), `text` its display text.
  Error(std::string_view text, std::uint8_t kind) : text_(text), kind_(kind) {}

  // display is the one text a caller ever shows.
  const std::string& display() const noexcept { return text_; }

  // kind is the wrapped error's one-byte value, if the error wraps one.
  std::optional<std::uint8_t> kind() const noexcept { return kind_; }

  bool operator==(const Error&) const = default;

 private:
  std::string text_;
  std::optional<std::uint8_t> kind_;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(std::string text) {
  return std::unexpected<Error>(Error(std::move(text)));
}

}  // namespace tarnwick
