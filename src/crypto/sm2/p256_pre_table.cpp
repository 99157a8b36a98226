#include "crypto/sm2/p256_pre_table.h"

namespace tarnwick::sm2::p256_pre_table {
namespace {

using p256_ecc::JacobianPoint;

// comb_from fills entry i with the sum of the single-bit entries of i, where
// entry 2^j is 2^(32j)·`start`.
CombTable comb_from(JacobianPoint start) {
  CombTable t(256, p256_ecc::kInfinity);
  JacobianPoint power = start;
  for (int j = 0; j < 8; ++j) {
    if (j > 0) {
      for (int d = 0; d < 32; ++d) power = p256_ecc::double_(power);
    }
    const unsigned bit = 1u << j;
    t[bit] = power;
    for (unsigned i = 1; i < bit; ++i) t[bit + i] = p256_ecc::add(t[i], power);
  }
  return t;
}

}  // namespace

CombTable build_low_table() { return comb_from(p256_ecc::init_curve_params().g); }

CombTable build_high_table() {
  JacobianPoint g16 = p256_ecc::init_curve_params().g;
  for (int d = 0; d < 16; ++d) g16 = p256_ecc::double_(g16);
  return comb_from(g16);
}

const CombTable& init_low_table() {
  static const CombTable table = build_low_table();
  return table;
}

const CombTable& init_high_table() {
  static const CombTable table = build_high_table();
  return table;
}

}  // namespace tarnwick::sm2::p256_pre_table
