#include "ohos/asym/encrypt.h"

#include <utility>

#include "crypto/sm2/key.h"
#include "crypto/sm2/key_encoding.h"
#include "ohos/asym/cipher.h"
#include "ohos/asym/rsa_key.h"
#include "ohos/asym/rsa_ops.h"
#include "support/base64.h"
#include "support/der.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace {

constexpr const char* kEncryptPrefix = "Failed to encrypt plaintext: ";
constexpr const char* kDecryptPrefix = "Failed to decrypt ciphertext: ";

Result<Bytes> rsa_encrypt(ByteView key_der, ByteView data) {
  auto key = rsa_public_key_from_der(key_der);
  if (!key) return std::unexpected(std::move(key.error()));
  return rsa_oaep_encrypt(key->get(), data);
}

Result<Bytes> sm2_encrypt(ByteView key_der, ByteView data) {
  auto key = sm2::public_key_from_spki(key_der);
  if (!key) return std::unexpected(std::move(key.error()));
  auto raw = sm2::key::encrypt(*key, data);
  if (!raw) return fail(kEncryptPrefix + ("failed to encrypt: " + raw.error().display()));
  // x1 ‖ y1 ‖ C3 ‖ C2 cut into the record.
  const ByteView r(*raw);
  Cipher record{der::SignedInteger::from_unsigned(r.subspan(0, 32)), der::SignedInteger::from_unsigned(r.subspan(32, 32)),
                Bytes(r.begin() + 64, r.begin() + 96), Bytes(r.begin() + 96, r.end())};
  auto encoded = record.encode();
  if (!encoded) return fail(kEncryptPrefix + ("failed to encode cipher: " + encoded.error().display()));
  return std::move(*encoded);
}

// sm2_private_key reads the key for decryption, which uses d alone.
Result<sm2::Sm2PrivateKey> sm2_private_key(ByteView key_der) {
  auto pkcs8 = sm2::private_key_from_pkcs8(key_der, sm2::PublicKeyPart::kSkip);
  if (pkcs8) return std::move(*pkcs8);
  return sm2::private_key_from_sec1_der(key_der, sm2::PublicKeyPart::kSkip);
}

Result<Bytes> sm2_decrypt(ByteView key_der, ByteView ciphertext) {
  // The key is read first: a bad key is reported even for a bad record.
  auto key = sm2_private_key(key_der);
  if (!key) return std::unexpected(std::move(key.error()));
  auto record = Cipher::decode(ciphertext);
  if (!record) return fail(kDecryptPrefix + ("failed to decode cipher:" + record.error().display()));
  // Only the magnitudes of x and y count; their signs are ignored.
  auto m = sm2::key::decrypt(*key, record->x.magnitude, record->y.magnitude, record->c3, record->c2);
  if (!m) return fail(kDecryptPrefix + m.error().display());
  return std::move(*m);
}

Result<Bytes> rsa_decrypt(ByteView key_der, ByteView ciphertext) {
  auto key = rsa_private_key_from_der(key_der);
  if (!key) return std::unexpected(std::move(key.error()));
  return rsa_oaep_decrypt(key->get(), ciphertext);
}

}  // namespace

Result<std::string> asym_encrypt(AsymAlgorithm algorithm, Bytes data, std::string pubkey) {
  if (data.empty()) return fail("plaintext is empty");
  auto key_der = base64::decode(pubkey);
  if (!key_der) return std::unexpected(std::move(key_der.error()));
  auto out = algorithm == AsymAlgorithm::RSA ? rsa_encrypt(*key_der, data) : sm2_encrypt(*key_der, data);
  if (!out) return std::unexpected(std::move(out.error()));
  return base64::encode(*out);
}

Result<Bytes> asym_decrypt(AsymAlgorithm algorithm, std::string ciphertext, std::string privkey) {
  WipeOnExit wipe_key_text(privkey);
  auto bytes = base64::decode(ciphertext);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return decrypt_ciphertext(*bytes, algorithm, privkey);
}

Result<Bytes> decrypt_ciphertext(ByteView ciphertext, AsymAlgorithm algorithm, std::string_view privkey) {
  if (ciphertext.empty()) return fail("ciphertext is empty");
  if (privkey.empty()) return fail("privkey is empty");
  // The decoded document is wiped when released, on every path below.
  auto key_der = base64::decode_secret(privkey);
  if (!key_der) return std::unexpected(std::move(key_der.error()));
  if (algorithm == AsymAlgorithm::RSA) return rsa_decrypt(*key_der, ciphertext);
  return sm2_decrypt(*key_der, ciphertext);
}

}  // namespace tarnwick::ohos::asym
