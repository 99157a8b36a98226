// The precomputed multiples of the base point G behind p256_ecc::mul_base,
// built once on first use and read-only afterwards:
//
//   entry [j][i] = (i + 1)·2^(7j)·G, for windows j = 0..36 and i = 0..63,
//
// in affine Montgomery coordinates (fp.h). mul_base recodes its scalar into
// 37 signed digits of 7 bits each (Booth recoding, digits in −64..64) and
// adds ±entry [j][|digit| − 1] for each window: 37 mixed additions and no
// doubling, each lookup a masked scan of one 64-entry window (4 KiB).
#pragma once

#include <array>

#include "crypto/sm2/p256_point.h"

namespace tarnwick::sm2::p256_pre_table {

inline constexpr int kWindowBits = 7;
// kWindows digits cover the 257 bits that the recoding of a 256-bit scalar
// needs.
inline constexpr int kWindows = 37;
inline constexpr int kEntries = 1 << (kWindowBits - 1);

using Window = std::array<point::Affine, kEntries>;
using BaseTable = std::array<Window, kWindows>;

// build_base_table computes the table (a few hundred microseconds); the
// caller owns the result.
BaseTable* build_base_table();

// base_table returns the process-wide table, built on first use
// (thread-safe) and kept until the process ends.
const BaseTable& base_table();

// The odd multiples of G behind the joint multiplication of verification,
// which recodes its public scalar s into a width-10 NAF (odd digits in
// −511..511) added along its chain of doublings:
//
//   entry [i] = (2i + 1)·G, for i = 0..255,
//
// in affine Montgomery coordinates, 16 KiB, built on first use (thread-safe)
// and kept until the process ends.
inline constexpr int kOddWindowBits = 10;
inline constexpr int kOddEntries = 1 << (kOddWindowBits - 2);

using OddTable = std::array<point::Affine, kOddEntries>;

const OddTable& base_odd_table();

}  // namespace tarnwick::sm2::p256_pre_table
