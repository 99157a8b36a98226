// A native driver for memcheck. `driver all` runs every primitive once on
// valid and invalid inputs (for the leak and invalid-access check);
// `driver ct <name>` marks one secret as undefined with
// VALGRIND_MAKE_MEM_UNDEFINED and runs the operations that use it, so that
// memcheck reports each branch or memory index that depends on it (the
// method of BoringSSL's constant-time tests).
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include <openssl/bn.h>
#include <valgrind/memcheck.h>

#include "crypto/padding/pkcs7.h"
#include "crypto/sm2/biguint.h"
#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm3/sm3.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/gcm.h"
#include "ohos/asym/cipher.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/keygen.h"
#include "ohos/asym/rsa_key.h"
#include "ohos/asym/rsa_ops.h"
#include "ohos/asym/sign.h"
#include "ohos/asym/signature.h"
#include "support/base64.h"
#include "support/der.h"
#include "support/hex.h"
#include "vorel/random/random.h"
#include "vorel/sym/encrypt.h"

using namespace tarnwick;

// run_ct_sm2 (ct_sm2.cpp) runs the SM2 secret check.
int run_ct_sm2();
namespace tarnwick::valgrind_ct {
int ct_sm4();  // ct_sm4.cpp
}

namespace {

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "driver: %s failed\n", what);
    ++failures;
  }
}

template <class T>
void secret(T* p, std::size_t n) {
  VALGRIND_MAKE_MEM_UNDEFINED(p, n);
}
// declassify makes a result defined again so that comparing or printing it
// is not reported.
template <class T>
void declassify(T* p, std::size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}

const Bytes kMsg = {'v', 'a', 'l', 'g', 'r', 'i', 'n', 'd', ' ', 'd', 'r', 'i', 'v', 'e', 'r', ' ', 'd', 'a', 't', 'a'};

void run_sm3() {
  expect(hex::encode(sm3::digest(Bytes{'a', 'b', 'c'})) ==
             "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0",
         "SM3 abc (GB/T 32905 A.1)");
  Bytes big(1000, 0x5A);
  sm3::digest(big);
}

void run_sm4(bool ct) {
  // GB/T 32907 A.1: key = plaintext = 0123456789abcdeffedcba9876543210.
  Bytes key = *hex::decode("0123456789abcdeffedcba9876543210");
  if (ct) secret(key.data(), key.size());
  auto schedule = sm4::cipher::key_schedule(key);
  Bytes block = *hex::decode("0123456789abcdeffedcba9876543210");
  auto ecb = sm4::cipher::encrypt_ecb(*schedule, block);
  if (ct) declassify(ecb->data(), ecb->size());
  expect(hex::encode(*ecb) == "681edf34d206965e86b3e94f536e4246", "SM4 A.1");
  const Bytes iv(16, 0x11);
  for (int m = 0; m <= 4; ++m) {
    const sm4::Sm4ModeCipher c{*schedule, static_cast<sm4::Sm4Mode>(m)};
    auto enc = sm4::cipher_mode::encrypt(c, Bytes{1, 2, 3}, kMsg, iv);
    if (ct) declassify(enc->data(), enc->size());
    auto dec = sm4::cipher_mode::decrypt(c, Bytes{1, 2, 3}, *enc, iv);
    if (ct) declassify(dec->data(), dec->size());
    expect(dec && *dec == kMsg, "SM4 mode round trip");
    if (ct) continue;
    Bytes bad = *enc;
    bad.back() ^= 1;
    sm4::cipher_mode::decrypt(c, {}, bad, iv);
    sm4::cipher_mode::decrypt(c, {}, Bytes(5, 0), iv);
    sm4::cipher_mode::decrypt(c, {}, kMsg, Bytes(3, 0));
  }
}

void run_sym() {
  for (int a = 0; a < 13; ++a) {
    const auto alg = static_cast<vorel::sym::SymAlgorithm>(a);
    auto key = vorel::sym::sym_generate_key(alg);
    const std::string iv = base64::encode(Bytes(16, 7));
    auto enc = vorel::sym::sym_encrypt(alg, kMsg, *key, iv);
    expect(enc.has_value(), "sym_encrypt");
    auto dec = vorel::sym::sym_decrypt(alg, *enc, *key, iv);
    expect(dec && *dec == kMsg, "sym round trip");
    vorel::sym::sym_decrypt(alg, Bytes(17, 1), *key, iv);
    vorel::sym::sym_decrypt(alg, Bytes(16, 1), "%%%", iv);
  }
  Bytes p = kMsg;
  padding::pkcs7::pad(p);
  expect(padding::pkcs7::unpad(p).has_value() && p == kMsg, "pkcs7");
  Bytes bad = {1, 2, 3, 9};
  expect(!padding::pkcs7::unpad(bad), "pkcs7 bad");
}

void run_sm2() {
  auto pair = sm2::generate_key_pair();
  expect(pair.has_value(), "SM2 keygen");
  Bytes d(32);
  pair->private_key.d.to_bytes(d.data());
  auto pkcs8 = sm2::private_key_to_pkcs8(pair->private_key);
  auto spki = sm2::public_key_to_spki(pair->public_key);
  auto back = sm2::private_key_from_pkcs8(*pkcs8);
  expect(back && back->d.v == pair->private_key.d.v, "SM2 PKCS#8 round trip");
  expect(sm2::public_key_from_spki(*spki).has_value(), "SM2 SPKI round trip");
  Bytes broken = *spki;
  broken[broken.size() - 1] ^= 1;
  expect(!sm2::public_key_from_spki(broken), "SM2 SPKI off-curve");
  expect(!sm2::private_key_from_sec1_der(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}), "SEC1 short");
  ohos::asym::Cipher c{der::SignedInteger::from_unsigned(d), der::SignedInteger::from_unsigned(d), Bytes(32, 3),
                       kMsg};
  auto doc = c.encode();
  expect(ohos::asym::Cipher::decode(*doc).has_value(), "Cipher record");
  expect(!ohos::asym::Cipher::decode(Bytes{0x30, 0x80}), "Cipher record bad");
  using ohos::asym::AsymAlgorithm;
  using ohos::asym::SignAlgorithm;
  auto kp = ohos::asym::asym_generate_key(AsymAlgorithm::SM2, 0);
  auto sct = ohos::asym::asym_encrypt(AsymAlgorithm::SM2, kMsg, kp->pubkey);
  auto spt = ohos::asym::asym_decrypt(AsymAlgorithm::SM2, *sct, kp->privkey);
  expect(spt && *spt == kMsg, "SM2 encrypt/decrypt");
  expect(!ohos::asym::asym_decrypt(AsymAlgorithm::SM2, "MAA=", kp->privkey), "SM2 bad record");
  for (SignAlgorithm alg : {SignAlgorithm::SM3, SignAlgorithm::SM3WithSM2}) {
    auto ssig = ohos::asym::asym_sign(alg, kMsg, kp->privkey, "alice");
    expect(ohos::asym::asym_verify(alg, kMsg, *ssig, kp->pubkey, "alice"), "SM2 verify");
    if (alg == SignAlgorithm::SM3WithSM2)
      expect(!ohos::asym::asym_verify(alg, kMsg, *ssig, kp->pubkey, "bob"), "SM2 verify other ID");
  }
  auto sig = ohos::asym::Signature::encode(d, d);
  expect(ohos::asym::Signature::decode(sig).has_value(), "Signature record");
}

void run_rsa() {
  using namespace ohos::asym;
  auto pair = generate_rsa_key_pair(1024);
  expect(pair.has_value(), "RSA keygen");
  auto pub = rsa_public_key_from_der(pair->public_der);
  auto priv = rsa_private_key_from_der(pair->private_der);
  expect(pub && priv, "RSA key reading");
  auto ct = rsa_oaep_encrypt(pub->get(), kMsg);
  auto pt = rsa_oaep_decrypt(priv->get(), *ct);
  expect(pt && *pt == kMsg, "RSA OAEP round trip");
  Bytes bad = *ct;
  bad[5] ^= 1;
  expect(!rsa_oaep_decrypt(priv->get(), bad), "RSA OAEP tampered");
  expect(!rsa_oaep_decrypt(priv->get(), Bytes(3, 1)), "RSA OAEP short");
  for (RsaDigest md : {RsaDigest::kSha1, RsaDigest::kSha256}) {
    auto sig = rsa_pkcs1v15_sign(priv->get(), md, kMsg);
    expect(rsa_pkcs1v15_verify(pub->get(), md, kMsg, *sig), "RSA verify");
    expect(!rsa_pkcs1v15_verify(pub->get(), md, Bytes{1}, *sig), "RSA verify other data");
  }
  expect(!rsa_public_key_from_der(Bytes{0x30, 0x00}), "RSA bad public");
  expect(!rsa_private_key_from_der(Bytes(40, 0x30)), "RSA bad private");
  expect(!generate_rsa_key_pair(100), "RSA small size");
}

// The RSA private values: a PKCS#8 document whose d, p, q and CRT contents
// are marked secret, read as asymSign and asymDecrypt read it. With
// `length_public` the first content byte of each stays defined: DER's
// minimal form already tells that it is not zero, and so the number of
// limbs of each value, which OpenSSL's BIGNUMs carry as their size.
// With `sign`, the key then signs, as asymSign goes on to do.
void run_rsa_key_secret(bool length_public, bool sign) {
  using namespace ohos::asym;
  auto pair = generate_rsa_key_pair(2048);
  Bytes doc = pair->private_der;
  der::Reader outer(doc);
  auto info = outer.read_sequence();
  info->read_integer_small(1);
  info->read_sequence();
  auto inner_bytes = info->read_octet_string();
  der::Reader inner(*inner_bytes);
  auto key = inner.read_sequence();
  key->read_integer_small(1);
  for (int i = 0; i < 8; ++i) {
    auto v = key->read_integer_unsigned();
    const std::size_t skip = length_public ? 1 : 0;
    if (i >= 2) secret(const_cast<std::uint8_t*>(v->data()) + skip, v->size() - skip);
  }
  auto read = rsa_private_key_from_der(doc);
  expect(read.has_value(), "RSA key reading");
  if (!sign) return;
  auto sig = rsa_pkcs1v15_sign(read->get(), RsaDigest::kSha256, kMsg);
  expect(sig.has_value(), "RSA signing");
  declassify(sig->data(), sig->size());
  expect(rsa_pkcs1v15_verify(rsa_public_key_from_der(pair->public_der)->get(), RsaDigest::kSha256, kMsg, *sig),
         "RSA signature verifies");
}

void run_support() {
  expect(base64::encode(kMsg) == "dmFsZ3JpbmQgZHJpdmVyIGRhdGE=", "Base64 (RFC 4648)");
  expect(base64::decode("dmFsZ3JpbmQgZHJpdmVyIGRhdGE=").value() == kMsg, "Base64 decode");
  expect(!base64::decode("dmF=Z3J"), "Base64 bad");
  expect(vorel::random::random_generate(32).has_value(), "random_generate");
  expect(!vorel::random::random_generate(0), "random_generate 0");
  const Bytes doc = {0x30, 0x03, 0x02, 0x01, 0x05};
  der::Reader r(doc);
  auto seq = r.read_sequence();
  expect(seq && seq->read_integer_small().value() == 5, "DER");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "all";
  const std::string what = argc > 2 ? argv[2] : "";
  if (mode == "all") {
    run_support();
    run_sm3();
    run_sm4(false);
    run_sym();
    run_sm2();
    run_rsa();
  } else if (mode == "ct" && what == "sm4-key") {
    failures += valgrind_ct::ct_sm4();
  } else if (mode == "ct" && (what == "rsa-key" || what == "rsa-key-values" || what == "rsa-sign")) {
    run_rsa_key_secret(what == "rsa-key-values", what == "rsa-sign");
  } else if (mode == "ct" && what == "sm2") {
    failures += run_ct_sm2();
  } else {
    std::fprintf(stderr, "usage: driver all | driver ct sm4-key|sm2|rsa-key|rsa-key-values|rsa-sign\n");
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
