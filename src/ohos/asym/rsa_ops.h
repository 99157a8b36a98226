// RSA operations on keys read by rsa_key.h: RSAES-OAEP with SHA-256 and
// RSASSA-PKCS1-v1_5 with SHA-1 or SHA-256 (RFC 8017). Every failure has one
// of the fixed texts below; no OpenSSL text comes out.
#pragma once

#include <openssl/evp.h>

#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::ohos::asym {

enum class RsaDigest { kSha1, kSha256 };

// rsa_oaep_encrypt encrypts `data` under the RSA public (or private) `key`
// with RSAES-OAEP, SHA-256 as label hash and MGF1 hash, the empty label and
// a fresh random seed, and returns the k ciphertext bytes (k = modulus size
// in bytes). `data` of more than k - 66 bytes fails with "message too long";
// any other failure with "internal error".
Result<Bytes> rsa_oaep_encrypt(EVP_PKEY* key, ByteView data);

// rsa_oaep_decrypt reverses rsa_oaep_encrypt with the private `key`. A
// `ciphertext` that is not exactly k bytes, whose value is not below n, or
// whose padding does not check fails with "decryption error", as does every
// other failure.
Result<Bytes> rsa_oaep_decrypt(EVP_PKEY* key, ByteView ciphertext);

// rsa_pkcs1v15_sign hashes `data` with `digest` and signs it with
// RSASSA-PKCS1-v1_5; the k-byte signature is deterministic. A modulus
// shorter than the DigestInfo, the digest and 11 bytes fails with "message
// too long"; any other failure with "internal error".
Result<Bytes> rsa_pkcs1v15_sign(EVP_PKEY* key, RsaDigest digest, ByteView data);

// rsa_pkcs1v15_verify answers whether `signature` is the RSASSA-PKCS1-v1_5
// signature of `data` hashed with `digest` under `key`. A signature that is
// not exactly k bytes, not below n, or does not check answers false.
bool rsa_pkcs1v15_verify(EVP_PKEY* key, RsaDigest digest, ByteView data, ByteView signature);

}  // namespace tarnwick::ohos::asym
