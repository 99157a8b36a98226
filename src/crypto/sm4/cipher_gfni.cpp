// The GFNI + AVX-512 SM4 path. The S-box is two GFNI instructions on 64
// bytes at once: GF2P8AFFINEQB applies the input affine map of sbox.h and
// GF2P8AFFINEINVQB inverts in the AES field and applies the output map.
//
// Independent blocks are held transposed, sixteen to a group of four zmm
// registers (register j holds word j of every block), and several groups
// run interleaved to cover the latency of a round. Serial chains run one
// block in xmm registers in the pre-mapped domain of linear.h, where a
// round's critical path is one GF2P8AFFINEINVQB, a lane permutation and
// two ternary logic instructions. The key schedule runs T′ on one word.
//
// GCC 12's AVX-512 intrinsics pass _mm512_undefined_epi32() as the unused
// merge operand, which -Wuninitialized reports at every use (GCC bug
// 105593, fixed in GCC 13). It must be silenced before the header is read.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstring>

#include "crypto/sm4/linear.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"
#include "support/endian.h"

#define TARNWICK_GFNI __attribute__((target("avx512f,avx512bw,avx512vl,avx2,avx,ssse3,sse4.1,gfni,pclmul,vpclmulqdq")))
#define TARNWICK_GFNI_INLINE [[gnu::always_inline]] inline TARNWICK_GFNI

namespace tarnwick::sm4::detail {

// The GHASH kernels of this path (ghash_vpclmul.cpp).
void ghash_vpclmul_init(GhashKey& key, const std::uint8_t h[16]);
void ghash_vpclmul(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n);

namespace {

constexpr long long kPreMatrix = static_cast<long long>(sbox::gfni_matrix(sbox::kAesPre));
constexpr int kPreConst = sbox::kAesPreConst;
constexpr long long kPostMatrix = static_cast<long long>(sbox::gfni_matrix(sbox::kAesPost));
constexpr int kPostConst = sbox::kAesPostConst;
constexpr long long kToPremapped = static_cast<long long>(sbox::gfni_matrix(linear::kPre));
constexpr long long kFromPremapped = static_cast<long long>(sbox::gfni_matrix(linear::kPreInverse));
constexpr long long kOut0 = static_cast<long long>(sbox::gfni_matrix(linear::kOut[0]));
constexpr long long kOut1 = static_cast<long long>(sbox::gfni_matrix(linear::kOut[1]));
constexpr long long kOut2 = static_cast<long long>(sbox::gfni_matrix(linear::kOut[2]));
constexpr long long kOut3 = static_cast<long long>(sbox::gfni_matrix(linear::kOut[3]));
constexpr int kK = linear::kK;

// ---- one block at a time, pre-mapped ----

// The byte order of a block as four big-endian words.
TARNWICK_GFNI_INLINE __m128i bswap_words128(__m128i v) {
  return _mm_shuffle_epi8(v, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
}

// to_premapped loads a block as words (lane j = word j) in the pre-mapped
// domain; from_premapped is its inverse.
TARNWICK_GFNI_INLINE __m128i to_premapped(const std::uint8_t* p) {
  const __m128i v = bswap_words128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  return _mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kToPremapped), 0);
}

TARNWICK_GFNI_INLINE __m128i from_premapped(__m128i v) {
  return bswap_words128(_mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kFromPremapped), 0));
}

// A state word is held as a "rotation vector": lane e of its register is
// the pre-mapped word rotated left by 8e bits. Byte rotations commute with
// the bytewise GFNI operations, so the four rotated terms of a round are
// lane permutations of the GFNI results (PSHUFD, one cycle) rather than
// rotations (two).
constexpr int kLanePlus1 = 0x39, kLanePlus2 = 0x4e, kLanePlus3 = 0x93;  // lane e takes lane e + d

// PremappedKeys holds r̃k_i = P·rk_i ⊕ T·C, bytewise, as rotation vectors.
struct PremappedKeys {
  alignas(64) std::uint32_t k[32][4];
};

TARNWICK_GFNI void premap_keys(const RoundKeys rk, PremappedKeys& out) {
  const __m128i counts = _mm_setr_epi32(0, 8, 16, 24);
  for (int i = 0; i < 32; ++i) {
    const __m128i v = _mm_gf2p8affine_epi64_epi8(_mm_set1_epi32(static_cast<int>(rk[i])), _mm_set1_epi64x(kPreMatrix),
                                                 kPreConst);
    _mm_store_si128(reinterpret_cast<__m128i*>(out.k[i]), _mm_rolv_epi32(v, counts));
  }
}

// Words is one block's four state words as rotation vectors.
struct Words {
  __m128i w[4];
};

TARNWICK_GFNI_INLINE Words split(__m128i v) {
  const __m128i counts = _mm_setr_epi32(0, 8, 16, 24);
  return {{_mm_rolv_epi32(_mm_shuffle_epi32(v, 0x00), counts), _mm_rolv_epi32(_mm_shuffle_epi32(v, 0x55), counts),
           _mm_rolv_epi32(_mm_shuffle_epi32(v, 0xaa), counts), _mm_rolv_epi32(_mm_shuffle_epi32(v, 0xff), counts)}};
}

TARNWICK_GFNI_INLINE __m128i join(const Words& x) {
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(x.w[0], x.w[1]), _mm_unpacklo_epi32(x.w[2], x.w[3]));
}

// crypt_premapped runs the 32 rounds on pre-mapped words and returns the
// output words X35, X34, X33, X32. The next round's input ỹ is formed from
// the halves of the XOR that makes the new word, so that a round's
// critical path is GF2P8AFFINEINVQB, PSHUFD and two ternary logic
// instructions.
TARNWICK_GFNI_INLINE Words crypt_premapped(const PremappedKeys& rk, Words in) {
  __m128i x0 = in.w[0], x1 = in.w[1], x2 = in.w[2], x3 = in.w[3];
  const __m128i g0 = _mm_set1_epi64x(kOut0), g1 = _mm_set1_epi64x(kOut1);
  const __m128i g2 = _mm_set1_epi64x(kOut2), g3 = _mm_set1_epi64x(kOut3);
  auto key = [&](int i) TARNWICK_GFNI { return _mm_load_si128(reinterpret_cast<const __m128i*>(rk.k[i & 31])); };
  __m128i y = _mm_ternarylogic_epi32(x1, x2, _mm_xor_si128(x3, key(0)), 0x96);
  // round: a ← a ⊕ F(ỹ), and ỹ ← b ⊕ c ⊕ a ⊕ k for the next round.
  auto round = [&](__m128i& a, __m128i b, __m128i c, int i) TARNWICK_GFNI {
    const __m128i q0 = _mm_gf2p8affineinv_epi64_epi8(y, g0, kK);
    const __m128i q1 = _mm_shuffle_epi32(_mm_gf2p8affineinv_epi64_epi8(y, g1, 0), kLanePlus1);
    const __m128i q2 = _mm_shuffle_epi32(_mm_gf2p8affineinv_epi64_epi8(y, g2, 0), kLanePlus2);
    const __m128i q3 = _mm_shuffle_epi32(_mm_gf2p8affineinv_epi64_epi8(y, g3, 0), kLanePlus3);
    const __m128i u = _mm_ternarylogic_epi32(b, c, key(i + 1), 0x96);
    const __m128i lhs = _mm_ternarylogic_epi32(q0, q1, q2, 0x96);
    const __m128i rhs = _mm_ternarylogic_epi32(q3, a, u, 0x96);
    a = _mm_ternarylogic_epi32(q3, a, lhs, 0x96);
    y = _mm_xor_si128(lhs, rhs);
  };
  for (int i = 0; i < 32; i += 4) {
    round(x0, x2, x3, i);
    round(x1, x3, x0, i + 1);
    round(x2, x0, x1, i + 2);
    round(x3, x1, x2, i + 3);
  }
  return {{x3, x2, x1, x0}};
}

TARNWICK_GFNI void crypt1(const PremappedKeys& rk, const std::uint8_t* in, std::uint8_t* out) {
  const Words o = crypt_premapped(rk, split(to_premapped(in)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), from_premapped(join(o)));
}

TARNWICK_GFNI void chain(Chain kind, const RoundKeys rk, std::uint8_t reg[16], const std::uint8_t* in,
                         std::uint8_t* out, std::size_t len) {
  Wiped<PremappedKeys> keys;
  premap_keys(rk, keys.value);
  Words r = split(to_premapped(reg));
  for (; len >= 16; len -= 16, in += 16, out += 16) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    switch (kind) {
      case Chain::CbcEncrypt: {
        const Words pw = split(to_premapped(in));
        for (int j = 0; j < 4; ++j) r.w[j] = _mm_xor_si128(r.w[j], pw.w[j]);
        r = crypt_premapped(keys.value, r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), from_premapped(join(r)));
        break;
      }
      case Chain::CfbEncrypt: {
        const Words pw = split(to_premapped(in));
        r = crypt_premapped(keys.value, r);
        for (int j = 0; j < 4; ++j) r.w[j] = _mm_xor_si128(r.w[j], pw.w[j]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), from_premapped(join(r)));
        break;
      }
      case Chain::Ofb:
        r = crypt_premapped(keys.value, r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(from_premapped(join(r)), p));
        break;
    }
  }
  if (len > 0) {
    Wiped<std::uint8_t[16]> e;
    const Words o = crypt_premapped(keys.value, r);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(e.value), from_premapped(join(o)));
    if (kind == Chain::Ofb) r = o;
    for (std::size_t i = 0; i < len; ++i) out[i] = e.value[i] ^ in[i];
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(reg), from_premapped(join(r)));
}

// ---- many blocks, transposed ----

TARNWICK_GFNI_INLINE __m512i bswap_words(__m512i v) {
  return _mm512_shuffle_epi8(v, _mm512_broadcast_i32x4(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14,
                                                                      13, 12)));
}

// transpose turns four registers of four blocks each into four registers
// of one word each (lane 4l + p of register j holds word j of block
// 4p + l), and back.
TARNWICK_GFNI_INLINE void transpose(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
  const __m512i t0 = _mm512_unpacklo_epi32(a, b), t1 = _mm512_unpackhi_epi32(a, b);
  const __m512i t2 = _mm512_unpacklo_epi32(c, d), t3 = _mm512_unpackhi_epi32(c, d);
  a = _mm512_unpacklo_epi64(t0, t2);
  b = _mm512_unpackhi_epi64(t0, t2);
  c = _mm512_unpacklo_epi64(t1, t3);
  d = _mm512_unpackhi_epi64(t1, t3);
}

// Group is sixteen blocks in transposed form: x[j] is word j.
struct Group {
  __m512i x[4];
};

// rounds runs the 32 rounds on G groups at once.
template <int G>
TARNWICK_GFNI inline void rounds(Group (&g)[G], const RoundKeys rk) {
  const __m512i pre = _mm512_set1_epi64(kPreMatrix), post = _mm512_set1_epi64(kPostMatrix);
  auto round = [&](int a, int b, int c, int d, std::uint32_t key) TARNWICK_GFNI {
    const __m512i k = _mm512_set1_epi32(static_cast<int>(key));
#pragma GCC unroll 8
    for (int i = 0; i < G; ++i) {
      __m512i t = _mm512_ternarylogic_epi32(g[i].x[b], g[i].x[c], g[i].x[d], 0x96);
      t = _mm512_xor_si512(t, k);
      t = _mm512_gf2p8affine_epi64_epi8(t, pre, kPreConst);
      const __m512i s = _mm512_gf2p8affineinv_epi64_epi8(t, post, kPostConst);
      // L(s) = s ⊕ (s <<< 24) ⊕ (u <<< 2), u = s ⊕ (s <<< 8) ⊕ (s <<< 16).
      const __m512i u = _mm512_ternarylogic_epi32(s, _mm512_rol_epi32(s, 8), _mm512_rol_epi32(s, 16), 0x96);
      g[i].x[a] = _mm512_ternarylogic_epi32(g[i].x[a], s, _mm512_rol_epi32(s, 24), 0x96);
      g[i].x[a] = _mm512_xor_si512(g[i].x[a], _mm512_rol_epi32(u, 2));
    }
  };
  for (int r = 0; r < 32; r += 4) {
    round(0, 1, 2, 3, rk[r]);
    round(1, 2, 3, 0, rk[r + 1]);
    round(2, 3, 0, 1, rk[r + 2]);
    round(3, 0, 1, 2, rk[r + 3]);
  }
}

// Masks for a group's 256 bytes cut short at `len` bytes: zmm q covers bytes
// 64q … 64q + 63.
inline __mmask64 byte_mask(std::size_t len, int q) {
  const std::size_t start = 64 * static_cast<std::size_t>(q);
  if (len <= start) return 0;
  if (len - start >= 64) return ~__mmask64{0};
  return (__mmask64{1} << (len - start)) - 1;
}

TARNWICK_GFNI_INLINE void load_group(Group& g, const std::uint8_t* in, std::size_t len) {
  for (int q = 0; q < 4; ++q) {
    const __m512i v =
        len >= 256 ? _mm512_loadu_si512(in + 64 * q) : _mm512_maskz_loadu_epi8(byte_mask(len, q), in + 64 * q);
    g.x[q] = bswap_words(v);
  }
  transpose(g.x[0], g.x[1], g.x[2], g.x[3]);
}

// store_group writes the output of a finished group, XORed with `mix` when
// it is not null.
TARNWICK_GFNI_INLINE void store_group(Group& g, std::uint8_t* out, const std::uint8_t* mix, std::size_t len) {
  __m512i o[4] = {g.x[3], g.x[2], g.x[1], g.x[0]};
  transpose(o[0], o[1], o[2], o[3]);
  for (int q = 0; q < 4; ++q) {
    __m512i v = bswap_words(o[q]);
    if (len >= 256) {
      if (mix != nullptr) v = _mm512_xor_si512(v, _mm512_loadu_si512(mix + 64 * q));
      _mm512_storeu_si512(out + 64 * q, v);
    } else {
      const __mmask64 m = byte_mask(len, q);
      if (mix != nullptr) v = _mm512_xor_si512(v, _mm512_maskz_loadu_epi8(m, mix + 64 * q));
      _mm512_mask_storeu_epi8(out + 64 * q, m, v);
    }
  }
}

template <int G>
TARNWICK_GFNI_INLINE void crypt_many(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out, std::size_t len) {
  Group g[G];
  for (int i = 0; i < G; ++i) load_group(g[i], in + 256 * i, len - 256 * i);
  rounds(g, rk);
  for (int i = 0; i < G; ++i) store_group(g[i], out + 256 * i, nullptr, len - 256 * i);
}

constexpr int kGroups = 4;

TARNWICK_GFNI void crypt_blocks(const RoundKeys rk, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  if (n == 1) {
    Wiped<PremappedKeys> keys;
    premap_keys(rk, keys.value);
    crypt1(keys.value, in, out);
    return;
  }
  std::size_t len = 16 * n;
  for (; len >= 256 * kGroups; len -= 256 * kGroups, in += 256 * kGroups, out += 256 * kGroups)
    crypt_many<kGroups>(rk, in, out, 256 * kGroups);
  for (; len >= 256; len -= 256, in += 256, out += 256) crypt_many<1>(rk, in, out, 256);
  if (len > 0) crypt_many<1>(rk, in, out, len);
}

// Counter blocks, generated in transposed form: lane 4l + p holds the
// counter of block 4p + l of the group. Carries between words are masked
// adds, never branches.
struct CounterState {
  std::uint32_t w[4];  // the counter block as big-endian words
};

TARNWICK_GFNI_INLINE void counters(Group& g, const CounterState& c, std::uint32_t offset, Counter kind) {
  const __m512i index = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  const __m512i base3 = _mm512_set1_epi32(static_cast<int>(c.w[3]));
  const __m512i x3 = _mm512_add_epi32(base3, _mm512_add_epi32(index, _mm512_set1_epi32(static_cast<int>(offset))));
  g.x[3] = x3;
  g.x[2] = _mm512_set1_epi32(static_cast<int>(c.w[2]));
  g.x[1] = _mm512_set1_epi32(static_cast<int>(c.w[1]));
  g.x[0] = _mm512_set1_epi32(static_cast<int>(c.w[0]));
  if (kind == Counter::Full128) {
    const __m512i one = _mm512_set1_epi32(1);
    __mmask16 carry = _mm512_cmplt_epu32_mask(x3, base3);
    for (int j = 2; j >= 0; --j) {
      g.x[j] = _mm512_mask_add_epi32(g.x[j], carry, g.x[j], one);
      carry = _mm512_mask_cmpeq_epi32_mask(carry, g.x[j], _mm512_setzero_si512());
    }
  }
}

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

template <int G>
TARNWICK_GFNI_INLINE void ctr_many(const RoundKeys rk, CounterState& c, Counter kind, const std::uint8_t* in,
                                   std::uint8_t* out, std::size_t len) {
  Group g[G];
  for (int i = 0; i < G; ++i) counters(g[i], c, 16u * static_cast<std::uint32_t>(i), kind);
  rounds(g, rk);
  for (int i = 0; i < G; ++i) store_group(g[i], out + 256 * i, in + 256 * i, len - 256 * i);
  advance(c, static_cast<std::uint32_t>(len / 16), kind);
}

TARNWICK_GFNI void ctr(const RoundKeys rk, std::uint8_t counter[16], Counter kind, const std::uint8_t* in,
                       std::uint8_t* out, std::size_t len) {
  Wiped<CounterState> c;
  for (int j = 0; j < 4; ++j) c.value.w[j] = load_be32(counter + 4 * j);
  for (; len >= 256 * kGroups; len -= 256 * kGroups, in += 256 * kGroups, out += 256 * kGroups)
    ctr_many<kGroups>(rk, c.value, kind, in, out, 256 * kGroups);
  for (; len >= 256; len -= 256, in += 256, out += 256) ctr_many<1>(rk, c.value, kind, in, out, 256);
  if (len > 0) ctr_many<1>(rk, c.value, kind, in, out, len);
  for (int j = 0; j < 4; ++j) store_be32(counter + 4 * j, c.value.w[j]);
}

// GB/T 32907-2016 §7.3, with the S-box of T′ from GFNI on one word.
TARNWICK_GFNI void expand_key(const std::uint8_t key[16], RoundKeys rk) {
  constexpr std::uint32_t kFk[4] = {0xa3b1bac6, 0x56aa3350, 0x677d9197, 0xb27022dc};
  const __m128i pre = _mm_set1_epi64x(kPreMatrix), post = _mm_set1_epi64x(kPostMatrix);
  __m128i k[4];
  for (int i = 0; i < 4; ++i) k[i] = _mm_cvtsi32_si128(static_cast<int>(load_be32(key + 4 * i) ^ kFk[i]));
  for (unsigned i = 0; i < 32; ++i) {
    std::uint32_t ck = 0;
    for (unsigned j = 0; j < 4; ++j) ck = (ck << 8) | (((4 * i + j) * 7) & 0xff);
    __m128i t = _mm_ternarylogic_epi32(k[1], k[2], k[3], 0x96);
    t = _mm_xor_si128(t, _mm_cvtsi32_si128(static_cast<int>(ck)));
    const __m128i b = _mm_gf2p8affineinv_epi64_epi8(_mm_gf2p8affine_epi64_epi8(t, pre, kPreConst), post, kPostConst);
    const __m128i next =
        _mm_ternarylogic_epi32(_mm_xor_si128(k[0], b), _mm_rol_epi32(b, 13), _mm_rol_epi32(b, 23), 0x96);
    rk[i] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(next));
    k[0] = k[1];
    k[1] = k[2];
    k[2] = k[3];
    k[3] = next;
  }
}

}  // namespace

std::uint32_t gfni_features() noexcept {
  return cpu::kGfni | cpu::kAvx512 | cpu::kAvx2 | cpu::kAvx | cpu::kSsse3 | cpu::kPclmul | cpu::kVpclmul;
}

const Path kGfniPath = {
    "gfni-avx512", expand_key, crypt_blocks, ctr, chain, ghash_vpclmul_init, ghash_vpclmul,
};

}  // namespace tarnwick::sm4::detail
