#include "crypto/sm2/error.h"

namespace tarnwick::sm2 {

std::string_view display(Sm2Error e) noexcept {
  switch (e) {
    case Sm2Error::PointNotOnCurve: return "the point not on curve";
    case Sm2Error::NoSquareRoot: return "field elem sqrt error";
    case Sm2Error::InvalidDer: return "invalid der";
    case Sm2Error::InvalidPublicKey: return "invalid public key";
    case Sm2Error::InvalidPrivateKey: return "invalid private key";
    case Sm2Error::ZeroHasNoInverse: return "zero has no inversion";
    case Sm2Error::PointAtInfinity: return "cannot convert the infinite point to affine";
    case Sm2Error::InvalidJacobianPoint: return "invalid jacobian point";
    case Sm2Error::PointCheckFailed: return "check point error";
    case Sm2Error::ZeroVector: return "the vector is zero";
    case Sm2Error::HashMismatch: return "hash and cipher not equal";
    case Sm2Error::IdTooLong: return "ID is too long";
    case Sm2Error::ZeroHasNoInverseInField: return "zero has no inversion in filed";
    case Sm2Error::InvalidFieldElementLength: return "a SCA-256 field element must be 32-byte long";
    case Sm2Error::ZeroSignature: return "the signature is zero, cannot sign";
    case Sm2Error::InvalidDigestLength: return "the length of digest must be 32-bytes";
    case Sm2Error::InvalidSignatureDigest: return "invalid signature digest";
    case Sm2Error::InvalidSecretKey: return "invalid secret key";
    case Sm2Error::KdfHashError: return "KDF hash error";
  }
  return "";
}

}  // namespace tarnwick::sm2
