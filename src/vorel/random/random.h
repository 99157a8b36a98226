// Random bytes from the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::vorel::random {

// random_bytes returns `count` bytes from the OS random source; a failure of
// the source is an error whose text is its display text. 0 touches nothing.
Result<Bytes> random_bytes(std::size_t count);

// random_generate returns the Base64 text of `length` random bytes; a length
// of 0 or below fails with "length must be greater than 0".
Result<std::string> random_generate(std::int32_t length);

}  // namespace tarnwick::vorel::random
