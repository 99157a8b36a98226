// SM2 signing and verification of 32-byte digests: the GB/T 32918.2 style
// example with a fixed nonce, OpenSSL's SM2 (which signs and verifies the
// digest it is handed as e) as the peer in both directions, the nonce
// redraw rules and the verification checks.
#include <gtest/gtest.h>

#include "../common/peer.h"
#include "../common/scripted_random.h"
#include "sm2_scalar_helpers.h"
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/error.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/sign.h"
#include "crypto/sm2/verify.h"
#include "support/hex.h"
#include "support/os_random.h"
#include "support/ossl.h"

namespace tarnwick::sm2 {
namespace {

using testing::ScriptedDraws;
using testing::SourceGuard;
using testing::unhex;

constexpr const char* kN = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
constexpr const char* kGx = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
constexpr const char* kGy = "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";

// Example key, digest, nonce and signature (GB/T 32918.2 style, recommended
// curve, ID "1234567812345678", message "message digest").
constexpr const char* kD = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
constexpr const char* kPx = "09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020";
constexpr const char* kPy = "CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13";
constexpr const char* kE = "F0B43E94BA45ACCAACE692ED534382EB17E6AB5A19CE7B31F4486FDFC0D28640";
constexpr const char* kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
constexpr const char* kR = "F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3";
constexpr const char* kS = "B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA";

std::string upper(const Bytes& b) {
  std::string s = hex::encode(b);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ossl::BnPtr bn(const std::string& h) {
  BIGNUM* x = nullptr;
  EXPECT_GT(BN_hex2bn(&x, h.c_str()), 0) << h;
  return ossl::BnPtr(x);
}
Bytes be32(const BIGNUM& x) {
  Bytes out(32);
  EXPECT_EQ(BN_bn2binpad(&x, out.data(), 32), 32);
  return out;
}
std::string hex32(const BIGNUM& x) { return upper(be32(x)); }

// ------------------------------------------------------------ OpenSSL peer

struct PeerKey {
  ossl::PkeyPtr pkey;
  std::string d_hex;
  Bytes point;  // 04 ‖ x ‖ y
};

// peer_from_d builds OpenSSL's SM2 key for `d_hex`, with d·G computed by
// OpenSSL's EC arithmetic.
PeerKey peer_from_d(const std::string& d_hex) {
  ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ossl::BnPtr d = bn(d_hex);
  ossl::EcPointPtr q(EC_POINT_new(group.get()));
  EXPECT_EQ(EC_POINT_mul(group.get(), q.get(), d.get(), nullptr, nullptr, nullptr), 1);
  Bytes point(65);
  EXPECT_EQ(EC_POINT_point2oct(group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED, point.data(), 65, nullptr), 65u);
  ossl::ParamBldPtr bld(OSSL_PARAM_BLD_new());
  OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
  OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get());
  OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
  ossl::ParamsPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
  EVP_PKEY* pkey = nullptr;
  EXPECT_EQ(EVP_PKEY_fromdata_init(ctx.get()), 1);
  EXPECT_EQ(EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_KEYPAIR, params.get()), 1);
  return PeerKey{ossl::PkeyPtr(pkey), d_hex, point};
}

PeerKey random_peer() {
  Bytes d(32);
  do {
    EXPECT_EQ(RAND_bytes(d.data(), 32), 1);
    d[0] &= 0x7f;  // below n
  } while (d == Bytes(32, 0));
  return peer_from_d(upper(d));
}

Bytes der_sig(const Bytes& r, const Bytes& s) {
  ECDSA_SIG* sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(r.data(), static_cast<int>(r.size()), nullptr),
                 BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr));
  unsigned char* out = nullptr;
  const int len = i2d_ECDSA_SIG(sig, &out);
  Bytes b(out, out + len);
  OPENSSL_free(out);
  ECDSA_SIG_free(sig);
  return b;
}

bool peer_verifies(const PeerKey& key, const Bytes& e, const Bytes& r, const Bytes& s) {
  const Bytes sig = der_sig(r, s);
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr));
  EXPECT_EQ(EVP_PKEY_verify_init(ctx.get()), 1);
  const int rc = EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), e.data(), e.size());
  ERR_clear_error();
  return rc == 1;
}

// peer_sign returns OpenSSL's signature of `e` as r ‖ s, each 32 bytes.
Bytes peer_sign(const PeerKey& key, const Bytes& e) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr));
  EXPECT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
  Bytes sig(80);
  std::size_t len = sig.size();
  EXPECT_EQ(EVP_PKEY_sign(ctx.get(), sig.data(), &len, e.data(), e.size()), 1);
  const unsigned char* p = sig.data();
  ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(len));
  EXPECT_NE(parsed, nullptr);
  const Bytes out = cat(be32(*ECDSA_SIG_get0_r(parsed)), be32(*ECDSA_SIG_get0_s(parsed)));
  ECDSA_SIG_free(parsed);
  return out;
}

// x1_of returns the x coordinate of k·G computed by OpenSSL.
ossl::BnPtr x1_of(const std::string& k_hex) {
  ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ossl::EcPointPtr q(EC_POINT_new(group.get()));
  ossl::BnPtr k = bn(k_hex);
  EXPECT_EQ(EC_POINT_mul(group.get(), q.get(), k.get(), nullptr, nullptr, nullptr), 1);
  ossl::BnPtr x(BN_new());
  EXPECT_EQ(EC_POINT_get_affine_coordinates(group.get(), q.get(), x.get(), nullptr, nullptr), 1);
  return x;
}

// ------------------------------------------------------------ our keys

Sm2PrivateKey our_private(const std::string& d_hex) { return sm2_testing::private_key_hex(d_hex); }

Sm2PublicKey our_public(const Bytes& point) {
  auto q = p256_ecc::decode_point(point);
  EXPECT_TRUE(q.has_value());
  return q.value_or(p256_ecc::kInfinity);
}

// ------------------------------------------------------------ scripted nonces

std::string mod_n_hex(const ossl::BnPtr& x) {
  ossl::BnPtr r(BN_new());
  ossl::BnCtxPtr ctx(BN_CTX_new());
  EXPECT_EQ(BN_nnmod(r.get(), x.get(), bn(kN).get(), ctx.get()), 1);
  return hex32(*r);
}

// ============================================================ tests

TEST(Sm2SignDigest, StandardExampleWithFixedNonce) {
  ScriptedDraws draws{{kK}};
  SourceGuard guard(&draws);
  auto sig = sign_digest(unhex(kE), our_private(kD));
  ASSERT_TRUE(sig.has_value()) << sig.error().display();
  EXPECT_EQ(upper(sig->r), kR);
  EXPECT_EQ(upper(sig->s), kS);
  EXPECT_EQ(draws.next, 1u);

  const PeerKey peer = peer_from_d(kD);
  EXPECT_EQ(upper(peer.point), std::string("04") + kPx + kPy);
  EXPECT_TRUE(peer_verifies(peer, unhex(kE), sig->r, sig->s));
  EXPECT_TRUE(key::verify_digest(unhex(kE), our_public(peer.point), unhex(std::string(kR) + kS)).has_value());
}

TEST(Sm2SignDigest, InteropWithOpenSsl) {
  for (int i = 0; i < 8; ++i) {
    const PeerKey peer = random_peer();
    SCOPED_TRACE(peer.d_hex);
    Bytes e(32);
    ASSERT_EQ(RAND_bytes(e.data(), 32), 1);
    auto ours = sign_digest(e, our_private(peer.d_hex));
    ASSERT_TRUE(ours.has_value());
    EXPECT_TRUE(peer_verifies(peer, e, ours->r, ours->s));
    const Bytes theirs = peer_sign(peer, e);
    EXPECT_TRUE(key::verify_digest(e, our_public(peer.point), theirs).has_value());
    Bytes other = e;
    other[31] ^= 1;
    EXPECT_EQ(key::verify_digest(other, our_public(peer.point), theirs).error(), Sm2Error::InvalidSignatureDigest);
  }
}

// About one signature in 128 has an r or s below 2^248; it comes back short
// (minimal bytes) and still verifies once left-padded.
TEST(Sm2SignDigest, ShortValuesAreMinimalAndVerify) {
  const PeerKey peer = random_peer();
  const Sm2PrivateKey priv = our_private(peer.d_hex);
  const Sm2PublicKey pub = our_public(peer.point);
  int short_seen = 0;
  for (int i = 0; i < 4000 && short_seen < 2; ++i) {
    Bytes e(32);
    ASSERT_EQ(RAND_bytes(e.data(), 32), 1);
    auto sig = sign_digest(e, priv);
    ASSERT_TRUE(sig.has_value());
    ASSERT_NE(sig->r.front(), 0);
    ASSERT_NE(sig->s.front(), 0);
    if (sig->r.size() == 32 && sig->s.size() == 32) continue;
    ++short_seen;
    EXPECT_TRUE(peer_verifies(peer, e, sig->r, sig->s));
    Bytes joined(64, 0);
    std::copy(sig->r.begin(), sig->r.end(), joined.begin() + static_cast<long>(32 - sig->r.size()));
    std::copy(sig->s.begin(), sig->s.end(), joined.begin() + static_cast<long>(64 - sig->s.size()));
    EXPECT_TRUE(key::verify_digest(e, pub, joined).has_value());
  }
  EXPECT_EQ(short_seen, 2);
}

// GB/T 32918.2 §6.1 A5/A6: a nonce giving r = 0, r + k = n or s = 0 is
// replaced by a fresh one. Each case crafts e so that the first nonce hits
// the rule; the second nonce then signs, and OpenSSL checks the result.
TEST(Sm2SignDigest, RedrawsRejectedNonces) {
  const ossl::BnPtr n = bn(kN), k1 = bn(kK), d = bn(kD), x1 = x1_of(kK);
  ossl::BnCtxPtr ctx(BN_CTX_new());
  auto minus = [&](const BIGNUM& a, const BIGNUM& b) {
    ossl::BnPtr r(BN_new());
    EXPECT_EQ(BN_mod_sub(r.get(), &a, &b, n.get(), ctx.get()), 1);
    return r;
  };
  // r = 0: e = −x1.  r = n − k: e = n − k − x1.  s = 0 (k = r·d): e = k/d − x1.
  ossl::BnPtr zero(BN_new());
  BN_zero(zero.get());
  ossl::BnPtr n_minus_k = minus(*n, *k1);
  ossl::BnPtr d_inv(BN_mod_inverse(nullptr, d.get(), n.get(), ctx.get()));
  ossl::BnPtr k_over_d(BN_new());
  ASSERT_EQ(BN_mod_mul(k_over_d.get(), k1.get(), d_inv.get(), n.get(), ctx.get()), 1);
  struct Case {
    const char* name;
    std::string e_hex;
  };
  const Case cases[] = {
      {"r_zero", hex32(*minus(*zero, *x1))},
      {"r_plus_k_is_n", hex32(*minus(*n_minus_k, *x1))},
      {"s_zero", hex32(*minus(*k_over_d, *x1))},
  };
  const std::string k2 = "0000000000000000000000000000000000000000000000000000000000000007";
  const PeerKey peer = peer_from_d(kD);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDraws draws{{kK, k2}};
    SourceGuard guard(&draws);
    const Bytes e = unhex(c.e_hex);
    auto sig = sign_digest(e, our_private(kD));
    ASSERT_TRUE(sig.has_value()) << sig.error().display();
    EXPECT_EQ(draws.next, 2u);
    ossl::BnPtr sum(BN_new());
    ASSERT_EQ(BN_add(sum.get(), bn(c.e_hex).get(), x1_of(k2).get()), 1);
    EXPECT_EQ(upper(Bytes(32 - sig->r.size(), 0)) + upper(sig->r), mod_n_hex(sum));
    EXPECT_TRUE(peer_verifies(peer, e, sig->r, sig->s));
  }
}

TEST(Sm2SignDigest, Failures) {
  const std::string n_minus_1 = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122";
  // e = −x1(k·G) makes r = 0 for the nonce k, drawn again and again.
  ossl::BnPtr e_r0(BN_new());
  ossl::BnCtxPtr ctx(BN_CTX_new());
  ASSERT_EQ(BN_sub(e_r0.get(), bn(kN).get(), x1_of(kK).get()), 1);
  struct Case {
    const char* name;
    std::string e_hex;
    std::string d_hex;
    std::vector<std::string> draws;
    bool repeat_last;
    std::string error;
  };
  const Case cases[] = {
      {"digest_31_bytes", std::string(kE).substr(2), kD, {kK}, false, "the length of digest must be 32-bytes"},
      {"digest_33_bytes", std::string(kE) + "00", kD, {kK}, false, "the length of digest must be 32-bytes"},
      {"d_is_n_minus_1", kE, n_minus_1, {kK}, false, "the signature is zero, cannot sign"},
      {"d_zero", kE, "00", {kK}, false, "invalid private key"},
      {"d_is_n", kE, kN, {kK}, false, "invalid private key"},
      {"random_source_fails", kE, kD, {}, false, "Input/output error (os error 5)"},
      {"nonce_always_rejected", hex32(*e_r0), kD, {kK}, true, "the random source yields no usable nonce"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDraws draws{c.draws, 0, c.repeat_last};
    SourceGuard guard(&draws);
    auto sig = sign_digest(unhex(c.e_hex), our_private(c.d_hex));
    ASSERT_FALSE(sig.has_value());
    EXPECT_EQ(sig.error().display(), c.error);
  }
}

// d = n − 1 fails with every nonce, including fresh ones from the OS.
TEST(Sm2SignDigest, KeyNMinusOneNeverSigns) {
  auto sig = sign_digest(unhex(kE), our_private("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122"));
  ASSERT_FALSE(sig.has_value());
  EXPECT_EQ(sig.error().display(), "the signature is zero, cannot sign");
}

TEST(Sm2VerifyDigest, Checks) {
  const Bytes e = unhex(kE);
  const Bytes r = unhex(kR), s = unhex(kS);
  const Sm2PublicKey pub = our_public(unhex(std::string("04") + kPx + kPy));
  const ossl::BnPtr n = bn(kN);
  ossl::BnPtr n_minus_r(BN_new());
  ASSERT_EQ(BN_sub(n_minus_r.get(), n.get(), bn(kR).get()), 1);
  auto flip = [](Bytes b, std::size_t i) {
    b[i] ^= 0x01;
    return b;
  };
  struct Case {
    const char* name;
    Bytes e, sig;
    std::optional<Sm2Error> want;  // nullopt = valid
  };
  const Case cases[] = {
      {"valid", e, cat(r, s), std::nullopt},
      {"s_with_extra_leading_zero", e, cat(cat(r, {0x00}), s), std::nullopt},
      {"digest_31_bytes", Bytes(e.begin(), e.end() - 1), cat(r, s), Sm2Error::InvalidDigestLength},
      {"digest_33_bytes", cat(e, {0x00}), cat(r, s), Sm2Error::InvalidDigestLength},
      {"digest_length_checked_first", Bytes{}, Bytes{}, Sm2Error::InvalidDigestLength},
      {"signature_31_bytes", e, Bytes(r.begin(), r.end() - 1), Sm2Error::InvalidSignatureDigest},
      {"signature_32_bytes", e, r, Sm2Error::ZeroSignature},
      {"r_zero", e, cat(Bytes(32, 0), s), Sm2Error::ZeroSignature},
      {"s_zero", e, cat(r, Bytes(32, 0)), Sm2Error::ZeroSignature},
      {"r_zero_s_too_big", e, cat(Bytes(32, 0), Bytes(32, 0xff)), Sm2Error::ZeroSignature},
      {"r_is_n", e, cat(be32(*n), s), Sm2Error::InvalidSignatureDigest},
      {"s_is_n", e, cat(r, be32(*n)), Sm2Error::InvalidSignatureDigest},
      {"s_33_bytes", e, cat(r, cat({0x01}, s)), Sm2Error::InvalidSignatureDigest},
      {"r_plus_s_is_n", e, cat(r, be32(*n_minus_r)), Sm2Error::InvalidSignatureDigest},
      {"e_bit_flipped", flip(e, 0), cat(r, s), Sm2Error::InvalidSignatureDigest},
      {"r_bit_flipped", e, cat(flip(r, 31), s), Sm2Error::InvalidSignatureDigest},
      {"s_bit_flipped", e, cat(r, flip(s, 7)), Sm2Error::InvalidSignatureDigest},
      {"trailing_byte", e, cat(cat(r, s), {0x00}), Sm2Error::InvalidSignatureDigest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = key::verify_digest(c.e, pub, c.sig);
    if (!c.want) {
      EXPECT_TRUE(got.has_value());
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(display(got.error()), display(*c.want));
    }
  }
}

// For the key P = G (d = 1), s = −r/2 mod n puts s·G + (r + s)·G at
// infinity. Reading that point as x1 = 0 would accept r = e mod n for any e;
// OpenSSL rejects it, and so must we.
TEST(Sm2VerifyDigest, SumAtInfinityIsRejected) {
  const PeerKey g_key = peer_from_d("01");
  EXPECT_EQ(upper(g_key.point), std::string("04") + kGx + kGy);
  Bytes e(32);
  ASSERT_EQ(RAND_bytes(e.data(), 32), 1);
  e[0] &= 0x7f;  // e < n, so r = e
  const ossl::BnPtr n = bn(kN), r = biguint::from_bytes(e);
  ossl::BnCtxPtr ctx(BN_CTX_new());
  ossl::BnPtr two = biguint::from_word(2);
  ossl::BnPtr half(BN_mod_inverse(nullptr, two.get(), n.get(), ctx.get()));
  ossl::BnPtr s(BN_new()), minus_r(BN_new());
  ASSERT_EQ(BN_sub(minus_r.get(), n.get(), r.get()), 1);
  ASSERT_EQ(BN_mod_mul(s.get(), minus_r.get(), half.get(), n.get(), ctx.get()), 1);
  EXPECT_FALSE(peer_verifies(g_key, e, be32(*r), be32(*s)));
  auto got = key::verify_digest(e, our_public(g_key.point), cat(be32(*r), be32(*s)));
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error(), Sm2Error::InvalidSignatureDigest);
}

// peer_sign_message signs `message` with OpenSSL's SM2 with SM3 for the
// distinguishing ID `id` and returns r ‖ s, each 32 bytes.
Bytes peer_sign_message(const PeerKey& key, const std::string& id, const std::string& message) {
  ossl::MdCtxPtr md(EVP_MD_CTX_new());
  ossl::PkeyCtxPtr pctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr));
  EXPECT_EQ(EVP_PKEY_CTX_set1_id(pctx.get(), id.data(), id.size()), 1);
  EVP_MD_CTX_set_pkey_ctx(md.get(), pctx.get());
  EXPECT_EQ(EVP_DigestSignInit(md.get(), nullptr, EVP_sm3(), nullptr, key.pkey.get()), 1);
  Bytes sig(80);
  std::size_t len = sig.size();
  EXPECT_EQ(EVP_DigestSign(md.get(), sig.data(), &len, reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()),
            1);
  const unsigned char* p = sig.data();
  ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(len));
  EXPECT_NE(parsed, nullptr);
  Bytes out;
  if (parsed != nullptr) out = cat(be32(*ECDSA_SIG_get0_r(parsed)), be32(*ECDSA_SIG_get0_s(parsed)));
  ECDSA_SIG_free(parsed);
  return out;
}

ByteView text_bytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

TEST(Sm2VerifyWithId, StandardExampleAndIds) {
  const Sm2PublicKey pub = our_public(unhex(std::string("04") + kPx + kPy));
  const Bytes sig = unhex(std::string(kR) + kS);
  const std::string message = "message digest";
  const std::string default_id = "1234567812345678";
  const std::string other_id = "ALICE123@YAHOO.COM";
  const std::string id_8191(8191, 'a'), id_8192(8192, 'a');
  // A point off the curve: the example point with y + 1.
  Bytes off = unhex(std::string("04") + kPx + kPy);
  off[64] ^= 0x01;
  const Sm2PublicKey off_curve = our_public(off);
  struct Case {
    const char* name;
    const Sm2PublicKey* key;
    std::optional<std::string> id;
    std::optional<Sm2Error> want;
  };
  const Case cases[] = {
      {"absent_id", &pub, std::nullopt, std::nullopt},
      {"empty_id", &pub, std::string(), std::nullopt},
      {"default_id", &pub, default_id, std::nullopt},
      {"other_id", &pub, other_id, Sm2Error::InvalidSignatureDigest},
      {"id_8191_bytes", &pub, id_8191, Sm2Error::InvalidSignatureDigest},
      {"id_8192_bytes", &pub, id_8192, Sm2Error::IdTooLong},
      {"key_off_curve", &off_curve, default_id, Sm2Error::InvalidPublicKey},
      {"key_off_curve_and_id_too_long", &off_curve, id_8192, Sm2Error::InvalidPublicKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ByteView> id;
    if (c.id) id = text_bytes(*c.id);
    auto got = verify_with_id(*c.key, id, text_bytes(message), sig);
    if (!c.want) {
      EXPECT_TRUE(got.has_value());
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(display(got.error()), display(*c.want));
    }
  }
}

TEST(Sm2VerifyWithId, AcceptsOpenSslSignaturesForTheirId) {
  const PeerKey peer = random_peer();
  const Sm2PublicKey pub = our_public(peer.point);
  const std::string message = "interop message";
  const std::string custom = "alice@example.com";
  const Bytes by_default = peer_sign_message(peer, "1234567812345678", message);
  const Bytes by_custom = peer_sign_message(peer, custom, message);
  EXPECT_TRUE(verify_with_id(pub, std::nullopt, text_bytes(message), by_default).has_value());
  EXPECT_TRUE(verify_with_id(pub, text_bytes(custom), text_bytes(message), by_custom).has_value());
  EXPECT_FALSE(verify_with_id(pub, std::nullopt, text_bytes(message), by_custom).has_value());
  EXPECT_FALSE(verify_with_id(pub, text_bytes(custom), text_bytes(message), by_default).has_value());
}

}  // namespace
}  // namespace tarnwick::sm2
