#include "crypto/sm2/p256_pre_table.h"

#include <memory>
#include <vector>

#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"

namespace tarnwick::sm2::p256_pre_table {

BaseTable* build_base_table() {
  constexpr std::size_t kCount = static_cast<std::size_t>(kWindows) * kEntries;
  const p256_ecc::CurveParams& curve = p256_ecc::init_curve_params();

  // All multiples in Jacobian coordinates first. None is the point at
  // infinity: every multiple is m·2^(7j)·G with 1 ≤ m ≤ 64 and n prime.
  std::vector<point::Jacobian> jac(kCount);
  point::Jacobian base{p256_field::to_montgomery(curve.g.x), p256_field::to_montgomery(curve.g.y), fp::kOne};
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

  // To affine with one inversion (Montgomery's trick): prefix[i] is the
  // product of the first i + 1 z coordinates.
  std::vector<fp::Fe> prefix(kCount);
  prefix[0] = jac[0].z;
  for (std::size_t i = 1; i < kCount; ++i) fp::mul(prefix[i], prefix[i - 1], jac[i].z);
  fp::Fe inv;
  fp::invert(inv, prefix[kCount - 1]);
  auto table = std::make_unique<BaseTable>();
  for (std::size_t i = kCount; i-- > 0;) {
    fp::Fe zi = inv;  // 1/z_i once the other factors are stripped
    if (i > 0) {
      fp::mul(zi, inv, prefix[i - 1]);
      fp::mul(inv, inv, jac[i].z);
    }
    fp::Fe zi2, zi3;
    fp::sqr(zi2, zi);
    fp::mul(zi3, zi2, zi);
    point::Affine& a = (*table)[i / kEntries][i % kEntries];
    fp::mul(a.x, jac[i].x, zi2);
    fp::mul(a.y, jac[i].y, zi3);
  }
  return table.release();
}

const BaseTable& base_table() {
  static const BaseTable* const table = build_base_table();
  return *table;
}

}  // namespace tarnwick::sm2::p256_pre_table
