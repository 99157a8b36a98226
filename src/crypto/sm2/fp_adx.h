// The Montgomery multiplication and squaring of fp.h with MULX, ADCX and
// ADOX (BMI2 and ADX): the 512-bit product is summed by two independent
// carry chains (ADCX on the carry flag for the low halves, ADOX on the
// overflow flag for the high halves), which intrinsics cannot express, so
// the functions are GNU extended inline assembly. As in fp.h,
// p ≡ −1 (mod 2^64), so each reduction step adds m·p for m = the lowest
// limb, by shifts, one carry chain and one borrow chain, with no
// multiplication. The additions, subtraction, small multiples and halving
// the point formulas use are assembly too: the compiled fp::add and fp::sub
// break their carry chains into SETC and re-added bytes, and these are the
// short chains with the final subtraction by conditional moves.
//
// The caller must have found `Adx::kFeatures` with cpu::has. Every function
// runs in constant time (one fixed instruction sequence, the final
// subtraction kept or dropped by conditional moves or masks) and returns
// the same limbs as its Portable twin for every operand that one accepts.
#pragma once

#include <cstdint>

#include "crypto/sm2/fp.h"
#include "support/cpu.h"

#if defined(__x86_64__)
#define TARNWICK_SM2_FP_ADX 1
#endif

namespace tarnwick::sm2::fp {

// Portable is the field backend in plain C++ (fp.h). The point code and the
// scalar multiplications are templates over a backend, so the choice is
// made once per operation.
//
// Both backends have the same members with the same contracts and return
// the same limbs (every result is fully reduced, so unique): mul and sqr;
// add, sub, mul_by_2, mul_by_3 and half for operands below p.
struct Portable {
  [[gnu::always_inline]] static void mul(Fe& r, const Fe& a, const Fe& b) noexcept { fp::mul(r, a, b); }
  [[gnu::always_inline]] static void sqr(Fe& r, const Fe& a) noexcept { fp::sqr(r, a); }
  [[gnu::always_inline]] static void add(Fe& r, const Fe& a, const Fe& b) noexcept { fp::add(r, a, b); }
  [[gnu::always_inline]] static void sub(Fe& r, const Fe& a, const Fe& b) noexcept { fp::sub(r, a, b); }
  [[gnu::always_inline]] static void mul_by_2(Fe& r, const Fe& a) noexcept { fp::add(r, a, a); }
  [[gnu::always_inline]] static void mul_by_3(Fe& r, const Fe& a) noexcept {
    Fe t;
    fp::add(t, a, a);
    fp::add(r, t, a);
  }
  [[gnu::always_inline]] static void half(Fe& r, const Fe& a) noexcept { fp::half(r, a); }
};

#if defined(TARNWICK_SM2_FP_ADX)

// The operands of the assembly. An optimising build passes each limb as a
// memory operand, which the compiler addresses as it likes (often from the
// stack frame, with no register); an unoptimised or sanitized build has too
// few registers left for that, so there an operand is a pointer register
// and the limbs are at 8·i from it, with a memory clobber.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_SM2_FP_ASAN 1
#endif
#endif
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__) && !defined(TARNWICK_SM2_FP_ASAN)
#define TARNWICK_SM2_LIMB(N, I) "%[" #N #I "]"
#define TARNWICK_SM2_IN(N, A) [N##0] "m"((A).v[0]), [N##1] "m"((A).v[1]), [N##2] "m"((A).v[2]), [N##3] "m"((A).v[3])
#define TARNWICK_SM2_CLOBBERS "cc"
#else
#define TARNWICK_SM2_LIMB(N, I) #I "*8(%[" #N "])"
#define TARNWICK_SM2_IN(N, A) [N] "r"((A).v)
#define TARNWICK_SM2_CLOBBERS "cc", "memory"
#endif

// The Montgomery reduction of t = t_lo + t_hi·2^256 (the 512-bit value in
// %[t0] … %[t7], below p·R) uses (t + M·p)/R = t_hi + (t_lo + M·p)/R: the
// low half alone is reduced in place, in four steps, and t_hi added after.
//
// One step removes the lowest limb m of the four in registers T, N1, N2, N3
// and leaves the value (acc + m·p)/2^64 in N1, N2, N3, T, by adding
//   m·(p + 1)/2^64 = [m, 0, 0, m] − [m·2^32 mod 2^64, m >> 32,
//                                   m·2^32 mod 2^64, m >> 32]
// (limbs of 2^64, least significant first), first the positive part and
// then the negative one. (A MULX by 2^32 for both halves of m·2^32 is
// fewer instructions but longer on the chain from one step to the next, and
// slower.) The exact result is below 2^256 (below 2^192 + p), so the limbs
// computed modulo 2^256 are exact and the carry and borrow out of the top
// limb are dropped. L and H are scratch.
#define TARNWICK_SM2_REDUCE_STEP(T, N1, N2, N3, L, H) \
  "mov " T ", " L "\n\t"                              \
  "shl $32, " L "\n\t"                                \
  "mov " T ", " H "\n\t"                              \
  "shr $32, " H "\n\t"                                \
  "add " T ", " N1 "\n\t"                             \
  "adc $0, " N2 "\n\t"                                \
  "adc $0, " N3 "\n\t"                                \
  "adc $0, " T "\n\t"                                 \
  "sub " L ", " N1 "\n\t"                             \
  "sbb " H ", " N2 "\n\t"                             \
  "sbb " L ", " N3 "\n\t"                             \
  "sbb " H ", " T "\n\t"

// TARNWICK_SM2_SELECT_BELOW_P: the value C·2^256 + (R0 … R3), below 2p,
// where C is 0 or all ones, becomes that value minus p when it is at least
// p. The copy in S0 … S3 has p subtracted; the borrow out of it, taken from
// C, leaves the carry flag set exactly when C = 0 and the subtraction
// borrowed (the value was below p), and the copy replaces R0 … R3 by
// conditional moves otherwise. %[p1] and %[p3] are limbs of p (p0 = p2 =
// 2^64 − 1, an immediate).
#define TARNWICK_SM2_SELECT_BELOW_P(R0, R1, R2, R3, S0, S1, S2, S3, C) \
  "mov " R0 ", " S0 "\n\t"                                            \
  "sub $-1, " S0 "\n\t"                                               \
  "mov " R1 ", " S1 "\n\t"                                            \
  "sbb %[p1], " S1 "\n\t"                                             \
  "mov " R2 ", " S2 "\n\t"                                            \
  "sbb $-1, " S2 "\n\t"                                               \
  "mov " R3 ", " S3 "\n\t"                                            \
  "sbb %[p3], " S3 "\n\t"                                             \
  "sbb $0, " C "\n\t"                                                 \
  "cmovae " S0 ", " R0 "\n\t"                                         \
  "cmovae " S1 ", " R1 "\n\t"                                         \
  "cmovae " S2 ", " R2 "\n\t"                                         \
  "cmovae " S3 ", " R3 "\n\t"

// TARNWICK_SM2_REDUCE: the four steps leave u = (t_lo + M·p)/R ≤ p in %[t0] … %[t3]; u + t_hi (below 2p, since
// t_hi < p) goes to %[t4] … %[t7] with its carry as a mask in H, and p is
// subtracted unless that borrows. The result is in %[t4] … %[t7];
// %[t0] … %[t3], L and H are clobbered.
#define TARNWICK_SM2_REDUCE(L, H)                                                                      \
  TARNWICK_SM2_REDUCE_STEP("%[t0]", "%[t1]", "%[t2]", "%[t3]", L, H)                                   \
  TARNWICK_SM2_REDUCE_STEP("%[t1]", "%[t2]", "%[t3]", "%[t0]", L, H)                                   \
  TARNWICK_SM2_REDUCE_STEP("%[t2]", "%[t3]", "%[t0]", "%[t1]", L, H)                                   \
  TARNWICK_SM2_REDUCE_STEP("%[t3]", "%[t0]", "%[t1]", "%[t2]", L, H)                                   \
  "add %[t0], %[t4]\n\t"                                                                             \
  "adc %[t1], %[t5]\n\t"                                                                             \
  "adc %[t2], %[t6]\n\t"                                                                             \
  "adc %[t3], %[t7]\n\t"                                                                             \
  "sbb " H ", " H "\n\t"                                                                             \
  TARNWICK_SM2_SELECT_BELOW_P("%[t4]", "%[t5]", "%[t6]", "%[t7]", "%[t0]", "%[t1]", "%[t2]", "%[t3]", H)

// One row of a product: adds %%rdx·(the four limbs B0 … B3) to the limbs
// R0 … R4, where R4 is zeroed by the XOR that also clears CF and OF; low
// halves go up the CF chain, high halves up the OF chain, and the last CF
// lands in R4 (no overflow: the partial product fits its limbs).
#define TARNWICK_SM2_MUL_ROW(B0, B1, B2, B3, R0, R1, R2, R3, R4) \
  "xor %k[" R4 "], %k[" R4 "]\n\t"                              \
  "mulx " B0 ", %[x2], %[x3]\n\t"                               \
  "adcx %[x2], %[" R0 "]\n\t"                                   \
  "adox %[x3], %[" R1 "]\n\t"                                   \
  "mulx " B1 ", %[x2], %[x3]\n\t"                               \
  "adcx %[x2], %[" R1 "]\n\t"                                   \
  "adox %[x3], %[" R2 "]\n\t"                                   \
  "mulx " B2 ", %[x2], %[x3]\n\t"                               \
  "adcx %[x2], %[" R2 "]\n\t"                                   \
  "adox %[x3], %[" R3 "]\n\t"                                   \
  "mulx " B3 ", %[x2], %[x3]\n\t"                               \
  "adcx %[x2], %[" R3 "]\n\t"                                   \
  "adox %[x3], %[" R4 "]\n\t"                                   \
  "adc $0, %[" R4 "]\n\t"

// A row of a·b: the limbs of b as the four operands.
#define TARNWICK_SM2_MUL_ROW_B(R0, R1, R2, R3, R4)                                                    \
  TARNWICK_SM2_MUL_ROW(TARNWICK_SM2_LIMB(b, 0), TARNWICK_SM2_LIMB(b, 1), TARNWICK_SM2_LIMB(b, 2), \
                       TARNWICK_SM2_LIMB(b, 3), R0, R1, R2, R3, R4)

// TARNWICK_SM2_ADD_P_MASKED adds p & M to R0 … R3 (the carry out is left in
// CF), for M all ones or zero: p's limbs 0 and 2 are all ones, so M itself,
// and limbs 1 and 3 come from memory through M1 and M3, which it clobbers.
#define TARNWICK_SM2_ADD_P_MASKED(R0, R1, R2, R3, M, M1, M3) \
  "mov " M ", " M1 "\n\t"                                   \
  "and %[p1], " M1 "\n\t"                                   \
  "mov " M ", " M3 "\n\t"                                   \
  "and %[p3], " M3 "\n\t"                                   \
  "add " M ", " R0 "\n\t"                                   \
  "adc " M1 ", " R1 "\n\t"                                  \
  "adc " M ", " R2 "\n\t"                                   \
  "adc " M3 ", " R3 "\n\t"

// Adx is the field backend with MULX, ADCX and ADOX. Besides mul and sqr
// it has the additions and small multiples the point formulas use, in
// assembly too (each a few instructions shorter than the compiled
// fp::add and fp::sub), with the same contracts as Portable's.
struct Adx {
  static constexpr std::uint32_t kFeatures = cpu::kBmi2 | cpu::kAdx;

  // mul sets `r` = a·b·R⁻¹ mod p, for the operands fp::mul accepts. `r`
  // may alias either operand.
  [[gnu::always_inline]] static void mul(Fe& r, const Fe& a, const Fe& b) noexcept {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, x2, x3, rdx;
    __asm__(
        "mov " TARNWICK_SM2_LIMB(a, 0) ", %%rdx\n\t"
        "mulx " TARNWICK_SM2_LIMB(b, 0) ", %[t0], %[t1]\n\t"
        "mulx " TARNWICK_SM2_LIMB(b, 1) ", %[x2], %[t2]\n\t"
        "add %[x2], %[t1]\n\t"
        "mulx " TARNWICK_SM2_LIMB(b, 2) ", %[x2], %[t3]\n\t"
        "adc %[x2], %[t2]\n\t"
        "mulx " TARNWICK_SM2_LIMB(b, 3) ", %[x2], %[t4]\n\t"
        "adc %[x2], %[t3]\n\t"
        "adc $0, %[t4]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 1) ", %%rdx\n\t"
        TARNWICK_SM2_MUL_ROW_B("t1", "t2", "t3", "t4", "t5")
        "mov " TARNWICK_SM2_LIMB(a, 2) ", %%rdx\n\t"
        TARNWICK_SM2_MUL_ROW_B("t2", "t3", "t4", "t5", "t6")
        "mov " TARNWICK_SM2_LIMB(a, 3) ", %%rdx\n\t"
        TARNWICK_SM2_MUL_ROW_B("t3", "t4", "t5", "t6", "t7")
        TARNWICK_SM2_REDUCE("%[x2]", "%[x3]")
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
          [t6] "=&r"(t6), [t7] "=&r"(t7), [x2] "=&r"(x2), [x3] "=&r"(x3), "=&d"(rdx)
        : TARNWICK_SM2_IN(a, a), TARNWICK_SM2_IN(b, b), [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : TARNWICK_SM2_CLOBBERS);
    r.v[0] = t4;
    r.v[1] = t5;
    r.v[2] = t6;
    r.v[3] = t7;
    // An unoptimised build keeps every operand in a stack slot of the
    // caller's frame; clear them (an optimising build holds them in
    // registers and drops these stores).
    t0 = t1 = t2 = t3 = t4 = t5 = t6 = t7 = x2 = x3 = rdx = 0;
  }

  // sqr sets `r` = a²·R⁻¹ mod p. `r` may alias `a`.
  [[gnu::always_inline]] static void sqr(Fe& r, const Fe& a) noexcept {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, x2, x3, rdx;
    __asm__(
        // The products a_i·a_j for i < j.
        "mov " TARNWICK_SM2_LIMB(a, 0) ", %%rdx\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 1) ", %[t1], %[t2]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 2) ", %[x2], %[t3]\n\t"
        "add %[x2], %[t2]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 3) ", %[x2], %[t4]\n\t"
        "adc %[x2], %[t3]\n\t"
        "adc $0, %[t4]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 1) ", %%rdx\n\t"
        "xor %k[t5], %k[t5]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 2) ", %[x2], %[x3]\n\t"
        "adcx %[x2], %[t3]\n\t"
        "adox %[x3], %[t4]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 3) ", %[x2], %[x3]\n\t"
        "adcx %[x2], %[t4]\n\t"
        "adox %[x3], %[t5]\n\t"
        "adc $0, %[t5]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 2) ", %%rdx\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 3) ", %[x2], %[t6]\n\t"
        "add %[x2], %[t5]\n\t"
        "adc $0, %[t6]\n\t"
        // Doubled on the CF chain, plus the squares a_i² on the OF chain.
        "xor %k[t7], %k[t7]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 0) ", %%rdx\n\t"
        "mulx %%rdx, %[t0], %[x3]\n\t"
        "adcx %[t1], %[t1]\n\t"
        "adox %[x3], %[t1]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 1) ", %%rdx\n\t"
        "mulx %%rdx, %[x2], %[x3]\n\t"
        "adcx %[t2], %[t2]\n\t"
        "adox %[x2], %[t2]\n\t"
        "adcx %[t3], %[t3]\n\t"
        "adox %[x3], %[t3]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 2) ", %%rdx\n\t"
        "mulx %%rdx, %[x2], %[x3]\n\t"
        "adcx %[t4], %[t4]\n\t"
        "adox %[x2], %[t4]\n\t"
        "adcx %[t5], %[t5]\n\t"
        "adox %[x3], %[t5]\n\t"
        "mov " TARNWICK_SM2_LIMB(a, 3) ", %%rdx\n\t"
        "mulx %%rdx, %[x2], %[x3]\n\t"
        "adcx %[t6], %[t6]\n\t"
        "adox %[x2], %[t6]\n\t"
        "adcx %[t7], %[t7]\n\t"
        "adox %[x3], %[t7]\n\t"
        TARNWICK_SM2_REDUCE("%[x2]", "%[x3]")
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
          [t6] "=&r"(t6), [t7] "=&r"(t7), [x2] "=&r"(x2), [x3] "=&r"(x3), "=&d"(rdx)
        : TARNWICK_SM2_IN(a, a), [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : TARNWICK_SM2_CLOBBERS);
    r.v[0] = t4;
    r.v[1] = t5;
    r.v[2] = t6;
    r.v[3] = t7;
    t0 = t1 = t2 = t3 = t4 = t5 = t6 = t7 = x2 = x3 = rdx = 0;
  }

  // add sets `r` = a + b mod p, for a and b below p.
  [[gnu::always_inline]] static void add(Fe& r, const Fe& a, const Fe& b) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3], s0, s1, s2, s3, c;
    __asm__(
        "add %[b0], %[r0]\n\t"
        "adc %[b1], %[r1]\n\t"
        "adc %[b2], %[r2]\n\t"
        "adc %[b3], %[r3]\n\t"
        "sbb %[c], %[c]\n\t"
        TARNWICK_SM2_SELECT_BELOW_P("%[r0]", "%[r1]", "%[r2]", "%[r3]", "%[s0]", "%[s1]", "%[s2]", "%[s3]",
                                    "%[c]")
        : [r0] "+&r"(r0), [r1] "+&r"(r1), [r2] "+&r"(r2), [r3] "+&r"(r3), [s0] "=&r"(s0), [s1] "=&r"(s1),
          [s2] "=&r"(s2), [s3] "=&r"(s3), [c] "=&r"(c)
        : [b0] "rm"(b.v[0]), [b1] "rm"(b.v[1]), [b2] "rm"(b.v[2]), [b3] "rm"(b.v[3]), [p1] "m"(kP.v[1]),
          [p3] "m"(kP.v[3])
        : "cc");
    r.v[0] = r0;
    r.v[1] = r1;
    r.v[2] = r2;
    r.v[3] = r3;
    s0 = s1 = s2 = s3 = c = 0;
  }

  // mul_by_2 sets `r` = 2a mod p, for a below p.
  [[gnu::always_inline]] static void mul_by_2(Fe& r, const Fe& a) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3], s0, s1, s2, s3, c;
    __asm__(
        "add %[r0], %[r0]\n\t"
        "adc %[r1], %[r1]\n\t"
        "adc %[r2], %[r2]\n\t"
        "adc %[r3], %[r3]\n\t"
        "sbb %[c], %[c]\n\t"
        TARNWICK_SM2_SELECT_BELOW_P("%[r0]", "%[r1]", "%[r2]", "%[r3]", "%[s0]", "%[s1]", "%[s2]", "%[s3]",
                                    "%[c]")
        : [r0] "+&r"(r0), [r1] "+&r"(r1), [r2] "+&r"(r2), [r3] "+&r"(r3), [s0] "=&r"(s0), [s1] "=&r"(s1),
          [s2] "=&r"(s2), [s3] "=&r"(s3), [c] "=&r"(c)
        : [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : "cc");
    r.v[0] = r0;
    r.v[1] = r1;
    r.v[2] = r2;
    r.v[3] = r3;
    s0 = s1 = s2 = s3 = c = 0;
  }

  // mul_by_3 sets `r` = 3a mod p, for a below p: the five-limb product
  // h·2^256 + l by MULX (h ≤ 2), then l + h·(2^256 − p), where 2^256 − p =
  // [1, 2^32 − 1, 0, 2^32] = 2^224 + 2^96 − 2^64 + 1, which is below
  // 2^256 + 2^226 and so below 2p, with its carry as a mask; then one
  // conditional subtraction of p.
  [[gnu::always_inline]] static void mul_by_3(Fe& r, const Fe& a) noexcept {
    u64 r0, r1, r2, r3, h0, h1, h2, h3, x, rdx;
    __asm__(
        "mov $3, %%edx\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 0) ", %[r0], %[h0]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 1) ", %[r1], %[h1]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 2) ", %[r2], %[h2]\n\t"
        "mulx " TARNWICK_SM2_LIMB(a, 3) ", %[r3], %[h3]\n\t"
        "add %[h0], %[r1]\n\t"
        "adc %[h1], %[r2]\n\t"
        "adc %[h2], %[r3]\n\t"
        "adc $0, %[h3]\n\t"
        // h·2^32 in %[x], h·(2^32 − 1) in %[h2].
        "mov %[h3], %[x]\n\t"
        "shl $32, %[x]\n\t"
        "mov %[x], %[h2]\n\t"
        "sub %[h3], %[h2]\n\t"
        "add %[h3], %[r0]\n\t"
        "adc %[h2], %[r1]\n\t"
        "adc $0, %[r2]\n\t"
        "adc %[x], %[r3]\n\t"
        "sbb %[x], %[x]\n\t"
        TARNWICK_SM2_SELECT_BELOW_P("%[r0]", "%[r1]", "%[r2]", "%[r3]", "%[h0]", "%[h1]", "%[h2]", "%[h3]",
                                    "%[x]")
        : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [h0] "=&r"(h0), [h1] "=&r"(h1),
          [h2] "=&r"(h2), [h3] "=&r"(h3), [x] "=&r"(x), "=&d"(rdx)
        : TARNWICK_SM2_IN(a, a), [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : TARNWICK_SM2_CLOBBERS);
    r.v[0] = r0;
    r.v[1] = r1;
    r.v[2] = r2;
    r.v[3] = r3;
    h0 = h1 = h2 = h3 = x = rdx = 0;
  }

  // sub sets `r` = a − b mod p, for a and b below p: on a borrow, p is
  // added back, masked.
  [[gnu::always_inline]] static void sub(Fe& r, const Fe& a, const Fe& b) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3], m, m1, m3;
    __asm__(
        "sub %[b0], %[r0]\n\t"
        "sbb %[b1], %[r1]\n\t"
        "sbb %[b2], %[r2]\n\t"
        "sbb %[b3], %[r3]\n\t"
        "sbb %[m], %[m]\n\t"
        TARNWICK_SM2_ADD_P_MASKED("%[r0]", "%[r1]", "%[r2]", "%[r3]", "%[m]", "%[m1]", "%[m3]")
        : [r0] "+&r"(r0), [r1] "+&r"(r1), [r2] "+&r"(r2), [r3] "+&r"(r3), [m] "=&r"(m), [m1] "=&r"(m1),
          [m3] "=&r"(m3)
        : [b0] "rm"(b.v[0]), [b1] "rm"(b.v[1]), [b2] "rm"(b.v[2]), [b3] "rm"(b.v[3]), [p1] "m"(kP.v[1]),
          [p3] "m"(kP.v[3])
        : "cc");
    r.v[0] = r0;
    r.v[1] = r1;
    r.v[2] = r2;
    r.v[3] = r3;
    m = m1 = m3 = 0;
  }

  // half sets `r` = a/2 mod p, for a below p: a + p when a is odd (masked),
  // a 257-bit even value, shifted right by one.
  [[gnu::always_inline]] static void half(Fe& r, const Fe& a) noexcept {
    u64 r0 = a.v[0], r1 = a.v[1], r2 = a.v[2], r3 = a.v[3], m, m1, m3;
    __asm__(
        "mov %[r0], %[m]\n\t"
        "and $1, %[m]\n\t"
        "neg %[m]\n\t"
        TARNWICK_SM2_ADD_P_MASKED("%[r0]", "%[r1]", "%[r2]", "%[r3]", "%[m]", "%[m1]", "%[m3]")
        // The carry goes into the top bit; the low bits of r1, r2 and
        // r3 (kept in %[m]) into the limbs below.
        "mov %[r3], %[m]\n\t"
        "rcr $1, %[r3]\n\t"
        "shrd $1, %[r1], %[r0]\n\t"
        "shrd $1, %[r2], %[r1]\n\t"
        "shrd $1, %[m], %[r2]\n\t"
        : [r0] "+&r"(r0), [r1] "+&r"(r1), [r2] "+&r"(r2), [r3] "+&r"(r3), [m] "=&r"(m), [m1] "=&r"(m1),
          [m3] "=&r"(m3)
        : [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : "cc");
    r.v[0] = r0;
    r.v[1] = r1;
    r.v[2] = r2;
    r.v[3] = r3;
    m = m1 = m3 = 0;
  }
};

#undef TARNWICK_SM2_MUL_ROW
#undef TARNWICK_SM2_MUL_ROW_B
#undef TARNWICK_SM2_LIMB
#undef TARNWICK_SM2_IN
#undef TARNWICK_SM2_CLOBBERS
#undef TARNWICK_SM2_FP_ASAN
#undef TARNWICK_SM2_SELECT_BELOW_P
#undef TARNWICK_SM2_ADD_P_MASKED
#undef TARNWICK_SM2_REDUCE
#undef TARNWICK_SM2_REDUCE_STEP

#endif  // TARNWICK_SM2_FP_ADX

}  // namespace tarnwick::sm2::fp
