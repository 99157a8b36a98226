// The parts of an RSA key between reading, checking, generating and encoding
// it; internal to the RSA key code of src/ohos/asym (rsa_key_checks.cpp,
// rsa_crt.cpp, rsa_key.cpp, rsa_keygen.cpp).
#pragma once

#include <optional>

#include "ohos/asym/rsa_key.h"
#include "support/bytes.h"
#include "support/error.h"
#include "support/ossl.h"

namespace tarnwick::ohos::asym::rsa_detail {

inline constexpr int kMaxModulusBits = 4096;
inline constexpr const char* kPkcs8Malformed = "PKCS#8 cryptographic key data malformed";

// The values of a two-prime key. n and e are public; the rest is wiped.
struct RsaParts {
  ossl::BnPtr n;
  ossl::BnPtr e;
  ossl::SecretBnPtr d;
  ossl::SecretBnPtr p;
  ossl::SecretBnPtr q;
  // The coefficient a document stores, if any: used when it is q⁻¹ mod p.
  ossl::SecretBnPtr stored_qinv;
};

// The CRT values: d mod (p-1), d mod (q-1), q^-1 mod p.
struct CrtParts {
  ossl::SecretBnPtr dp;
  ossl::SecretBnPtr dq;
  ossl::SecretBnPtr qinv;
};

// secret_bn returns a value for private material: BN_FLG_CONSTTIME selects
// OpenSSL's constant-time code paths for it, and BN_FLG_SECURE (from
// BN_secure_new) makes OpenSSL wipe its words whenever it frees them and keep
// its copies in parameter blocks apart, in a part that is wiped when freed.
// No secure heap is set up (a library must not initialise that process-wide
// facility), so these values live on the ordinary heap.
ossl::SecretBnPtr secret_bn();

// public_checks_pass: n odd with at most 4096 bits, e odd, 3 <= e < 2^33, e < n.
bool public_checks_pass(const BIGNUM* n, const BIGNUM* e);

// private_checks_pass adds to the public checks: p, q > 1 and p != q (before
// anything divides by p-1 or q-1), p*q = n, d*e = 1 mod (p-1) and mod (q-1).
// The comparisons of secret values are made in constant time; only their
// outcome, whether the key is acceptable, decides a branch.
bool private_checks_pass(const RsaParts& k, BN_CTX* ctx);

// compute_crt derives the CRT values from d, p and q (which have passed the
// private checks, so p-1, q-1 are non-zero and p, q are odd as n is).
std::optional<CrtParts> compute_crt(const RsaParts& k, BN_CTX* ctx);

// public_pkey makes an OpenSSL public key from checked n and e.
ossl::PkeyPtr public_pkey(const BIGNUM* n, const BIGNUM* e);

// checked_private_pkey runs the private checks and builds the key; any
// refusal is "PKCS#8 cryptographic key data malformed".
Result<ossl::PkeyPtr> checked_private_pkey(const RsaParts& k);

// encode_key_pair writes the SubjectPublicKeyInfo and the PKCS#8 document of
// a checked key and its CRT values.
Result<RsaKeyPairDer> encode_key_pair(const RsaParts& k, const CrtParts& c);

}  // namespace tarnwick::ohos::asym::rsa_detail
