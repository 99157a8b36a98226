// PKCS#7 unpadding (RFC 5652 §6.3): on success exactly p = last byte bytes,
// all equal to p, are removed; on failure the data is untouched.
#include "common.h"
#include "crypto/padding/pkcs7.h"

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  for (std::size_t n : {0, 1, 15, 16, 17}) {
    Bytes b(n, 0x41);
    padding::pkcs7::pad(b);
    sink.add(b);
  }
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  Bytes b(data, data + size);
  auto r = padding::pkcs7::unpad(b);
  if (!r) {
    FUZZ_CHECK(b == Bytes(data, data + size), "failed unpad changed the data");
    return 0;
  }
  const std::size_t p = data[size - 1];
  FUZZ_CHECK(p >= 1 && b.size() == size - p, "wrong count removed");
  for (std::size_t i = b.size(); i < size; ++i) FUZZ_CHECK(data[i] == p, "inconsistent padding accepted");
  FUZZ_CHECK(std::equal(b.begin(), b.end(), data), "kept bytes changed");
  return 0;
}
