// The portable SM4 path: plain C++ for processors without the vector
// instructions of the other paths. The S-box is the bitsliced circuit of
// bitslice.h, so nothing is looked up by a secret index.
//
// Single blocks run the circuit on the four bytes of a round as four
// lanes of a 32-bit word. Sixteen blocks at once are held fully bitsliced:
// each 64-bit slice carries one bit position of one state word for all 16
// blocks, lane 16k + b holding byte k of block b, so that the rotations of
// the linear transform L are renamings of slices and rotations of lanes.
#include <openssl/crypto.h>

#include <cstring>

#include "crypto/sm4/bitslice.h"
#include "crypto/sm4/driver.h"
#include "crypto/sm4/path.h"
#include "support/endian.h"
#include "support/secret.h"

namespace tarnwick::sm4::detail {
namespace {

// The kernel of driver.h for the key schedule and the serial chains; the
// state is four words in registers.
struct Portable {
  struct Keys {
    const std::uint32_t* rk;
  };
  struct State {
    std::uint32_t w[4];
  };

  using KeyWord = std::uint32_t;
  static KeyWord key_word(std::uint32_t x) { return x; }
  static std::uint32_t key_value(KeyWord w) { return w; }
  static KeyWord key_round(KeyWord a, KeyWord b, KeyWord c, KeyWord d, std::uint32_t ck) {
    const std::uint32_t t = bitslice::tau(b ^ c ^ d ^ ck);
    return a ^ t ^ rotl(t, 13) ^ rotl(t, 23);
  }
  static void prepare(const RoundKeys rk, Keys& keys) { keys.rk = rk; }
  static State load(const std::uint8_t* p) {
    return {{load_be32(p), load_be32(p + 4), load_be32(p + 8), load_be32(p + 12)}};
  }
  static void store(const State& s, std::uint8_t* p) {
    for (int j = 0; j < 4; ++j) store_be32(p + 4 * j, s.w[j]);
  }
  static State encrypt(const Keys& keys, const State& s) {
    std::uint32_t x0 = s.w[0], x1 = s.w[1], x2 = s.w[2], x3 = s.w[3];
    for (int i = 0; i < 32; ++i) {
      const std::uint32_t t = bitslice::tau(x1 ^ x2 ^ x3 ^ keys.rk[i]);
      const std::uint32_t next = x0 ^ t ^ rotl(t, 2) ^ rotl(t, 10) ^ rotl(t, 18) ^ rotl(t, 24);
      x0 = x1;
      x1 = x2;
      x2 = x3;
      x3 = next;
    }
    return {{x3, x2, x1, x0}};
  }
};

void crypt1(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out) {
  Portable::store(Portable::encrypt({rk}, Portable::load(in)), out);
}

// ---- sixteen blocks, bitsliced ----

constexpr std::uint64_t rot(std::uint64_t x, unsigned n) { return (x << n) | (x >> (64 - n)); }

// transpose8 transposes the 8×8 bit matrix whose row r is byte r of `x`.
inline std::uint64_t transpose8(std::uint64_t x) {
  std::uint64_t t = (x ^ (x >> 7)) & 0x00aa00aa00aa00aaULL;
  x ^= t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000cccc0000ccccULL;
  x ^= t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000f0f0f0f0ULL;
  x ^= t ^ (t << 28);
  return x;
}

using Word = std::uint64_t[8];  // slice s: bit s of every byte of one state word

// to_slices reads word j of 16 blocks into slices; byte k of a big-endian
// word sits at offset 3 − k.
void to_slices(const std::uint8_t* in, int j, Word w) {
  for (int s = 0; s < 8; ++s) w[s] = 0;
  for (int k = 0; k < 4; ++k) {
    for (int half = 0; half < 2; ++half) {
      std::uint64_t g = 0;
      for (int b = 0; b < 8; ++b) g |= std::uint64_t{in[16 * (8 * half + b) + 4 * j + 3 - k]} << (8 * b);
      g = transpose8(g);
      for (int s = 0; s < 8; ++s) w[s] |= ((g >> (8 * s)) & 0xff) << (16 * k + 8 * half);
    }
  }
}

void from_slices(const Word w, int j, std::uint8_t* out) {
  for (int k = 0; k < 4; ++k) {
    for (int half = 0; half < 2; ++half) {
      std::uint64_t g = 0;
      for (int s = 0; s < 8; ++s) g |= ((w[s] >> (16 * k + 8 * half)) & 0xff) << (8 * s);
      g = transpose8(g);
      for (int b = 0; b < 8; ++b) out[16 * (8 * half + b) + 4 * j + 3 - k] = static_cast<std::uint8_t>(g >> (8 * b));
    }
  }
}

// key_slices spreads round key `k` over the lanes: lane 16k + b of slice s
// is bit 8k + s of the key, for every block b.
inline void key_slices(std::uint32_t key, Word w) {
  for (int s = 0; s < 8; ++s) {
    std::uint64_t m = 0;
    for (int k = 0; k < 4; ++k) m |= std::uint64_t{(key >> (8 * k + s)) & 1} * (0xffffULL << (16 * k));
    w[s] = m;
  }
}

// crypt16 runs the 32 rounds on 16 blocks.
void crypt16(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out) {
  Word x[4];
  for (int j = 0; j < 4; ++j) to_slices(in, j, x[j]);
  Word t, y, k;
  for (int i = 0; i < 32; ++i) {
    std::uint64_t* x0 = x[i & 3];
    const std::uint64_t* x1 = x[(i + 1) & 3];
    const std::uint64_t* x2 = x[(i + 2) & 3];
    const std::uint64_t* x3 = x[(i + 3) & 3];
    key_slices(rk[i], k);
    for (int s = 0; s < 8; ++s) t[s] = x1[s] ^ x2[s] ^ x3[s] ^ k[s];
    bitslice::sbox(t, y, ~std::uint64_t{0});
    // L = I ⊕ <<<2 ⊕ <<<10 ⊕ <<<18 ⊕ <<<24: a rotation by 8m + q moves
    // slice s − q of lane byte k − m (or slice s − q + 8 of byte k − m − 1).
    for (int s = 0; s < 8; ++s) {
      const std::uint64_t u = s >= 2 ? y[s - 2] : rot(y[s + 6], 16);
      x0[s] ^= y[s] ^ u ^ rot(u, 16) ^ rot(u, 32) ^ rot(y[s], 48);
    }
  }
  // The output is X35, X34, X33, X32: words 0 … 3 of the state array in
  // reverse, round 31 having written x[3].
  for (int j = 0; j < 4; ++j) from_slices(x[3 - j], j, out);
  wipe_memory(x, sizeof x);
  wipe_memory(t, sizeof t);
  wipe_memory(y, sizeof y);
  wipe_memory(k, sizeof k);
}

void crypt_blocks(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  for (; n >= 16; n -= 16, in += 256, out += 256) crypt16(rk, in, out);
  if (n == 1) {
    crypt1(rk, in, out);
  } else if (n > 1) {
    std::uint8_t buf[256] = {};
    std::memcpy(buf, in, 16 * n);
    crypt16(rk, buf, buf);
    std::memcpy(out, buf, 16 * n);
    wipe_memory(buf, sizeof buf);
  }
}

// increment adds 1 to a counter block without a branch on its value.
inline void increment(std::uint8_t c[16], Counter kind) {
  if (kind == Counter::Low32) {
    store_be32(c + 12, load_be32(c + 12) + 1);
    return;
  }
  std::uint32_t carry = 1;
  for (int i = 15; i >= 0; --i) {
    const std::uint32_t v = std::uint32_t{c[i]} + carry;
    c[i] = static_cast<std::uint8_t>(v);
    carry = v >> 8;
  }
}

void ctr(const RoundKeys rk, std::uint8_t counter[16], Counter kind, const std::uint8_t* in, std::uint8_t* out,
         std::size_t len) {
  std::uint8_t ks[256];
  while (len > 0) {
    const std::size_t blocks = len >= 256 ? 16 : (len + 15) / 16;
    std::uint8_t next[16];
    std::memcpy(next, counter, 16);
    for (std::size_t b = 0; b < blocks; ++b) {
      std::memcpy(ks + 16 * b, next, 16);
      increment(next, kind);
    }
    crypt_blocks(rk, ks, ks, blocks);
    const std::size_t n = len < 16 * blocks ? len : 16 * blocks;
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i] ^ ks[i];
    // The counter advances over whole blocks only.
    if (n == 16 * blocks) std::memcpy(counter, next, 16);
    else
      for (std::size_t b = 0; b < n / 16; ++b) increment(counter, kind);
    wipe_memory(next, sizeof next);
    in += n;
    out += n;
    len -= n;
  }
  wipe_memory(ks, sizeof ks);
}

void expand_key(const std::uint8_t key[16], RoundKeys rk) { driver::expand_key<Portable>(key, rk); }

void chain(Chain kind, const RoundKeys rk, std::uint8_t reg[16], const std::uint8_t* in, std::uint8_t* out,
           std::size_t len) {
  driver::chain<Portable>(kind, rk, reg, in, out, len);
}

}  // namespace

const Path kPortablePath = {
    "portable", expand_key, crypt_blocks, ctr, chain, ghash_portable_init, ghash_portable,
};

}  // namespace tarnwick::sm4::detail
