// The part of every SM4 path that does not depend on the processor
// (internal to src/crypto/sm4): the key schedule and its constants, the
// serial chains, batches of independent blocks and the counter keystream,
// each written once as a template over a path's kernel.
//
// A kernel K is a type with static members. For the key schedule:
//   K::KeyWord, K::key_word(x), K::key_value(w)
//                             a 32-bit word in the kernel's own form, from
//                             and to a plain word;
//   K::key_round(a, b, c, d, ck)
//                             a ⊕ T′(b ⊕ c ⊕ d ⊕ ck), T′ = L′∘τ.
// For single blocks:
//   K::Keys, K::prepare(rk, keys)
//                             round keys in the form K::encrypt takes;
//   K::State                  one block, as four words w[0 … 3] in the
//                             kernel's own domain, in which ⊕ of the words
//                             is ⊕ of the blocks;
//   K::load(p), K::store(s, p)
//                             a block from and to 16 bytes;
//   K::encrypt(keys, s)       the 32 rounds and the final reversal R.
// For many blocks at once:
//   K::Group, K::kGroupBytes  the blocks the kernel holds together, and
//                             their size in bytes;
//   K::kGroups                groups in a full batch;
//   K::kMaskedTail            whether load_group and store_group take a
//                             partial group (`len` < kGroupBytes) themselves;
//   K::load_group(g, in, len), K::store_group(g, out, mix, len)
//                             a group from and to memory, the output XORed
//                             with `mix` when it is not null;
//   K::counters(g, counter, offset, kind)
//                             the counter blocks counter + offset, … ;
//   K::rounds(g, rk)          the 32 rounds over an array of groups.
// The portable kernel has the first two parts only: its batches are
// bitsliced and driven in cipher_portable.cpp. The vector kernels' functions
// carry the path's target attribute, so they cannot be forced inline into
// the driver, which has none; instead the path's entry points
// (TARNWICK_SM4_ENTRY_POINTS) carry the attribute too and are flattened,
// and driver and kernel inline into one body per entry point.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/sm4/path.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm4::detail {

// GB/T 32907-2016 §7.3: the system parameter FK, and the fixed parameters
// CK_i, byte j of CK_i being (4i + j)·7 mod 256.
inline constexpr std::uint32_t kFk[4] = {0xa3b1bac6, 0x56aa3350, 0x677d9197, 0xb27022dc};
inline constexpr std::array<std::uint32_t, 32> kCk = [] {
  std::array<std::uint32_t, 32> ck{};
  for (unsigned i = 0; i < 32; ++i)
    for (unsigned j = 0; j < 4; ++j) ck[i] = (ck[i] << 8) | (((4 * i + j) * 7) & 0xff);
  return ck;
}();

constexpr std::uint32_t rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> ((32 - n) & 31)); }

// CounterState is a counter block as four big-endian words.
struct CounterState {
  std::uint32_t w[4];
};

// advance adds `blocks` to a counter: to the whole block (Full128) or to
// its last word modulo 2^32 (Low32). Carries are arithmetic, not branches.
inline void advance(CounterState& c, std::uint32_t blocks, Counter kind) {
  if (kind == Counter::Low32) {
    c.w[3] += blocks;
    return;
  }
  std::uint64_t lo = (std::uint64_t{c.w[2]} << 32) | c.w[3];
  std::uint64_t hi = (std::uint64_t{c.w[0]} << 32) | c.w[1];
  const std::uint64_t sum = lo + blocks;
  hi += static_cast<std::uint64_t>(sum < lo);
  lo = sum;
  c.w[0] = static_cast<std::uint32_t>(hi >> 32);
  c.w[1] = static_cast<std::uint32_t>(hi);
  c.w[2] = static_cast<std::uint32_t>(lo >> 32);
  c.w[3] = static_cast<std::uint32_t>(lo);
}

namespace driver {

// expand_key is GB/T 32907-2016 §7.3 with the kernel's T′.
template <class K>
void expand_key(const std::uint8_t key[16], RoundKeys rk) {
  using W = typename K::KeyWord;
  W k0 = K::key_word(load_be32(key) ^ kFk[0]), k1 = K::key_word(load_be32(key + 4) ^ kFk[1]);
  W k2 = K::key_word(load_be32(key + 8) ^ kFk[2]), k3 = K::key_word(load_be32(key + 12) ^ kFk[3]);
  auto round = [&](W& a, W b, W c, W d, unsigned i) {
    a = K::key_round(a, b, c, d, kCk[i]);
    rk[i] = K::key_value(a);
  };
  for (unsigned i = 0; i < 32; i += 4) {
    round(k0, k1, k2, k3, i);
    round(k1, k2, k3, k0, i + 1);
    round(k2, k3, k0, k1, i + 2);
    round(k3, k0, k1, k2, i + 3);
  }
}

template <class S>
inline void add(S& a, const S& b) {
  for (int j = 0; j < 4; ++j) a.w[j] ^= b.w[j];
}

inline void xor_block(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = a[i] ^ b[i];
}

// chain runs one of the serial modes of path.h's Chain. Each input block
// is loaded ahead of the rounds, in program order too, so that it is ready
// when they end: the rounds are a long serial chain, and a load written
// after them would enter the processor's window only near their end.
template <class K>
void chain(Chain kind, const RoundKeys rk, std::uint8_t reg[16], const std::uint8_t* in, std::uint8_t* out,
           std::size_t len) {
  Wiped<typename K::Keys> keys;
  K::prepare(rk, keys.value);
  typename K::State r = K::load(reg);
  for (; len >= 16; len -= 16, in += 16, out += 16) {
    typename K::State p = K::load(in);
    switch (kind) {
      case Chain::CbcEncrypt:
        add(r, p);
        r = K::encrypt(keys.value, r);
        K::store(r, out);
        break;
      case Chain::CfbEncrypt:
        r = K::encrypt(keys.value, r);
        add(r, p);
        K::store(r, out);
        break;
      case Chain::Ofb:
        r = K::encrypt(keys.value, r);
        add(p, r);
        K::store(p, out);
        break;
    }
  }
  if (len > 0) {
    Wiped<std::uint8_t[16]> e;
    const typename K::State o = K::encrypt(keys.value, r);
    K::store(o, e.value);
    if (kind == Chain::Ofb) r = o;
    xor_block(out, e.value, in, len);
  }
  K::store(r, reg);
}

// groups runs G groups of independent blocks from `in` to `out`.
template <class K, int G>
void groups(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out, std::size_t len) {
  typename K::Group g[G];
  for (int i = 0; i < G; ++i) K::load_group(g[i], in + K::kGroupBytes * i, len - K::kGroupBytes * i);
  K::rounds(g, rk);
  for (int i = 0; i < G; ++i) K::store_group(g[i], out + K::kGroupBytes * i, nullptr, len - K::kGroupBytes * i);
}

// ctr_groups XORs the keystream of G groups from `c` into `in`.
template <class K, int G>
void ctr_groups(const RoundKeys rk, const CounterState& c, Counter kind, const std::uint8_t* in, std::uint8_t* out,
                std::size_t len) {
  typename K::Group g[G];
  for (int i = 0; i < G; ++i) K::counters(g[i], c, static_cast<std::uint32_t>(K::kGroupBytes / 16 * i), kind);
  K::rounds(g, rk);
  for (int i = 0; i < G; ++i)
    K::store_group(g[i], out + K::kGroupBytes * i, in + K::kGroupBytes * i, len - K::kGroupBytes * i);
}

// crypt_blocks runs the rounds over `n` independent blocks: one block as a
// single block, more in batches of groups.
template <class K>
void crypt_blocks(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  if (n == 1) {
    Wiped<typename K::Keys> keys;
    K::prepare(rk, keys.value);
    K::store(K::encrypt(keys.value, K::load(in)), out);
    return;
  }
  constexpr std::size_t group = K::kGroupBytes, batch = group * K::kGroups;
  std::size_t len = 16 * n;
  for (; len >= batch; len -= batch, in += batch, out += batch) groups<K, K::kGroups>(rk, in, out, batch);
  for (; len >= group; len -= group, in += group, out += group) groups<K, 1>(rk, in, out, group);
  if (len == 0) return;
  if constexpr (K::kMaskedTail) {
    groups<K, 1>(rk, in, out, len);
  } else {
    Wiped<std::uint8_t[group]> buf;
    std::memcpy(buf.value, in, len);
    groups<K, 1>(rk, buf.value, buf.value, group);
    std::memcpy(out, buf.value, len);
  }
}

// ctr is the counter keystream of Path::ctr.
template <class K>
void ctr(const RoundKeys rk, std::uint8_t counter[16], Counter kind, const std::uint8_t* in, std::uint8_t* out,
         std::size_t len) {
  constexpr std::size_t group = K::kGroupBytes, batch = group * K::kGroups;
  Wiped<CounterState> c;
  for (int j = 0; j < 4; ++j) c.value.w[j] = load_be32(counter + 4 * j);
  for (; len >= batch; len -= batch, in += batch, out += batch) {
    ctr_groups<K, K::kGroups>(rk, c.value, kind, in, out, batch);
    advance(c.value, batch / 16, kind);
  }
  for (; len >= group; len -= group, in += group, out += group) {
    ctr_groups<K, 1>(rk, c.value, kind, in, out, group);
    advance(c.value, group / 16, kind);
  }
  if (len > 0) {
    if constexpr (K::kMaskedTail) {
      ctr_groups<K, 1>(rk, c.value, kind, in, out, len);
    } else {
      Wiped<std::uint8_t[group]> buf;
      std::memcpy(buf.value, in, len);
      ctr_groups<K, 1>(rk, c.value, kind, buf.value, buf.value, group);
      std::memcpy(out, buf.value, len);
    }
    advance(c.value, static_cast<std::uint32_t>(len / 16), kind);
  }
  for (int j = 0; j < 4; ++j) store_be32(counter + 4 * j, c.value.w[j]);
}

}  // namespace driver
}  // namespace tarnwick::sm4::detail

// TARNWICK_SM4_ENTRY_POINTS defines a vector path's expand_key,
// crypt_blocks, ctr and chain (the signatures of Path) as the driver over
// the kernel `K`, under the path's target attribute `TARGET`.
#define TARNWICK_SM4_ENTRY_POINTS(K, TARGET)                                                                      \
  [[gnu::flatten]] TARGET void expand_key(const std::uint8_t key[16], RoundKeys rk) {                            \
    driver::expand_key<K>(key, rk);                                                                              \
  }                                                                                                              \
  [[gnu::flatten]] TARGET void crypt_blocks(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out,       \
                                            std::size_t n) {                                                     \
    driver::crypt_blocks<K>(rk, in, out, n);                                                                     \
  }                                                                                                              \
  [[gnu::flatten]] TARGET void ctr(const RoundKeys rk, std::uint8_t counter[16], Counter kind,                   \
                                   const std::uint8_t* in, std::uint8_t* out, std::size_t len) {                 \
    driver::ctr<K>(rk, counter, kind, in, out, len);                                                             \
  }                                                                                                              \
  [[gnu::flatten]] TARGET void chain(Chain kind, const RoundKeys rk, std::uint8_t reg[16], const std::uint8_t* in, \
                                     std::uint8_t* out, std::size_t len) {                                       \
    driver::chain<K>(kind, rk, reg, in, out, len);                                                               \
  }
