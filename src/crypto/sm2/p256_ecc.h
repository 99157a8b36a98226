// Points of the SM2 recommended curve y² = x³ + a·x + b (GB/T 32918.5) in
// Jacobian coordinates, and scalar multiplication.
//
// The scalar multiplications that take a `Scalar` run in constant time:
// fixed sequences of doublings and additions over signed windows, masked
// table scans, and special cases (infinity, equal points) handled by masks.
// `to_affine` and `is_on_curve` are constant time too. `double_`, `add`,
// `decode_point` and `encode_uncompressed` are for public values and may
// branch on them.
#pragma once

#include <utility>

#include <array>
#include <cstdint>
#include <expected>

#include "crypto/sm2/error.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm2/scalar.h"
#include "support/bytes.h"
#include "support/ossl.h"

namespace tarnwick::sm2::p256_ecc {

using p256_field::FieldElement;

// JacobianPoint (x, y, z) is the affine point (x/z², y/z³); any z = 0 is the
// point at infinity, written (1, 1, 0) where it is a constant.
struct JacobianPoint {
  FieldElement x, y, z;
  bool operator==(const JacobianPoint&) const = default;
};

inline constexpr JacobianPoint kInfinity{p256_field::kOne, p256_field::kOne, p256_field::kZero};

// CurveParams holds the domain parameters; `n` and `h` are BIGNUMs for the
// arithmetic modulo the order on public values.
struct CurveParams {
  ossl::BnPtr n;
  ossl::BnPtr h;
  FieldElement p, a, b;
  JacobianPoint g;
};

// init_curve_params returns the process-wide CURVE_PARAMS, built once on
// first use (thread-safe) and never changed afterwards.
const CurveParams& init_curve_params();

inline bool is_infinity(const JacobianPoint& p) noexcept { return p256_field::is_zero(p.z); }

// double_ returns 2·`p`.
JacobianPoint double_(JacobianPoint p) noexcept;
// add returns `p` + `q`: `q` unchanged when `p` is at infinity, `p` when `q`
// is, and the doubling when both are the same point under any z.
JacobianPoint add(JacobianPoint p, JacobianPoint q) noexcept;
// negate returns (x, p − y, z) (y = 0 stays 0).
JacobianPoint negate(JacobianPoint p) noexcept;
// to_affine returns (x/z², y/z³, 1), fully reduced; (0, 0, 1) for a point
// at infinity. Constant time.
JacobianPoint to_affine(JacobianPoint p) noexcept;
// to_affine_pair is to_affine of two points at once, by one inversion of
// z_p·z_q (Montgomery's trick). Neither point may be at infinity. Constant
// time.
std::pair<JacobianPoint, JacobianPoint> to_affine_pair(JacobianPoint p, JacobianPoint q) noexcept;

// to_affine_public is to_affine for a public point: one with z = 1 (a
// decoded key, or a key kept in affine form) is only reduced, without an
// inversion. It branches on z.
JacobianPoint to_affine_public(JacobianPoint p) noexcept;

// encode_uncompressed returns 04 ‖ x ‖ y (65 bytes) of the affine point; the
// point at infinity encodes as 04 and 64 zero bytes. For public points.
Bytes encode_uncompressed(JacobianPoint p);

// decode_point reads 02/03 ‖ x (33 bytes, compressed) or any other first byte
// followed by x ‖ y (65 bytes). Coordinates are stored as given, without
// reduction and without a curve test. Fails with InvalidPublicKey for a wrong
// length (empty included) and NoSquareRoot for a compressed x off the curve.
std::expected<JacobianPoint, Sm2Error> decode_point(ByteView bytes);

// is_on_curve reports whether Y² = X³ + a·X·Z⁴ + b·Z⁶; true at infinity.
bool is_on_curve(JacobianPoint p) noexcept;

// mul_base returns `k`·G = (k mod n)·G (not normalised), in constant time,
// from the precomputed multiples of p256_pre_table: 37 signed 7-bit windows,
// one masked table scan and one mixed addition each.
JacobianPoint mul_base(const Scalar& k) noexcept;
// mul_base for a big integer: a scalar of 2^256 or more, or a negative one,
// fails with InvalidFieldElementLength.
std::expected<JacobianPoint, Sm2Error> mul_base(const BIGNUM& k);

// mul_point returns `k`·`p` (not normalised) for `p` on the curve or at
// infinity, where k·P = (k mod n)·P, in constant time: 52 signed windows of
// 5 bits over a table of 1·P … 16·P, five doublings, a masked scan and one
// addition each.
JacobianPoint mul_point(const Scalar& k, const JacobianPoint& p) noexcept;
// mul_point for a big integer: a scalar of 2^256 or more, or a negative one,
// fails with InvalidFieldElementLength.
std::expected<JacobianPoint, Sm2Error> mul_point(const BIGNUM& k, JacobianPoint p);

// mul_base_point_vartime returns `s`·G + `t`·`p` (not normalised) for
// public scalars and a public point on the curve or at infinity: one chain
// of doublings with a width-5 NAF of `t` over the odd multiples of `p` and a
// width-10 NAF of `s` over the table of odd multiples of G
// (p256_pre_table.h). Not constant time: for verification only.
JacobianPoint mul_base_point_vartime(const Scalar& s, const Scalar& t, const JacobianPoint& p) noexcept;

// affine_x_matches_mod_n_vartime reports whether the affine x coordinate of
// the public point `p` (not at infinity), reduced modulo n, equals `c`
// (below n). It compares X with x·Z² for the one or two candidates x below
// p, without an inversion. Not constant time: for verification only.
bool affine_x_matches_mod_n_vartime(const JacobianPoint& p, const Scalar& c) noexcept;

// is_affine_form reports whether X = x·Z² and Y = y·Z³ (mod p) for `p` not
// at infinity and the coordinates x, y of `a` (any values below 2^256; its
// z is not read): without an inversion, whether `a` with z = 1 and reduced
// coordinates is `p`'s affine form. Constant time.
bool is_affine_form(const JacobianPoint& p, const JacobianPoint& a) noexcept;

// booth_digit returns the signed digit of window `index` in the Booth
// recoding of `k` with `bits`-bit windows: Σ digit_i·2^(bits·i) = k over the
// windows that cover bit 256, each digit in −2^(bits−1)..2^(bits−1).
// Computed without branches on `k`.
int booth_digit(const Scalar& k, int index, int bits) noexcept;

}  // namespace tarnwick::sm2::p256_ecc
