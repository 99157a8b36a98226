#include "crypto/sm2/modinv.h"

#include "support/ct.h"
#include "support/secret.h"

namespace tarnwick::sm2::modinv {
namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;
using i128 = __int128;

constexpr u64 kM62 = ~u64{0} >> 2;

// Signed62 is a signed value Σ v[i]·2^(62i); between the steps each of
// v[0..3] lies in 0 … 2^62 − 1 and v[4] carries the sign.
struct Signed62 {
  i64 v[5];
};

// Trans is the transition matrix [u v; q r] of a batch of division steps,
// scaled by 2^62.
struct Trans {
  i64 u, v, q, r;
};

// divsteps_59 applies 59 division steps to the low bits f0, g0 of f and g
// and returns the new zeta (zeta = −(delta + 1/2)), with the matrix that
// does the same to the whole values in `t`. Branch-free: every choice is a
// mask of zeta's sign and g's low bit.
i64 divsteps_59(i64 zeta, u64 f0, u64 g0, Trans& t) noexcept {
  // u, v, q, r are signed values kept modulo 2^64 so that left shifts are
  // defined; they start as 8·I, so 59 steps scale them to 2^62.
  u64 u = 8, v = 0, q = 0, r = 8;
  u64 f = f0, g = g0;
  for (int i = 3; i < 62; ++i) {
    // c1: zeta < 0; c2: g odd.
    u64 c1 = ct::value_barrier(static_cast<u64>(zeta >> 63));
    const u64 c2 = ct::value_barrier(0 - (g & 1));
    // x, y, z: f, u, v negated when zeta < 0.
    const u64 x = (f ^ c1) - c1;
    const u64 y = (u ^ c1) - c1;
    const u64 z = (v ^ c1) - c1;
    // g, q, r += x, y, z when g is odd.
    g += x & c2;
    q += y & c2;
    r += z & c2;
    // Both conditions: swap in (g, q, r) for (f, u, v) and negate zeta.
    c1 &= c2;
    zeta = (zeta ^ static_cast<i64>(c1)) - 1;
    f += g & c1;
    u += q & c1;
    v += r & c1;
    g >>= 1;
    u <<= 1;
    v <<= 1;
  }
  t.u = static_cast<i64>(u);
  t.v = static_cast<i64>(v);
  t.q = static_cast<i64>(q);
  t.r = static_cast<i64>(r);
  return zeta;
}

// update_de sets [d, e] = t·[d, e] / 2^62 modulo the modulus, adding
// multiples of it so that the division is exact. d and e stay in
// (−2m, m).
void update_de(Signed62& d, Signed62& e, const Trans& t, const Modulus& m) noexcept {
  const i64 d0 = d.v[0], d1 = d.v[1], d2 = d.v[2], d3 = d.v[3], d4 = d.v[4];
  const i64 e0 = e.v[0], e1 = e.v[1], e2 = e.v[2], e3 = e.v[3], e4 = e.v[4];
  const i64 u = t.u, v = t.v, q = t.q, r = t.r;
  // [md, me] start as [u, q] if d is negative, plus [v, r] if e is.
  const i64 sd = d4 >> 63, se = e4 >> 63;
  i64 md = (u & sd) + (v & se);
  i64 me = (q & sd) + (r & se);
  i128 cd = static_cast<i128>(u) * d0 + static_cast<i128>(v) * e0;
  i128 ce = static_cast<i128>(q) * d0 + static_cast<i128>(r) * e0;
  // Choose md, me so that t·[d, e] + m·[md, me] ends in 62 zero bits.
  md -= static_cast<i64>((m.inv62 * static_cast<u64>(cd) + static_cast<u64>(md)) & kM62);
  me -= static_cast<i64>((m.inv62 * static_cast<u64>(ce) + static_cast<u64>(me)) & kM62);
  cd += static_cast<i128>(m.v[0]) * md;
  ce += static_cast<i128>(m.v[0]) * me;
  cd >>= 62;
  ce >>= 62;
  const i64 dl[4] = {d1, d2, d3, d4};
  const i64 el[4] = {e1, e2, e3, e4};
  for (int i = 0; i < 4; ++i) {
    cd += static_cast<i128>(u) * dl[i] + static_cast<i128>(v) * el[i] + static_cast<i128>(m.v[i + 1]) * md;
    ce += static_cast<i128>(q) * dl[i] + static_cast<i128>(r) * el[i] + static_cast<i128>(m.v[i + 1]) * me;
    if (i < 3) {
      d.v[i] = static_cast<i64>(static_cast<u64>(cd) & kM62);
      e.v[i] = static_cast<i64>(static_cast<u64>(ce) & kM62);
      cd >>= 62;
      ce >>= 62;
    }
  }
  d.v[3] = static_cast<i64>(static_cast<u64>(cd) & kM62);
  e.v[3] = static_cast<i64>(static_cast<u64>(ce) & kM62);
  cd >>= 62;
  ce >>= 62;
  d.v[4] = static_cast<i64>(cd);
  e.v[4] = static_cast<i64>(ce);
}

// update_fg sets [f, g] = t·[f, g] / 2^62 (exact).
void update_fg(Signed62& f, Signed62& g, const Trans& t) noexcept {
  const i64 u = t.u, v = t.v, q = t.q, r = t.r;
  i128 cf = static_cast<i128>(u) * f.v[0] + static_cast<i128>(v) * g.v[0];
  i128 cg = static_cast<i128>(q) * f.v[0] + static_cast<i128>(r) * g.v[0];
  cf >>= 62;
  cg >>= 62;
  for (int i = 1; i < 5; ++i) {
    cf += static_cast<i128>(u) * f.v[i] + static_cast<i128>(v) * g.v[i];
    cg += static_cast<i128>(q) * f.v[i] + static_cast<i128>(r) * g.v[i];
    f.v[i - 1] = static_cast<i64>(static_cast<u64>(cf) & kM62);
    g.v[i - 1] = static_cast<i64>(static_cast<u64>(cg) & kM62);
    cf >>= 62;
    cg >>= 62;
  }
  f.v[4] = static_cast<i64>(cf);
  g.v[4] = static_cast<i64>(cg);
}

// normalize brings r from (−2m, m) to 0 … m − 1, negated first when `sign`
// is negative.
void normalize(Signed62& r, i64 sign, const Modulus& m) noexcept {
  constexpr i64 kM62s = static_cast<i64>(kM62);
  i64 r0 = r.v[0], r1 = r.v[1], r2 = r.v[2], r3 = r.v[3], r4 = r.v[4];
  // Add m if negative, then negate if asked: now in (−m, m).
  i64 add = static_cast<i64>(ct::value_barrier(static_cast<u64>(r4 >> 63)));
  r0 += m.v[0] & add;
  r1 += m.v[1] & add;
  r2 += m.v[2] & add;
  r3 += m.v[3] & add;
  r4 += m.v[4] & add;
  const i64 neg = static_cast<i64>(ct::value_barrier(static_cast<u64>(sign >> 63)));
  r0 = (r0 ^ neg) - neg;
  r1 = (r1 ^ neg) - neg;
  r2 = (r2 ^ neg) - neg;
  r3 = (r3 ^ neg) - neg;
  r4 = (r4 ^ neg) - neg;
  r1 += r0 >> 62;
  r0 &= kM62s;
  r2 += r1 >> 62;
  r1 &= kM62s;
  r3 += r2 >> 62;
  r2 &= kM62s;
  r4 += r3 >> 62;
  r3 &= kM62s;
  // Add m once more if still negative: now in 0 … m − 1.
  add = static_cast<i64>(ct::value_barrier(static_cast<u64>(r4 >> 63)));
  r0 += m.v[0] & add;
  r1 += m.v[1] & add;
  r2 += m.v[2] & add;
  r3 += m.v[3] & add;
  r4 += m.v[4] & add;
  r1 += r0 >> 62;
  r0 &= kM62s;
  r2 += r1 >> 62;
  r1 &= kM62s;
  r3 += r2 >> 62;
  r2 &= kM62s;
  r4 += r3 >> 62;
  r3 &= kM62s;
  r.v[0] = r0;
  r.v[1] = r1;
  r.v[2] = r2;
  r.v[3] = r3;
  r.v[4] = r4;
}

}  // namespace

const Modulus kP{{0x3FFFFFFFFFFFFFFF, 0x3FFFFFFC00000003, 0x3FFFFFFFFFFFFFFF, 0x3FFFFFBFFFFFFFFF, 0xFF},
                 0x3FFFFFFFFFFFFFFF};
const Modulus kN{{0x13BBF40939D54123, 0x080F7DAC871814AD, 0x3FFFFFFFFFFFFFF7, 0x3FFFFFBFFFFFFFFF, 0xFF},
                 0x0D8061778DCAF68B};

void invert(std::uint64_t out[4], const std::uint64_t x[4], const Modulus& m) noexcept {
  Signed62 d{{0, 0, 0, 0, 0}};
  Signed62 e{{1, 0, 0, 0, 0}};
  Signed62 f{{m.v[0], m.v[1], m.v[2], m.v[3], m.v[4]}};
  Signed62 g{{static_cast<i64>(x[0] & kM62), static_cast<i64>(((x[0] >> 62) | (x[1] << 2)) & kM62),
              static_cast<i64>(((x[1] >> 60) | (x[2] << 4)) & kM62),
              static_cast<i64>(((x[2] >> 58) | (x[3] << 6)) & kM62), static_cast<i64>(x[3] >> 56)}};
  i64 zeta = -1;  // delta = 1/2
  Trans t;
  for (int i = 0; i < 10; ++i) {
    zeta = divsteps_59(zeta, static_cast<u64>(f.v[0]), static_cast<u64>(g.v[0]), t);
    update_de(d, e, t, m);
    update_fg(f, g, t);
  }
  // g = 0 and f = ±1 now (or f = ±m and d = 0 when x = 0); d = ±x⁻¹.
  normalize(d, f.v[4], m);
  const u64 r0 = static_cast<u64>(d.v[0]), r1 = static_cast<u64>(d.v[1]), r2 = static_cast<u64>(d.v[2]),
            r3 = static_cast<u64>(d.v[3]), r4 = static_cast<u64>(d.v[4]);
  out[0] = r0 | (r1 << 62);
  out[1] = (r1 >> 2) | (r2 << 60);
  out[2] = (r2 >> 4) | (r3 << 58);
  out[3] = (r3 >> 6) | (r4 << 56);
  // x may be secret ((1 + d) in signing, z of a shared point): so are the
  // state and the last transition.
  wipe_object(d);
  wipe_object(e);
  wipe_object(f);
  wipe_object(g);
  wipe_object(t);
}

}  // namespace tarnwick::sm2::modinv
