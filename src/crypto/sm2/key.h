// The SM2 key operations over the recommended curve: public-key encryption
// (GB/T 32918.4), with the ciphertext in C1 ‖ C3 ‖ C2 order, and the core of
// signature verification (GB/T 32918.2 §7.1; verify.h adds the user digest).
//
// Failures are Result errors whose display text is an Sm2Error text, the
// random source's text, or one of the fixed texts documented below.
#pragma once

#include <expected>

#include "crypto/sm2/error.h"
#include "crypto/sm2/key_pair.h"
#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::sm2::key {

// kCipherOverhead is the size of the raw ciphertext around the message:
// x1 (32) ‖ y1 (32) ‖ C3 (32).
inline constexpr std::size_t kCipherOverhead = 96;

// encrypt encrypts `message` (at least one byte; the caller refuses an empty
// one) under `public_key` and returns the raw form x1 ‖ y1 ‖ C3 ‖ C2: the
// affine coordinates of C1 = k·G as 32 bytes each, C3 = SM3(x2 ‖ M ‖ y2) and
// C2 = M ⊕ KDF(x2 ‖ y2, |M|), as long as the message. k is drawn afresh from
// the operating-system random source for every call.
//
// Failures: "invalid public key" for a key with a coordinate of p or more or
// off the curve; "cannot convert the infinite point to affine" for the point
// at infinity; the random source's text when it fails while k is drawn, or
// "the random source yields no scalar in range" / "the random source yields
// no usable scalar" when it keeps yielding unusable values. No ciphertext is
// produced with a k outside 1..n−2.
Result<Bytes> encrypt(const Sm2PublicKey& public_key, ByteView message);

// decrypt decrypts the ciphertext given by its parts: `x` and `y`, the
// big-endian magnitudes of C1's coordinates (any length, leading zero bytes
// allowed), and `c3` and `c2` as read. `c3` and `c2` are joined and cut again
// after 32 bytes, so their lengths only matter together.
//
// Failures, in this order: "ciphertext length is less than cipher size" when
// `c3` and `c2` hold fewer than 32 bytes together; then every failure of
// decrypt_raw.
Result<Bytes> decrypt(const Sm2PrivateKey& private_key, ByteView x, ByteView y, ByteView c3, ByteView c2);

// decrypt_raw decrypts the raw form 04 ‖ x1 (32) ‖ y1 (32) ‖ C3 (32) ‖ C2
// (C2 may be empty) with the scalar of `private_key` and returns M.
//
// Failures, in this order: "ciphertext length is less than cipher size" for
// fewer than 97 bytes; "check point error" (PointCheckFailed) for a first
// byte other than 04, a coordinate that needs more than 32 bytes or is p or
// more, or a C1 off the curve, all tested before any scalar touches C1;
// "cannot convert the infinite point to affine" when h·C1 or d·C1 is the
// point at infinity; "the vector is zero" when KDF(x2 ‖ y2, |C2|) is all
// zero; "hash and cipher not equal" when SM3(x2 ‖ M ‖ y2) differs from C3
// (compared in constant time).
Result<Bytes> decrypt_raw(const Sm2PrivateKey& private_key, ByteView raw);

// verify_digest checks `signature` on the 32-byte digest `e` under
// `public_key` (which the caller has checked to lie on the curve). The
// checks, in order:
//   InvalidDigestLength     `e` is not 32 bytes;
//   InvalidSignatureDigest  `signature` is shorter than 32 bytes;
//   ZeroSignature           r = 0, or else s = 0;
//   InvalidSignatureDigest  r ≥ n, or else s ≥ n; r + s ≡ 0 mod n;
//                           s·G + (r + s)·P is the point at infinity;
//                           (e + x1) mod n ≠ r.
std::expected<void, Sm2Error> verify_digest(ByteView e, const Sm2PublicKey& public_key, ByteView signature);

}  // namespace tarnwick::sm2::key
