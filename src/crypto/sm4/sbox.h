// The SM4 S-box as affine maps around a field inversion, for the
// table-free implementations (internal to src/crypto/sm4).
//
// The S-box of GB/T 32907-2016 is S(x) = A·I(A·x ⊕ C) ⊕ C, where I is
// inversion in GF(2^8) modulo x^8+x^7+x^6+x^5+x^4+x^2+1 (I(0) = 0), A the
// circulant bit matrix whose rows are 0xa7 rotated and C = 0xd3. An
// isomorphism T from that field to another representation of GF(2^8)
// turns it into
//
//   S(x) = (A·T⁻¹)·I'((T·A)·x ⊕ T·C) ⊕ C
//
// with I' the inversion of the other field. Three fields are used: the AES
// field (modulo x^8+x^4+x^3+x+1), whose inversion GFNI computes and AES-NI
// computes inside its S-box; and a tower GF((2^4)^2) whose inversion the
// portable code evaluates as a bitsliced circuit. Every map is derived here
// at compile time from those definitions and checked against the
// standard's table, which is kept for that check only: no code reads it at
// run time.
#pragma once

#include <array>
#include <cstdint>

namespace tarnwick::sm4::sbox {

// GB/T 32907-2016 §6.2: the S-box.
inline constexpr std::uint8_t kTable[256] = {
    0xd6, 0x90, 0xe9, 0xfe, 0xcc, 0xe1, 0x3d, 0xb7, 0x16, 0xb6, 0x14, 0xc2, 0x28, 0xfb, 0x2c, 0x05,
    0x2b, 0x67, 0x9a, 0x76, 0x2a, 0xbe, 0x04, 0xc3, 0xaa, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99,
    0x9c, 0x42, 0x50, 0xf4, 0x91, 0xef, 0x98, 0x7a, 0x33, 0x54, 0x0b, 0x43, 0xed, 0xcf, 0xac, 0x62,
    0xe4, 0xb3, 0x1c, 0xa9, 0xc9, 0x08, 0xe8, 0x95, 0x80, 0xdf, 0x94, 0xfa, 0x75, 0x8f, 0x3f, 0xa6,
    0x47, 0x07, 0xa7, 0xfc, 0xf3, 0x73, 0x17, 0xba, 0x83, 0x59, 0x3c, 0x19, 0xe6, 0x85, 0x4f, 0xa8,
    0x68, 0x6b, 0x81, 0xb2, 0x71, 0x64, 0xda, 0x8b, 0xf8, 0xeb, 0x0f, 0x4b, 0x70, 0x56, 0x9d, 0x35,
    0x1e, 0x24, 0x0e, 0x5e, 0x63, 0x58, 0xd1, 0xa2, 0x25, 0x22, 0x7c, 0x3b, 0x01, 0x21, 0x78, 0x87,
    0xd4, 0x00, 0x46, 0x57, 0x9f, 0xd3, 0x27, 0x52, 0x4c, 0x36, 0x02, 0xe7, 0xa0, 0xc4, 0xc8, 0x9e,
    0xea, 0xbf, 0x8a, 0xd2, 0x40, 0xc7, 0x38, 0xb5, 0xa3, 0xf7, 0xf2, 0xce, 0xf9, 0x61, 0x15, 0xa1,
    0xe0, 0xae, 0x5d, 0xa4, 0x9b, 0x34, 0x1a, 0x55, 0xad, 0x93, 0x32, 0x30, 0xf5, 0x8c, 0xb1, 0xe3,
    0x1d, 0xf6, 0xe2, 0x2e, 0x82, 0x66, 0xca, 0x60, 0xc0, 0x29, 0x23, 0xab, 0x0d, 0x53, 0x4e, 0x6f,
    0xd5, 0xdb, 0x37, 0x45, 0xde, 0xfd, 0x8e, 0x2f, 0x03, 0xff, 0x6a, 0x72, 0x6d, 0x6c, 0x5b, 0x51,
    0x8d, 0x1b, 0xaf, 0x92, 0xbb, 0xdd, 0xbc, 0x7f, 0x11, 0xd9, 0x5c, 0x41, 0x1f, 0x10, 0x5a, 0xd8,
    0x0a, 0xc1, 0x31, 0x88, 0xa5, 0xcd, 0x7b, 0xbd, 0x2d, 0x74, 0xd0, 0x12, 0xb8, 0xe5, 0xb4, 0xb0,
    0x89, 0x69, 0x97, 0x4a, 0x0c, 0x96, 0x77, 0x7e, 0x65, 0xb9, 0xf1, 0x09, 0xc5, 0x6e, 0xc6, 0x84,
    0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d, 0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48,
};

// ---- GF(2) bit matrices on bytes ----

// Mat is an 8×8 bit matrix: bit i of M·x is the parity of row[i] & x.
struct Mat {
  std::uint8_t row[8];
};

constexpr int parity(unsigned x) {
  x ^= x >> 4;
  x ^= x >> 2;
  x ^= x >> 1;
  return static_cast<int>(x & 1);
}

constexpr std::uint8_t apply(const Mat& m, std::uint8_t x) {
  unsigned y = 0;
  for (int i = 0; i < 8; ++i) y |= static_cast<unsigned>(parity(m.row[i] & x)) << i;
  return static_cast<std::uint8_t>(y);
}

// from_map returns the matrix of a linear map given by its images of the
// eight unit vectors: column j is f(1 << j).
template <class F>
constexpr Mat from_map(F f) {
  Mat m{};
  for (int j = 0; j < 8; ++j) {
    const std::uint8_t col = f(static_cast<std::uint8_t>(1u << j));
    for (int i = 0; i < 8; ++i) m.row[i] = static_cast<std::uint8_t>(m.row[i] | (((col >> i) & 1u) << j));
  }
  return m;
}

constexpr Mat compose(const Mat& a, const Mat& b) {  // a·b: first b, then a
  return from_map([&](std::uint8_t x) { return apply(a, apply(b, x)); });
}

constexpr Mat inverse(const Mat& m) {
  std::uint8_t inv[256] = {};
  for (unsigned x = 0; x < 256; ++x) inv[apply(m, static_cast<std::uint8_t>(x))] = static_cast<std::uint8_t>(x);
  return from_map([&](std::uint8_t x) { return inv[x]; });
}

constexpr bool bijective(const Mat& m) {
  bool seen[256] = {};
  for (unsigned x = 0; x < 256; ++x) seen[apply(m, static_cast<std::uint8_t>(x))] = true;
  for (bool s : seen)
    if (!s) return false;
  return true;
}

// ---- fields ----

// mul_poly multiplies in GF(2)[x] modulo the degree-8 polynomial `poly`.
constexpr std::uint8_t mul_poly(std::uint8_t a, std::uint8_t b, unsigned poly) {
  unsigned r = 0, x = a;
  for (int i = 0; i < 8; ++i) {
    if ((b >> i) & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= poly;
  }
  return static_cast<std::uint8_t>(r);
}

template <class Mul>
constexpr std::uint8_t inv_by(std::uint8_t a, Mul mul) {  // a^254, with 0 ↦ 0
  std::uint8_t r = 1, base = a;
  for (unsigned e = 254; e != 0; e >>= 1) {
    if (e & 1) r = mul(r, base);
    base = mul(base, base);
  }
  return r;
}

inline constexpr unsigned kSm4Poly = 0x1f5;  // x^8+x^7+x^6+x^5+x^4+x^2+1
inline constexpr unsigned kAesPoly = 0x11b;  // x^8+x^4+x^3+x+1

constexpr std::uint8_t mul_aes(std::uint8_t a, std::uint8_t b) { return mul_poly(a, b, kAesPoly); }

constexpr std::array<std::uint8_t, 256> make_inv_aes() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned a = 0; a < 256; ++a) t[a] = inv_by(static_cast<std::uint8_t>(a), mul_aes);
  return t;
}
inline constexpr std::array<std::uint8_t, 256> kInvAes = make_inv_aes();
// Compile time only, like every table here.
consteval std::uint8_t inv_aes(std::uint8_t a) { return kInvAes[a]; }

// The affine structure of the S-box.
constexpr Mat make_a() {
  Mat m{};
  for (int i = 0; i < 8; ++i) m.row[i] = static_cast<std::uint8_t>((0xa7u << i | 0xa7u >> (8 - i)) & 0xff);
  return m;
}
inline constexpr Mat kA = make_a();
inline constexpr std::uint8_t kC = 0xd3;

// iso_to returns T, the matrix of the field isomorphism that sends x (the
// generator of the SM4 field) to the first root of the SM4 polynomial in
// the field multiplied by `mul`: column i is root^i.
template <class Mul>
constexpr Mat iso_to(Mul mul) {
  for (unsigned b = 2; b < 256; ++b) {
    const auto beta = static_cast<std::uint8_t>(b);
    std::uint8_t pw[9] = {1};
    for (int i = 1; i <= 8; ++i) pw[i] = mul(pw[i - 1], beta);
    std::uint8_t value = 0;
    for (int i = 0; i <= 8; ++i)
      if ((kSm4Poly >> i) & 1) value ^= pw[i];
    if (value == 0) return from_map([&](std::uint8_t x) {
        std::uint8_t r = 0;
        for (int i = 0; i < 8; ++i)
          if ((x >> i) & 1) r ^= pw[i];
        return r;
      });
  }
  return Mat{};
}

// ---- the AES field: GFNI and AES-NI ----

inline constexpr Mat kToAes = iso_to(mul_aes);
inline constexpr Mat kAesPre = compose(kToAes, kA);                 // T·A
inline constexpr std::uint8_t kAesPreConst = apply(kToAes, kC);      // T·C
inline constexpr Mat kAesPost = compose(kA, inverse(kToAes));       // A·T⁻¹
inline constexpr std::uint8_t kAesPostConst = kC;

// gfni_matrix encodes `m` as the qword operand of GF2P8AFFINEQB and
// GF2P8AFFINEINVQB: byte 7 − i holds row i.
constexpr std::uint64_t gfni_matrix(const Mat& m) {
  std::uint64_t q = 0;
  for (int i = 0; i < 8; ++i) q |= std::uint64_t{m.row[i]} << (8 * (7 - i));
  return q;
}

// The AES S-box: SB(y) = Aaes·I_aes(y) ⊕ 0x63 (FIPS 197 §5.1.1).
constexpr Mat make_aes_affine() {
  Mat m{};
  for (int i = 0; i < 8; ++i)
    for (int k : {0, 4, 5, 6, 7}) m.row[i] = static_cast<std::uint8_t>(m.row[i] | (1u << ((i + k) % 8)));
  return m;
}
inline constexpr Mat kAesAffine = make_aes_affine();
consteval std::uint8_t aes_sbox(std::uint8_t y) { return apply(kAesAffine, inv_aes(y)) ^ 0x63; }

// After AESENCLAST (whose S-box is SB), I_aes(y) = Aaes⁻¹·(SB(y) ⊕ 0x63),
// so S(x) = N·SB(T·A·x ⊕ T·C) ⊕ (N·0x63 ⊕ C) with N = A·T⁻¹·Aaes⁻¹.
inline constexpr Mat kAesNiPost = compose(kAesPost, inverse(kAesAffine));
inline constexpr std::uint8_t kAesNiPostConst = apply(kAesNiPost, 0x63) ^ kC;

// NibbleTables evaluate an affine byte map as two 16-entry lookups (the
// operands of PSHUFB): f(x) = lo[x & 15] ⊕ hi[x >> 4]. The constant sits in
// `lo`. The tables are public constants; the secret is only ever a shuffle
// control, never an address.
struct NibbleTables {
  std::array<std::uint8_t, 16> lo, hi;
};

constexpr NibbleTables nibble_tables(const Mat& m, std::uint8_t c) {
  NibbleTables t{};
  for (unsigned n = 0; n < 16; ++n) {
    t.lo[n] = apply(m, static_cast<std::uint8_t>(n)) ^ c;
    t.hi[n] = apply(m, static_cast<std::uint8_t>(n << 4));
  }
  return t;
}
inline constexpr NibbleTables kAesNiPreTables = nibble_tables(kAesPre, kAesPreConst);
inline constexpr NibbleTables kAesNiPostTables = nibble_tables(kAesNiPost, kAesNiPostConst);

consteval bool aes_maps_hold() {
  if (!bijective(kToAes) || aes_sbox(0x00) != 0x63 || aes_sbox(0x01) != 0x7c || aes_sbox(0x53) != 0xed) return false;
  for (unsigned v = 0; v < 256; ++v) {
    const auto x = static_cast<std::uint8_t>(v);
    // The GFNI form.
    const std::uint8_t y = apply(kAesPre, x) ^ kAesPreConst;
    if ((apply(kAesPost, inv_aes(y)) ^ kAesPostConst) != kTable[v]) return false;
    // The AES-NI form through its nibble tables.
    const std::uint8_t y2 = kAesNiPreTables.lo[x & 15] ^ kAesNiPreTables.hi[x >> 4];
    const std::uint8_t s = aes_sbox(y2);
    if ((kAesNiPostTables.lo[s & 15] ^ kAesNiPostTables.hi[s >> 4]) != kTable[v]) return false;
  }
  return true;
}
static_assert(aes_maps_hold());

// ---- the tower field GF((2^4)^2): portable bitsliced inversion ----
//
// GF(16) = GF(2)[z]/(z^4+z+1); GF(256) = GF(16)[Y]/(Y^2+Y+λ). A byte holds
// ah·Y + al with al in bits 0..3 and ah in bits 4..7.

constexpr std::uint8_t mul16(std::uint8_t a, std::uint8_t b) {
  unsigned r = 0, x = a & 15u;
  for (int i = 0; i < 4; ++i) {
    if ((b >> i) & 1) r ^= x;
    x <<= 1;
    if (x & 0x10) x ^= 0x13;
  }
  return static_cast<std::uint8_t>(r);
}

constexpr std::uint8_t find_lambda() {
  for (unsigned l = 1; l < 16; ++l) {
    bool has_root = false;
    for (unsigned y = 0; y < 16; ++y)
      if ((mul16(static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(y)) ^ y) == l) has_root = true;
    if (!has_root) return static_cast<std::uint8_t>(l);
  }
  return 0;
}
inline constexpr std::uint8_t kLambda = find_lambda();

constexpr std::uint8_t mul_tower(std::uint8_t a, std::uint8_t b) {
  const std::uint8_t ah = a >> 4, al = a & 15, bh = b >> 4, bl = b & 15;
  const std::uint8_t hh = mul16(ah, bh);
  const std::uint8_t h = hh ^ mul16(ah, bl) ^ mul16(al, bh);
  const std::uint8_t l = mul16(hh, kLambda) ^ mul16(al, bl);
  return static_cast<std::uint8_t>(h << 4 | l);
}

inline constexpr Mat kToTower = iso_to(mul_tower);
inline constexpr Mat kTowerPre = compose(kToTower, kA);
inline constexpr std::uint8_t kTowerPreConst = apply(kToTower, kC);
inline constexpr Mat kTowerPost = compose(kA, inverse(kToTower));
inline constexpr std::uint8_t kTowerPostConst = kC;

// The linear pieces of the tower inversion, as 4×4 maps on nibbles (rows
// in the low four bits of an 8-row matrix): squaring, and λ·a².
constexpr Mat nibble_map(std::uint8_t (*f)(std::uint8_t)) {
  return from_map([&](std::uint8_t x) { return static_cast<std::uint8_t>(f(x & 15) | ((x >> 4) << 4)); });
}
constexpr std::uint8_t sq16(std::uint8_t a) { return mul16(a, a); }
constexpr std::uint8_t lambda_sq16(std::uint8_t a) { return mul16(kLambda, mul16(a, a)); }
inline constexpr Mat kSq16 = nibble_map(sq16);
inline constexpr Mat kLambdaSq16 = nibble_map(lambda_sq16);

// inv_tower: (ah·Y + al)⁻¹ = (ah·d)·Y + (ah ⊕ al)·d with
// d = (λ·ah² ⊕ ah·al ⊕ al²)⁻¹, the GF(16) inverse being a^14 = a^2·a^4·a^8.
constexpr std::uint8_t inv16(std::uint8_t a) {
  const std::uint8_t a2 = sq16(a), a4 = sq16(a2), a8 = sq16(a4);
  return mul16(mul16(a2, a4), a8);
}
constexpr std::uint8_t inv_tower(std::uint8_t a) {
  const std::uint8_t ah = a >> 4, al = a & 15;
  const std::uint8_t d = inv16(lambda_sq16(ah) ^ mul16(ah, al) ^ sq16(al));
  return static_cast<std::uint8_t>(mul16(ah, d) << 4 | mul16(ah ^ al, d));
}

consteval bool tower_maps_hold() {
  if (kLambda == 0 || !bijective(kToTower)) return false;
  for (unsigned v = 0; v < 256; ++v) {
    const auto x = static_cast<std::uint8_t>(v);
    if (v != 0 && mul_tower(x, inv_tower(x)) != 1) return false;
    const std::uint8_t y = apply(kTowerPre, x) ^ kTowerPreConst;
    if ((apply(kTowerPost, inv_tower(y)) ^ kTowerPostConst) != kTable[v]) return false;
  }
  return true;
}
static_assert(tower_maps_hold());

}  // namespace tarnwick::sm4::sbox
