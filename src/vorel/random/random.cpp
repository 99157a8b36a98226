#include "vorel/random/random.h"

#include "support/base64.h"
#include "support/os_random.h"

namespace tarnwick::vorel::random {

Result<Bytes> random_bytes(std::size_t count) {
  if (count == 0) return Bytes{};
  Bytes buf(count, 0);
  if (auto filled = os_random::fill(buf); !filled) return fail(filled.error().display());
  return buf;
}

Result<std::string> random_generate(std::int32_t length) {
  if (length <= 0) return fail("length must be greater than 0");
  auto bytes = random_bytes(static_cast<std::size_t>(length));
  if (!bytes) return std::unexpected(bytes.error());
  return base64::encode(*bytes);
}

}  // namespace tarnwick::vorel::random
