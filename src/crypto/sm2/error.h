// SM2 failure kinds: one byte each, one fixed text each.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick::sm2 {

enum class Sm2Error : std::uint8_t {
  PointNotOnCurve = 0,
  NoSquareRoot = 1,
  InvalidDer = 2,
  InvalidPublicKey = 3,
  InvalidPrivateKey = 4,
  ZeroHasNoInverse = 5,
  PointAtInfinity = 6,
  InvalidJacobianPoint = 7,
  PointCheckFailed = 8,
  ZeroVector = 9,
  HashMismatch = 10,
  IdTooLong = 11,
  ZeroHasNoInverseInField = 12,
  InvalidFieldElementLength = 13,
  ZeroSignature = 14,
  InvalidDigestLength = 15,
  InvalidSignatureDigest = 16,
  InvalidSecretKey = 17,
  KdfHashError = 18,
};

// display returns the kind's text; debug returns the same text.
std::string_view display(Sm2Error e) noexcept;
inline std::string_view debug(Sm2Error e) noexcept { return display(e); }

}  // namespace tarnwick::sm2
