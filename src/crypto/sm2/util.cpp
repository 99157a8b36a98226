#include "crypto/sm2/util.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/p256_field.h"
#include "crypto/sm3/sm3.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm2::util {
namespace {

constexpr std::size_t kBlock = 32;
constexpr std::uint64_t kMaxCounter = 0xFFFFFFFFu;

void append(Bytes& out, const p256_field::FieldElement& e) {
  std::uint8_t b[32];
  p256_field::write_bytes(e, b);
  out.insert(out.end(), b, b + sizeof b);
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
  const p256_ecc::JacobianPoint affine = p256_ecc::to_affine_public(public_key);
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

  // z's whole 64-byte blocks are absorbed once; each counter then finishes
  // the hash over the rest of z and the counter. The state and buffers that
  // hold z or keystream are wiped before they are released.
  const std::size_t whole = z.size() / 64;
  const std::size_t rest = z.size() % 64;
  Wiped<sm3::ChainingValue> prefix;
  prefix.value = sm3::kInitialValue;
  sm3::compress(prefix.value, z.data(), whole);
  Wiped<std::uint8_t[64 + 4]> last_part;  // the rest of z, then the counter
  if (rest > 0) std::memcpy(last_part.value, z.data() + 64 * whole, rest);
  Wiped<std::uint8_t[kBlock]> digest;

  Bytes out;
  out.reserve(static_cast<std::size_t>(last - 1) * kBlock + tail);
  auto block_digest = [&](std::uint32_t ct) {
    store_be32(last_part.value + rest, ct);
    sm3::finish(prefix.value, 64 * whole, last_part.value, rest + 4, digest.value);
  };
  for (std::uint64_t ct = 1; ct < last; ++ct) {
    block_digest(static_cast<std::uint32_t>(ct));
    out.insert(out.end(), digest.value, digest.value + kBlock);
  }
  block_digest(static_cast<std::uint32_t>(last));
  out.insert(out.end(), digest.value, digest.value + tail);
  return out;
}

}  // namespace tarnwick::sm2::util
