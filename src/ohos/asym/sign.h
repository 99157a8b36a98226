// The signature services: signing with an RSA or SM2 private key and
// verification with the matching public key. Keys and signatures travel as
// Base64 (standard alphabet, "=" padding) of their DER.
//
//   SHA1WithRSA, SHA256WithRSA  RSASSA-PKCS1-v1_5 (RFC 8017) over SHA-1 /
//                               SHA-256; the signature is the k raw bytes.
//   SM3                         SM2 over e = SM3(data).
//   SM3WithSM2                  SM2 over e = SM3(Z ‖ data) (GB/T 32918.2),
//                               Z for the user ID ("1234567812345678" when
//                               the ID text is empty).
// SM2 signatures are the DER record Signature ::= SEQUENCE { r INTEGER,
// s INTEGER } (signature.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ohos/asym/algorithms.h"
#include "ohos/asym/signature.h"
#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::ohos::asym {

// asym_sign signs `data` with the Base64 DER private key `privkey`: SM2 keys
// as PKCS#8 PrivateKeyInfo or bare SEC1 ECPrivateKey, RSA keys as PKCS#8 or
// bare PKCS#1. `user_id` is used by SM3WithSM2 alone. Failures, in the order
// they are checked:
//   "origin data is empty"; "privkey is empty"; the Base64 decoder's text;
//   SM2: the SEC1 reader's text when neither form reads; "sign failed: " +
//        the SM2 text (e.g. "ID is too long" for an ID over 8191 bytes,
//        "the signature is zero, cannot sign", the random source's text);
//   RSA: the RSA key reader's text; "message too long" when the modulus is
//        too short for the DigestInfo.
Result<std::string> asym_sign(SignAlgorithm algorithm, Bytes data, std::string privkey, std::string user_id);

// asym_verify answers whether `signature` (Base64) is a valid signature of
// `data` under `pubkey` (Base64 DER: SubjectPublicKeyInfo for SM2;
// SubjectPublicKeyInfo or bare PKCS#1 for RSA). Every problem with the
// inputs answers false; it never fails.
bool asym_verify(SignAlgorithm algorithm, Bytes data, std::string signature, std::string pubkey,
                 std::string user_id);

// verify_signature is asym_verify with the reason kept: false for a
// signature that checks out wrong, an error for inputs that cannot be used:
//   "signed data is empty"; "origin data is empty"; the Base64 decoder's
//   text (signature, then key); "pubkey is empty"; the key reader's text;
//   SM2: "failed to decode signature".
// `user_id` absent means the default ID.
Result<bool> verify_signature(std::string_view signature, ByteView data, AlgorithmKind kind,
                              std::string_view pubkey, std::optional<ByteView> user_id);

}  // namespace tarnwick::ohos::asym
