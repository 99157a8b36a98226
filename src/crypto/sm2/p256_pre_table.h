// The two fixed-base comb tables of k·G, each built once on first use.
//   COMB_TABLE_LOW[i]  = Σ_j (bit j of i)·2^(32j)·G
//   COMB_TABLE_HIGH[i] = Σ_j (bit j of i)·2^(32j+16)·G
// Entry 0 of both is (1, 1, 0); COMB_TABLE_LOW[1] is (Gx, Gy, 1).
#pragma once

#include <vector>

#include "crypto/sm2/p256_ecc.h"

namespace tarnwick::sm2::p256_pre_table {

using CombTable = std::vector<p256_ecc::JacobianPoint>;

// build_low_table and build_high_table compute the 256 entries.
CombTable build_low_table();
CombTable build_high_table();

// init_low_table and init_high_table return the process-wide tables, built
// once (thread-safe) and read-only afterwards.
const CombTable& init_low_table();
const CombTable& init_high_table();

}  // namespace tarnwick::sm2::p256_pre_table
