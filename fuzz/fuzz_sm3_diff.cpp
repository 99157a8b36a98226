// Differential: our SM3 against OpenSSL's on the same input, on every
// compression path: AVX-512, AVX2 and portable (the processor's features
// withheld down to each; a path the processor lacks falls to the next).
#include <openssl/evp.h>

#include "common.h"
#include "crypto/sm3/sm3.h"
#include "support/cpu.h"

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  for (std::size_t n : {0, 3, 55, 56, 63, 64, 65, 119, 128}) sink.add(Bytes(n, 0x61));
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  std::uint8_t md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  FUZZ_CHECK(EVP_Digest(data, size, md, &len, EVP_sm3(), nullptr) == 1 && len == 32, "OpenSSL SM3");
  for (std::uint32_t withheld : {0u, std::uint32_t{cpu::kAvx512}, ~0u}) {
    cpu::testing::withhold(withheld);
    FUZZ_CHECK(sm3::digest(ByteView(data, size)) == Bytes(md, md + 32), "SM3 differs from OpenSSL");
  }
  cpu::testing::withhold(0);
  return 0;
}
