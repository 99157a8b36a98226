// The SM2 key readers (SubjectPublicKeyInfo, PKCS#8, SEC1) over arbitrary
// bytes. What one reader accepts must survive export and reading again.
#include "common.h"
#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  const Bytes pkcs8 = sm2_pkcs8();
  sink.add(pkcs8);
  auto key = sm2::private_key_from_pkcs8(pkcs8);
  FUZZ_CHECK(key.has_value(), "fixed SM2 key does not read");
  sink.add(*sm2::public_key_to_spki(key->public_key));
  // The ECPrivateKey inside the PKCS#8 document: its OCTET STRING payload.
  der::Reader r(pkcs8);
  auto info = r.read_sequence();
  info->read_element();
  info->read_element();
  sink.add(*info->read_octet_string());
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  const ByteView in(data, size);
  if (auto pub = sm2::public_key_from_spki(in); pub) {
    FUZZ_CHECK(sm2::p256_ecc::is_on_curve(*pub), "accepted public point off the curve");
    auto spki = sm2::public_key_to_spki(*pub);
    FUZZ_CHECK(spki.has_value(), "export of an accepted public key failed");
    auto again = sm2::public_key_from_spki(*spki);
    FUZZ_CHECK(again && sm2::p256_ecc::to_affine(*again) == sm2::p256_ecc::to_affine(*pub), "public key round trip");
  }
  auto check_private = [](const Result<sm2::Sm2PrivateKey>& key) {
    if (!key) return;
    auto doc = sm2::private_key_to_pkcs8(*key);
    FUZZ_CHECK(doc.has_value(), "export of an accepted private key failed");
    auto again = sm2::private_key_from_pkcs8(*doc);
    FUZZ_CHECK(again && again->d.v == key->d.v, "private key round trip");
  };
  check_private(sm2::private_key_from_pkcs8(in));
  check_private(sm2::private_key_from_sec1_der(in));
  return 0;
}
