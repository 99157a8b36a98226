// Constant-time modular inversion by the safegcd algorithm of Bernstein and
// Yang ("Fast constant-time gcd computation and modular inversion", 2019),
// in the form with 62-bit limbs and batches of 59 division steps that
// libsecp256k1 documents (doc/safegcd_implementation.md): ten batches, 590
// division steps, suffice for every input below 2^256.
//
// The work is a fixed sequence of operations whatever the input; no branch
// and no memory address depends on it.
#pragma once

#include <cstdint>

namespace tarnwick::sm2::modinv {

// Modulus describes an odd modulus below 2^256: its value in five signed
// 62-bit limbs (least significant first) and its inverse modulo 2^62.
struct Modulus {
  std::int64_t v[5];
  std::uint64_t inv62;
};

// kP and kN are the SM2 field prime p and group order n.
extern const Modulus kP;
extern const Modulus kN;

// invert sets `out` = x⁻¹ mod m for `x` in 0 … m − 1 (0 gives 0), both as
// four 64-bit limbs, least significant first. `out` may alias `x`.
void invert(std::uint64_t out[4], const std::uint64_t x[4], const Modulus& m) noexcept;

}  // namespace tarnwick::sm2::modinv
