// The RSA key readers (SubjectPublicKeyInfo / PKCS#1 public, PKCS#8 /
// PKCS#1 private) over arbitrary bytes; an accepted key must work.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "common.h"
#include "ohos/asym/rsa_key.h"
#include "ohos/asym/rsa_ops.h"

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  const Bytes pkcs8 = rsa_pkcs8();
  sink.add(pkcs8);
  auto key = ohos::asym::rsa_private_key_from_der(pkcs8);
  FUZZ_CHECK(key.has_value(), "fixed RSA key does not read");
  unsigned char* out = nullptr;
  const int n = i2d_PUBKEY(key->get(), &out);
  sink.add(ByteView(out, static_cast<std::size_t>(n)));
  OPENSSL_free(out);
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::ohos::asym;
  const ByteView in(data, size);
  const std::uint8_t msg[] = {'f', 'u', 'z', 'z'};
  if (auto pub = rsa_public_key_from_der(in); pub) {
    FUZZ_CHECK(EVP_PKEY_get_bits(pub->get()) <= 4096, "accepted modulus above 4096 bits");
    FUZZ_CHECK(!rsa_pkcs1v15_verify(pub->get(), RsaDigest::kSha256, msg, msg), "short signature verified");
  }
  if (auto priv = rsa_private_key_from_der(in); priv) {
    auto sig = rsa_pkcs1v15_sign(priv->get(), RsaDigest::kSha256, msg);
    if (sig) FUZZ_CHECK(rsa_pkcs1v15_verify(priv->get(), RsaDigest::kSha256, msg, *sig), "own signature fails");
  }
  ERR_clear_error();
  return 0;
}
