// SM2 key records and key generation, and the random scalars that keys and
// nonces are drawn as.
//
// Failures: `random_scalar` and `generate_key_pair` return Result<T>
// (std::expected<T, Error>). The Error's display text is either an Sm2Error
// text (e.g. "invalid public key") or the operating-system random source's
// text (e.g. "Bad address (os error 14)"); callers put their own prefix in
// front ("Failed to generate SM2 key pair: ").
//
// Tests inject chosen scalars with os_random::testing::set_source: every
// draw reads exactly 32 bytes, taken as a big-endian integer.
#pragma once

#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/scalar.h"
#include "support/error.h"

namespace tarnwick::sm2 {

using Sm2PublicKey = p256_ecc::JacobianPoint;

// Sm2PrivateKey holds the scalar `d` (below 2^256, not reduced modulo n;
// wiped when the record is dropped) and `public_key` = d·G, computed from
// `d` when the record is built and kept in affine form (z = 1), or as
// (1, 1, 0) when d ≡ 0 (mod n).
struct Sm2PrivateKey {
  Scalar d;
  Sm2PublicKey public_key;
};

struct Sm2KeyPair {
  Sm2PublicKey public_key;
  Sm2PrivateKey private_key;
};

// random_scalar draws 32-byte values from os_random::fill until one, read
// big-endian, lies in 1..n−2, and returns it. The range test runs in
// constant time; only its outcome (draw rejected or not) is public. A failure of the random source
// is returned as an error with its text; a source that yields no value in
// range in 128 consecutive draws (probability below 2^−4000 for a working
// source) fails with "the random source yields no scalar in range".
Result<Scalar> random_scalar();

// public_point returns d·G in affine form (z = 1), or (1, 1, 0) when
// d ≡ 0 (mod n), computed in constant time; the result is the public key
// and is treated as public from here on.
Sm2PublicKey public_point(const Scalar& d) noexcept;

// public_point with a claim: the same point, where `claimed` (a point the
// key document carries, z = 1, not yet checked) serves as the affine form
// when it is exactly d·G's, which saves the inversion; otherwise d·G is made
// affine as above.
Sm2PublicKey public_point(const Scalar& d, const Sm2PublicKey& claimed) noexcept;

// generate_key_pair returns {d·G, {d, d·G}} for d = random_scalar(), the
// point in affine form. Fails with the random source's text, or "invalid
// public key" when d·G is not on the curve.
Result<Sm2KeyPair> generate_key_pair();

}  // namespace tarnwick::sm2
