// The symmetric service: key generation, encryption and decryption with
// AES-128/256 (ECB, CBC, OFB, CFB) and SM4 (ECB, CBC, OFB, CFB, GCM).
#pragma once

#include <cstdint>
#include <string>

#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::vorel::sym {

enum class SymAlgorithm : std::uint8_t {
  AES128ECB = 0,
  AES128CBC = 1,
  AES128OFB = 2,
  AES128CFB = 3,
  AES256ECB = 4,
  AES256CBC = 5,
  AES256OFB = 6,
  AES256CFB = 7,
  SM4ECB = 8,
  SM4CBC = 9,
  SM4OFB = 10,
  SM4CFB = 11,
  SM4GCM = 12,
};

// sym_generate_key returns the Base64 text of a fresh random key for
// `algorithm`: 32 bytes for the AES-256 algorithms, 16 for the others. A
// failure of the OS random source is passed on with its text.
Result<std::string> sym_generate_key(SymAlgorithm algorithm);

// sym_encrypt encrypts `data` under the Base64 `key` and `iv`. The checks
// run in this order: "key is empty", "plaintext is empty", the key's Base64
// error, "key len {n}, must be {L}", the IV's Base64 error and, except for
// the three ECB algorithms, "iv len must be 16". SM4CBC carries two layers
// of PKCS#7 padding; SM4GCM appends the 16-byte tag.
Result<Bytes> sym_encrypt(SymAlgorithm algorithm, Bytes data, std::string key, std::string iv);

// sym_decrypt inverts sym_encrypt, with the same checks ("ciphertext is
// empty" for empty `data`). Every AES ECB/CBC/CFB length or padding failure
// reads "Unpad Error"; SM4 failures carry the SM4 and PKCS#7 texts.
Result<Bytes> sym_decrypt(SymAlgorithm algorithm, Bytes data, std::string key, std::string iv);

}  // namespace tarnwick::vorel::sym
