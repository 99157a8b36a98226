#include "crypto/sm2/p256_ecc.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#define TARNWICK_SM2_AVX2_SCAN 1
#endif

#include <bit>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/limb.h"
#include "crypto/sm2/p256_point.h"
#include "crypto/sm2/p256_pre_table.h"
#include "support/cpu.h"
#include "support/ct.h"
#include "support/secret.h"

namespace tarnwick::sm2::p256_ecc {
namespace {

using p256_field::add;
using p256_field::mul;
using p256_field::sub;
using u64 = std::uint64_t;

constexpr FieldElement kA{{0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000,
                           0xFFFFFFFF, 0xFFFFFFFC}};
constexpr FieldElement kB{{0x28E9FA9E, 0x9D9F5E34, 0x4D5A9E4B, 0xCF6509A7, 0xF39789F5, 0x15AB8F92,
                           0xDDBCBD41, 0x4D940E93}};
constexpr FieldElement kGx{{0x32C4AE2C, 0x1F198119, 0x5F990446, 0x6A39C994, 0x8FE30BBF, 0xF2660BE1,
                            0x715A4589, 0x334C74C7}};
constexpr FieldElement kGy{{0xBC3736A2, 0xF4F6779C, 0x59BDCEE3, 0x6B692153, 0xD0A9877C, 0xC62A4740,
                            0x02DF32E5, 0x2139F0A0}};
constexpr const char* kNHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

// The mul_point window: 5-bit signed digits over 1·P … 16·P.
constexpr int kPointWindowBits = 5;
constexpr int kPointWindows = 52;  // ⌈257 / 5⌉
constexpr int kPointEntries = 1 << (kPointWindowBits - 1);

CurveParams build_curve_params() {
  CurveParams c;
  c.n = biguint::from_hex(kNHex);
  c.h = biguint::from_word(1);
  c.p = p256_field::kP;
  c.a = kA;
  c.b = kB;
  c.g = JacobianPoint{kGx, kGy, p256_field::kOne};
  return c;
}

point::Jacobian to_internal(const JacobianPoint& p) noexcept {
  return point::Jacobian{p256_field::to_montgomery(p.x), p256_field::to_montgomery(p.y),
                         p256_field::to_montgomery(p.z)};
}

// to_boundary converts back; a point at infinity becomes (1, 1, 0) exactly.
JacobianPoint to_boundary(point::Jacobian p) noexcept {
  const u64 inf = point::is_infinity(p);
  fp::cmov(p.x, fp::kOne, inf);
  fp::cmov(p.y, fp::kOne, inf);
  return JacobianPoint{p256_field::from_montgomery(p.x), p256_field::from_montgomery(p.y),
                       p256_field::from_montgomery(p.z)};
}

// window_bits returns bits `pos` .. `pos` + `count` − 1 of `k`, bits below 0
// and above 255 reading as 0. The positions are public.
unsigned window_bits(const Scalar& k, int pos, int count) noexcept {
  if (pos < 0) return (window_bits(k, 0, count + pos) << -pos) & ((1u << count) - 1);
  const int limb = pos / 64, shift = pos % 64;
  if (limb >= 4) return 0;
  u64 v = k.v[static_cast<std::size_t>(limb)] >> shift;
  if (shift + count > 64 && limb + 1 < 4) v |= k.v[static_cast<std::size_t>(limb + 1)] << (64 - shift);
  return static_cast<unsigned>(v) & ((1u << count) - 1);
}

// Digit is one Booth digit: `negative` a mask, `magnitude` 0 … 2^(bits−1).
struct Digit {
  u64 negative;
  unsigned magnitude;
};

// booth returns the digit of window `index`, from bits
// bits·index − 1 … bits·index + bits − 1 of `k`, without branches.
Digit booth(const Scalar& k, int index, int bits) noexcept {
  const unsigned in = window_bits(k, bits * index - 1, bits + 1);
  const unsigned s = ~((in >> bits) - 1);  // all ones when the top bit is set
  unsigned d = (1u << (bits + 1)) - in - 1;
  d = (d & s) | (in & ~s);
  d = (d >> 1) + (d & 1);
  return Digit{ct::mask_from_bit(s & 1), d};
}

void cond_negate(fp::Fe& y, u64 mask) noexcept {
  fp::Fe neg;
  fp::neg(neg, y);
  fp::cmov(y, neg, mask);
}

// select_affine sets `out` to window entry `magnitude` − 1, or to zeros for
// magnitude 0, reading every entry: a masked scan, with SSE2 (part of every
// x86-64 processor) where the compiler targets it.
void select_affine(point::Affine& out, const p256_pre_table::Window& w, unsigned magnitude) noexcept {
  static_assert(sizeof(point::Affine) == 64);
#if defined(__SSE2__)
  const __m128i target = _mm_set1_epi32(static_cast<int>(magnitude));
  const __m128i one = _mm_set1_epi32(1);
  __m128i index = one;
  __m128i acc[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  const auto* e = reinterpret_cast<const __m128i*>(w.data());
  for (int i = 0; i < p256_pre_table::kEntries; ++i, e += 4) {
    const __m128i m = _mm_cmpeq_epi32(index, target);
    for (int l = 0; l < 4; ++l) acc[l] = _mm_or_si128(acc[l], _mm_and_si128(m, _mm_loadu_si128(e + l)));
    index = _mm_add_epi32(index, one);
  }
  auto* o = reinterpret_cast<__m128i*>(&out);
  for (int l = 0; l < 4; ++l) _mm_storeu_si128(o + l, acc[l]);
#else
  u64 acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < p256_pre_table::kEntries; ++i) {
    const u64 m = ct::eq(static_cast<u64>(i + 1), magnitude);
    const point::Affine& e = w[static_cast<std::size_t>(i)];
    for (int l = 0; l < 4; ++l) {
      acc[l] |= e.x.v[l] & m;
      acc[4 + l] |= e.y.v[l] & m;
    }
  }
  for (int l = 0; l < 4; ++l) {
    out.x.v[l] = acc[l];
    out.y.v[l] = acc[4 + l];
  }
#endif
}

void select_jacobian(point::Jacobian& out, const std::array<point::Jacobian, kPointEntries>& t,
                     unsigned magnitude) noexcept {
  u64 acc[12] = {};
  for (int i = 0; i < kPointEntries; ++i) {
    const u64 m = ct::eq(static_cast<u64>(i + 1), magnitude);
    const point::Jacobian& e = t[static_cast<std::size_t>(i)];
    for (int l = 0; l < 4; ++l) {
      acc[l] |= e.x.v[l] & m;
      acc[4 + l] |= e.y.v[l] & m;
      acc[8 + l] |= e.z.v[l] & m;
    }
  }
  for (int l = 0; l < 4; ++l) {
    out.x.v[l] = acc[l];
    out.y.v[l] = acc[4 + l];
    out.z.v[l] = acc[8 + l];
  }
}

#if defined(TARNWICK_SM2_AVX2_SCAN)
// kScanFeatures are what the AVX2 scans below need.
constexpr std::uint32_t kScanFeatures = cpu::kAvx | cpu::kAvx2;

// select_affine_avx2 and select_jacobian_avx2 are the masked scans of
// select_affine and select_jacobian with 32-byte loads: every entry is read,
// the wanted one kept by a mask.
[[gnu::target("avx2")]] void select_affine_avx2(point::Affine& out, const p256_pre_table::Window& w,
                                                unsigned magnitude) noexcept {
  const __m256i target = _mm256_set1_epi32(static_cast<int>(magnitude));
  const __m256i one = _mm256_set1_epi32(1);
  __m256i index = one;
  __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
  const auto* e = reinterpret_cast<const __m256i*>(w.data());
  for (int i = 0; i < p256_pre_table::kEntries; ++i, e += 2) {
    const __m256i m = _mm256_cmpeq_epi32(index, target);
    acc0 = _mm256_or_si256(acc0, _mm256_and_si256(m, _mm256_loadu_si256(e)));
    acc1 = _mm256_or_si256(acc1, _mm256_and_si256(m, _mm256_loadu_si256(e + 1)));
    index = _mm256_add_epi32(index, one);
  }
  auto* o = reinterpret_cast<__m256i*>(&out);
  _mm256_storeu_si256(o, acc0);
  _mm256_storeu_si256(o + 1, acc1);
}

[[gnu::target("avx2")]] void select_jacobian_avx2(point::Jacobian& out,
                                                  const std::array<point::Jacobian, kPointEntries>& t,
                                                  unsigned magnitude) noexcept {
  static_assert(sizeof(point::Jacobian) == 96);
  const __m256i target = _mm256_set1_epi32(static_cast<int>(magnitude));
  const __m256i one = _mm256_set1_epi32(1);
  __m256i index = one;
  __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256(), acc2 = _mm256_setzero_si256();
  const auto* e = reinterpret_cast<const __m256i*>(t.data());
  for (int i = 0; i < kPointEntries; ++i, e += 3) {
    const __m256i m = _mm256_cmpeq_epi32(index, target);
    acc0 = _mm256_or_si256(acc0, _mm256_and_si256(m, _mm256_loadu_si256(e)));
    acc1 = _mm256_or_si256(acc1, _mm256_and_si256(m, _mm256_loadu_si256(e + 1)));
    acc2 = _mm256_or_si256(acc2, _mm256_and_si256(m, _mm256_loadu_si256(e + 2)));
    index = _mm256_add_epi32(index, one);
  }
  auto* o = reinterpret_cast<__m256i*>(&out);
  _mm256_storeu_si256(o, acc0);
  _mm256_storeu_si256(o + 1, acc1);
  _mm256_storeu_si256(o + 2, acc2);
}

// select_affine_avx512 is select_affine with one 64-byte load per entry and
// the wanted one kept by a mask register: every entry is read.
[[gnu::target("avx512f")]] void select_affine_avx512(point::Affine& out, const p256_pre_table::Window& w,
                                                     unsigned magnitude) noexcept {
  const __m512i target = _mm512_set1_epi64(magnitude);
  const __m512i one = _mm512_set1_epi64(1);
  __m512i index = one;
  // Two accumulators, for even and odd entries, halve the chain of ORs.
  __m512i acc0 = _mm512_setzero_si512(), acc1 = _mm512_setzero_si512();
  const auto* e = reinterpret_cast<const __m512i*>(w.data());
  for (int i = 0; i < p256_pre_table::kEntries; i += 2, e += 2) {
    const __mmask8 m0 = _mm512_cmpeq_epi64_mask(index, target);
    acc0 = _mm512_mask_or_epi64(acc0, m0, acc0, _mm512_loadu_si512(e));
    index = _mm512_add_epi64(index, one);
    const __mmask8 m1 = _mm512_cmpeq_epi64_mask(index, target);
    acc1 = _mm512_mask_or_epi64(acc1, m1, acc1, _mm512_loadu_si512(e + 1));
    index = _mm512_add_epi64(index, one);
  }
  _mm512_storeu_si512(&out, _mm512_or_si512(acc0, acc1));
}
#endif

// Scans picks the masked scans once per multiplication: AVX-512 or AVX2
// where the processor has them, else those above.
struct Scans {
#if defined(TARNWICK_SM2_AVX2_SCAN)
  bool avx2 = cpu::has(kScanFeatures);
  bool avx512 = cpu::has(cpu::kAvx512);
#endif

  void affine(point::Affine& out, const p256_pre_table::Window& w, unsigned magnitude) const noexcept {
#if defined(TARNWICK_SM2_AVX2_SCAN)
    if (avx512) return select_affine_avx512(out, w, magnitude);
    if (avx2) return select_affine_avx2(out, w, magnitude);
#endif
    select_affine(out, w, magnitude);
  }

  void jacobian(point::Jacobian& out, const std::array<point::Jacobian, kPointEntries>& t,
                unsigned magnitude) const noexcept {
#if defined(TARNWICK_SM2_AVX2_SCAN)
    if (avx2) return select_jacobian_avx2(out, t, magnitude);
#endif
    select_jacobian(out, t, magnitude);
  }
};

// Naf holds the width-w NAF of a scalar below n: digit i is 0 or odd in
// −2^(w−1) … 2^(w−1) − 1, Σ digit_i·2^i = k, at most 257 digits.
using Naf = std::array<std::int16_t, 258>;

// naf returns the width-`w` NAF of `k` (public; branches on its bits). A
// run of zero digits is skipped at once: up to the lowest set bit, and
// w − 1 digits after each nonzero one, which leaves v divisible by 2^w.
Naf naf(const Scalar& k, int w) noexcept {
  Naf out{};
  u64 v[5] = {k.v[0], k.v[1], k.v[2], k.v[3], 0};
  // shift moves v right by 1 ≤ n ≤ 63 bits.
  const auto shift = [&v](int n) {
    for (int l = 0; l < 4; ++l) v[l] = (v[l] >> n) | (v[l + 1] << (64 - n));
    v[4] >>= n;
  };
  std::size_t i = 0;
  while ((v[0] | v[1] | v[2] | v[3] | v[4]) != 0 && i < out.size()) {
    if ((v[0] & 1) == 0) {
      const int zeros = v[0] == 0 ? 63 : std::countr_zero(v[0]);
      shift(zeros);
      i += static_cast<std::size_t>(zeros);
      continue;
    }
    int d = static_cast<int>(v[0] & ((1u << w) - 1));
    if (d >= (1 << (w - 1))) d -= 1 << w;
    // v −= d (an odd d makes v a multiple of 2^w).
    u64 c;
    if (d > 0) {
      v[0] = limb::sbb(v[0], static_cast<u64>(d), 0, c);
      for (int l = 1; l < 5; ++l) v[l] = limb::sbb(v[l], 0, c, c);
    } else {
      v[0] = limb::adc(v[0], static_cast<u64>(-d), 0, c);
      for (int l = 1; l < 5; ++l) v[l] = limb::adc(v[l], 0, c, c);
    }
    out[i] = static_cast<std::int16_t>(d);
    shift(w);
    i += static_cast<std::size_t>(w);
  }
  return out;
}

// with_field calls `fn` with the fastest field backend the processor
// offers, asked once per operation.
template <class Fn>
auto with_field(Fn&& fn) {
#if defined(TARNWICK_SM2_FP_ADX)
  if (cpu::has(fp::Adx::kFeatures)) return fn(fp::Adx{});
#endif
  return fn(fp::Portable{});
}

// affine_from returns the affine form of `j` given zi = 1/z (in Montgomery
// form) and wipes its own temporaries.
template <class F>
JacobianPoint affine_from(const point::Jacobian& j, const fp::Fe& zi) noexcept {
  fp::Fe zi2, zi3, x, y;
  F::sqr(zi2, zi);
  F::mul(zi3, zi2, zi);
  F::mul(x, j.x, zi2);
  F::mul(y, j.y, zi3);
  const JacobianPoint r{p256_field::from_montgomery(x), p256_field::from_montgomery(y), p256_field::kOne};
  wipe_object(zi2);
  wipe_object(zi3);
  wipe_object(x);
  wipe_object(y);
  return r;
}

template <class F>
JacobianPoint to_affine_impl(JacobianPoint& p) noexcept {
  // The point may be secret (a shared point): its copies here are wiped.
  point::Jacobian j = to_internal(p);
  fp::Fe zi;
  fp::invert(zi, j.z);
  const JacobianPoint r = affine_from<F>(j, zi);
  wipe_object(j);
  wipe_object(zi);
  wipe_object(p);
  return r;
}

template <class F>
std::pair<JacobianPoint, JacobianPoint> to_affine_pair_impl(JacobianPoint& p, JacobianPoint& q) noexcept {
  // Either point may be secret (the shared point of encryption): every copy
  // here is wiped.
  point::Jacobian jp = to_internal(p), jq = to_internal(q);
  fp::Fe zz, inv, zi;
  F::mul(zz, jp.z, jq.z);
  fp::invert(inv, zz);
  F::mul(zi, inv, jq.z);
  const JacobianPoint rp = affine_from<F>(jp, zi);
  F::mul(zi, inv, jp.z);
  const JacobianPoint rq = affine_from<F>(jq, zi);
  wipe_object(jp);
  wipe_object(jq);
  wipe_object(zz);
  wipe_object(inv);
  wipe_object(zi);
  wipe_object(p);
  wipe_object(q);
  return {rp, rq};
}

template <class F>
JacobianPoint mul_base_impl(const Scalar& k_in) noexcept {
  const Scalar k = scalar::reduce(k_in);
  const p256_pre_table::BaseTable& table = p256_pre_table::base_table();
  // With k < n the operands of an addition are never equal or opposite
  // unless one is at infinity: before window j the partial sum L is below
  // 2^(7j)/1.98 in magnitude, the window's term R = digit·2^(7j) is 0 or at
  // least 2^(7j), and L ≡ ±R (mod n) would need L = ±R or, in the last
  // window, k = 2^257 − n > n. Infinity (no digit yet, or digit 0) is handled
  // by masks; the last addition is made complete all the same, for the price
  // of one doubling.
  const Scans scans;
  // The first window's term is the sum so far: (x, y, 1), or infinity for
  // digit 0.
  point::Affine t;
  const Digit first = booth(k, 0, p256_pre_table::kWindowBits);
  scans.affine(t, table[0], first.magnitude);
  cond_negate(t.y, first.negative);
  point::Jacobian acc{t.x, t.y, fp::kOne};
  point::cmov(acc, point::Jacobian{fp::kOne, fp::kOne, fp::kZero}, ct::eq(first.magnitude, 0));
  for (int j = 1; j < p256_pre_table::kWindows; ++j) {
    const Digit d = booth(k, j, p256_pre_table::kWindowBits);
    scans.affine(t, table[static_cast<std::size_t>(j)], d.magnitude);
    cond_negate(t.y, d.negative);
    point::add_affine<F>(acc, acc, t, ct::eq(d.magnitude, 0), j == p256_pre_table::kWindows - 1);
  }
  // acc is k·G; t, the last digit's entry, tells that digit.
  const JacobianPoint r = to_boundary(acc);
  wipe_object(acc);
  wipe_object(t);
  return r;
}

template <class F>
JacobianPoint mul_point_impl(const Scalar& k_in, const JacobianPoint& p_in) noexcept {
  const Scalar k = scalar::reduce(k_in);
  const point::Jacobian p = to_internal(p_in);
  // t[i] = (i + 1)·P.
  std::array<point::Jacobian, kPointEntries> t;
  t[0] = p;
  for (int i = 1; i < kPointEntries; ++i) {
    if ((i + 1) % 2 == 0) {
      point::dbl<F>(t[static_cast<std::size_t>(i)], t[static_cast<std::size_t>((i + 1) / 2 - 1)]);
    } else {
      point::add<F>(t[static_cast<std::size_t>(i)], t[static_cast<std::size_t>(i - 1)], p, false);
    }
  }
  // Left to right. With k < n, before the addition of window w the
  // accumulator is 32v·P for the Booth prefix 0 ≤ v ≤ k/2^(5w+5) + 1, and
  // the table point is d·P with |d| ≤ 16: they are equal or opposite only if
  // 32v ≡ ±d (mod n), which for w ≥ 1 means v = d = 0 (both at infinity,
  // handled by masks). In window 0 it happens for k in n − 32 … n − 2 (n − 6
  // among them), so that last addition is complete.
  const Scans scans;
  const Digit top = booth(k, kPointWindows - 1, kPointWindowBits);
  point::Jacobian acc;
  scans.jacobian(acc, t, top.magnitude);
  cond_negate(acc.y, top.negative);
  point::Jacobian e;
  for (int w = kPointWindows - 2; w >= 0; --w) {
    for (int i = 0; i < kPointWindowBits; ++i) point::dbl<F>(acc, acc);
    const Digit d = booth(k, w, kPointWindowBits);
    scans.jacobian(e, t, d.magnitude);
    cond_negate(e.y, d.negative);
    point::add<F>(acc, acc, e, w == 0);
  }
  // acc is k·P (the shared point in encryption and decryption); e, the last
  // digit's multiple of P, tells that digit.
  const JacobianPoint r = to_boundary(acc);
  wipe_object(acc);
  wipe_object(e);
  return r;
}

template <class F>
JacobianPoint mul_base_point_vartime_impl(const Scalar& s, const Scalar& t, const JacobianPoint& p_in) noexcept {
  const Naf sd = naf(scalar::reduce(s), p256_pre_table::kOddWindowBits);
  const Naf td = naf(scalar::reduce(t), 5);
  const p256_pre_table::OddTable& g_odd = p256_pre_table::base_odd_table();
  // pt[j] = (2j + 1)·P.
  const point::Jacobian p = to_internal(p_in);
  std::array<point::Jacobian, 8> pt;
  point::Jacobian p2;
  point::dbl<F>(p2, p);
  pt[0] = p;
  for (std::size_t j = 1; j < pt.size(); ++j) point::add_vartime<F>(pt[j], pt[j - 1], p2);

  // One chain of doublings for both scalars: a digit of t adds ±(2j + 1)·P,
  // a digit of s (width 10, as dense as one in eleven) ±(2i + 1)·G from the
  // table of odd multiples.
  int top = static_cast<int>(td.size()) - 1;
  while (top >= 0 && td[static_cast<std::size_t>(top)] == 0 && sd[static_cast<std::size_t>(top)] == 0) --top;
  point::Jacobian acc{fp::kOne, fp::kOne, fp::kZero};
  for (int i = top; i >= 0; --i) {
    if (!fp::is_zero(acc.z)) point::dbl<F>(acc, acc);
    if (const int d = td[static_cast<std::size_t>(i)]; d != 0) {
      point::Jacobian q = pt[static_cast<std::size_t>(((d > 0 ? d : -d) - 1) / 2)];
      if (d < 0) fp::neg(q.y, q.y);
      point::add_vartime<F>(acc, acc, q);
    }
    if (const int d = sd[static_cast<std::size_t>(i)]; d != 0) {
      point::Affine q = g_odd[static_cast<std::size_t>(((d > 0 ? d : -d) - 1) / 2)];
      if (d < 0) fp::neg(q.y, q.y);
      point::add_affine_vartime<F>(acc, acc, q);
    }
  }
  return to_boundary(acc);
}

template <class F>
bool affine_x_matches_mod_n_impl(const JacobianPoint& p_in, const Scalar& c) noexcept {
  const point::Jacobian p = to_internal(p_in);
  fp::Fe zz;
  F::sqr(zz, p.z);
  // X = x·Z² for the plain candidate x (below p).
  const auto matches = [&](const fp::Fe& x) {
    fp::Fe m;
    F::mul(m, x, fp::kR2);
    F::mul(m, m, zz);
    return fp::equal(m, p.x) != 0;
  };
  const fp::Fe x{{c.v[0], c.v[1], c.v[2], c.v[3]}};
  if (matches(x)) return true;
  // x1 < p < 2n, so the only other candidate is c + n, when it is below p.
  fp::Fe x2;
  u64 carry = 0, borrow = 0;
  for (int i = 0; i < 4; ++i) x2.v[i] = limb::adc(c.v[i], scalar::kN.v[i], carry, carry);
  for (int i = 0; i < 4; ++i) limb::sbb(x2.v[i], fp::kP.v[i], borrow, borrow);
  return carry == 0 && borrow == 1 && matches(x2);
}

template <class F>
bool is_affine_form_impl(const JacobianPoint& p_in, const JacobianPoint& a_in) noexcept {
  const point::Jacobian p = to_internal(p_in);
  const point::Jacobian a = to_internal(a_in);
  fp::Fe zz, zzz, x, y;
  F::sqr(zz, p.z);
  F::mul(zzz, zz, p.z);
  F::mul(x, a.x, zz);
  F::mul(y, a.y, zzz);
  return (~fp::is_zero(p.z) & fp::equal(x, p.x) & fp::equal(y, p.y)) != 0;
}

}  // namespace

const CurveParams& init_curve_params() {
  static const CurveParams params = build_curve_params();
  return params;
}

JacobianPoint double_(JacobianPoint p) noexcept {
  point::Jacobian j = to_internal(p);
  point::dbl(j, j);
  return JacobianPoint{p256_field::from_montgomery(j.x), p256_field::from_montgomery(j.y),
                       p256_field::from_montgomery(j.z)};
}

JacobianPoint add(JacobianPoint p, JacobianPoint q) noexcept {
  if (is_infinity(p)) return q;
  if (is_infinity(q)) return p;
  if (p == q) return double_(p);
  point::Jacobian r;
  point::add(r, to_internal(p), to_internal(q), /*complete=*/true);
  return JacobianPoint{p256_field::from_montgomery(r.x), p256_field::from_montgomery(r.y),
                       p256_field::from_montgomery(r.z)};
}

JacobianPoint negate(JacobianPoint p) noexcept { return JacobianPoint{p.x, sub(p256_field::kZero, p.y), p.z}; }

JacobianPoint to_affine(JacobianPoint p) noexcept {
  return with_field([&](auto f) { return to_affine_impl<decltype(f)>(p); });
}

std::pair<JacobianPoint, JacobianPoint> to_affine_pair(JacobianPoint p, JacobianPoint q) noexcept {
  return with_field([&](auto f) { return to_affine_pair_impl<decltype(f)>(p, q); });
}

JacobianPoint to_affine_public(JacobianPoint p) noexcept {
  // With z = 1 only the coordinates may need reducing (x·1 mod p).
  if (p.z == p256_field::kOne) return JacobianPoint{mul(p.x, p256_field::kOne), mul(p.y, p256_field::kOne), p.z};
  return to_affine(p);
}

Bytes encode_uncompressed(JacobianPoint p) {
  const JacobianPoint a = to_affine_public(p);
  Bytes out(65);
  out[0] = 0x04;
  p256_field::write_bytes(a.x, out.data() + 1);
  p256_field::write_bytes(a.y, out.data() + 33);
  return out;
}

std::expected<JacobianPoint, Sm2Error> decode_point(ByteView bytes) {
  if (bytes.empty()) return std::unexpected(Sm2Error::InvalidPublicKey);
  const std::uint8_t prefix = bytes[0];
  if (prefix == 0x02 || prefix == 0x03) {
    if (bytes.size() != 33) return std::unexpected(Sm2Error::InvalidPublicKey);
    const FieldElement x = p256_field::from_bytes(bytes.data() + 1);
    const FieldElement alpha = add(add(mul(mul(x, x), x), mul(kA, x)), kB);
    auto root = p256_field::sqrt(alpha);
    if (!root) return std::unexpected(root.error());
    FieldElement y = *root;
    const bool odd = (y.w[7] & 1) != 0;
    if ((prefix == 0x02) == odd) y = sub(p256_field::kZero, y);
    return JacobianPoint{x, y, p256_field::kOne};
  }
  if (bytes.size() != 65) return std::unexpected(Sm2Error::InvalidPublicKey);
  return JacobianPoint{p256_field::from_bytes(bytes.data() + 1), p256_field::from_bytes(bytes.data() + 33),
                       p256_field::kOne};
}

bool is_on_curve(JacobianPoint p) noexcept {
  static const fp::Fe b = p256_field::to_montgomery(kB);
  return point::on_curve(to_internal(p), b) != 0;
}

int booth_digit(const Scalar& k, int index, int bits) noexcept {
  const Digit d = booth(k, index, bits);
  const int m = static_cast<int>(d.magnitude);
  return static_cast<int>(ct::select(d.negative, static_cast<u64>(-m), static_cast<u64>(m)));
}

JacobianPoint mul_base(const Scalar& k) noexcept {
  return with_field([&](auto f) { return mul_base_impl<decltype(f)>(k); });
}

std::expected<JacobianPoint, Sm2Error> mul_base(const BIGNUM& k) {
  auto bits = p256_field::from_biguint(k);
  if (!bits) return std::unexpected(bits.error());
  std::uint8_t be[32];
  p256_field::write_bytes(*bits, be);
  return mul_base(Scalar::from_bytes(be));
}

JacobianPoint mul_point(const Scalar& k, const JacobianPoint& p) noexcept {
  return with_field([&](auto f) { return mul_point_impl<decltype(f)>(k, p); });
}

JacobianPoint mul_base_point_vartime(const Scalar& s, const Scalar& t, const JacobianPoint& p) noexcept {
  return with_field([&](auto f) { return mul_base_point_vartime_impl<decltype(f)>(s, t, p); });
}

bool affine_x_matches_mod_n_vartime(const JacobianPoint& p, const Scalar& c) noexcept {
  return with_field([&](auto f) { return affine_x_matches_mod_n_impl<decltype(f)>(p, c); });
}

bool is_affine_form(const JacobianPoint& p, const JacobianPoint& a) noexcept {
  return with_field([&](auto f) { return is_affine_form_impl<decltype(f)>(p, a); });
}

std::expected<JacobianPoint, Sm2Error> mul_point(const BIGNUM& k, JacobianPoint p) {
  auto bits = p256_field::from_biguint(k);
  if (!bits) return std::unexpected(bits.error());
  std::uint8_t be[32];
  p256_field::write_bytes(*bits, be);
  return mul_point(Scalar::from_bytes(be), p);
}

}  // namespace tarnwick::sm2::p256_ecc
