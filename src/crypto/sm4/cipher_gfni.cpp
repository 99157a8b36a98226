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

#include "crypto/sm4/driver.h"
#include "crypto/sm4/linear.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"

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
// output words X35, X34, X33, X32. Round i takes ỹ = x̃_(i+1) ⊕ x̃_(i+2) ⊕
// x̃_(i+3) ⊕ r̃k_i and its sum T = ⊕_d G_d·I(ỹ) <<< 8d (K sits in the
// constant of the d = 0 term; G_1 = G_2, so three inversions give the four
// terms), and gives
//   ỹ′ = T ⊕ e, e = ỹ ⊕ x̃_i ⊕ x̃_(i+1) ⊕ r̃k_i ⊕ r̃k_(i+1),
//   x̃_(i+4) = T ⊕ x̃_i,
// both from the same partial sums. e holds no word newer than ỹ, so it is
// ready when the inversions are, and the chain from one inversion to the
// next is GF2P8AFFINEINVQB, PSHUFD and two ternary logic instructions.
// (Summing the new word first and the next ỹ from it puts more on that
// chain.) In the first round x̃_0 is the word a serial mode has just fed
// in, the last to arrive: it enters e last, with the d = 0 term.
TARNWICK_GFNI_INLINE Words crypt_premapped(const PremappedKeys& rk, Words in) {
  __m128i x0 = in.w[0], x1 = in.w[1], x2 = in.w[2], x3 = in.w[3];
  const __m128i g0 = _mm_set1_epi64x(kOut0), g1 = _mm_set1_epi64x(kOut1), g3 = _mm_set1_epi64x(kOut3);
  auto key = [&](int i) TARNWICK_GFNI { return _mm_load_si128(reinterpret_cast<const __m128i*>(rk.k[i & 31])); };
  __m128i y = _mm_ternarylogic_epi32(x1, x2, _mm_xor_si128(x3, key(0)), 0x96);
  // round i: a = x̃_i becomes x̃_(i+4); b = x̃_(i+1).
  auto round = [&](__m128i& a, __m128i b, int i) TARNWICK_GFNI {
    // The empty statements keep the compiler from reassociating the sums,
    // which would lengthen the chain to the next ỹ.
    const __m128i r1 = _mm_gf2p8affineinv_epi64_epi8(y, g1, 0);
    const __m128i r3 = _mm_gf2p8affineinv_epi64_epi8(y, g3, 0);
    const __m128i r0 = _mm_gf2p8affineinv_epi64_epi8(y, g0, kK);
    __m128i s0;
    if (i == 0) {
      __m128i e = _mm_ternarylogic_epi32(b, key(i), key(i + 1), 0x96);
      __asm__("" : "+x"(e));
      e = _mm_xor_si128(e, y);
      __asm__("" : "+x"(e));
      s0 = _mm_ternarylogic_epi32(r0, e, a, 0x96);  // r0 ⊕ e with x̃_0 last
    } else {
      __m128i e = _mm_ternarylogic_epi32(a, b, _mm_xor_si128(key(i), key(i + 1)), 0x96);
      __asm__("" : "+x"(e));
      e = _mm_xor_si128(e, y);
      __asm__("" : "+x"(e));
      s0 = _mm_xor_si128(r0, e);
    }
    __m128i w0 = _mm_xor_si128(r0, a);
    __asm__("" : "+x"(s0), "+x"(w0));
    const __m128i q3 = _mm_shuffle_epi32(r3, kLanePlus3);
    __m128i s12 = _mm_xor_si128(_mm_shuffle_epi32(r1, kLanePlus1), _mm_shuffle_epi32(r1, kLanePlus2));
    __asm__("" : "+x"(s12));
    y = _mm_ternarylogic_epi32(s12, q3, s0, 0x96);  // ỹ′ = T ⊕ e
    a = _mm_ternarylogic_epi32(s12, q3, w0, 0x96);  // x̃_(i+4) = T ⊕ x̃_i
  };
#pragma GCC unroll 8
  for (int i = 0; i < 32; i += 4) {
    round(x0, x1, i);
    round(x1, x2, i + 1);
    round(x2, x3, i + 2);
    round(x3, x0, i + 3);
  }
  return {{x3, x2, x1, x0}};
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

// Masks for a group's 256 bytes cut short at `len` bytes: zmm q covers bytes
// 64q … 64q + 63.
inline __mmask64 byte_mask(std::size_t len, int q) {
  const std::size_t start = 64 * static_cast<std::size_t>(q);
  if (len <= start) return 0;
  if (len - start >= 64) return ~__mmask64{0};
  return (__mmask64{1} << (len - start)) - 1;
}

// The kernel of driver.h. A partial last group is loaded and stored
// under byte masks.
struct Gfni {
  using Keys = PremappedKeys;
  using State = Words;

  using KeyWord = __m128i;
  static TARNWICK_GFNI KeyWord key_word(std::uint32_t x) { return _mm_cvtsi32_si128(static_cast<int>(x)); }
  static TARNWICK_GFNI std::uint32_t key_value(KeyWord w) { return static_cast<std::uint32_t>(_mm_cvtsi128_si32(w)); }
  static TARNWICK_GFNI KeyWord key_round(KeyWord a, KeyWord b, KeyWord c, KeyWord d, std::uint32_t ck) {
    const __m128i t = _mm_ternarylogic_epi32(b, c, _mm_xor_si128(d, _mm_cvtsi32_si128(static_cast<int>(ck))), 0x96);
    const __m128i pre = _mm_gf2p8affine_epi64_epi8(t, _mm_set1_epi64x(kPreMatrix), kPreConst);
    const __m128i s = _mm_gf2p8affineinv_epi64_epi8(pre, _mm_set1_epi64x(kPostMatrix), kPostConst);
    return _mm_ternarylogic_epi32(_mm_xor_si128(a, s), _mm_rol_epi32(s, 13), _mm_rol_epi32(s, 23), 0x96);
  }

  static TARNWICK_GFNI void prepare(const RoundKeys rk, Keys& keys) { premap_keys(rk, keys); }
  static TARNWICK_GFNI State load(const std::uint8_t* p) { return split(to_premapped(p)); }
  static TARNWICK_GFNI void store(const State& s, std::uint8_t* p) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), from_premapped(join(s)));
  }
  static TARNWICK_GFNI State encrypt(const Keys& keys, const State& s) { return crypt_premapped(keys, s); }

  // Group is sixteen blocks in transposed form: x[j] is word j.
  struct Group {
    __m512i x[4];
  };

  static constexpr std::size_t kGroupBytes = 256;
  static constexpr int kGroups = 4;
  static constexpr bool kMaskedTail = true;

  static TARNWICK_GFNI void load_group(Group& g, const std::uint8_t* in, std::size_t len) {
    for (int q = 0; q < 4; ++q) {
      const __m512i v =
          len >= 256 ? _mm512_loadu_si512(in + 64 * q) : _mm512_maskz_loadu_epi8(byte_mask(len, q), in + 64 * q);
      g.x[q] = bswap_words(v);
    }
    transpose(g.x[0], g.x[1], g.x[2], g.x[3]);
  }

  // store_group writes the output of a finished group, XORed with `mix` when
  // it is not null.
  static TARNWICK_GFNI void store_group(const Group& g, std::uint8_t* out, const std::uint8_t* mix, std::size_t len) {
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

  // counters writes counter blocks in transposed form: lane 4l + p holds the
  // counter of block 4p + l of the group. Carries between words are masked
  // adds, never branches.
  static TARNWICK_GFNI void counters(Group& g, const CounterState& c, std::uint32_t offset, Counter kind) {
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

  // rounds runs the 32 rounds on G groups at once.
  template <int G>
  static TARNWICK_GFNI void rounds(Group (&g)[G], const RoundKeys rk) {
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
};

TARNWICK_SM4_ENTRY_POINTS(Gfni, TARNWICK_GFNI)

}  // namespace

std::uint32_t gfni_features() noexcept {
  return cpu::kGfni | cpu::kAvx512 | cpu::kAvx2 | cpu::kAvx | cpu::kSsse3 | cpu::kPclmul | cpu::kVpclmul;
}

const Path kGfniPath = {
    "gfni-avx512", expand_key, crypt_blocks, ctr, chain, ghash_vpclmul_init, ghash_vpclmul,
};

}  // namespace tarnwick::sm4::detail
