// Signature: the DER record of an SM2 signature (as in GB/T 35276):
//
//   Signature ::= SEQUENCE { r INTEGER, s INTEGER }
//
// and AlgorithmKind, the selector the signature services dispatch on.
#pragma once

#include <cstdint>
#include <string_view>

#include "ohos/asym/algorithms.h"
#include "support/bytes.h"
#include "support/der.h"
#include "support/error.h"

namespace tarnwick::ohos::asym {

struct Signature {
  der::SignedInteger r;
  der::SignedInteger s;

  // encode returns the DER of {r, s} for the unsigned big-endian byte strings
  // `r` and `s` (leading zeros ignored, empty = 0), each INTEGER in minimal
  // form. It does not fail.
  static Bytes encode(ByteView r, ByteView s);

  // decode reads a record from the start of `der`: a constructed SEQUENCE of
  // definite length holding exactly r and s. INTEGERs keep their sign and
  // may carry redundant leading octets; bytes after the SEQUENCE are ignored.
  // Errors name the field as "Signature.r" / "Signature.s".
  static Result<Signature> decode(ByteView der);

  bool operator==(const Signature&) const = default;
};

enum class AlgorithmKind : std::uint8_t {
  None = 0,
  RSA = 1,
  SHA1WithRSA = 2,
  SHA256WithRSA = 3,
  SM3 = 4,
  SM3WithSM2 = 5,
};

// algorithm_kind is `algorithm` + 2 (eight-bit arithmetic).
constexpr AlgorithmKind algorithm_kind(SignAlgorithm algorithm) noexcept {
  return static_cast<AlgorithmKind>(static_cast<std::uint8_t>(static_cast<std::uint8_t>(algorithm) + 2));
}

// is_sm2_family is the family test (kind AND 6) = 4: true for SM3 and
// SM3WithSM2 alone.
constexpr bool is_sm2_family(AlgorithmKind kind) noexcept {
  return (static_cast<std::uint8_t>(kind) & 6) == 4;
}

// name is the variant name of `kind` ("SM3WithSM2", ...); "" for a value
// outside the enumeration.
std::string_view name(AlgorithmKind kind) noexcept;

}  // namespace tarnwick::ohos::asym
