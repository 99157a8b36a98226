// The GFNI + AVX2 SM4 path, for processors with GFNI's VEX forms but no
// AVX-512. The S-box is GFNI's affine instructions on 32 bytes at once
// (VGF2P8AFFINEQB, VGF2P8AFFINEINVQB on ymm).
//
// Every word is held in the pre-mapped domain of linear.h, so a round is
// one AES-field inversion with three output matrices, G_0, G_1 = G_2 and
// G_3, each a VGF2P8AFFINEINVQB, and byte rotations of the results: no
// input affine map and no bit rotation on the chain. Independent blocks
// are held transposed, eight to a group of four ymm registers (register j
// holds word j of every block), four groups interleaved; a block enters
// and leaves the domain with one VGF2P8AFFINEQB on each side. Serial
// chains run one block in xmm registers, each word as a rotation vector.
// The key schedule runs T′ on one word.
#include <immintrin.h>

#include <array>

#include "crypto/sm4/driver.h"
#include "crypto/sm4/linear.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"

#define TARNWICK_GFNI_AVX2 __attribute__((target("avx2,avx,ssse3,sse4.1,gfni")))
#define TARNWICK_GFNI_AVX2_INLINE [[gnu::always_inline]] inline TARNWICK_GFNI_AVX2

namespace tarnwick::sm4::detail {

// The GHASH kernels of this path: 256-bit VPCLMULQDQ (ghash_vpclmul_avx2.cpp)
// where the processor has it, else PCLMULQDQ (ghash_pclmul.cpp).
void ghash_vpclmul_avx2_init(GhashKey& key, const std::uint8_t h[16]);
void ghash_vpclmul_avx2(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n);
void ghash_pclmul_init(GhashKey& key, const std::uint8_t h[16]);
void ghash_pclmul(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n);

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

using Shuffle = std::array<std::uint8_t, 16>;

// Byte permutations, as PSHUFB controls: out[i] = in[m[i]].
constexpr Shuffle kBswapWords = [] {
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = static_cast<std::uint8_t>((i & ~3) | (3 - (i & 3)));
  return m;
}();

constexpr Shuffle rotate_words(int bytes) {  // each 32-bit word <<< 8·bytes
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = static_cast<std::uint8_t>((i & ~3) | ((i - bytes) & 3));
  return m;
}
constexpr Shuffle kRot8 = rotate_words(1), kRot16 = rotate_words(2), kRot24 = rotate_words(3);

// rotation_vector(j) spreads word j of a register over the four lanes,
// lane e rotated left by 8e bits.
constexpr Shuffle rotation_vector(int word) {
  Shuffle m{};
  for (int e = 0; e < 4; ++e)
    for (int k = 0; k < 4; ++k) m[4 * e + k] = static_cast<std::uint8_t>(4 * word + ((k - e) & 3));
  return m;
}
constexpr Shuffle kSpread[4] = {rotation_vector(0), rotation_vector(1), rotation_vector(2), rotation_vector(3)};

TARNWICK_GFNI_AVX2_INLINE __m128i vec(const Shuffle& a) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data()));
}

TARNWICK_GFNI_AVX2_INLINE __m256i vec2(const Shuffle& a) { return _mm256_broadcastsi128_si256(vec(a)); }

// ---- one block at a time, pre-mapped ----

// to_premapped loads a block as words (lane j = word j) in the pre-mapped
// domain; from_premapped is its inverse.
TARNWICK_GFNI_AVX2_INLINE __m128i to_premapped(const std::uint8_t* p) {
  const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), vec(kBswapWords));
  return _mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kToPremapped), 0);
}

TARNWICK_GFNI_AVX2_INLINE __m128i from_premapped(__m128i v) {
  return _mm_shuffle_epi8(_mm_gf2p8affine_epi64_epi8(v, _mm_set1_epi64x(kFromPremapped), 0), vec(kBswapWords));
}

// A state word is held as a rotation vector: lane e of its register is the
// pre-mapped word rotated left by 8e bits. Byte rotations commute with the
// bytewise GFNI operations, so the four rotated terms of a round are lane
// permutations of the GFNI results (PSHUFD, one cycle).
constexpr int kLanePlus1 = 0x39, kLanePlus2 = 0x4e, kLanePlus3 = 0x93;  // lane e takes lane e + d

// PremappedKeys holds r̃k_i = P·rk_i ⊕ T·C, bytewise, as rotation vectors.
struct PremappedKeys {
  alignas(16) std::uint32_t k[32][4];
};

TARNWICK_GFNI_AVX2 void premap_keys(const RoundKeys rk, PremappedKeys& out) {
  for (int i = 0; i < 32; ++i) {
    const __m128i v = _mm_gf2p8affine_epi64_epi8(_mm_cvtsi32_si128(static_cast<int>(rk[i])),
                                                 _mm_set1_epi64x(kPreMatrix), kPreConst);
    _mm_store_si128(reinterpret_cast<__m128i*>(out.k[i]), _mm_shuffle_epi8(v, vec(kSpread[0])));
  }
}

// Words is one block's four state words as rotation vectors.
struct Words {
  __m128i w[4];
};

TARNWICK_GFNI_AVX2_INLINE Words split(__m128i v) {
  return {{_mm_shuffle_epi8(v, vec(kSpread[0])), _mm_shuffle_epi8(v, vec(kSpread[1])),
           _mm_shuffle_epi8(v, vec(kSpread[2])), _mm_shuffle_epi8(v, vec(kSpread[3]))}};
}

TARNWICK_GFNI_AVX2_INLINE __m128i join(const Words& x) {
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(x.w[0], x.w[1]), _mm_unpacklo_epi32(x.w[2], x.w[3]));
}

// crypt_premapped runs the 32 rounds on pre-mapped words and returns the
// output words X35, X34, X33, X32. Round i takes ỹ = x̃_(i+1) ⊕ x̃_(i+2) ⊕
// x̃_(i+3) ⊕ r̃k_i and its sum T = ⊕_d G_d·I(ỹ) <<< 8d (K sits in the
// constant of the d = 0 term), and gives
//   ỹ′ = T ⊕ e, e = ỹ ⊕ x̃_i ⊕ x̃_(i+1) ⊕ r̃k_i ⊕ r̃k_(i+1),
//   x̃_(i+4) = T ⊕ x̃_i,
// both from the same partial sums. e holds no word newer than ỹ, so it is
// ready when the inversions are, and the chain from one inversion to the
// next is VGF2P8AFFINEINVQB, PSHUFD and two XORs. (Summing the new word
// first and the next ỹ from it, as x̃_(i+4) ⊕ x̃_(i+2) ⊕ x̃_(i+3) ⊕ r̃k_(i+1),
// puts three more XORs on that chain.) In the first round x̃_0 is the word a
// serial mode has just fed in, the last to arrive: it enters e last.
TARNWICK_GFNI_AVX2_INLINE Words crypt_premapped(const PremappedKeys& rk, Words in) {
  __m128i x0 = in.w[0], x1 = in.w[1], x2 = in.w[2], x3 = in.w[3];
  const __m128i g0 = _mm_set1_epi64x(kOut0), g1 = _mm_set1_epi64x(kOut1), g3 = _mm_set1_epi64x(kOut3);
  auto key = [&](int i) TARNWICK_GFNI_AVX2 {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(rk.k[i & 31]));
  };
  __m128i y = _mm_xor_si128(_mm_xor_si128(x1, x2), _mm_xor_si128(x3, key(0)));
  // round i: a = x̃_i becomes x̃_(i+4); b = x̃_(i+1).
  auto round = [&](__m128i& a, __m128i b, int i) TARNWICK_GFNI_AVX2 {
    // The empty statements here and below keep the compiler from
    // reassociating the sums, which would lengthen the chain to the next ỹ.
    const __m128i keys = _mm_xor_si128(key(i), key(i + 1));
    __m128i e;
    if (i == 0) {
      e = _mm_xor_si128(_mm_xor_si128(b, keys), y);
      __asm__("" : "+x"(e));
      e = _mm_xor_si128(e, a);
    } else {
      e = _mm_xor_si128(_mm_xor_si128(a, b), keys);
      __asm__("" : "+x"(e));
      e = _mm_xor_si128(e, y);
    }
    __asm__("" : "+x"(e));
    const __m128i r1 = _mm_gf2p8affineinv_epi64_epi8(y, g1, 0);
    const __m128i r3 = _mm_gf2p8affineinv_epi64_epi8(y, g3, 0);
    const __m128i r0 = _mm_gf2p8affineinv_epi64_epi8(y, g0, kK);
    __m128i s0 = _mm_xor_si128(r0, e);
    __m128i w0 = _mm_xor_si128(r0, a);
    __asm__("" : "+x"(s0), "+x"(w0));
    const __m128i q3 = _mm_shuffle_epi32(r3, kLanePlus3);
    __m128i s12 = _mm_xor_si128(_mm_shuffle_epi32(r1, kLanePlus1), _mm_shuffle_epi32(r1, kLanePlus2));
    __m128i s3 = _mm_xor_si128(q3, s0);
    __m128i w3 = _mm_xor_si128(q3, w0);
    __asm__("" : "+x"(s12), "+x"(s3), "+x"(w3));
    y = _mm_xor_si128(s12, s3);  // ỹ′ = T ⊕ e
    a = _mm_xor_si128(s12, w3);  // x̃_(i+4) = T ⊕ x̃_i
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

TARNWICK_GFNI_AVX2_INLINE void transpose(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
  const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
  const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
  a = _mm256_unpacklo_epi64(t0, t2);
  b = _mm256_unpackhi_epi64(t0, t2);
  c = _mm256_unpacklo_epi64(t1, t3);
  d = _mm256_unpackhi_epi64(t1, t3);
}

// The kernel of driver.h. Groups are always whole: the driver runs a
// partial last group through a buffer, so `len` goes unused.
struct GfniAvx2 {
  using Keys = PremappedKeys;
  using State = Words;

  using KeyWord = __m128i;
  static TARNWICK_GFNI_AVX2 KeyWord key_word(std::uint32_t x) { return _mm_cvtsi32_si128(static_cast<int>(x)); }
  static TARNWICK_GFNI_AVX2 std::uint32_t key_value(KeyWord w) {
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(w));
  }
  static TARNWICK_GFNI_AVX2 KeyWord key_round(KeyWord a, KeyWord b, KeyWord c, KeyWord d, std::uint32_t ck) {
    const __m128i t = _mm_xor_si128(_mm_xor_si128(b, c), _mm_xor_si128(d, _mm_cvtsi32_si128(static_cast<int>(ck))));
    const __m128i pre = _mm_gf2p8affine_epi64_epi8(t, _mm_set1_epi64x(kPreMatrix), kPreConst);
    const __m128i s = _mm_gf2p8affineinv_epi64_epi8(pre, _mm_set1_epi64x(kPostMatrix), kPostConst);
    const __m128i r13 = _mm_or_si128(_mm_slli_epi32(s, 13), _mm_srli_epi32(s, 19));
    const __m128i r23 = _mm_or_si128(_mm_slli_epi32(s, 23), _mm_srli_epi32(s, 9));
    return _mm_xor_si128(_mm_xor_si128(a, s), _mm_xor_si128(r13, r23));
  }

  static TARNWICK_GFNI_AVX2 void prepare(const RoundKeys rk, Keys& keys) { premap_keys(rk, keys); }
  static TARNWICK_GFNI_AVX2 State load(const std::uint8_t* p) { return split(to_premapped(p)); }
  static TARNWICK_GFNI_AVX2 void store(const State& s, std::uint8_t* p) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), from_premapped(join(s)));
  }
  static TARNWICK_GFNI_AVX2 State encrypt(const Keys& keys, const State& s) { return crypt_premapped(keys, s); }

  // Group is eight pre-mapped blocks: lane 4l + p of x[j] (l the 128-bit
  // half) holds word j of block 2p + l.
  struct Group {
    __m256i x[4];
  };
  static constexpr std::size_t kGroupBytes = 128;
  static constexpr int kGroups = 4;
  static constexpr bool kMaskedTail = false;

  static TARNWICK_GFNI_AVX2 void load_group(Group& g, const std::uint8_t* in, std::size_t) {
    const __m256i bswap = vec2(kBswapWords), to = _mm256_set1_epi64x(kToPremapped);
    for (int q = 0; q < 4; ++q) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * q));
      g.x[q] = _mm256_gf2p8affine_epi64_epi8(_mm256_shuffle_epi8(v, bswap), to, 0);
    }
    transpose(g.x[0], g.x[1], g.x[2], g.x[3]);
  }

  static TARNWICK_GFNI_AVX2 void store_group(const Group& g, std::uint8_t* out, const std::uint8_t* mix, std::size_t) {
    const __m256i bswap = vec2(kBswapWords), from = _mm256_set1_epi64x(kFromPremapped);
    __m256i o[4] = {g.x[3], g.x[2], g.x[1], g.x[0]};
    transpose(o[0], o[1], o[2], o[3]);
    for (int q = 0; q < 4; ++q) {
      __m256i v = _mm256_shuffle_epi8(_mm256_gf2p8affine_epi64_epi8(o[q], from, 0), bswap);
      if (mix != nullptr) v = _mm256_xor_si256(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mix + 32 * q)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * q), v);
    }
  }

  // counters writes counter blocks in transposed form, pre-mapped; carries
  // between words are masks.
  static TARNWICK_GFNI_AVX2 void counters(Group& g, const CounterState& c, std::uint32_t offset, Counter kind) {
    const __m256i index = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i base3 = _mm256_set1_epi32(static_cast<int>(c.w[3]));
    const __m256i x3 = _mm256_add_epi32(base3, _mm256_add_epi32(index, _mm256_set1_epi32(static_cast<int>(offset))));
    g.x[3] = x3;
    g.x[2] = _mm256_set1_epi32(static_cast<int>(c.w[2]));
    g.x[1] = _mm256_set1_epi32(static_cast<int>(c.w[1]));
    g.x[0] = _mm256_set1_epi32(static_cast<int>(c.w[0]));
    if (kind == Counter::Full128) {
      const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
      // x3 < base3 as unsigned numbers: the low word wrapped.
      __m256i carry = _mm256_cmpgt_epi32(_mm256_xor_si256(base3, sign), _mm256_xor_si256(x3, sign));
      for (int j = 2; j >= 0; --j) {
        g.x[j] = _mm256_sub_epi32(g.x[j], carry);
        carry = _mm256_and_si256(carry, _mm256_cmpeq_epi32(g.x[j], _mm256_setzero_si256()));
      }
    }
    const __m256i to = _mm256_set1_epi64x(kToPremapped);
    for (int j = 0; j < 4; ++j) g.x[j] = _mm256_gf2p8affine_epi64_epi8(g.x[j], to, 0);
  }

  // rounds runs the 32 rounds on G groups at once: x̃a ⊕= K ⊕ ⊕_d G_d·I(ỹ)
  // <<< 8d with ỹ = x̃b ⊕ x̃c ⊕ x̃d ⊕ r̃k. Sixteen state registers and the
  // constants do not fit in the sixteen ymm registers, and left to itself
  // the compiler spills the newest word of a group, which the next round's
  // ỹ needs first, and reloads it through memory on the chain. So the
  // groups stay in memory (the empty statements with a memory clobber keep
  // them there), read as operands of the XORs, and only each group's newest
  // word stays in a register, XORed into ỹ last.
  template <int G>
  static TARNWICK_GFNI_AVX2 void rounds(Group (&g)[G], const RoundKeys rk) {
    const __m256i pre = _mm256_set1_epi64x(kPreMatrix);
    const __m256i g0 = _mm256_set1_epi64x(kOut0), g1 = _mm256_set1_epi64x(kOut1), g3 = _mm256_set1_epi64x(kOut3);
    const __m256i rot8 = vec2(kRot8), rot16 = vec2(kRot16), rot24 = vec2(kRot24);
    __m256i newest[G];
    for (int i = 0; i < G; ++i) newest[i] = g[i].x[3];
    __asm__("" : : "r"(g) : "memory");
    // round: x̃a ← x̃a ⊕ T with ỹ = (x̃b ⊕ x̃c ⊕ r̃k) ⊕ newest.
    auto round = [&](int a, int b, int c, std::uint32_t key) TARNWICK_GFNI_AVX2 {
      const __m256i k = _mm256_gf2p8affine_epi64_epi8(_mm256_set1_epi32(static_cast<int>(key)), pre, kPreConst);
#pragma GCC unroll 4
      for (int i = 0; i < G; ++i) {
        __m256i t = _mm256_xor_si256(_mm256_xor_si256(g[i].x[b], g[i].x[c]), k);
        __asm__("" : "+x"(t));
        const __m256i y = _mm256_xor_si256(t, newest[i]);
        const __m256i r1 = _mm256_gf2p8affineinv_epi64_epi8(y, g1, 0);
        const __m256i r3 = _mm256_gf2p8affineinv_epi64_epi8(y, g3, 0);
        const __m256i r0 = _mm256_gf2p8affineinv_epi64_epi8(y, g0, kK);
        __m256i s = _mm256_xor_si256(g[i].x[a], r0);
        __asm__("" : "+x"(s));
        const __m256i q12 = _mm256_xor_si256(_mm256_shuffle_epi8(r1, rot8), _mm256_shuffle_epi8(r1, rot16));
        s = _mm256_xor_si256(s, _mm256_shuffle_epi8(r3, rot24));
        __asm__("" : "+x"(s));
        newest[i] = _mm256_xor_si256(s, q12);
        g[i].x[a] = newest[i];
      }
      __asm__("" : : "r"(g) : "memory");
    };
    for (int r = 0; r < 32; r += 4) {
      round(0, 1, 2, rk[r]);
      round(1, 2, 3, rk[r + 1]);
      round(2, 3, 0, rk[r + 2]);
      round(3, 0, 1, rk[r + 3]);
    }
  }
};

TARNWICK_SM4_ENTRY_POINTS(GfniAvx2, TARNWICK_GFNI_AVX2)

}  // namespace

std::uint32_t gfni_avx2_features() noexcept {
  return cpu::kGfni | cpu::kAvx2 | cpu::kAvx | cpu::kSsse3 | cpu::kPclmul;
}

const Path kGfniAvx2Path = {
    "gfni-avx2", expand_key, crypt_blocks, ctr, chain, ghash_vpclmul_avx2_init, ghash_vpclmul_avx2,
};

const Path kGfniAvx2PclmulPath = {
    "gfni-avx2-pclmul", expand_key, crypt_blocks, ctr, chain, ghash_pclmul_init, ghash_pclmul,
};

}  // namespace tarnwick::sm4::detail
