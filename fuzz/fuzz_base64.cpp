// Base64 decoding of arbitrary text: no crash, and whatever decodes is the
// canonical encoding of its result (encode(decode(t)) == t).
#include <string_view>

#include "common.h"
#include "support/base64.h"

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  Bytes data;
  for (int n = 0; n < 8; ++n) {
    sink.add(base64::encode(data));
    data.push_back(static_cast<std::uint8_t>(0xF0 + n));
  }
  sink.add(std::string("not base64!"));
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto decoded = base64::decode(text);
  if (decoded) {
    FUZZ_CHECK(base64::encode(*decoded) == text, "decode accepted a non-canonical encoding");
  } else {
    FUZZ_CHECK(!decoded.error().display().empty(), "empty error text");
  }
  return 0;
}
