// RSA-OAEP decryption and PKCS#1 v1.5 verification of arbitrary inputs under
// one fixed 1024-bit key. Layout: [op][data length][data][rest]; op 0
// decrypts the rest, 1 and 2 verify the rest as a SHA-1 / SHA-256
// signature of data.
#include "common.h"
#include "ohos/asym/rsa_key.h"
#include "ohos/asym/rsa_ops.h"

namespace {
tarnwick::ossl::PkeyPtr& key() {
  static tarnwick::ossl::PkeyPtr k = *tarnwick::ohos::asym::rsa_private_key_from_der(tarnwick::fuzz::rsa_pkcs8());
  return k;
}
}  // namespace

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  using namespace ohos::asym;
  const Bytes msg = {'h', 'e', 'l', 'l', 'o'};
  Bytes seed = {0, 0};
  auto ct = rsa_oaep_encrypt(key().get(), msg);
  seed.insert(seed.end(), ct->begin(), ct->end());
  sink.add(seed);
  for (std::uint8_t op : {1, 2}) {
    auto sig = rsa_pkcs1v15_sign(key().get(), op == 1 ? RsaDigest::kSha1 : RsaDigest::kSha256, msg);
    Bytes s = {op, static_cast<std::uint8_t>(msg.size())};
    s.insert(s.end(), msg.begin(), msg.end());
    s.insert(s.end(), sig->begin(), sig->end());
    sink.add(s);
  }
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::ohos::asym;
  fuzz::Input in(data, size);
  const std::uint8_t op = in.byte() % 3;
  const ByteView msg = in.take(in.byte());
  const ByteView rest = in.rest();
  if (op == 0) {
    auto plain = rsa_oaep_decrypt(key().get(), rest);
    if (!plain) FUZZ_CHECK(plain.error().display() == "decryption error", "unexpected decryption text");
    else FUZZ_CHECK(plain->size() <= 128 - 66, "plaintext longer than OAEP allows");
  } else {
    rsa_pkcs1v15_verify(key().get(), op == 1 ? RsaDigest::kSha1 : RsaDigest::kSha256, msg, rest);
  }
  FUZZ_CHECK(ERR_peek_error() == 0, "OpenSSL error queue left non-empty");
  return 0;
}
