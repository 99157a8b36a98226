// Differential: the Montgomery multiplication and squaring modulo the SM2
// prime, MULX/ADCX/ADOX backend against the portable one and both against
// BIGNUM (a·b·2^−256 mod p), on operands from the input; for operands below
// p also the additions, subtraction, doubling, tripling and halving, against
// BIGNUM's modular arithmetic. Layout: [selector]
// [32 bytes a][32 bytes b], each big-endian; the selector's bits replace a
// or b by an edge value (0, 1, p − 1, p, p + 1, 2^256 − 1, n − 1, n, n + 1).
// An operand pair is used only where the backends accept it: at least one
// operand below p (both for squaring).
#include <openssl/bn.h>

#include "common.h"
#include "crypto/sm2/fp_adx.h"
#include "support/cpu.h"
#include "support/ossl.h"

namespace {
using namespace tarnwick;
using sm2::fp::Fe;

constexpr const char* kEdges[] = {
    "0",
    "1",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFE",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF000000010000000000000000",
    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123",
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54124",
};
constexpr int kEdgeCount = sizeof kEdges / sizeof kEdges[0];

ossl::BnPtr bn_of(const Fe& a) {
  std::uint8_t be[32];
  for (int i = 0; i < 32; ++i) be[i] = static_cast<std::uint8_t>(a.v[3 - i / 8] >> (56 - 8 * (i % 8)));
  return ossl::BnPtr(BN_bin2bn(be, 32, nullptr));
}

Fe fe_of(const BIGNUM* x) {
  std::uint8_t be[32];
  FUZZ_CHECK(BN_bn2binpad(x, be, 32) == 32, "value fits 32 bytes");
  Fe a{};
  for (int i = 0; i < 32; ++i) a.v[3 - i / 8] = (a.v[3 - i / 8] << 8) | be[i];
  return a;
}

Fe read_fe(fuzz::Input& in) {
  Fe a{};
  for (int i = 0; i < 32; ++i) a.v[3 - i / 8] = (a.v[3 - i / 8] << 8) | in.byte();
  return a;
}

Fe edge(int i) {
  BIGNUM* x = nullptr;
  FUZZ_CHECK(BN_hex2bn(&x, kEdges[i]) != 0, "edge value");
  ossl::BnPtr owned(x);
  return fe_of(owned.get());
}

bool same(const Fe& a, const Fe& b) {
  return a.v[0] == b.v[0] && a.v[1] == b.v[1] && a.v[2] == b.v[2] && a.v[3] == b.v[3];
}

struct Oracle {
  ossl::BnPtr p, r_inv;
  ossl::BnCtxPtr ctx{BN_CTX_new()};
  Oracle() {
    BIGNUM* x = nullptr;
    FUZZ_CHECK(BN_hex2bn(&x, kEdges[3]) != 0, "p");
    p.reset(x);
    ossl::BnPtr two256(BN_new());
    FUZZ_CHECK(BN_lshift(two256.get(), BN_value_one(), 256) == 1, "2^256");
    r_inv.reset(BN_mod_inverse(nullptr, two256.get(), p.get(), ctx.get()));
    FUZZ_CHECK(r_inv != nullptr, "2^-256 mod p");
  }
  bool below_p(const Fe& a) { return BN_cmp(bn_of(a).get(), p.get()) < 0; }
  // modular returns `op`(a, b) mod p by BIGNUM (b unused for one operand).
  template <class Op>
  Fe modular(const Fe& a, const Fe& b, Op op) {
    ossl::BnPtr t(BN_new());
    FUZZ_CHECK(op(t.get(), bn_of(a).get(), bn_of(b).get(), p.get(), ctx.get()) == 1, "BN_mod_*");
    return fe_of(t.get());
  }
  Fe montgomery_product(const Fe& a, const Fe& b) {
    ossl::BnPtr t(BN_new());
    FUZZ_CHECK(BN_mul(t.get(), bn_of(a).get(), bn_of(b).get(), ctx.get()) == 1, "BN_mul");
    FUZZ_CHECK(BN_mod_mul(t.get(), t.get(), r_inv.get(), p.get(), ctx.get()) == 1, "BN_mod_mul");
    return fe_of(t.get());
  }
};
}  // namespace

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  for (std::uint8_t sel : {0x00, 0x13, 0x25, 0x36, 0x48, 0x57, 0x61, 0x82, 0x99}) {
    Bytes s(65, 0xA5);
    s[0] = sel;
    sink.add(s);
  }
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Oracle oracle;
  fuzz::Input in(data, size);
  const std::uint8_t sel = in.byte();
  Fe a = read_fe(in), b = read_fe(in);
  // Low nibble: an edge value for a (when below kEdgeCount); high nibble: for b.
  if ((sel & 15) < kEdgeCount) a = edge(sel & 15);
  if ((sel >> 4) < kEdgeCount) b = edge(sel >> 4);
  const bool adx = cpu::has(sm2::fp::Adx::kFeatures);
  if (oracle.below_p(a) || oracle.below_p(b)) {
    const Fe want = oracle.montgomery_product(a, b);
    Fe r;
    sm2::fp::Portable::mul(r, a, b);
    FUZZ_CHECK(same(r, want), "portable mul differs from BIGNUM");
#if defined(TARNWICK_SM2_FP_ADX)
    if (adx) {
      sm2::fp::Adx::mul(r, a, b);
      FUZZ_CHECK(same(r, want), "MULX/ADX mul differs from BIGNUM");
    }
#endif
  }
  if (oracle.below_p(a)) {
    const Fe want = oracle.montgomery_product(a, a);
    Fe r;
    sm2::fp::Portable::sqr(r, a);
    FUZZ_CHECK(same(r, want), "portable sqr differs from BIGNUM");
#if defined(TARNWICK_SM2_FP_ADX)
    if (adx) {
      sm2::fp::Adx::sqr(r, a);
      FUZZ_CHECK(same(r, want), "MULX/ADX sqr differs from BIGNUM");
    }
#endif
  }
  if (oracle.below_p(a) && oracle.below_p(b)) {
    // check_both runs `op` on each backend and compares with `want`.
    const auto check_both = [&](const Fe& want, auto op, const char* what) {
      Fe r;
      op(sm2::fp::Portable{}, r);
      FUZZ_CHECK(same(r, want), what);
#if defined(TARNWICK_SM2_FP_ADX)
      if (adx) {
        op(sm2::fp::Adx{}, r);
        FUZZ_CHECK(same(r, want), what);
      }
#endif
    };
    const auto mul_word = [](BN_ULONG w) {
      return [w](BIGNUM* r, const BIGNUM* x, const BIGNUM*, const BIGNUM* m, BN_CTX* c) {
        ossl::BnPtr k(BN_new());
        return BN_set_word(k.get(), w) == 1 ? BN_mod_mul(r, x, k.get(), m, c) : 0;
      };
    };
    const auto half = [](BIGNUM* r, const BIGNUM* x, const BIGNUM*, const BIGNUM* m, BN_CTX* c) {
      ossl::BnPtr two(BN_new()), inv(BN_new());
      if (BN_set_word(two.get(), 2) != 1 || BN_mod_inverse(inv.get(), two.get(), m, c) == nullptr) return 0;
      return BN_mod_mul(r, x, inv.get(), m, c);
    };
    check_both(oracle.modular(a, b, BN_mod_add), [&](auto f, Fe& r) { decltype(f)::add(r, a, b); },
               "add differs from BIGNUM");
    check_both(oracle.modular(a, b, BN_mod_sub), [&](auto f, Fe& r) { decltype(f)::sub(r, a, b); },
               "sub differs from BIGNUM");
    check_both(oracle.modular(a, b, mul_word(2)), [&](auto f, Fe& r) { decltype(f)::mul_by_2(r, a); },
               "mul_by_2 differs from BIGNUM");
    check_both(oracle.modular(a, b, mul_word(3)), [&](auto f, Fe& r) { decltype(f)::mul_by_3(r, a); },
               "mul_by_3 differs from BIGNUM");
    check_both(oracle.modular(a, b, half), [&](auto f, Fe& r) { decltype(f)::half(r, a); },
               "half differs from BIGNUM");
  }
  (void)adx;
  return 0;
}
