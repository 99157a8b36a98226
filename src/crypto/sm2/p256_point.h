// Point arithmetic on the SM2 curve y² = x³ − 3x + b in Montgomery
// coordinates, for the scalar multiplications. The boundary type
// JacobianPoint (plain coordinates) is converted to and from these.
//
// Every function here runs in constant time, except the two *_vartime
// additions for public operands. The point at infinity is any
// Jacobian point with z = 0; an affine point has no such form, so the
// additions that take an affine operand take a mask saying whether it stands
// for the point at infinity. Each function is a template over the field
// backend F (fp::Portable or fp::Adx, fp_adx.h), which the scalar
// multiplications choose once per call.
#pragma once

#include "crypto/sm2/fp.h"
#include "crypto/sm2/fp_adx.h"

namespace tarnwick::sm2::point {

using fp::Fe;
using u64 = std::uint64_t;

// Jacobian (x, y, z) is the affine point (x/z², y/z³); z = 0 is infinity.
struct Jacobian {
  Fe x, y, z;
};

struct Affine {
  Fe x, y;
};

inline void cmov(Jacobian& r, const Jacobian& a, u64 mask) noexcept {
  fp::cmov(r.x, a.x, mask);
  fp::cmov(r.y, a.y, mask);
  fp::cmov(r.z, a.z, mask);
}

inline u64 is_infinity(const Jacobian& p) noexcept { return fp::is_zero(p.z); }

// dbl sets `r` = 2·`p` with the formula for a = −3 (4M + 4S): δ = z²,
// M = 3(x − δ)(x + δ) = 3x² + a·z⁴, and from y' = 2y: z3 = y'·z = 2y·z,
// Y = y'² = 4y², B = x·Y = 4x·y², x3 = M² − 2B, y3 = M(B − x3) − Y²/2
// (Y²/2 = 8y⁴). These are the coordinates of the textbook formula (β = x·y²,
// x3 = M² − 8β, y3 = M(4β − x3) − 8y⁴, z3 = 2y·z), each value reached
// with fewer field additions, and z3 = 0 for a point at infinity. `r` may
// alias `p`.
template <class F = fp::Portable>
inline void dbl(Jacobian& r, const Jacobian& p) noexcept {
  Fe delta, y2, yy, b, m, t, u;
  F::sqr(delta, p.z);
  F::mul_by_2(y2, p.y);
  F::sub(t, p.x, delta);
  F::add(u, p.x, delta);
  F::sqr(yy, y2);
  F::mul(m, t, u);
  F::mul(b, p.x, yy);
  F::mul(r.z, y2, p.z);
  F::mul_by_3(m, m);
  F::sqr(t, m);
  F::mul_by_2(u, b);
  F::sub(r.x, t, u);
  F::sub(u, b, r.x);
  F::sqr(t, yy);
  F::mul(u, m, u);
  F::half(t, t);
  F::sub(r.y, u, t);
}

// sum_core sets `out` to the general sum p + q (12M + 4S):
//   U1 = x1·z2², U2 = x2·z1², S1 = y1·z2³, S2 = y2·z1³, H = U2 − U1,
//   R = S2 − S1, x3 = R² − H³ − 2·U1·H², y3 = R(U1·H² − x3) − S1·H³,
//   z3 = z1·z2·H,
// and leaves H and R for the special cases, which it does not handle: H = 0
// with R = 0 (equal points), and either operand at infinity.
template <class F = fp::Portable>
inline void sum_core(Jacobian& out, Fe& h, Fe& rr, const Jacobian& p, const Jacobian& q) noexcept {
  Fe z1z1, z2z2, u1, u2, s1, s2, hh, hhh, v, t;
  F::sqr(z1z1, p.z);
  F::sqr(z2z2, q.z);
  F::mul(u1, p.x, z2z2);
  F::mul(u2, q.x, z1z1);
  F::mul(t, p.y, q.z);
  F::mul(s1, t, z2z2);
  F::mul(t, q.y, p.z);
  F::mul(s2, t, z1z1);
  F::sub(h, u2, u1);
  F::sub(rr, s2, s1);
  F::sqr(hh, h);
  F::mul(hhh, h, hh);
  F::mul(v, u1, hh);
  F::sqr(t, rr);
  F::sub(t, t, hhh);
  F::sub(t, t, v);
  F::sub(out.x, t, v);
  F::sub(t, v, out.x);
  F::mul(t, rr, t);
  F::mul(v, s1, hhh);
  F::sub(out.y, t, v);
  F::mul(t, p.z, q.z);
  F::mul(out.z, t, h);
}

// sum_affine_core is sum_core for q = (x, y, 1) (8M + 3S).
template <class F = fp::Portable>
inline void sum_affine_core(Jacobian& out, Fe& h, Fe& rr, const Jacobian& p, const Affine& q) noexcept {
  Fe z1z1, u2, s2, hh, hhh, v, t;
  F::sqr(z1z1, p.z);
  F::mul(u2, q.x, z1z1);
  F::mul(t, q.y, p.z);
  F::mul(s2, t, z1z1);
  F::sub(h, u2, p.x);
  F::sub(rr, s2, p.y);
  F::sqr(hh, h);
  F::mul(hhh, h, hh);
  F::mul(v, p.x, hh);
  F::sqr(t, rr);
  F::sub(t, t, hhh);
  F::sub(t, t, v);
  F::sub(out.x, t, v);
  F::sub(t, v, out.x);
  F::mul(t, rr, t);
  F::mul(v, p.y, hhh);
  F::sub(out.y, t, v);
  F::mul(out.z, p.z, h);
}

// add sets `r` = `p` + `q` in constant time. Either operand at infinity
// gives the other one, by masks. With `complete`, equal operands (H = R = 0,
// neither at infinity) give 2·p, by a doubling computed every time and
// selected by a mask; without it the caller guarantees that p ≠ q whenever
// both are finite. (Opposite operands give z3 = 0 by the formula.) `r` may
// alias either operand.
template <class F = fp::Portable>
inline void add(Jacobian& r, const Jacobian& p, const Jacobian& q, bool complete) noexcept {
  Jacobian out;
  Fe h, rr;
  sum_core<F>(out, h, rr, p, q);
  const u64 p_inf = is_infinity(p);
  const u64 q_inf = is_infinity(q);
  if (complete) {
    Jacobian d;
    dbl<F>(d, p);
    cmov(out, d, fp::is_zero(h) & fp::is_zero(rr) & ~p_inf & ~q_inf);
  }
  cmov(out, q, p_inf);
  cmov(out, p, q_inf);
  r = out;
}

// add_affine sets `r` = `p` + (`q`.x, `q`.y, 1) in constant time, where
// `q_inf` (a mask) says that q stands for the point at infinity. Infinity
// and, with `complete`, equal operands are handled as in `add`. `r` may
// alias `p`.
template <class F = fp::Portable>
inline void add_affine(Jacobian& r, const Jacobian& p, const Affine& q, u64 q_inf, bool complete) noexcept {
  Jacobian out;
  Fe h, rr;
  sum_affine_core<F>(out, h, rr, p, q);
  const u64 p_inf = is_infinity(p);
  if (complete) {
    Jacobian d;
    dbl<F>(d, p);
    cmov(out, d, fp::is_zero(h) & fp::is_zero(rr) & ~p_inf & ~q_inf);
  }
  const Jacobian qj{q.x, q.y, fp::kOne};
  cmov(out, qj, p_inf);
  cmov(out, p, q_inf);
  r = out;
}

// add_vartime and add_affine_vartime are the sums for public operands: they
// branch on infinity and on equal or opposite operands instead of masking.
// `r` may alias `p`.
template <class F = fp::Portable>
inline void add_vartime(Jacobian& r, const Jacobian& p, const Jacobian& q) noexcept {
  if (is_infinity(p)) {
    r = q;
    return;
  }
  if (is_infinity(q)) {
    r = p;
    return;
  }
  Jacobian out;
  Fe h, rr;
  sum_core<F>(out, h, rr, p, q);
  if (fp::is_zero(h) && fp::is_zero(rr)) {
    dbl<F>(r, p);
    return;
  }
  r = out;
}

template <class F = fp::Portable>
inline void add_affine_vartime(Jacobian& r, const Jacobian& p, const Affine& q) noexcept {
  if (is_infinity(p)) {
    r = Jacobian{q.x, q.y, fp::kOne};
    return;
  }
  Jacobian out;
  Fe h, rr;
  sum_affine_core<F>(out, h, rr, p, q);
  if (fp::is_zero(h) && fp::is_zero(rr)) {
    dbl<F>(r, p);
    return;
  }
  r = out;
}

// on_curve returns all ones when y² = x³ − 3x·z⁴ + b·z⁶, for `b` in
// Montgomery form; a point at infinity counts as on the curve.
template <class F = fp::Portable>
inline u64 on_curve(const Jacobian& p, const Fe& b) noexcept {
  Fe yy, xx, zz, z4, z6, rhs, t;
  F::sqr(yy, p.y);
  F::sqr(xx, p.x);
  F::sqr(zz, p.z);
  F::sqr(z4, zz);
  F::mul(z6, z4, zz);
  fp::add(t, z4, z4);
  fp::add(t, t, z4);  // 3z⁴
  fp::sub(t, xx, t);  // x² − 3z⁴
  F::mul(rhs, t, p.x);
  F::mul(t, b, z6);
  fp::add(rhs, rhs, t);
  return fp::equal(yy, rhs) | is_infinity(p);
}

}  // namespace tarnwick::sm2::point
