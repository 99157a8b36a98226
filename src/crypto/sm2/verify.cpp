#include "crypto/sm2/verify.h"

#include <utility>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/mod_n.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm2/scalar.h"
#include "crypto/sm2/util.h"
#include "crypto/sm3/sm3.h"

namespace tarnwick::sm2 {

namespace key {
namespace {

// scalar_of reads a public value below n as a Scalar.
Scalar scalar_of(const BIGNUM& x) {
  std::uint8_t be[32] = {};
  BN_bn2binpad(&x, be, 32);
  return Scalar::from_bytes(be);
}

}  // namespace

std::expected<void, Sm2Error> verify_digest(ByteView e, const Sm2PublicKey& public_key, ByteView signature) {
  if (e.size() != 32) return std::unexpected(Sm2Error::InvalidDigestLength);
  const p256_ecc::CurveParams& curve = p256_ecc::init_curve_params();
  const BIGNUM& n = *curve.n;
  if (signature.size() < 32) return std::unexpected(Sm2Error::InvalidSignatureDigest);

  const ossl::BnPtr r = biguint::from_bytes(signature.first(32));
  const ossl::BnPtr s = biguint::from_bytes(signature.subspan(32));
  if (BN_is_zero(r.get()) || BN_is_zero(s.get())) return std::unexpected(Sm2Error::ZeroSignature);
  // B1, B2: r and s in 1..n − 1.
  if (BN_cmp(r.get(), &n) >= 0 || BN_cmp(s.get(), &n) >= 0) return std::unexpected(Sm2Error::InvalidSignatureDigest);
  // B5: t = (r + s) mod n, not 0.
  const ossl::BnPtr t = add_mod_n(*r, *s);
  if (BN_is_zero(t.get())) return std::unexpected(Sm2Error::InvalidSignatureDigest);
  // B6: (x1, y1) = s·G + t·P, both scalars below n and public, computed
  // jointly in variable time.
  const p256_ecc::JacobianPoint sum = p256_ecc::mul_base_point_vartime(scalar_of(*s), scalar_of(*t), public_key);
  // The point at infinity has no x1; accepting it as x1 = 0 would let
  // r = e mod n pass for any key whose discrete log is known to the forger.
  if (p256_ecc::is_infinity(sum)) return std::unexpected(Sm2Error::InvalidSignatureDigest);
  // B7: R = (e + x1) mod n must equal r, that is x1 ≡ r − e (mod n),
  // checked on the projective sum (e < 2^256 < 2n: one subtraction reduces
  // it).
  const Scalar r_minus_e = scalar::sub_mod(scalar_of(*r), scalar::reduce(Scalar::from_bytes(e.data())));
  if (!p256_ecc::affine_x_matches_mod_n_vartime(sum, r_minus_e)) {
    return std::unexpected(Sm2Error::InvalidSignatureDigest);
  }
  return {};
}

}  // namespace key

std::expected<void, Sm2Error> verify_with_id(const Sm2PublicKey& public_key, std::optional<ByteView> user_id,
                                             ByteView message, ByteView signature) {
  const ByteView id = user_id && !user_id->empty() ? *user_id : default_user_id();
  auto z = util::user_digest(id, public_key);
  if (!z) return std::unexpected(z.error());
  Bytes input = std::move(*z);
  input.insert(input.end(), message.begin(), message.end());
  const Bytes e = sm3::digest(input);
  return key::verify_digest(e, public_key, signature);
}

}  // namespace tarnwick::sm2
