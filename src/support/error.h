// The general error value: one display text, nothing chained behind it.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace tarnwick {

class Error {
 public:
  explicit Error(std::string text) : text_(std::move(text)) {}
  explicit Error(std::string_view text) : text_(text) {}
  explicit Error(const char* text) : text_(text) {}

  // display is the one text a caller ever shows.
  const std::string& display() const noexcept { return text_; }

  bool operator==(const Error&) const = default;

 private:
  std::string text_;
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(std::string text) {
  return std::unexpected<Error>(Error(std::move(text)));
}

}  // namespace tarnwick
