#include "ohos/asym/keygen.h"

#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/p256_ecc.h"
#include "ohos/asym/rsa_key.h"
#include "support/base64.h"
#include "support/hex.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace {

enum class PublicForm { kSpki, kHexPoint };

Result<KeyPair> generate_rsa(std::int32_t key_size) {
  auto pair = generate_rsa_key_pair(key_size);
  if (!pair) return std::unexpected(pair.error());
  WipeOnExit wipe_private(pair->private_der);
  return KeyPair{base64::encode(pair->public_der), base64::encode(pair->private_der)};
}

Result<KeyPair> generate_sm2(PublicForm form) {
  auto pair = sm2::generate_key_pair();
  if (!pair) return fail("Failed to generate SM2 key pair: " + pair.error().display());

  KeyPair out;
  if (form == PublicForm::kSpki) {
    auto spki = sm2::public_key_to_spki(pair->public_key);
    if (!spki) return std::unexpected(spki.error());
    out.pubkey = base64::encode(*spki);
  } else {
    out.pubkey = hex::encode(sm2::p256_ecc::encode_uncompressed(pair->public_key));
  }

  auto pkcs8 = sm2::private_key_to_pkcs8(pair->private_key);
  if (!pkcs8) return std::unexpected(pkcs8.error());
  WipeOnExit wipe_private(*pkcs8);
  out.privkey = base64::encode(*pkcs8);
  return out;
}

Result<KeyPair> generate(AsymAlgorithm algorithm, std::int32_t key_size, PublicForm sm2_form) {
  switch (algorithm) {
    case AsymAlgorithm::RSA: return generate_rsa(key_size);
    case AsymAlgorithm::SM2: return generate_sm2(sm2_form);
  }
  return fail("unsupported algorithm");
}

}  // namespace

Result<KeyPair> asym_generate_key(AsymAlgorithm algorithm, std::int32_t key_size) {
  return generate(algorithm, key_size, PublicForm::kSpki);
}

Result<KeyPair> asym_generate_key_test(AsymAlgorithm algorithm, std::int32_t key_size) {
  return generate(algorithm, key_size, PublicForm::kHexPoint);
}

}  // namespace tarnwick::ohos::asym
