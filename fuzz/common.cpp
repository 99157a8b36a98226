#include "common.h"

#include <filesystem>
#include <fstream>

#include "fixed_keys.h"
#include "support/base64.h"

namespace tarnwick::fuzz {

Bytes rsa_pkcs8() { return *base64::decode(kRsaPkcs8Base64); }
Bytes sm2_pkcs8() { return *base64::decode(kSm2Pkcs8Base64); }

void maybe_write_seeds() {
  const char* dir = std::getenv("TARNWICK_FUZZ_SEEDS");
  if (dir == nullptr || *dir == '\0') return;
  SeedSink sink;
  seeds(sink);
  std::filesystem::create_directories(dir);
  std::size_t i = 0;
  for (const Bytes& s : sink.all()) {
    std::ofstream out(std::filesystem::path(dir) / ("seed-" + std::to_string(i++)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
  }
  std::fprintf(stderr, "wrote %zu seeds to %s\n", i, dir);
  std::exit(0);
}

}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tarnwick::fuzz::maybe_write_seeds();
  return 0;
}
