// The SM2 secret check: every SM2 secret is marked undefined for memcheck
// (VALGRIND_MAKE_MEM_UNDEFINED) before it enters the library: the bytes of
// the random source (private scalars of key generation, signing nonces,
// encryption scalars) and the private-key bytes inside a key document. Then
// key generation, PKCS#8 writing and reading (which recomputes d·G),
// signing, encryption and decryption run. Memcheck reports every branch and
// every memory address that depends on a secret; scripts/valgrind.sh fails
// on any report.
//
// The library built for this check (TARNWICK_CT_VALIDATION) marks as
// defined only what the protocol publishes: public keys, r and s, C1, and
// the outcomes of the tests that restart or fail an operation (a rejected
// scalar, r = 0, r + k = n, s = 0, an all-zero keystream, the C3 check).
// Here the ciphertext and the decrypted message are made defined before
// they are compared, since the ciphertext is published and the message is
// this test's own.
//
// The whole run is made twice, with the AVX2 table scans and with the SSE2
// ones. Valgrind executes MULX, ADCX and ADOX but its CPUID hides ADX, so
// the scalar multiplications take the portable field backend under
// memcheck; the MULX/ADCX/ADOX backend is checked on its own, its
// multiplication, squaring, additions, small multiples and halving, and the
// point doubling and additions over it, on secret operands.
#include <sys/random.h>
#include <valgrind/memcheck.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/sm2/key.h"
#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/p256_point.h"
#include "crypto/sm2/sign.h"
#include "crypto/sm2/verify.h"
#include "support/cpu.h"
#include "support/hex.h"
#include "support/os_random.h"

using namespace tarnwick;

namespace {

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "ct sm2: %s failed\n", what);
    ++failures;
  }
}

// secret_source reads the kernel's random bytes and marks them secret.
long secret_source(void*, std::uint8_t* buf, std::size_t len, int* err) {
  const ssize_t n = getrandom(buf, len, 0);
  if (n < 0) {
    *err = errno;
    return -1;
  }
  VALGRIND_MAKE_MEM_UNDEFINED(buf, static_cast<std::size_t>(n));
  return static_cast<long>(n);
}

template <class T>
void publish(T* p, std::size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}

const Bytes kMessage = {'c', 'o', 'n', 's', 't', 'a', 'n', 't', ' ', 't', 'i', 'm', 'e', ' ', 'S', 'M', '2',
                        ' ', 'p', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't', ' ', '3', '2', ' ', 'B'};

// A fixed key whose d has 32 significant bytes, so that its PKCS#8
// document is the 150-byte form with d at bytes 36..67.
constexpr const char* kD = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
constexpr std::size_t kDOffset = 36;

void run_keys_sign_encrypt_decrypt() {
  // Key generation: d from the secret source, d·G.
  auto pair = sm2::generate_key_pair();
  expect(pair.has_value(), "generate_key_pair");
  if (!pair) return;
  expect(sm2::p256_ecc::is_on_curve(pair->public_key), "generated public key on the curve");
  // PKCS#8 writing of a secret d.
  auto generated_doc = sm2::private_key_to_pkcs8(pair->private_key);
  expect(generated_doc.has_value(), "private_key_to_pkcs8 of a generated key");

  // Private-key reading: a document whose d bytes are secret; d·G is
  // recomputed from them.
  const Bytes d_bytes = *hex::decode(kD);
  const sm2::Scalar fixed_d = sm2::Scalar::from_bytes(d_bytes.data());
  auto doc = sm2::private_key_to_pkcs8(sm2::Sm2PrivateKey{fixed_d, sm2::public_point(fixed_d)});
  expect(doc && doc->size() == 150, "fixed key document");
  if (!doc) return;
  Bytes secret_doc = *doc;
  VALGRIND_MAKE_MEM_UNDEFINED(secret_doc.data() + kDOffset, 32);
  auto key = sm2::private_key_from_pkcs8(secret_doc);
  expect(key.has_value(), "private_key_from_pkcs8");
  if (!key) return;
  // The bare SEC1 form: the ECPrivateKey inside (from byte 29 of the document).
  auto sec1_key = sm2::private_key_from_sec1_der(ByteView(secret_doc).subspan(29));
  expect(sec1_key.has_value(), "private_key_from_sec1_der");
  const sm2::Sm2PublicKey public_key = key->public_key;

  // Signing with the secret d and a secret nonce; r and s are published.
  const Bytes e(32, 0x5A);
  auto sig = sm2::sign_digest(e, *key);
  expect(sig.has_value(), "sign_digest");
  if (sig) {
    Bytes rs(32 - sig->r.size(), 0);
    rs.insert(rs.end(), sig->r.begin(), sig->r.end());
    rs.insert(rs.end(), 32 - sig->s.size(), 0);
    rs.insert(rs.end(), sig->s.begin(), sig->s.end());
    expect(sm2::key::verify_digest(e, public_key, rs).has_value(), "signature verifies");
  }
  auto pair_sig = sm2::sign_digest(e, pair->private_key);
  expect(pair_sig.has_value(), "sign_digest with the generated key");

  // Encryption with a secret scalar; the ciphertext is published.
  auto ct = sm2::key::encrypt(public_key, kMessage);
  expect(ct.has_value(), "key::encrypt");
  if (!ct) return;
  publish(ct->data(), ct->size());
  // Decryption with the secret d; the message is this test's own.
  const ByteView raw(*ct);
  auto m = sm2::key::decrypt(*key, raw.first(32), raw.subspan(32, 32), raw.subspan(64, 32), raw.subspan(96));
  expect(m.has_value(), "key::decrypt");
  if (m) {
    publish(m->data(), m->size());
    expect(*m == kMessage, "decrypted message");
  }
  auto m2 = sm2::key::decrypt(*sec1_key, raw.first(32), raw.subspan(32, 32), raw.subspan(64, 32), raw.subspan(96));
  if (m2) publish(m2->data(), m2->size());
  expect(m2 && *m2 == kMessage, "key::decrypt with the SEC1 key");
  // A tampered C3: the failed check is a public outcome.
  Bytes bad = *ct;
  bad[64] ^= 1;
  const ByteView bad_raw(bad);
  expect(!sm2::key::decrypt(*key, bad_raw.first(32), bad_raw.subspan(32, 32), bad_raw.subspan(64, 32),
                            bad_raw.subspan(96)),
         "tampered ciphertext refused");
}

// secret_fe returns a field element below p from the secret source.
sm2::fp::Fe secret_fe() {
  sm2::fp::Fe a;
  int err = 0;
  expect(secret_source(nullptr, reinterpret_cast<std::uint8_t*>(a.v), sizeof a.v, &err) == sizeof a.v,
         "secret field element");
  a.v[3] &= ~(std::uint64_t{1} << 63);
  return a;
}

template <class T>
bool same_published(T a, T b) {
  publish(&a, sizeof a);
  publish(&b, sizeof b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// run_adx_backend puts secret operands through the MULX/ADCX/ADOX backend
// and compares its results with the portable one's once they are published.
void run_adx_backend() {
#if defined(TARNWICK_SM2_FP_ADX)
  using sm2::fp::Adx;
  using sm2::fp::Portable;
  if (!RUNNING_ON_VALGRIND && !cpu::has(Adx::kFeatures)) return;
  const sm2::fp::Fe a = secret_fe(), b = secret_fe();
  sm2::fp::Fe r_adx, r_portable;
  Adx::mul(r_adx, a, b);
  Portable::mul(r_portable, a, b);
  expect(same_published(r_adx, r_portable), "Adx::mul");
  Adx::sqr(r_adx, a);
  Portable::sqr(r_portable, a);
  expect(same_published(r_adx, r_portable), "Adx::sqr");
  Adx::add(r_adx, a, b);
  Portable::add(r_portable, a, b);
  expect(same_published(r_adx, r_portable), "Adx::add");
  Adx::sub(r_adx, a, b);
  Portable::sub(r_portable, a, b);
  expect(same_published(r_adx, r_portable), "Adx::sub");
  Adx::mul_by_2(r_adx, a);
  Portable::mul_by_2(r_portable, a);
  expect(same_published(r_adx, r_portable), "Adx::mul_by_2");
  Adx::mul_by_3(r_adx, a);
  Portable::mul_by_3(r_portable, a);
  expect(same_published(r_adx, r_portable), "Adx::mul_by_3");
  Adx::half(r_adx, a);
  Portable::half(r_portable, a);
  expect(same_published(r_adx, r_portable), "Adx::half");
  const sm2::point::Jacobian p{secret_fe(), secret_fe(), secret_fe()};
  const sm2::point::Jacobian q{secret_fe(), secret_fe(), secret_fe()};
  sm2::point::Jacobian d_adx, d_portable;
  sm2::point::dbl<Adx>(d_adx, p);
  sm2::point::dbl<Portable>(d_portable, p);
  expect(same_published(d_adx, d_portable), "dbl<Adx>");
  sm2::point::add<Adx>(d_adx, p, q, true);
  sm2::point::add<Portable>(d_portable, p, q, true);
  expect(same_published(d_adx, d_portable), "add<Adx>");
  const sm2::point::Affine q_affine{secret_fe(), secret_fe()};
  sm2::point::add_affine<Adx>(d_adx, p, q_affine, 0, true);
  sm2::point::add_affine<Portable>(d_portable, p, q_affine, 0, true);
  expect(same_published(d_adx, d_portable), "add_affine<Adx>");
#endif
}

}  // namespace

// run_ct_sm2 runs the check; it returns the number of failed expectations
// (memcheck's own reports are counted by valgrind).
int run_ct_sm2() {
  os_random::testing::set_source(&secret_source, nullptr);
  for (std::uint32_t withheld : {0u, std::uint32_t{cpu::kAvx2}}) {
    cpu::testing::withhold(withheld);
    for (int i = 0; i < 2; ++i) run_keys_sign_encrypt_decrypt();
  }
  cpu::testing::withhold(0);
  run_adx_backend();
  os_random::testing::set_source(nullptr, nullptr);
  return failures;
}
