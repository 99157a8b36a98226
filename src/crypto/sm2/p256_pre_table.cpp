#include "crypto/sm2/p256_pre_table.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"

namespace tarnwick::sm2::p256_pre_table {

namespace {

// to_affine_all returns the affine forms of `jac` (none at infinity), with
// one inversion (Montgomery's trick): prefix[i] is the product of the first
// i + 1 z coordinates.
std::vector<point::Affine> to_affine_all(const std::vector<point::Jacobian>& jac) {
  const std::size_t count = jac.size();
  std::vector<point::Affine> out(count);
  std::vector<fp::Fe> prefix(count);
  prefix[0] = jac[0].z;
  for (std::size_t i = 1; i < count; ++i) fp::mul(prefix[i], prefix[i - 1], jac[i].z);
  fp::Fe inv;
  fp::invert(inv, prefix[count - 1]);
  for (std::size_t i = count; i-- > 0;) {
    fp::Fe zi = inv;  // 1/z_i once the other factors are stripped
    if (i > 0) {
      fp::mul(zi, inv, prefix[i - 1]);
      fp::mul(inv, inv, jac[i].z);
    }
    fp::Fe zi2, zi3;
    fp::sqr(zi2, zi);
    fp::mul(zi3, zi2, zi);
    fp::mul(out[i].x, jac[i].x, zi2);
    fp::mul(out[i].y, jac[i].y, zi3);
  }
  return out;
}

point::Jacobian base_point() {
  const p256_ecc::CurveParams& curve = p256_ecc::init_curve_params();
  return point::Jacobian{p256_field::to_montgomery(curve.g.x), p256_field::to_montgomery(curve.g.y), fp::kOne};
}

}  // namespace

BaseTable* build_base_table() {
  constexpr std::size_t kCount = static_cast<std::size_t>(kWindows) * kEntries;

  // All multiples in Jacobian coordinates first. None is the point at
  // infinity: every multiple is m·2^(7j)·G with 1 ≤ m ≤ 64 and n prime.
  std::vector<point::Jacobian> jac(kCount);
  point::Jacobian base = base_point();
  for (int j = 0; j < kWindows; ++j) {
    point::Jacobian* w = &jac[static_cast<std::size_t>(j) * kEntries];
    w[0] = base;
    for (int i = 1; i < kEntries; ++i) {
      // (i + 1)·B: a doubling for even multiples, else i·B + B (i·B ≠ B).
      if ((i + 1) % 2 == 0) {
        point::dbl(w[i], w[(i + 1) / 2 - 1]);
      } else {
        point::add(w[i], w[i - 1], base, false);
      }
    }
    for (int d = 0; d < kWindowBits; ++d) point::dbl(base, base);
  }

  const std::vector<point::Affine> affine = to_affine_all(jac);
  auto table = std::make_unique<BaseTable>();
  for (std::size_t i = 0; i < kCount; ++i) (*table)[i / kEntries][i % kEntries] = affine[i];
  return table.release();
}

const BaseTable& base_table() {
  static const BaseTable* const table = build_base_table();
  return *table;
}

const OddTable& base_odd_table() {
  static const OddTable* const table = [] {
    // (2i + 1)·G = (2i − 1)·G + 2G, never equal or opposite operands below n.
    std::vector<point::Jacobian> jac(kOddEntries);
    const point::Jacobian g = base_point();
    point::Jacobian g2;
    point::dbl(g2, g);
    jac[0] = g;
    for (std::size_t i = 1; i < jac.size(); ++i) point::add(jac[i], jac[i - 1], g2, false);
    const std::vector<point::Affine> affine = to_affine_all(jac);
    auto t = std::make_unique<OddTable>();
    std::copy(affine.begin(), affine.end(), t->begin());
    return t.release();
  }();
  return *table;
}

}  // namespace tarnwick::sm2::p256_pre_table
