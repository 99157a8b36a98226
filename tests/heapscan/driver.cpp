// The heap-scan driver: runs one service call (`heapscan_driver <case>`)
// inside an armed window of the free(3) interposer (shim.c, loaded with
// LD_PRELOAD), then has every block freed during the call searched for the
// key material involved: private values in big-endian form (as in key
// documents) and in OpenSSL's little-endian limb form, the Base64 key texts,
// symmetric keys, and what is derived from them (SM2 nonces, shared points
// and keystreams, SM4 round keys). Any find fails the case.
//
// Keys are made before the window; patterns that only exist after the call
// (a generated key, an SM2 nonce) are worked out with the window paused and
// searched for afterwards, since freed blocks are kept until the search.
//
// A find is printed with the stack the block was freed from, as module and
// offset (`addr2line -f -C -e heapscan_driver OFFSET` names the function).

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm4/cipher.h"
#include "ohos/asym/cipher.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/keygen.h"
#include "ohos/asym/sign.h"
#include "ohos/asym/signature.h"
#include "support/base64.h"
#include "support/ossl.h"
#include "vorel/sym/encrypt.h"

using namespace tarnwick;

namespace {

// ---- the interposer's interface, found at run time ---------------------

struct Shim {
  int (*present)();
  int (*watch)(const char*, const void*, std::size_t);
  void (*arm)(int);
  void (*pause)(int);
  std::size_t (*release)();
  std::size_t (*hits)(const char*);
};

template <class F>
bool resolve(F& fn, const char* name) {
  fn = reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
  return fn != nullptr;
}

std::optional<Shim> load_shim() {
  Shim s{};
  if (!resolve(s.present, "heapscan_present") || !resolve(s.watch, "heapscan_watch") ||
      !resolve(s.arm, "heapscan_arm") || !resolve(s.pause, "heapscan_pause") || !resolve(s.release, "heapscan_release") ||
      !resolve(s.hits, "heapscan_hits") || !s.present())
    return std::nullopt;
  return s;
}

// ---- patterns ----------------------------------------------------------

struct Pattern {
  std::string name;
  Bytes bytes;
};

// A window of at most 24 bytes from the middle of a value: long enough that
// a chance match is out of the question, short enough to find partial copies.
Bytes window(ByteView v, std::size_t len = 24) {
  if (v.size() <= len) return Bytes(v.begin(), v.end());
  const std::size_t at = (v.size() - len) / 2;
  return Bytes(v.begin() + static_cast<std::ptrdiff_t>(at), v.begin() + static_cast<std::ptrdiff_t>(at + len));
}

Bytes reversed(ByteView v) { return Bytes(v.rbegin(), v.rend()); }

Bytes bn_be(const BIGNUM* bn) {
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  if (!out.empty()) BN_bn2bin(bn, out.data());
  return out;
}

ByteView text_view(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

class Case {
 public:
  // secret adds a value in its big-endian and its little-endian forms.
  void secret(const std::string& name, ByteView big_endian) {
    patterns_.push_back({name + " (big-endian)", window(big_endian)});
    patterns_.push_back({name + " (little-endian)", window(reversed(big_endian))});
  }
  void raw(const std::string& name, ByteView bytes) { patterns_.push_back({name, window(bytes, 32)}); }
  const std::vector<Pattern>& patterns() const { return patterns_; }

 private:
  std::vector<Pattern> patterns_;
};

// ---- keys made before the window ----------------------------------------

const Bytes kData = [] {
  Bytes d(100);
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 13 + 1);
  return d;
}();

using PkeyPtr = ossl::PkeyPtr;

Bytes pkcs8_of(EVP_PKEY* key) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
  unsigned char* der = nullptr;
  const int len = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
  Bytes out(der, der + len);
  OPENSSL_free(der);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return out;
}

BIGNUM* rsa_value(const EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  EVP_PKEY_get_bn_param(key, name, &bn);
  return bn;
}

void add_rsa_values(Case& c, const EVP_PKEY* key) {
  const std::pair<const char*, const char*> values[] = {
      {"RSA d", "d"},           {"RSA p", "rsa-factor1"},      {"RSA q", "rsa-factor2"},
      {"RSA d mod p-1", "rsa-exponent1"}, {"RSA d mod q-1", "rsa-exponent2"}, {"RSA q^-1 mod p", "rsa-coefficient1"},
  };
  for (const auto& [label, param] : values) {
    ossl::BnPtr bn(rsa_value(key, param));
    c.secret(label, bn_be(bn.get()));
  }
}

// An RSA-2048 key made by OpenSSL whose PKCS#8 document is a multiple of 3
// bytes long, so that its Base64 ends in a full group of four symbols.
PkeyPtr rsa_key(Bytes& pkcs8) {
  for (;;) {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
    pkcs8 = pkcs8_of(key.get());
    if (pkcs8.size() % 3 == 0) return key;
  }
}

struct Sm2Key {
  Bytes d;      // 32 bytes, big-endian
  Bytes pkcs8;  // the module's own document, 150 bytes
  std::string pubkey;
};

Sm2Key sm2_key() {
  auto pair = sm2::generate_key_pair();
  Bytes d(32);
  pair->private_key.d.to_bytes(d.data());
  Sm2Key k{d, *sm2::private_key_to_pkcs8(pair->private_key), ""};
  k.pubkey = base64::encode(*sm2::public_key_to_spki(pair->public_key));
  return k;
}

// ---- the SM2 secrets derived from a call --------------------------------

const char* kSm2Order = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

// The nonce of an SM2 signature (GB/T 32918.2 §6.1): s = (1 + d)^-1 (k - r·d)
// gives k = s + (r + s)·d mod n; and (1 + d)^-1 itself.
void add_sm2_nonce(Case& c, const std::string& signature_b64, ByteView d_be) {
  auto der = base64::decode(signature_b64);
  auto sig = ohos::asym::Signature::decode(*der);
  ossl::BnCtxPtr ctx(BN_CTX_new());
  BIGNUM* n = nullptr;
  BN_hex2bn(&n, kSm2Order);
  ossl::BnPtr order(n), r(BN_bin2bn(sig->r.magnitude.data(), static_cast<int>(sig->r.magnitude.size()), nullptr));
  ossl::BnPtr s(BN_bin2bn(sig->s.magnitude.data(), static_cast<int>(sig->s.magnitude.size()), nullptr));
  ossl::BnPtr d(BN_bin2bn(d_be.data(), static_cast<int>(d_be.size()), nullptr));
  ossl::BnPtr k(BN_new()), t(BN_new()), inv(BN_new()), d1(BN_new());
  BN_mod_add(t.get(), r.get(), s.get(), order.get(), ctx.get());
  BN_mod_mul(t.get(), t.get(), d.get(), order.get(), ctx.get());
  BN_mod_add(k.get(), t.get(), s.get(), order.get(), ctx.get());
  BN_add(d1.get(), d.get(), BN_value_one());
  BN_mod_inverse(inv.get(), d1.get(), order.get(), ctx.get());
  c.secret("SM2 nonce k", bn_be(k.get()));
  c.secret("SM2 (1+d)^-1", bn_be(inv.get()));
}

// The shared point d·C1 of an SM2 ciphertext and the keystream t = C2 ⊕ M.
void add_sm2_shared(Case& c, ByteView record_der, ByteView d_be, ByteView message) {
  auto record = ohos::asym::Cipher::decode(record_der);
  EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
  ossl::BnCtxPtr ctx(BN_CTX_new());
  ossl::BnPtr x(BN_bin2bn(record->x.magnitude.data(), static_cast<int>(record->x.magnitude.size()), nullptr));
  ossl::BnPtr y(BN_bin2bn(record->y.magnitude.data(), static_cast<int>(record->y.magnitude.size()), nullptr));
  ossl::BnPtr d(BN_bin2bn(d_be.data(), static_cast<int>(d_be.size()), nullptr));
  EC_POINT* c1 = EC_POINT_new(group);
  EC_POINT* shared = EC_POINT_new(group);
  EC_POINT_set_affine_coordinates(group, c1, x.get(), y.get(), ctx.get());
  EC_POINT_mul(group, shared, nullptr, c1, d.get(), ctx.get());
  ossl::BnPtr x2(BN_new()), y2(BN_new());
  EC_POINT_get_affine_coordinates(group, shared, x2.get(), y2.get(), ctx.get());
  Bytes xy(64);
  BN_bn2binpad(x2.get(), xy.data(), 32);
  BN_bn2binpad(y2.get(), xy.data() + 32, 32);
  c.secret("SM2 x2", ByteView(xy).first(32));
  c.secret("SM2 y2", ByteView(xy).last(32));
  Bytes t(message.size());
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = record->c2[i] ^ message[i];
  c.raw("SM2 keystream, first block", ByteView(t).first(32));
  c.raw("SM2 keystream, second block", ByteView(t).subspan(32, 32));
  EC_POINT_free(c1);
  EC_POINT_free(shared);
  EC_GROUP_free(group);
}

// ---- the cases -----------------------------------------------------------

// A case prepares its inputs and patterns, runs `call` inside the window and
// may add patterns afterwards (`after`, run paused).
struct Run {
  Case patterns;
  std::function<void()> call;
  std::function<void(Case&)> after;
};

using Maker = std::function<Run()>;

Run rsa_sign() {
  Run run;
  Bytes pkcs8;
  auto key = std::make_shared<PkeyPtr>(rsa_key(pkcs8));
  add_rsa_values(run.patterns, key->get());
  const std::string text = base64::encode(pkcs8);
  run.patterns.raw("RSA key text", text_view(text));
  run.call = [text] {
    for (auto alg : {ohos::asym::SignAlgorithm::SHA256WithRSA, ohos::asym::SignAlgorithm::SHA1WithRSA}) {
      auto sig = ohos::asym::asym_sign(alg, kData, text, "");
      if (!sig) std::fprintf(stderr, "asym_sign: %s\n", sig.error().display().c_str());
    }
    // A failing path: data the key is too small for is not possible here, so
    // a truncated document, which fails after decoding.
    (void)ohos::asym::asym_sign(ohos::asym::SignAlgorithm::SHA256WithRSA, kData, text.substr(0, text.size() - 4), "");
  };
  return run;
}

Run rsa_decrypt() {
  Run run;
  Bytes pkcs8;
  auto key = std::make_shared<PkeyPtr>(rsa_key(pkcs8));
  add_rsa_values(run.patterns, key->get());
  const std::string text = base64::encode(pkcs8);
  run.patterns.raw("RSA key text", text_view(text));
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key->get(), nullptr));
  EVP_PKEY_encrypt_init(ctx.get());
  EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING);
  EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha256());
  EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha256());
  Bytes ct(256);
  std::size_t len = ct.size();
  EVP_PKEY_encrypt(ctx.get(), ct.data(), &len, kData.data(), kData.size());
  const std::string ct_text = base64::encode(ct);
  Bytes tampered = ct;
  tampered[10] ^= 1;
  const std::string bad_text = base64::encode(tampered);
  run.call = [=] {
    auto pt = ohos::asym::asym_decrypt(ohos::asym::AsymAlgorithm::RSA, ct_text, text);
    if (!pt || *pt != kData) std::fprintf(stderr, "asym_decrypt: wrong result\n");
    (void)ohos::asym::asym_decrypt(ohos::asym::AsymAlgorithm::RSA, bad_text, text);
  };
  return run;
}

// Decodes a generated private key text and adds its values.
void add_generated_rsa(Case& c, const std::string& privkey) {
  auto der = base64::decode(privkey);
  const unsigned char* p = der->data();
  PkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der->size())));
  add_rsa_values(c, key.get());
  c.raw("RSA key text", text_view(privkey));
}

Run rsa_generate() {
  Run run;
  auto privkey = std::make_shared<std::string>();
  run.call = [privkey] {
    auto kp = ohos::asym::asym_generate_key(ohos::asym::AsymAlgorithm::RSA, 2048);
    if (kp) *privkey = kp->privkey;
  };
  run.after = [privkey](Case& c) { add_generated_rsa(c, *privkey); };
  return run;
}

Run sm2_sign() {
  Run run;
  const Sm2Key key = sm2_key();
  run.patterns.secret("SM2 d", key.d);
  const std::string text = base64::encode(key.pkcs8);
  run.patterns.raw("SM2 key text", text_view(text));
  auto signature = std::make_shared<std::string>();
  run.call = [text, signature] {
    auto sig = ohos::asym::asym_sign(ohos::asym::SignAlgorithm::SM3WithSM2, kData, text, "alice");
    if (sig) *signature = *sig;
    (void)ohos::asym::asym_sign(ohos::asym::SignAlgorithm::SM3, kData, text, "");
    // Failing after the key is read: a user ID of 8192 bytes.
    (void)ohos::asym::asym_sign(ohos::asym::SignAlgorithm::SM3WithSM2, kData, text, std::string(8192, 'u'));
  };
  run.after = [signature, d = key.d](Case& c) { add_sm2_nonce(c, *signature, d); };
  return run;
}

Run sm2_decrypt() {
  Run run;
  const Sm2Key key = sm2_key();
  run.patterns.secret("SM2 d", key.d);
  const std::string text = base64::encode(key.pkcs8);
  run.patterns.raw("SM2 key text", text_view(text));
  const std::string ct_text = *ohos::asym::asym_encrypt(ohos::asym::AsymAlgorithm::SM2, kData, key.pubkey);
  add_sm2_shared(run.patterns, *base64::decode(ct_text), key.d, kData);
  Bytes tampered = *base64::decode(ct_text);
  tampered.back() ^= 1;
  const std::string bad_text = base64::encode(tampered);
  run.call = [=] {
    auto pt = ohos::asym::asym_decrypt(ohos::asym::AsymAlgorithm::SM2, ct_text, text);
    if (!pt || *pt != kData) std::fprintf(stderr, "asym_decrypt: wrong result\n");
    (void)ohos::asym::asym_decrypt(ohos::asym::AsymAlgorithm::SM2, bad_text, text);
  };
  return run;
}

Run sm2_generate() {
  Run run;
  auto privkey = std::make_shared<std::string>();
  run.call = [privkey] {
    auto kp = ohos::asym::asym_generate_key(ohos::asym::AsymAlgorithm::SM2, 0);
    if (kp) *privkey = kp->privkey;
  };
  run.after = [privkey](Case& c) {
    auto der = base64::decode(*privkey);
    auto key = sm2::private_key_from_pkcs8(*der);
    Bytes d(32);
    key->d.to_bytes(d.data());
    c.secret("SM2 d", d);
    c.raw("SM2 key text", text_view(*privkey));
  };
  return run;
}

// Every algorithm of one family, both directions, and a failing decryption.
Run symmetric(bool sm4) {
  using vorel::sym::SymAlgorithm;
  Run run;
  std::vector<std::pair<SymAlgorithm, std::string>> keys;
  const int first = sm4 ? 8 : 0, last = sm4 ? 12 : 7;
  for (int a = first; a <= last; ++a) {
    const auto alg = static_cast<SymAlgorithm>(a);
    Bytes key(a >= 4 && a <= 7 ? 32 : 16);
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0xA0 + 7 * a + 31 * i);
    const std::string name = "key of algorithm " + std::to_string(a);
    run.patterns.raw(name, key);
    run.patterns.raw(name + ", text", text_view(base64::encode(key)));
    if (sm4) {
      auto schedule = sm4::cipher::key_schedule(key);
      const auto* rk = reinterpret_cast<const std::uint8_t*>(schedule->rk.data());
      run.patterns.raw(name + ", round keys", ByteView(rk, sizeof schedule->rk));
      const Bytes zero(16, 0);
      auto h = sm4::cipher::encrypt_block(*schedule, zero);
      run.patterns.raw(name + ", GCM hash key", ByteView(h->data(), h->size()));
    }
    keys.emplace_back(alg, base64::encode(key));
  }
  run.call = [keys] {
    const std::string iv = base64::encode(Bytes(16, 0x24));
    for (const auto& [alg, key] : keys) {
      auto ct = vorel::sym::sym_encrypt(alg, kData, key, iv);
      if (!ct) continue;
      auto pt = vorel::sym::sym_decrypt(alg, *ct, key, iv);
      if (!pt || *pt != kData) std::fprintf(stderr, "sym round trip failed for %d\n", static_cast<int>(alg));
      Bytes bad = *ct;
      bad.back() ^= 0x55;
      (void)vorel::sym::sym_decrypt(alg, bad, key, iv);
    }
  };
  return run;
}

Run sym_generate() {
  Run run;
  auto texts = std::make_shared<std::vector<std::string>>();
  run.call = [texts] {
    for (int a : {0, 4, 8}) texts->push_back(*vorel::sym::sym_generate_key(static_cast<vorel::sym::SymAlgorithm>(a)));
  };
  run.after = [texts](Case& c) {
    for (std::size_t i = 0; i < texts->size(); ++i) {
      c.raw("generated key " + std::to_string(i + 1), *base64::decode((*texts)[i]));
    }
  };
  return run;
}

const std::map<std::string, Maker> kCases = {
    {"rsa-sign", rsa_sign},           {"rsa-decrypt", rsa_decrypt},
    {"rsa-generate", rsa_generate},   {"sm2-sign", sm2_sign},
    {"sm2-decrypt", sm2_decrypt},     {"sm2-generate", sm2_generate},
    {"sym-aes", [] { return symmetric(false); }},
    {"sym-sm4", [] { return symmetric(true); }},
    {"sym-generate", sym_generate},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || kCases.count(argv[1]) == 0) {
    std::fprintf(stderr, "usage: heapscan_driver <case>; cases:");
    for (const auto& [name, maker] : kCases) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
  }
  const std::optional<Shim> shim = load_shim();
  if (!shim) {
    std::fprintf(stderr, "heapscan_driver: the interposer is not loaded (LD_PRELOAD=libheapscan_shim.so)\n");
    return 2;
  }
  Run run = kCases.at(argv[1])();
  // The patterns known before the call are registered now; the others once
  // the call has made them.
  for (const Pattern& p : run.patterns.patterns()) shim->watch(p.name.c_str(), p.bytes.data(), p.bytes.size());
  shim->arm(1);
  run.call();
  Case later;
  if (run.after) {
    shim->pause(1);
    run.after(later);
    for (const Pattern& p : later.patterns()) shim->watch(p.name.c_str(), p.bytes.data(), p.bytes.size());
    shim->pause(0);
  }
  shim->arm(0);
  const std::size_t blocks = shim->release();

  int failures = 0;
  std::vector<Pattern> all = run.patterns.patterns();
  all.insert(all.end(), later.patterns().begin(), later.patterns().end());
  for (const Pattern& p : all) {
    const std::size_t hits = shim->hits(p.name.c_str());
    if (hits == 0) continue;
    ++failures;
    std::printf("LEAK      %-40s in %zu freed block(s)\n", p.name.c_str(), hits);
  }
  std::printf("%s: %zu freed blocks searched for %zu patterns: %d leak(s)\n", argv[1], blocks, all.size(),
              failures);
  return failures == 0 ? 0 : 1;
}
