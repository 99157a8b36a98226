// RSA keys as documents: generation with export to SubjectPublicKeyInfo and
// PKCS#8, and the one rule by which keys handed in by callers are read.
#pragma once

#include <cstdint>

#include "support/bytes.h"
#include "support/error.h"
#include "support/ossl.h"

namespace tarnwick::ohos::asym {

// RsaKeyPairDer holds the two documents of a generated key pair.
struct RsaKeyPairDer {
  Bytes public_der;   // SubjectPublicKeyInfo (RFC 5280), rsaEncryption, NULL parameters
  Bytes private_der;  // PKCS#8 PrivateKeyInfo (RFC 5208) v0 around an RFC 8017 RSAPrivateKey
};

// generate_rsa_key_pair makes a fresh two-prime key with e = 65537 whose
// modulus has exactly `bits` bits, and returns its two documents. The size is
// checked before anything is generated: 0..11 fail with "too few primes of
// given length to generate an RSA key", 12..511 with "modulus too small", a
// negative size or one above 4096 with "modulus too large". A failure of the
// OS random source fails with that source's text.
Result<RsaKeyPairDer> generate_rsa_key_pair(std::int32_t bits);

// rsa_public_key_from_der reads `der` as a SubjectPublicKeyInfo and, failing
// that, as a bare PKCS#1 RSAPublicKey. Both forms must pass the key checks
// (n odd and of at most 4096 bits, e odd, 3 <= e < 2^33, e < n). When both
// attempts fail the second one's error is returned: "public key error: ASN.1
// error: " + the DER text, "public key error: SPKI cryptographic key data
// malformed", or "PKCS#1 ASN.1 error: incorrect length for BIT STRING".
Result<ossl::PkeyPtr> rsa_public_key_from_der(ByteView der);

// rsa_private_key_from_der reads `der` as a PKCS#8 PrivateKeyInfo and,
// failing that, as a bare PKCS#1 RSAPrivateKey (two primes). The key is built
// from n, e, d, p and q; the stored CRT values are recomputed, never used.
// The key must pass the public checks, p, q > 1, p != q, p*q = n and
// d*e = 1 modulo p-1 and q-1. When both attempts fail the second one's error
// is returned: "PKCS#8 ASN.1 error: " + the DER text, or "PKCS#8
// cryptographic key data malformed".
Result<ossl::PkeyPtr> rsa_private_key_from_der(ByteView der);

}  // namespace tarnwick::ohos::asym
