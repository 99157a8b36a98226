#include "crypto/sm4/cipher.h"

#include <openssl/crypto.h>

#include "crypto/sm4/path.h"
#include "support/cpu.h"
#include "support/secret.h"

namespace tarnwick::sm4 {

namespace detail {

const Path& active() noexcept {
  if (cpu::has(gfni_features())) return kGfniPath;
  if (cpu::has(gfni_avx2_features() | cpu::kVpclmul)) return kGfniAvx2Path;
  if (cpu::has(gfni_avx2_features())) return kGfniAvx2PclmulPath;
  if (cpu::has(aesni_features())) return kAesniPath;
  return kPortablePath;
}

}  // namespace detail

Sm4KeySchedule::~Sm4KeySchedule() { wipe_memory(rk.data(), sizeof rk); }

namespace cipher {
namespace {

std::expected<Bytes, Sm4Error> ecb(const detail::RoundKeys rk, ByteView data) {
  Bytes out(data.size() / kBlockSize * kBlockSize);
  if (!out.empty()) detail::active().crypt_blocks(rk, data.data(), out.data(), out.size() / kBlockSize);
  return out;
}

}  // namespace

std::expected<Sm4KeySchedule, Sm4Error> key_schedule(ByteView key) {
  if (key.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  std::expected<Sm4KeySchedule, Sm4Error> s(std::in_place);
  detail::active().expand_key(key.data(), s->rk.data());
  return s;
}

std::expected<Block, Sm4Error> encrypt_block(const Sm4KeySchedule& schedule, ByteView block) {
  if (block.size() != kBlockSize) return std::unexpected(Sm4Error::InvalidBlockSize);
  Block out;
  encrypt_raw(schedule, block.data(), out.data());
  return out;
}

std::expected<Block, Sm4Error> decrypt_block(const Sm4KeySchedule& schedule, const Block& block) {
  Block out;
  decrypt_raw(schedule, block.data(), out.data());
  return out;
}

void encrypt_raw(const Sm4KeySchedule& schedule, const std::uint8_t* in, std::uint8_t* out) noexcept {
  detail::active().crypt_blocks(schedule.rk.data(), in, out, 1);
}

void decrypt_raw(const Sm4KeySchedule& schedule, const std::uint8_t* in, std::uint8_t* out) noexcept {
  const detail::DecryptKeys r(schedule.rk.data());
  detail::active().crypt_blocks(r.keys.value, in, out, 1);
}

std::expected<Bytes, Sm4Error> encrypt_ecb(const Sm4KeySchedule& schedule, ByteView data) {
  return ecb(schedule.rk.data(), data);
}

std::expected<Bytes, Sm4Error> decrypt_ecb(const Sm4KeySchedule& schedule, ByteView data) {
  const detail::DecryptKeys r(schedule.rk.data());
  return ecb(r.keys.value, data);
}

}  // namespace cipher
}  // namespace tarnwick::sm4
