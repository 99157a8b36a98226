// The SM4 and GHASH kernels of one processor path, and the one place that
// chooses a path (internal to src/crypto/sm4).
//
// Every kernel runs in constant time: no branch and no memory address
// depends on a key, a round key, a block, a counter or a GHASH value; loop
// bounds depend on lengths only. The mode engine (cipher_mode.cpp, gcm.cpp)
// works on these primitives alone: "n independent blocks" for ECB,
// CBC decryption and CFB decryption, "a counter keystream" for CTR and
// GCM, and "one block at a time" for the serial modes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/secret.h"

namespace tarnwick::sm4::detail {

using RoundKeys = std::uint32_t[32];

// How a serial chain feeds its 16-byte register R, block by block:
//   CbcEncrypt: R = E(P ⊕ R), output R;
//   CfbEncrypt: R = E(R) ⊕ P, output R (a final partial block XORs the
//               first bytes of E(R) and leaves R alone);
//   Ofb:        R = E(R), output R ⊕ P (likewise for a partial block).
enum class Chain : std::uint8_t { CbcEncrypt, CfbEncrypt, Ofb };

// How a counter block advances: the whole block as a 128-bit big-endian
// integer (CTR), or bytes 12 … 15 only, modulo 2^32 (GCM's inc32).
enum class Counter : std::uint8_t { Full128, Low32 };

// GhashKey holds H and whatever a path precomputes from it (powers of H),
// in the path's own layout. It is wiped when destroyed.
struct GhashKey {
  alignas(64) std::uint8_t bytes[16 * 20];
  GhashKey() = default;
  GhashKey(const GhashKey&) = delete;
  GhashKey& operator=(const GhashKey&) = delete;
  ~GhashKey();
};

struct Path {
  const char* name;
  // expand_key writes the 32 round keys of a 16-byte key (GB/T 32907 §7.3).
  void (*expand_key)(const std::uint8_t key[16], RoundKeys rk);
  // crypt_blocks runs the 32 rounds over `n` independent blocks, round i
  // using rk[i] (reverse the keys to decrypt). `out` may equal `in`.
  void (*crypt_blocks)(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out, std::size_t n);
  // ctr XORs E(counter), E(counter + 1), … into `len` bytes of `in`; a final
  // partial block uses the first bytes of its keystream block. `counter` is
  // left at the value after the last whole block.
  void (*ctr)(const RoundKeys rk, std::uint8_t counter[16], Counter kind, const std::uint8_t* in,
              std::uint8_t* out, std::size_t len);
  // chain runs a serial mode over `len` bytes (a multiple of 16 for
  // CbcEncrypt), updating the register `reg`.
  void (*chain)(Chain kind, const RoundKeys rk, std::uint8_t reg[16], const std::uint8_t* in,
                std::uint8_t* out, std::size_t len);
  // ghash_init prepares `key` from the hash subkey `h` (16 bytes).
  void (*ghash_init)(GhashKey& key, const std::uint8_t h[16]);
  // ghash folds `n` 16-byte blocks into the GHASH value `y` (SP 800-38D
  // §6.4): y = (y ⊕ X_i)·H for each block in turn. `y` is a block in the
  // standard's byte order.
  void (*ghash)(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n);
};

// active returns the fastest path the processor offers, as `cpu::has`
// reports it at the time of the call (so `cpu::testing::withhold` forces
// the slower ones). This is the one dispatch point of SM4 and GHASH.
const Path& active() noexcept;

// The paths themselves, and the processor features each one needs.
extern const Path kPortablePath;
extern const Path kAesniPath;
extern const Path kGfniPath;
extern const Path kGfniAvx2Path;        // GHASH on 256-bit VPCLMULQDQ
extern const Path kGfniAvx2PclmulPath;  // the same SM4 kernel, GHASH on PCLMULQDQ
std::uint32_t aesni_features() noexcept;
std::uint32_t gfni_features() noexcept;
std::uint32_t gfni_avx2_features() noexcept;  // kGfniAvx2Path needs cpu::kVpclmul as well

// DecryptKeys holds round keys rk31 … rk0, the order decryption uses them
// in (GB/T 32907 §7.2), and wipes them when it goes out of scope.
struct DecryptKeys {
  Wiped<RoundKeys> keys;
  explicit DecryptKeys(const std::uint32_t* rk) noexcept {
    for (int i = 0; i < 32; ++i) keys.value[i] = rk[31 - i];
  }
};

// The portable GHASH: SP 800-38D Algorithm 1 with masks in place of
// branches. Every path may use it for single products.
void ghash_portable_init(GhashKey& key, const std::uint8_t h[16]);
void ghash_portable(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n);

}  // namespace tarnwick::sm4::detail
