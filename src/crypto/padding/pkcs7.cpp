#include "crypto/padding/pkcs7.h"

namespace tarnwick::padding::pkcs7 {

namespace {
constexpr std::size_t kBlock = 16;
}

void pad(Bytes& data) {
  const std::size_t p = kBlock - data.size() % kBlock;
  data.insert(data.end(), p, static_cast<std::uint8_t>(p));
}

Result<void> unpad(Bytes& data) {
  if (data.empty()) return fail("data is empty");
  const std::size_t p = data.back();
  if (p == 0 || p > data.size()) return fail("padding: invalid padding");
  for (std::size_t i = data.size() - p; i < data.size(); ++i) {
    if (data[i] != p) return fail("padding: inconsistent padding bytes");
  }
  data.resize(data.size() - p);
  return {};
}

}  // namespace tarnwick::padding::pkcs7
