// Arithmetic modulo the SM2 group order n on big integers, for public values
// (signature values in verification). Allocation failures throw
// std::bad_alloc, as in biguint.h.
#pragma once

#include "support/ossl.h"

namespace tarnwick::sm2 {

// add_mod_n, reduce_mod_n and mul_mod_n return (a + b) mod n, x mod n and
// a·b mod n for any non-negative inputs (n and above included), fully
// reduced: 0 ≤ r < n. Secret scalars never pass through them; signing uses
// the constant-time arithmetic of scalar.h.
ossl::BnPtr add_mod_n(const BIGNUM& a, const BIGNUM& b);
ossl::BnPtr reduce_mod_n(const BIGNUM& x);
ossl::BnPtr mul_mod_n(const BIGNUM& a, const BIGNUM& b);

}  // namespace tarnwick::sm2
