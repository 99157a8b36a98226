#include "crypto/sm2/util.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

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

// KdfState holds the hashing state of the key-derivation function, all of it
// derived from the shared secret; it is wiped when dropped.
struct KdfState {
  sm3::ChainingValue prefix{};
  sm3::ChainingValue v{};
  std::uint8_t block[128] = {};
  std::uint8_t digest[32] = {};
  KdfState() = default;
  KdfState(const KdfState&) = delete;
  KdfState& operator=(const KdfState&) = delete;
  ~KdfState() { OPENSSL_cleanse(this, sizeof *this); }
};

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

  // z's whole 64-byte blocks are absorbed once; each counter then hashes
  // the rest of z, the counter and the padding (one or two blocks). Every
  // buffer that holds z or keystream is wiped before it is released.
  KdfState st;
  const std::size_t whole = z.size() / 64;
  const std::size_t rest = z.size() % 64;
  st.prefix = sm3::kInitialValue;
  if (whole > 0) sm3::compress(st.prefix, z.data(), whole);
  if (rest > 0) std::memcpy(st.block, z.data() + 64 * whole, rest);
  const std::size_t used = rest + 4;  // rest of z and the counter
  const std::size_t final_blocks = used + 9 <= 64 ? 1 : 2;
  st.block[used] = 0x80;
  const std::uint64_t bits = (static_cast<std::uint64_t>(z.size()) + 4) * 8;
  std::uint8_t* len = st.block + 64 * final_blocks - 8;
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));

  Bytes out;
  out.reserve(static_cast<std::size_t>(last - 1) * kBlock + tail);
  auto block_digest = [&](std::uint32_t ct) {
    put_counter(st.block + rest, ct);
    st.v = st.prefix;
    sm3::compress(st.v, st.block, final_blocks);
    for (int i = 0; i < 8; ++i) put_counter(st.digest + 4 * i, st.v[static_cast<std::size_t>(i)]);
  };
  for (std::uint64_t ct = 1; ct < last; ++ct) {
    block_digest(static_cast<std::uint32_t>(ct));
    out.insert(out.end(), st.digest, st.digest + kBlock);
  }
  block_digest(static_cast<std::uint32_t>(last));
  out.insert(out.end(), st.digest, st.digest + tail);
  return out;
}

}  // namespace tarnwick::sm2::util
