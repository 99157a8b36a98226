// The asymmetric encryption services: RSAES-OAEP with SHA-256 (RFC 8017)
// and SM2 encryption (GB/T 32918.4) in the Cipher record, keys and
// ciphertexts as Base64 text.
#pragma once

#include <string>
#include <string_view>

#include "ohos/asym/algorithms.h"
#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::ohos::asym {

// asym_encrypt encrypts `data` under `pubkey`, the Base64 of an RSA key
// (SubjectPublicKeyInfo or PKCS#1 RSAPublicKey) or of an SM2
// SubjectPublicKeyInfo, and returns the Base64 of the ciphertext: k bytes
// for RSA, the DER Cipher record for SM2. Checks in order: "plaintext is
// empty"; the Base64 text; the key reader's text; for RSA "message too long"
// beyond k − 66 bytes; for SM2 "Failed to encrypt plaintext: failed to
// encrypt: " + the encryption's text (a failing random source included).
Result<std::string> asym_encrypt(AsymAlgorithm algorithm, Bytes data, std::string pubkey);

// asym_decrypt decodes the Base64 `ciphertext` (its text reported unchanged
// on failure) and returns decrypt_ciphertext of it.
Result<Bytes> asym_decrypt(AsymAlgorithm algorithm, std::string ciphertext, std::string privkey);

// decrypt_ciphertext decrypts `ciphertext` with `privkey`, the Base64 of an
// RSA key (PKCS#8 or PKCS#1) or of an SM2 key (PKCS#8, else a bare SEC1
// ECPrivateKey). Checks in order: "ciphertext is empty"; "privkey is
// empty"; the Base64 text; the key reader's text (for SM2 that of the SEC1
// attempt); for RSA "decryption error"; for SM2 "Failed to decrypt
// ciphertext: " + "failed to decode cipher:" + the record decoder's text,
// or + the decryption's text.
Result<Bytes> decrypt_ciphertext(ByteView ciphertext, AsymAlgorithm algorithm, std::string_view privkey);

}  // namespace tarnwick::ohos::asym
