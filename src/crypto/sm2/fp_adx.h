// The Montgomery multiplication and squaring of fp.h with MULX, ADCX and
// ADOX (BMI2 and ADX): the 512-bit product is summed by two independent
// carry chains (ADCX on the carry flag for the low halves, ADOX on the
// overflow flag for the high halves), which intrinsics cannot express, so
// the two functions are GNU extended inline assembly. As in fp.h,
// p ≡ −1 (mod 2^64), so each reduction step adds m·p for m = the lowest
// limb, by shifts, one carry chain and one borrow chain, with no
// multiplication.
//
// The caller must have found `Adx::kFeatures` with cpu::has. Both functions
// run in constant time (one fixed instruction sequence, the final
// subtraction kept or dropped by conditional moves) and return the same
// limbs as fp::mul and fp::sqr for every operand those accept.
#pragma once

#include <cstdint>

#include "crypto/sm2/fp.h"
#include "support/cpu.h"

#if defined(__x86_64__)
#define TARNWICK_SM2_FP_ADX 1
#endif

namespace tarnwick::sm2::fp {

// Portable is the field backend in plain C++ (fp::mul, fp::sqr). The point
// code and the scalar multiplications are templates over a backend, so the
// choice is made once per operation.
struct Portable {
  [[gnu::always_inline]] static void mul(Fe& r, const Fe& a, const Fe& b) noexcept { fp::mul(r, a, b); }
  [[gnu::always_inline]] static void sqr(Fe& r, const Fe& a) noexcept { fp::sqr(r, a); }
};

#if defined(TARNWICK_SM2_FP_ADX)

// The Montgomery reduction of t = t_lo + t_hi·2^256 (the 512-bit value in
// %[t0] … %[t7], below p·R) uses (t + M·p)/R = t_hi + (t_lo + M·p)/R: the
// low half alone is reduced in place, in four steps, and t_hi added after.
//
// One step removes the lowest limb m of the four in registers T, N1, N2, N3
// and leaves the value (acc + m·p)/2^64 in N1, N2, N3, T, by adding
//   m·(p + 1)/2^64 = [m, 0, 0, m] − [m·2^32 mod 2^64, m >> 32,
//                                   m·2^32 mod 2^64, m >> 32]
// (limbs of 2^64, least significant first), first the positive part and
// then the negative one. The exact result is below 2^256 (below 2^192 + p),
// so the limbs computed modulo 2^256 are exact and the carry and borrow out
// of the top limb are dropped. L and H are scratch.
#define TARNWICK_SM2_REDUCE_STEP(T, N1, N2, N3, L, H) \
  "mov " T ", " L "\n\t"                               \
  "shl $32, " L "\n\t"                                 \
  "mov " T ", " H "\n\t"                               \
  "shr $32, " H "\n\t"                                 \
  "add " T ", " N1 "\n\t"                              \
  "adc $0, " N2 "\n\t"                                 \
  "adc $0, " N3 "\n\t"                                 \
  "adc $0, " T "\n\t"                                  \
  "sub " L ", " N1 "\n\t"                              \
  "sbb " H ", " N2 "\n\t"                              \
  "sbb " L ", " N3 "\n\t"                              \
  "sbb " H ", " T "\n\t"

// TARNWICK_SM2_REDUCE: the four steps leave u = (t_lo + M·p)/R ≤ p in
// %[t0] … %[t3]; u + t_hi (below 2p, since t_hi < p) goes to %[t4] … %[t7]
// with its carry in %[x1], and p is subtracted unless that borrows. The
// result is in %[t4] … %[t7]; %[t0] … %[t3], %[x0] and %[x1] are
// clobbered. %[p1] and %[p3] are limbs of p in memory (p0 = p2 = 2^64 − 1,
// an immediate).
#define TARNWICK_SM2_REDUCE                                                        \
  TARNWICK_SM2_REDUCE_STEP("%[t0]", "%[t1]", "%[t2]", "%[t3]", "%[x0]", "%[x1]") \
  TARNWICK_SM2_REDUCE_STEP("%[t1]", "%[t2]", "%[t3]", "%[t0]", "%[x0]", "%[x1]") \
  TARNWICK_SM2_REDUCE_STEP("%[t2]", "%[t3]", "%[t0]", "%[t1]", "%[x0]", "%[x1]") \
  TARNWICK_SM2_REDUCE_STEP("%[t3]", "%[t0]", "%[t1]", "%[t2]", "%[x0]", "%[x1]") \
  "xor %k[x1], %k[x1]\n\t"                                                       \
  "add %[t0], %[t4]\n\t"                                                         \
  "adc %[t1], %[t5]\n\t"                                                         \
  "adc %[t2], %[t6]\n\t"                                                         \
  "adc %[t3], %[t7]\n\t"                                                         \
  "adc $0, %[x1]\n\t"                                                            \
  "mov %[t4], %[t0]\n\t"                                                         \
  "sub $-1, %[t0]\n\t"                                                           \
  "mov %[t5], %[t1]\n\t"                                                         \
  "sbb %[p1], %[t1]\n\t"                                                         \
  "mov %[t6], %[t2]\n\t"                                                         \
  "sbb $-1, %[t2]\n\t"                                                           \
  "mov %[t7], %[t3]\n\t"                                                         \
  "sbb %[p3], %[t3]\n\t"                                                         \
  "sbb $0, %[x1]\n\t"                                                            \
  "cmovae %[t0], %[t4]\n\t"                                                      \
  "cmovae %[t1], %[t5]\n\t"                                                      \
  "cmovae %[t2], %[t6]\n\t"                                                      \
  "cmovae %[t3], %[t7]\n\t"

// One row of a product: adds %%rdx·(the four limbs at B) to the limbs
// R0 … R4, where R4 is zeroed by the XOR that also clears CF and OF; low
// halves go up the CF chain, high halves up the OF chain, and the last CF
// lands in R4 (no overflow: the partial product fits its limbs).
#define TARNWICK_SM2_MUL_ROW(B, R0, R1, R2, R3, R4) \
  "xor %k[" R4 "], %k[" R4 "]\n\t"                 \
  "mulx 0(" B "), %[x2], %[x3]\n\t"                \
  "adcx %[x2], %[" R0 "]\n\t"                      \
  "adox %[x3], %[" R1 "]\n\t"                      \
  "mulx 8(" B "), %[x2], %[x3]\n\t"                \
  "adcx %[x2], %[" R1 "]\n\t"                      \
  "adox %[x3], %[" R2 "]\n\t"                      \
  "mulx 16(" B "), %[x2], %[x3]\n\t"               \
  "adcx %[x2], %[" R2 "]\n\t"                      \
  "adox %[x3], %[" R3 "]\n\t"                      \
  "mulx 24(" B "), %[x2], %[x3]\n\t"               \
  "adcx %[x2], %[" R3 "]\n\t"                      \
  "adox %[x3], %[" R4 "]\n\t"                      \
  "adc $0, %[" R4 "]\n\t"

// Adx is the field backend with MULX, ADCX and ADOX.
struct Adx {
  static constexpr std::uint32_t kFeatures = cpu::kBmi2 | cpu::kAdx;

  // mul sets `r` = a·b·R⁻¹ mod p, for the operands fp::mul accepts. `r`
  // may alias either operand.
  [[gnu::always_inline]] static void mul(Fe& r, const Fe& a, const Fe& b) noexcept {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, x2, x3, rdx;
    // The operand pointers ride in x0 and x1, which the reduction reuses.
    const u64* x0 = a.v;
    const u64* x1 = b.v;
    __asm__(
        "mov 0(%[x0]), %%rdx\n\t"
        "mulx 0(%[x1]), %[t0], %[t1]\n\t"
        "mulx 8(%[x1]), %[x2], %[t2]\n\t"
        "add %[x2], %[t1]\n\t"
        "mulx 16(%[x1]), %[x2], %[t3]\n\t"
        "adc %[x2], %[t2]\n\t"
        "mulx 24(%[x1]), %[x2], %[t4]\n\t"
        "adc %[x2], %[t3]\n\t"
        "adc $0, %[t4]\n\t"
        "mov 8(%[x0]), %%rdx\n\t"
        TARNWICK_SM2_MUL_ROW("%[x1]", "t1", "t2", "t3", "t4", "t5")
        "mov 16(%[x0]), %%rdx\n\t"
        TARNWICK_SM2_MUL_ROW("%[x1]", "t2", "t3", "t4", "t5", "t6")
        "mov 24(%[x0]), %%rdx\n\t"
        TARNWICK_SM2_MUL_ROW("%[x1]", "t3", "t4", "t5", "t6", "t7")
        TARNWICK_SM2_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
          [t6] "=&r"(t6), [t7] "=&r"(t7), [x0] "+&r"(x0), [x1] "+&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3),
          "=&d"(rdx)
        : [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : "cc", "memory");
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
    u64 t0, t1, t2, t3, t4, t5, t6, t7, x1, x2, x3;
    // The operand pointer rides in x0, which the reduction reuses.
    const u64* x0 = a.v;
    __asm__(
        // The products a_i·a_j for i < j.
        "mov 0(%[x0]), %%rdx\n\t"
        "mulx 8(%[x0]), %[t1], %[t2]\n\t"
        "mulx 16(%[x0]), %[x2], %[t3]\n\t"
        "add %[x2], %[t2]\n\t"
        "mulx 24(%[x0]), %[x2], %[t4]\n\t"
        "adc %[x2], %[t3]\n\t"
        "adc $0, %[t4]\n\t"
        "mov 8(%[x0]), %%rdx\n\t"
        "xor %k[t5], %k[t5]\n\t"
        "mulx 16(%[x0]), %[x2], %[x3]\n\t"
        "adcx %[x2], %[t3]\n\t"
        "adox %[x3], %[t4]\n\t"
        "mulx 24(%[x0]), %[x2], %[x3]\n\t"
        "adcx %[x2], %[t4]\n\t"
        "adox %[x3], %[t5]\n\t"
        "adc $0, %[t5]\n\t"
        "mov 16(%[x0]), %%rdx\n\t"
        "mulx 24(%[x0]), %[x2], %[t6]\n\t"
        "add %[x2], %[t5]\n\t"
        "adc $0, %[t6]\n\t"
        // Doubled on the CF chain, plus the squares a_i² on the OF chain.
        "xor %k[t7], %k[t7]\n\t"
        "mov 0(%[x0]), %%rdx\n\t"
        "mulx %%rdx, %[t0], %[x3]\n\t"
        "adcx %[t1], %[t1]\n\t"
        "adox %[x3], %[t1]\n\t"
        "mov 8(%[x0]), %%rdx\n\t"
        "mulx %%rdx, %[x2], %[x3]\n\t"
        "adcx %[t2], %[t2]\n\t"
        "adox %[x2], %[t2]\n\t"
        "adcx %[t3], %[t3]\n\t"
        "adox %[x3], %[t3]\n\t"
        "mov 16(%[x0]), %%rdx\n\t"
        "mulx %%rdx, %[x2], %[x3]\n\t"
        "adcx %[t4], %[t4]\n\t"
        "adox %[x2], %[t4]\n\t"
        "adcx %[t5], %[t5]\n\t"
        "adox %[x3], %[t5]\n\t"
        "mov 24(%[x0]), %%rdx\n\t"
        "mulx %%rdx, %[x2], %[x3]\n\t"
        "adcx %[t6], %[t6]\n\t"
        "adox %[x2], %[t6]\n\t"
        "adcx %[t7], %[t7]\n\t"
        "adox %[x3], %[t7]\n\t"
        TARNWICK_SM2_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
          [t6] "=&r"(t6), [t7] "=&r"(t7), [x0] "+&r"(x0), [x1] "=&d"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3)
        : [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : "cc", "memory");
    r.v[0] = t4;
    r.v[1] = t5;
    r.v[2] = t6;
    r.v[3] = t7;
    t0 = t1 = t2 = t3 = t4 = t5 = t6 = t7 = x1 = x2 = x3 = 0;
  }
};

#undef TARNWICK_SM2_MUL_ROW
#undef TARNWICK_SM2_REDUCE
#undef TARNWICK_SM2_REDUCE_STEP

#endif  // TARNWICK_SM2_FP_ADX

}  // namespace tarnwick::sm2::fp
