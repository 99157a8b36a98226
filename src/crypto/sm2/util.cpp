#include "crypto/sm2/util.h"

#include <algorithm>
#include <cstdint>

#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm3/sm3.h"

namespace tarnwick::sm2::util {
namespace {

constexpr std::size_t kBlock = 32;
constexpr std::uint64_t kMaxCounter = 0xFFFFFFFFu;

void append(Bytes& out, const p256_field::FieldElement& e) {
  std::uint8_t b[32];
  p256_field::write_bytes(e, b);
  out.insert(out.end(), b, b + sizeof b);
}

void put_counter(std::uint8_t* at, std::uint32_t ct) {
  at[0] = static_cast<std::uint8_t>(ct >> 24);
  at[1] = static_cast<std::uint8_t>(ct >> 16);
  at[2] = static_cast<std::uint8_t>(ct >> 8);
  at[3] = static_cast<std::uint8_t>(ct);
}

}  // namespace

std::expected<Bytes, Sm2Error> user_digest(ByteView user_id, const Sm2PublicKey& public_key) {
  const p256_ecc::CurveParams& curve = p256_ecc::init_curve_params();
  if (!p256_ecc::is_on_curve(public_key)) return std::unexpected(Sm2Error::InvalidPublicKey);
  if (user_id.size() > kMaxUserIdLength) return std::unexpected(Sm2Error::IdTooLong);
  const std::size_t bits = 8 * user_id.size();

  Bytes input;
  input.reserve(2 + user_id.size() + 6 * 32);
  input.push_back(static_cast<std::uint8_t>(bits >> 8));
  input.push_back(static_cast<std::uint8_t>(bits));
  input.insert(input.end(), user_id.begin(), user_id.end());
  append(input, curve.a);
  append(input, curve.b);
  append(input, curve.g.x);
  append(input, curve.g.y);
  const p256_ecc::JacobianPoint affine = p256_ecc::to_affine(public_key);
  append(input, affine.x);
  append(input, affine.y);
  return sm3::digest(input);
}

Bytes kdf(ByteView z, std::size_t klen) {
  // ⌈klen / 32⌉ blocks, capped at the largest 32-bit counter (a bound no
  // real length reaches); klen = 0 still yields the first block whole.
  const std::uint64_t blocks = std::min<std::uint64_t>(klen / kBlock + (klen % kBlock != 0), kMaxCounter);
  const std::uint64_t last = std::max<std::uint64_t>(blocks, 1);
  const std::size_t tail = klen % kBlock == 0 ? kBlock : klen % kBlock;

  Bytes input(z.begin(), z.end());
  input.resize(z.size() + 4);
  std::uint8_t* counter = input.data() + z.size();

  Bytes out;
  out.reserve(static_cast<std::size_t>(last - 1) * kBlock + tail);
  for (std::uint64_t ct = 1; ct < last; ++ct) {
    put_counter(counter, static_cast<std::uint32_t>(ct));
    const Bytes h = sm3::digest(input);
    out.insert(out.end(), h.begin(), h.end());
  }
  put_counter(counter, static_cast<std::uint32_t>(last));
  const Bytes h = sm3::digest(input);
  out.insert(out.end(), h.begin(), h.begin() + static_cast<std::ptrdiff_t>(tail));
  return out;
}

}  // namespace tarnwick::sm2::util
