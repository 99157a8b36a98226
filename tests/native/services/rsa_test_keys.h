// Test helpers: RSA key values made by OpenSSL and DER documents assembled
// from them, for feeding the key readers well-formed and broken inputs.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "support/bytes.h"
#include "support/der.h"
#include "support/ossl.h"

namespace tarnwick::testing {

inline Bytes bn_bytes(const BIGNUM* bn) {
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  if (!out.empty()) BN_bn2bin(bn, out.data());
  return out;
}

inline ossl::BnPtr bn_from(ByteView b) {
  return ossl::BnPtr(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}

inline ossl::BnPtr bn_word(unsigned long long w) {
  ossl::BnPtr bn(BN_new());
  BN_set_word(bn.get(), static_cast<BN_ULONG>(w));
  return bn;
}

inline ossl::BnPtr pkey_bn(const EVP_PKEY* key, const char* name) {
  BIGNUM* raw = nullptr;
  EVP_PKEY_get_bn_param(key, name, &raw);
  return ossl::BnPtr(raw);
}

// RsaValues are the eight integers of an RSAPrivateKey, as big-endian bytes.
struct RsaValues {
  Bytes n, e, d, p, q, dp, dq, qinv;
};

inline RsaValues values_of(const EVP_PKEY* key) {
  auto get = [&](const char* name) { return bn_bytes(pkey_bn(key, name).get()); };
  return {get(OSSL_PKEY_PARAM_RSA_N),         get(OSSL_PKEY_PARAM_RSA_E),
          get(OSSL_PKEY_PARAM_RSA_D),         get(OSSL_PKEY_PARAM_RSA_FACTOR1),
          get(OSSL_PKEY_PARAM_RSA_FACTOR2),   get(OSSL_PKEY_PARAM_RSA_EXPONENT1),
          get(OSSL_PKEY_PARAM_RSA_EXPONENT2), get(OSSL_PKEY_PARAM_RSA_COEFFICIENT1)};
}

// openssl_rsa_key generates a key with OpenSSL's own generator.
inline ossl::PkeyPtr openssl_rsa_key(int bits) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (ctx && EVP_PKEY_keygen_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) == 1)
    EVP_PKEY_keygen(ctx.get(), &raw);
  return ossl::PkeyPtr(raw);
}

// values_from_primes makes a key with e = 65537 from two OpenSSL primes of
// the given sizes (any size, also beyond what the generators allow).
inline RsaValues values_from_primes(int pbits, int qbits) {
  ossl::BnCtxPtr ctx(BN_CTX_new());
  ossl::BnPtr e = bn_word(65537);
  auto prime = [&](int bits) {
    ossl::BnPtr p(BN_new()), p1(BN_new()), g(BN_new());
    do {
      BN_generate_prime_ex2(p.get(), bits, 0, nullptr, nullptr, nullptr, ctx.get());
      BN_sub(p1.get(), p.get(), BN_value_one());
      BN_gcd(g.get(), p1.get(), e.get(), ctx.get());
    } while (!BN_is_one(g.get()));
    return p;
  };
  ossl::BnPtr p = prime(pbits), q = prime(qbits);
  ossl::BnPtr n(BN_new()), phi(BN_new()), p1(BN_new()), q1(BN_new()), d(BN_new());
  ossl::BnPtr dp(BN_new()), dq(BN_new()), qinv(BN_new());
  BN_mul(n.get(), p.get(), q.get(), ctx.get());
  BN_sub(p1.get(), p.get(), BN_value_one());
  BN_sub(q1.get(), q.get(), BN_value_one());
  BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
  BN_mod_inverse(d.get(), e.get(), phi.get(), ctx.get());
  BN_mod(dp.get(), d.get(), p1.get(), ctx.get());
  BN_mod(dq.get(), d.get(), q1.get(), ctx.get());
  BN_mod_inverse(qinv.get(), q.get(), p.get(), ctx.get());
  return {bn_bytes(n.get()),  bn_bytes(e.get()),  bn_bytes(d.get()),  bn_bytes(p.get()),
          bn_bytes(q.get()),  bn_bytes(dp.get()), bn_bytes(dq.get()), bn_bytes(qinv.get())};
}

constexpr std::uint8_t kRsaEncryptionOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

inline Bytes finish(der::Writer& w) { return *std::move(w).finish(); }

inline Bytes rsa_public_key_der(ByteView n, ByteView e) {
  der::Writer w;
  w.sequence([&](der::Writer& s) { s.integer(n).integer(e); });
  return finish(w);
}

inline Bytes rsa_private_key_der(const RsaValues& v) {
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{0});
    for (const Bytes* b : {&v.n, &v.e, &v.d, &v.p, &v.q, &v.dp, &v.dq, &v.qinv}) s.integer(*b);
  });
  return finish(w);
}

// spki_der wraps an RSAPublicKey; `with_null` writes the NULL parameters.
inline Bytes spki_der(ByteView rsa_public, bool with_null = true) {
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.sequence([&](der::Writer& a) {
      a.oid(kRsaEncryptionOid);
      if (with_null) a.null();
    });
    s.bit_string(rsa_public);
  });
  return finish(w);
}

inline Bytes pkcs8_der(ByteView rsa_private, bool with_null = true) {
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{0});
    s.sequence([&](der::Writer& a) {
      a.oid(kRsaEncryptionOid);
      if (with_null) a.null();
    });
    s.octet_string(rsa_private);
  });
  return finish(w);
}

inline Bytes concat(ByteView a, ByteView b) {
  Bytes out;
  out.reserve(a.size() + b.size());
  out.insert(out.end(), a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// openssl_public_der is OpenSSL's SubjectPublicKeyInfo of `key`.
inline Bytes openssl_public_der(EVP_PKEY* key) {
  unsigned char* out = nullptr;
  const int len = i2d_PUBKEY(key, &out);
  Bytes der(out, out + (len > 0 ? len : 0));
  OPENSSL_free(out);
  return der;
}

inline ossl::PkeyPtr openssl_read_public(ByteView der) {
  const unsigned char* p = der.data();
  return ossl::PkeyPtr(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
}

inline ossl::PkeyPtr openssl_read_private(ByteView der) {
  const unsigned char* p = der.data();
  return ossl::PkeyPtr(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())));
}

}  // namespace tarnwick::testing
