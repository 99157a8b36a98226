// The AES-NI + AVX2 SM4 path. The S-box is AESENCLAST (the AES S-box
// followed by ShiftRows) between two affine maps, each evaluated as two
// PSHUFB lookups of 16-entry tables of public constants indexed by the
// nibbles of the secret bytes (sbox.h): the secret selects lanes inside a
// register, never a memory address.
//
// Independent blocks are held transposed, eight to a group of four ymm
// registers, four groups interleaved; ShiftRows is undone inside the byte
// shuffles that L needs anyway. Serial chains run one block in xmm
// registers in the pre-mapped domain of linear.h, each word laid along row
// 3 of the AES state so that ShiftRows rotates it usefully (see below).
#include <immintrin.h>

#include <array>

#include "crypto/sm4/driver.h"
#include "crypto/sm4/linear.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"

#define TARNWICK_AESNI __attribute__((target("avx2,avx,aes,pclmul,ssse3,sse4.1")))
#define TARNWICK_AESNI_INLINE [[gnu::always_inline]] inline TARNWICK_AESNI

namespace tarnwick::sm4::detail {

void ghash_pclmul_init(GhashKey& key, const std::uint8_t h[16]);
void ghash_pclmul(const GhashKey& key, std::uint8_t y[16], const std::uint8_t* in, std::size_t n);

namespace {

using Shuffle = std::array<std::uint8_t, 16>;

// Byte permutations, as PSHUFB controls: out[i] = in[m[i]].
constexpr Shuffle kInvShiftRows = [] {  // FIPS 197 §5.3.1, state byte 4c + r
  Shuffle m{};
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) m[4 * c + r] = static_cast<std::uint8_t>(4 * ((c - r + 4) % 4) + r);
  return m;
}();

constexpr Shuffle rotate_words(int bytes) {  // each 32-bit word <<< 8·bytes
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = static_cast<std::uint8_t>((i & ~3) | ((i - bytes) & 3));
  return m;
}

constexpr Shuffle then(const Shuffle& first, const Shuffle& second) {
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = first[second[i]];
  return m;
}

constexpr Shuffle kBswapWords = [] {
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = static_cast<std::uint8_t>((i & ~3) | (3 - (i & 3)));
  return m;
}();

constexpr Shuffle kUnshift0 = kInvShiftRows;
constexpr Shuffle kUnshift8 = then(kInvShiftRows, rotate_words(1));
constexpr Shuffle kUnshift16 = then(kInvShiftRows, rotate_words(2));
constexpr Shuffle kUnshift24 = then(kInvShiftRows, rotate_words(3));

// Nibble tables of the pre-mapped single-block round. Q_d = G_d·I(ỹ) comes
// from SB(ỹ) = Aaes·I(ỹ) ⊕ 0x63 through the matrix G_d·Aaes⁻¹; Q_1 = Q_2
// (linear.h), so three tables give all four terms. All the constants
// (those of the four terms, and K) are equal in every byte, so they
// survive rotation and sum to one constant C, which sits in the d = 0
// table: its lookup enters the sum once.
constexpr sbox::Mat out_matrix(int d) { return sbox::compose(linear::kOut[d], sbox::inverse(sbox::kAesAffine)); }
constexpr std::uint8_t out_constant() {
  std::uint8_t c = linear::kK;
  for (int e = 0; e < 4; ++e) c ^= sbox::apply(out_matrix(e), 0x63);
  return c;
}
constexpr sbox::NibbleTables kOut0Tables = sbox::nibble_tables(out_matrix(0), out_constant());
constexpr sbox::NibbleTables kOut1Tables = sbox::nibble_tables(out_matrix(1), 0);
constexpr sbox::NibbleTables kOut3Tables = sbox::nibble_tables(out_matrix(3), 0);
constexpr sbox::NibbleTables kToPremapped = sbox::nibble_tables(linear::kPre, 0);
constexpr sbox::NibbleTables kFromPremapped = sbox::nibble_tables(linear::kPreInverse, 0);

TARNWICK_AESNI_INLINE __m128i vec(const std::array<std::uint8_t, 16>& a) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data()));
}

TARNWICK_AESNI_INLINE __m256i vec2(const std::array<std::uint8_t, 16>& a) {
  return _mm256_broadcastsi128_si256(vec(a));
}

// affine128 evaluates the byte map of `t` on every byte of `v`.
TARNWICK_AESNI_INLINE __m128i affine128(__m128i v, const sbox::NibbleTables& t) {
  const __m128i mask = _mm_set1_epi8(0x0f);
  const __m128i lo = _mm_and_si128(v, mask);
  const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), mask);
  return _mm_xor_si128(_mm_shuffle_epi8(vec(t.lo), lo), _mm_shuffle_epi8(vec(t.hi), hi));
}

TARNWICK_AESNI_INLINE __m256i affine256(__m256i v, __m256i tlo, __m256i thi) {
  const __m256i mask = _mm256_set1_epi8(0x0f);
  const __m256i lo = _mm256_and_si256(v, mask);
  const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), mask);
  return _mm256_xor_si256(_mm256_shuffle_epi8(tlo, lo), _mm256_shuffle_epi8(thi, hi));
}

// ---- one block at a time, pre-mapped ----
//
// A state word is held in "row layout": byte k of the word sits in row 3 of
// column k of the AES state (register byte 4k + 3); the other rows carry
// nothing of use, and nothing ever moves from them into row 3 (every
// operation below is bytewise, moves whole columns, or shifts bits
// downwards within a column). In that layout:
//  - AESENCLAST's ShiftRows turns row 3 by three columns, which is the
//    word rotated left by 8 bits: one of the four rotations L needs, free;
//  - a rotation by whole bytes moves whole columns: PSHUFD, one cycle;
//  - the high nibble of row 3 is a 32-bit shift with nothing to mask.

// Rows moves a word in lanes 0 … 3 of a block register into row layout, and
// back.
constexpr Shuffle to_rows(int word) {
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = 0x80;
  for (int k = 0; k < 4; ++k) m[4 * k + 3] = static_cast<std::uint8_t>(4 * word + k);
  return m;
}
constexpr Shuffle from_rows(int word) {
  Shuffle m{};
  for (int i = 0; i < 16; ++i) m[i] = 0x80;
  for (int k = 0; k < 4; ++k) m[4 * word + k] = static_cast<std::uint8_t>(4 * k + 3);
  return m;
}
constexpr Shuffle kToRows[4] = {to_rows(0), to_rows(1), to_rows(2), to_rows(3)};
constexpr Shuffle kFromRows[4] = {from_rows(0), from_rows(1), from_rows(2), from_rows(3)};

// Column moves for a rotation left by 8, 16 and 24 bits: lane c takes lane
// c − 1, c − 2, c − 3.
constexpr int kColumnsRot8 = 0x93, kColumnsRot16 = 0x4e, kColumnsRot24 = 0x39;

// PremappedKeys holds r̃k_i = P·rk_i ⊕ T·C, bytewise, in row layout.
struct PremappedKeys {
  alignas(32) std::uint32_t k[32][4];
};

TARNWICK_AESNI void premap_keys(const RoundKeys rk, PremappedKeys& out) {
  for (int i = 0; i < 32; ++i) {
    const __m128i v = affine128(_mm_cvtsi32_si128(static_cast<int>(rk[i])), sbox::kAesNiPreTables);
    _mm_store_si128(reinterpret_cast<__m128i*>(out.k[i]), _mm_shuffle_epi8(v, vec(kToRows[0])));
  }
}

// Words is one block's four state words in row layout.
struct Words {
  __m128i w[4];
};

TARNWICK_AESNI_INLINE Words split(__m128i v) {
  return {{_mm_shuffle_epi8(v, vec(kToRows[0])), _mm_shuffle_epi8(v, vec(kToRows[1])),
           _mm_shuffle_epi8(v, vec(kToRows[2])), _mm_shuffle_epi8(v, vec(kToRows[3]))}};
}

TARNWICK_AESNI_INLINE __m128i join(const Words& x) {
  return _mm_or_si128(
      _mm_or_si128(_mm_shuffle_epi8(x.w[0], vec(kFromRows[0])), _mm_shuffle_epi8(x.w[1], vec(kFromRows[1]))),
      _mm_or_si128(_mm_shuffle_epi8(x.w[2], vec(kFromRows[2])), _mm_shuffle_epi8(x.w[3], vec(kFromRows[3]))));
}

TARNWICK_AESNI_INLINE __m128i to_premapped(const std::uint8_t* p) {
  const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), vec(kBswapWords));
  return affine128(v, kToPremapped);
}

TARNWICK_AESNI_INLINE __m128i from_premapped(__m128i v) {
  return _mm_shuffle_epi8(affine128(v, kFromPremapped), vec(kBswapWords));
}

TARNWICK_AESNI_INLINE void store_block(std::uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// crypt_premapped runs the 32 rounds on pre-mapped words in row layout and
// returns X35, X34, X33, X32. As in the GFNI kernel, the next round's ỹ is
// formed beside the new word. After AESENCLAST row 3 holds SB(ỹ) <<< 8, so
// the four terms G_d·I(ỹ) <<< 8d come out of the lookups rotated by 8
// already and need column moves of −8, 0, 8 and 16 bits. Each of the three
// lookups takes at most one column move, and the next ỹ is two XORs after
// the moves: the chain from one AESENCLAST to the next is AESENCLAST, a
// nibble split, PSHUFB, XOR, PSHUFD and two XORs.
TARNWICK_AESNI_INLINE Words crypt_premapped(const PremappedKeys& rk, Words in) {
  __m128i x0 = in.w[0], x1 = in.w[1], x2 = in.w[2], x3 = in.w[3];
  const __m128i mask = _mm_set1_epi8(0x0f);
  const __m128i zero = _mm_setzero_si128();
  const __m128i t0lo = vec(kOut0Tables.lo), t0hi = vec(kOut0Tables.hi);
  const __m128i t1lo = vec(kOut1Tables.lo), t1hi = vec(kOut1Tables.hi);
  const __m128i t3lo = vec(kOut3Tables.lo), t3hi = vec(kOut3Tables.hi);
  auto key = [&](int i) TARNWICK_AESNI { return _mm_load_si128(reinterpret_cast<const __m128i*>(rk.k[i & 31])); };
  __m128i y = _mm_xor_si128(_mm_xor_si128(x1, x2), _mm_xor_si128(x3, key(0)));
  auto round = [&](__m128i& a, __m128i b, __m128i c, int i) TARNWICK_AESNI {
    // w = b ⊕ c ⊕ k′ and v = a ⊕ w are ready long before the S-box output;
    // the empty statements keep the compiler from reassociating the sums
    // below, which would lengthen the chain from AESENCLAST to the next ỹ.
    __m128i w = _mm_xor_si128(_mm_xor_si128(b, c), key(i + 1));
    __m128i v = _mm_xor_si128(a, w);
    __asm__("" : "+x"(w), "+x"(v));
    const __m128i sb = _mm_aesenclast_si128(y, zero);
    const __m128i lo = _mm_and_si128(sb, mask);
    const __m128i hi = _mm_srli_epi32(sb, 4);  // row 3: the high nibble, zero above
    __m128i l0 = _mm_xor_si128(_mm_shuffle_epi8(t0lo, lo), _mm_shuffle_epi8(t0hi, hi));
    __m128i l1 = _mm_xor_si128(_mm_shuffle_epi8(t1lo, lo), _mm_shuffle_epi8(t1hi, hi));
    __m128i l3 = _mm_xor_si128(_mm_shuffle_epi8(t3lo, lo), _mm_shuffle_epi8(t3hi, hi));
    __asm__("" : "+x"(l0), "+x"(l1), "+x"(l3));
    __m128i q0 = _mm_shuffle_epi32(l0, kColumnsRot24);
    __m128i q2 = _mm_shuffle_epi32(l1, kColumnsRot8);
    __m128i q3 = _mm_shuffle_epi32(l3, kColumnsRot16);
    __m128i u = _mm_xor_si128(v, l1);
    __m128i s02 = _mm_xor_si128(q0, q2);
    __m128i s3u = _mm_xor_si128(q3, u);
    __asm__("" : "+x"(s02), "+x"(s3u));
    y = _mm_xor_si128(s02, s3u);  // ỹ′ = v ⊕ T
    a = _mm_xor_si128(y, w);      // x̃4 = a ⊕ T = ỹ′ ⊕ w
  };
#pragma GCC unroll 8
  for (int i = 0; i < 32; i += 4) {
    round(x0, x2, x3, i);
    round(x1, x3, x0, i + 1);
    round(x2, x0, x1, i + 2);
    round(x3, x1, x2, i + 3);
  }
  return {{x3, x2, x1, x0}};
}

// ---- many blocks, transposed ----

TARNWICK_AESNI_INLINE void transpose(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
  const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
  const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
  a = _mm256_unpacklo_epi64(t0, t2);
  b = _mm256_unpackhi_epi64(t0, t2);
  c = _mm256_unpacklo_epi64(t1, t3);
  d = _mm256_unpackhi_epi64(t1, t3);
}

// The kernel of driver.h. Groups are always whole: the driver runs a
// partial last group through a buffer, so `len` goes unused.
struct Aesni {
  using Keys = PremappedKeys;
  using State = Words;

  // A key word sits in all four columns, so AESENCLAST's ShiftRows moves
  // nothing.
  using KeyWord = __m128i;
  static TARNWICK_AESNI KeyWord key_word(std::uint32_t x) { return _mm_set1_epi32(static_cast<int>(x)); }
  static TARNWICK_AESNI std::uint32_t key_value(KeyWord w) { return static_cast<std::uint32_t>(_mm_cvtsi128_si32(w)); }
  static TARNWICK_AESNI KeyWord key_round(KeyWord a, KeyWord b, KeyWord c, KeyWord d, std::uint32_t ck) {
    __m128i t = _mm_xor_si128(_mm_xor_si128(b, c), _mm_xor_si128(d, _mm_set1_epi32(static_cast<int>(ck))));
    t = affine128(t, sbox::kAesNiPreTables);
    t = affine128(_mm_aesenclast_si128(t, _mm_setzero_si128()), sbox::kAesNiPostTables);
    const __m128i r13 = _mm_or_si128(_mm_slli_epi32(t, 13), _mm_srli_epi32(t, 19));
    const __m128i r23 = _mm_or_si128(_mm_slli_epi32(t, 23), _mm_srli_epi32(t, 9));
    return _mm_xor_si128(_mm_xor_si128(a, t), _mm_xor_si128(r13, r23));
  }

  static TARNWICK_AESNI void prepare(const RoundKeys rk, Keys& keys) { premap_keys(rk, keys); }
  static TARNWICK_AESNI State load(const std::uint8_t* p) { return split(to_premapped(p)); }
  static TARNWICK_AESNI void store(const State& s, std::uint8_t* p) { store_block(p, from_premapped(join(s))); }
  static TARNWICK_AESNI State encrypt(const Keys& keys, const State& s) { return crypt_premapped(keys, s); }

  // Group is eight blocks: lane 4l + p of x[j] (l the 128-bit half) holds
  // word j of block 2p + l.
  struct Group {
    __m256i x[4];
  };
  static constexpr std::size_t kGroupBytes = 128;
  static constexpr int kGroups = 4;
  static constexpr bool kMaskedTail = false;

  static TARNWICK_AESNI void load_group(Group& g, const std::uint8_t* in, std::size_t) {
    const __m256i bswap = vec2(kBswapWords);
    for (int q = 0; q < 4; ++q)
      g.x[q] = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * q)), bswap);
    transpose(g.x[0], g.x[1], g.x[2], g.x[3]);
  }

  static TARNWICK_AESNI void store_group(const Group& g, std::uint8_t* out, const std::uint8_t* mix, std::size_t) {
    const __m256i bswap = vec2(kBswapWords);
    __m256i o[4] = {g.x[3], g.x[2], g.x[1], g.x[0]};
    transpose(o[0], o[1], o[2], o[3]);
    for (int q = 0; q < 4; ++q) {
      __m256i v = _mm256_shuffle_epi8(o[q], bswap);
      if (mix != nullptr) v = _mm256_xor_si256(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mix + 32 * q)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * q), v);
    }
  }

  // counters writes counter blocks in transposed form; carries between
  // words are masks.
  static TARNWICK_AESNI void counters(Group& g, const CounterState& c, std::uint32_t offset, Counter kind) {
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
  }

  template <int G>
  static TARNWICK_AESNI void rounds(Group (&g)[G], const RoundKeys rk) {
    const __m256i pre_lo = vec2(sbox::kAesNiPreTables.lo), pre_hi = vec2(sbox::kAesNiPreTables.hi);
    const __m256i post_lo = vec2(sbox::kAesNiPostTables.lo), post_hi = vec2(sbox::kAesNiPostTables.hi);
    const __m128i zero = _mm_setzero_si128();
    auto round = [&](int a, int b, int c, int d, std::uint32_t key) TARNWICK_AESNI {
      const __m256i k = _mm256_set1_epi32(static_cast<int>(key));
#pragma GCC unroll 4
      for (int i = 0; i < G; ++i) {
        __m256i t = _mm256_xor_si256(_mm256_xor_si256(g[i].x[b], g[i].x[c]), _mm256_xor_si256(g[i].x[d], k));
        t = affine256(t, pre_lo, pre_hi);
        const __m128i s0 = _mm_aesenclast_si128(_mm256_castsi256_si128(t), zero);
        const __m128i s1 = _mm_aesenclast_si128(_mm256_extracti128_si256(t, 1), zero);
        t = affine256(_mm256_inserti128_si256(_mm256_castsi128_si256(s0), s1, 1), post_lo, post_hi);
        // t is ShiftRows(S(·)); undo it inside the rotations of L.
        const __m256i s = _mm256_shuffle_epi8(t, vec2(kUnshift0));
        const __m256i r8 = _mm256_shuffle_epi8(t, vec2(kUnshift8));
        const __m256i r16 = _mm256_shuffle_epi8(t, vec2(kUnshift16));
        const __m256i r24 = _mm256_shuffle_epi8(t, vec2(kUnshift24));
        const __m256i u = _mm256_xor_si256(_mm256_xor_si256(s, r8), r16);
        const __m256i u2 = _mm256_or_si256(_mm256_slli_epi32(u, 2), _mm256_srli_epi32(u, 30));
        g[i].x[a] = _mm256_xor_si256(g[i].x[a], _mm256_xor_si256(_mm256_xor_si256(s, r24), u2));
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

TARNWICK_SM4_ENTRY_POINTS(Aesni, TARNWICK_AESNI)

}  // namespace

std::uint32_t aesni_features() noexcept {
  return cpu::kAesni | cpu::kAvx2 | cpu::kAvx | cpu::kSsse3 | cpu::kPclmul;
}

const Path kAesniPath = {
    "aesni-avx2", expand_key, crypt_blocks, ctr, chain, ghash_pclmul_init, ghash_pclmul,
};

}  // namespace tarnwick::sm4::detail
