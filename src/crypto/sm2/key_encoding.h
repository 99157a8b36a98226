// SM2 key documents: SubjectPublicKeyInfo (RFC 5280) for public keys, PKCS#8
// PrivateKeyInfo (RFC 5208) wrapping a SEC1 ECPrivateKey (RFC 5915) for
// private keys, and the bare SEC1 ECPrivateKey. AlgorithmIdentifier:
// {id-ecPublicKey 1.2.840.10045.2.1, SM2 curve 1.2.156.10197.1.301}.
#pragma once

#include <cstdint>
#include <optional>

#include "crypto/sm2/key_pair.h"
#include "support/bytes.h"
#include "support/der.h"
#include "support/error.h"

namespace tarnwick::sm2 {

// Sec1PrivateKey is a decoded ECPrivateKey: its privateKey octets and, when
// present, the bytes of its [1] publicKey. Views into the decoded document.
struct Sec1PrivateKey {
  ByteView private_key;
  std::optional<ByteView> public_key;
};

// decode_sec1 reads a whole DER ECPrivateKey {version 1, privateKey OCTET
// STRING, [0] EXPLICIT OBJECT IDENTIFIER OPTIONAL (not compared), [1]
// EXPLICIT BIT STRING OPTIONAL}.
der::Result<Sec1PrivateKey> decode_sec1(ByteView der);

// public_key_from_spki reads a SubjectPublicKeyInfo carrying an SM2 point
// (65-byte uncompressed or 33-byte compressed) and returns it with z = 1.
// Failures: "ASN.1 error: " + DER text; "unknown/unsupported algorithm OID: "
// + the expected identifier; "AlgorithmIdentifier parameters missing";
// "ASN.1 error: malformed ASN.1 DER value for BIT STRING" (unused bits);
// "ASN.1 error: malformed ASN.1 DER value for INTEGER" (not a point, a
// coordinate not below p, or off the curve).
Result<Sm2PublicKey> public_key_from_spki(ByteView der);

// PublicKeyPart says whether a private-key reader below fills in
// `public_key` = d·G (kCompute) or leaves it at the point at infinity
// (kSkip), for a caller that uses d alone, such as decryption. The readers
// make the same checks and give the same results either way: d·G is on the
// curve for every d and decides nothing.
enum class PublicKeyPart : std::uint8_t { kCompute, kSkip };

// private_key_from_pkcs8 reads a PrivateKeyInfo (version 0 or 1) of an SM2
// key; the public point is recomputed as d·G (unless `part` is kSkip).
// Failures: "PKCS#8 ASN.1 error: " + DER text (the structure, the
// ECPrivateKey, or a rule of private_key_from_sec1); "public key error: " +
// the SubjectPublicKeyInfo text of a wrong algorithm or curve.
Result<Sm2PrivateKey> private_key_from_pkcs8(ByteView der, PublicKeyPart part = PublicKeyPart::kCompute);

// private_key_from_sec1 builds {d, d·G} from a decoded ECPrivateKey. d of
// 2^256 or more fails with the value error for SEQUENCE; embedded public-key
// bytes that do not decode as a point fail with the value error for BIT
// STRING (a decodable point is not compared with d·G).
der::Result<Sm2PrivateKey> private_key_from_sec1(const Sec1PrivateKey& key,
                                                PublicKeyPart part = PublicKeyPart::kCompute);

// private_key_from_sec1_der is decode_sec1 followed by private_key_from_sec1;
// the error text is the DER text alone.
Result<Sm2PrivateKey> private_key_from_sec1_der(ByteView der, PublicKeyPart part = PublicKeyPart::kCompute);

// private_key_to_pkcs8 writes the PrivateKeyInfo {0, AlgorithmIdentifier,
// OCTET STRING {ECPrivateKey {1, d minimal big-endian, [0] SM2 curve, [1]
// 04 ‖ x ‖ y of `key.public_key`}}}: 150 bytes for a 32-byte d. The caller
// should wipe the result. Intermediate buffers are wiped.
Result<Bytes> private_key_to_pkcs8(const Sm2PrivateKey& key);

// public_key_to_spki writes the 91-byte SubjectPublicKeyInfo of `key`.
Result<Bytes> public_key_to_spki(const Sm2PublicKey& key);

}  // namespace tarnwick::sm2
