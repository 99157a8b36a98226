// What SM2 leaves in dead stack frames: no 16-byte window of a secret (the
// shared point x2 ‖ y2 and its coordinates, the keystream, d, k, 1 + d,
// (1 + d)⁻¹, r·d, k − r·d) in any form the code holds it in: big-endian
// bytes or words, 64-bit limbs, Montgomery limbs. Each primitive that
// computes one is probed on its own (a later call would otherwise cover what
// it left), then encryption, decryption and signing whole, then the
// services. The secrets' values come from OpenSSL. SM3, which hashes x2 and
// y2 in the key derivation and in C3, is probed alone on the same inputs
// too, so that a find is laid at the right door.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../common/peer.h"
#include "../common/scripted_random.h"
#include "../common/stack_probe.h"
#include "crypto/sm2/key.h"
#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"
#include "crypto/sm2/p256_ecc.h"
#include "crypto/sm2/scalar.h"
#include "crypto/sm2/sign.h"
#include "crypto/sm3/sm3.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/sign.h"
#include "sm2_scalar_helpers.h"
#include "support/base64.h"
#include "support/endian.h"
#include "support/ossl.h"
#include "support/secret.h"

namespace tarnwick::sm2 {
namespace {

namespace probe = testing::stack_probe;
using testing::openssl_sm3;
using testing::unhex;

constexpr const char* kD = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
constexpr const char* kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
constexpr const char* kN = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
constexpr const char* kP = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";

// OpenSSL's arithmetic, the independent side.
struct Peer {
  ossl::EcGroupPtr group{EC_GROUP_new_by_curve_name(NID_sm2)};
  ossl::BnCtxPtr ctx{BN_CTX_new()};

  ossl::BnPtr bn(ByteView be) const { return ossl::BnPtr(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr)); }
  ossl::BnPtr bn(const char* hex) const { return bn(unhex(hex)); }
  static Bytes bytes32(const BIGNUM& v) {
    Bytes out(32);
    EXPECT_EQ(BN_bn2binpad(&v, out.data(), 32), 32);
    return out;
  }
  // mul returns the affine x ‖ y of k·G, or of k·(x ‖ y of `point`).
  Bytes mul(ByteView k, ByteView point = {}) const {
    ossl::EcPointPtr r(EC_POINT_new(group.get()));
    const ossl::BnPtr kb = bn(k);
    int ok;
    if (point.empty()) {
      ok = EC_POINT_mul(group.get(), r.get(), kb.get(), nullptr, nullptr, ctx.get());
    } else {
      ossl::EcPointPtr p(EC_POINT_new(group.get()));
      Bytes oct{0x04};
      oct.insert(oct.end(), point.begin(), point.end());
      EXPECT_EQ(EC_POINT_oct2point(group.get(), p.get(), oct.data(), oct.size(), ctx.get()), 1);
      ok = EC_POINT_mul(group.get(), r.get(), nullptr, p.get(), kb.get(), ctx.get());
    }
    EXPECT_EQ(ok, 1);
    Bytes out(65);
    EXPECT_EQ(EC_POINT_point2oct(group.get(), r.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(), 65, ctx.get()), 65u);
    return Bytes(out.begin() + 1, out.end());
  }
  // mod returns (a op b) mod m for op in + − ×, and a⁻¹ mod m for '/'.
  Bytes mod(ByteView a, char op, ByteView b, const char* m) const {
    const ossl::BnPtr x = bn(a), y = bn(b), mb = bn(m);
    ossl::BnPtr r(BN_new());
    int ok = 0;
    if (op == '+') ok = BN_mod_add(r.get(), x.get(), y.get(), mb.get(), ctx.get());
    if (op == '-') ok = BN_mod_sub(r.get(), x.get(), y.get(), mb.get(), ctx.get());
    if (op == '*') ok = BN_mod_mul(r.get(), x.get(), y.get(), mb.get(), ctx.get());
    if (op == '/') ok = BN_mod_inverse(r.get(), x.get(), mb.get(), ctx.get()) != nullptr;
    EXPECT_EQ(ok, 1);
    return bytes32(*r);
  }
};

Bytes cat(std::initializer_list<ByteView> parts) {
  Bytes out;
  for (ByteView p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes reversed(Bytes b) {
  std::reverse(b.begin(), b.end());
  return b;
}

struct Secret {
  std::string name;
  Bytes value;
};

// forms lists the ways the code may hold the 32-byte value `v`: big-endian
// bytes (the probe also looks for them as host-order big-endian words, the
// form of a FieldElement), little-endian 64-bit limbs (Scalar, and field
// limbs), and, with `montgomery_mod`, limbs of v·2^256 mod that modulus.
std::vector<Secret> forms(const Peer& peer, const std::string& name, const Bytes& v, const char* montgomery_mod) {
  std::vector<Secret> out = {{name, v}, {name + " as limbs", reversed(v)}};
  if (montgomery_mod != nullptr) {
    Bytes r(33, 0);
    r[0] = 1;  // 2^256
    out.push_back({name + " as Montgomery limbs", reversed(peer.mod(v, '*', peer.mod(r, '+', Bytes{0}, montgomery_mod),
                                                                     montgomery_mod))});
  }
  return out;
}

using Finds = std::set<std::pair<std::size_t, bool>>;

Finds scan(const Secret& s, const std::function<void()>& fn) {
  Finds out;
  for (const probe::Find& f : probe::scan_after(s.value, fn).finds) out.insert({f.secret_offset, f.word_swapped});
  return out;
}

std::string describe(const Finds& f) {
  std::string text;
  for (const auto& [offset, swapped] : f)
    text += " [" + std::to_string(offset) + (swapped ? " as words]" : "]");
  return text;
}

struct Case {
  std::string name;
  std::function<void()> run;
  std::vector<Secret> secrets;
  // sm3_alone hashes, with SM3 alone, what the operation hashes.
  std::function<void()> sm3_alone;
};

// check_case runs the operation once to warm up (the first call of a
// process resolves symbols and builds tables, which leaves its own
// traces), then scans for every secret after it.
void check_case(const Case& c) {
  SCOPED_TRACE(c.name);
  c.run();
  for (const Secret& s : c.secrets) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(probe::control(s.value)) << "the probe does not see dead frames";
    const Finds found = scan(s, c.run);
    Finds from_sm3;
    if (c.sm3_alone) {
      c.sm3_alone();
      from_sm3 = scan(s, c.sm3_alone);
    }
    EXPECT_TRUE(from_sm3.empty()) << from_sm3.size() << " window(s) left by SM3 alone:" << describe(from_sm3);
    EXPECT_TRUE(found.empty()) << found.size() << " window(s) left by " << c.name << ":" << describe(found);
  }
}

class Sm2Stack : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!probe::supported()) GTEST_SKIP() << "dead frames are out of the probe's sight in this build";
  }
  Peer peer;
  const Bytes d = unhex(kD);
  const Bytes k = unhex(kK);
  const Sm2PrivateKey priv = sm2_testing::private_key_hex(kD);
};

// Encryption with k injected, and decryption of its result: x2 ‖ y2 = k·P,
// its keystream t = KDF(x2 ‖ y2, 100), k and d.
TEST_F(Sm2Stack, EncryptionAndDecryptionLeaveNoSecret) {
  const Bytes pub_xy = peer.mul(d);
  const Sm2PublicKey pub{p256_field::from_bytes(pub_xy.data()), p256_field::from_bytes(pub_xy.data() + 32),
                         p256_field::kOne};
  Bytes m(100);
  for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<std::uint8_t>(i * 73 + 41);
  const Bytes xy = peer.mul(k, pub_xy);
  const Bytes x2(xy.begin(), xy.begin() + 32), y2(xy.begin() + 32, xy.end());
  Bytes t;
  for (std::uint32_t ct = 1; t.size() < m.size(); ++ct) {
    std::uint8_t be[4];
    store_be32(be, ct);
    const Bytes block = openssl_sm3(cat({xy, ByteView(be, 4)}));
    t.insert(t.end(), block.begin(), block.end());
  }
  t.resize(m.size());

  std::vector<Secret> shared = {{"x2 ‖ y2", xy}, {"keystream", t}};
  for (const auto& [name, v] : {std::pair{"x2", x2}, std::pair{"y2", y2}}) {
    for (Secret& s : forms(peer, name, v, kP)) shared.push_back(std::move(s));
  }
  // What the key derivation and C3 hash.
  auto sm3_alone = [&] {
    for (std::uint32_t ct = 1; ct <= 4; ++ct) {
      std::uint8_t be[4];
      store_be32(be, ct);
      (void)sm3::digest(cat({xy, ByteView(be, 4)}));
    }
    (void)sm3::digest(cat({x2, m, y2}));
  };

  // The probed calls only keep their results: checking them there would
  // run other code over the frames they left.
  auto encrypt_once = [&] {
    testing::ScriptedDraws draws{{kK}};
    testing::SourceGuard guard(&draws);
    return key::encrypt(pub, m);
  };
  const Result<Bytes> first = encrypt_once();
  ASSERT_TRUE(first.has_value());
  ASSERT_EQ(Bytes(first->begin(), first->begin() + 64), peer.mul(k));
  const Bytes raw = cat({Bytes{0x04}, *first});
  Result<Bytes> last = first;
  auto encrypt = [&] { last = encrypt_once(); };
  auto decrypt = [&] { last = key::decrypt_raw(priv, raw); };

  std::vector<Secret> enc_secrets = shared, dec_secrets = shared;
  for (Secret& s : forms(peer, "k", k, kN)) enc_secrets.push_back(std::move(s));
  for (Secret& s : forms(peer, "d", d, kN)) dec_secrets.push_back(std::move(s));
  check_case({"encryption", encrypt, enc_secrets, sm3_alone});
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(*last, *first);
  check_case({"decryption", decrypt, dec_secrets, sm3_alone});
  ASSERT_TRUE(last.has_value()) << last.error().display();
  EXPECT_EQ(*last, m);
}

// Signing with k injected: d, k, 1 + d, (1 + d)⁻¹ and k − r·d, from which
// with the published s and r d follows.
TEST_F(Sm2Stack, SigningLeavesNoSecret) {
  const Bytes e = unhex("F0B43E94BA45ACCAACE692ED534382EB17E6AB5A19CE7B31F4486FDFC0D28640");
  const Bytes kg = peer.mul(k);
  const Bytes x1(kg.begin(), kg.begin() + 32);
  const Bytes r = peer.mod(e, '+', x1, kN);
  const Bytes one_d = peer.mod(d, '+', Bytes{1}, kN);
  const Bytes inv = peer.mod(one_d, '/', {}, kN);
  const Bytes k_rd = peer.mod(k, '-', peer.mod(r, '*', d, kN), kN);
  std::optional<Result<SignatureValues>> sig;
  auto sign = [&] {
    testing::ScriptedDraws draws{{kK}};
    testing::SourceGuard guard(&draws);
    sig = sign_digest(e, priv);
  };
  std::vector<Secret> secrets;
  for (const auto& [name, v] : {std::pair{"d", d}, std::pair{"k", k}, std::pair{"1 + d", one_d},
                                std::pair{"(1 + d)⁻¹", inv}, std::pair{"k − r·d", k_rd}}) {
    for (Secret& s : forms(peer, name, v, kN)) secrets.push_back(std::move(s));
  }
  check_case({"signing", sign, secrets, nullptr});
  ASSERT_TRUE(sig.has_value() && sig->has_value());
  EXPECT_EQ((*sig)->r, r);
  EXPECT_EQ((*sig)->s, peer.mod(inv, '*', k_rd, kN));
}




// Each primitive alone, its result wiped by the caller as SM2's callers do.
TEST_F(Sm2Stack, PrimitivesLeaveNoSecret) {
  const Bytes c1_xy = peer.mul(k);
  const Bytes xy = peer.mul(d, c1_xy);
  const Bytes x2(xy.begin(), xy.begin() + 32), y2(xy.begin() + 32, xy.end());
  const Bytes e(32, 0x5c);
  const Bytes r = peer.mod(e, '+', Bytes(c1_xy.begin(), c1_xy.begin() + 32), kN);
  const Bytes rd = peer.mod(r, '*', d, kN);
  const Bytes one_d = peer.mod(d, '+', Bytes{1}, kN);
  const Sm2PublicKey c1{p256_field::from_bytes(c1_xy.data()), p256_field::from_bytes(c1_xy.data() + 32),
                        p256_field::kOne};
  const p256_ecc::JacobianPoint shared = p256_ecc::mul_point(priv.d, c1);
  const Scalar ks = Scalar::from_bytes(k.data()), rs = Scalar::from_bytes(r.data());
  const Scalar rds = Scalar::from_bytes(rd.data()), one_ds = Scalar::from_bytes(one_d.data());

  auto with = [&](std::initializer_list<std::pair<const char*, const Bytes*>> values, const char* mod) {
    std::vector<Secret> out;
    for (const auto& [name, v] : values)
      for (Secret& s : forms(peer, name, *v, mod)) out.push_back(std::move(s));
    return out;
  };
  const Bytes inv = peer.mod(one_d, '/', {}, kN), k_rd = peer.mod(k, '-', rd, kN);
  const Case cases[] = {
      {"to_affine of d·C1",
       [&] {
         auto a = p256_ecc::to_affine(shared);
         wipe_object(a);
       },
       with({{"x2", &x2}, {"y2", &y2}}, kP), nullptr},
      {"mul_point d·C1",
       [&] {
         auto a = p256_ecc::mul_point(priv.d, c1);
         wipe_object(a);
       },
       with({{"d", &d}}, kN), nullptr},
      {"mul_base k·G",
       [&] {
         auto a = p256_ecc::mul_base(ks);
         wipe_object(a);
       },
       with({{"k", &k}}, kN), nullptr},
      {"add_mod d + 1", [&] { (void)scalar::add_mod(priv.d, Scalar::from_word(1)); },
       with({{"d", &d}, {"1 + d", &one_d}}, kN), nullptr},
      {"reduce d", [&] { (void)scalar::reduce(priv.d); }, with({{"d", &d}}, kN), nullptr},
      {"mul_mod r·d", [&] { (void)scalar::mul_mod(rs, priv.d); }, with({{"d", &d}, {"r·d", &rd}}, kN), nullptr},
      {"sub_mod k − r·d", [&] { (void)scalar::sub_mod(ks, rds); }, with({{"k", &k}, {"k − r·d", &k_rd}}, kN),
       nullptr},
      {"inv_mod (1 + d)⁻¹", [&] { (void)scalar::inv_mod(one_ds); }, with({{"1 + d", &one_d}, {"(1 + d)⁻¹", &inv}}, kN),
       nullptr},
  };
  for (const Case& c : cases) check_case(c);
}

// The services, from key text to result: the key document decoded, read and
// used.
TEST_F(Sm2Stack, ServicesLeaveNoPrivateKey) {
  auto pkcs8 = private_key_to_pkcs8(priv);
  ASSERT_TRUE(pkcs8.has_value());
  const std::string key_text = base64::encode(*pkcs8);
  const Bytes pub_xy = peer.mul(d);
  const std::string pub_text = base64::encode(
      cat({unhex("3059301306072a8648ce3d020106082a811ccf5501822d03420004"), pub_xy}));
  auto ct = ohos::asym::asym_encrypt(ohos::asym::AsymAlgorithm::SM2, Bytes(40, 0x21), pub_text);
  ASSERT_TRUE(ct.has_value()) << ct.error().display();
  const std::vector<Secret> secrets = forms(peer, "d", d, kN);
  std::optional<Result<std::string>> sig;
  check_case({"asymSign SM3WithSM2",
              [&] {
                sig = ohos::asym::asym_sign(ohos::asym::SignAlgorithm::SM3WithSM2, Bytes(40, 0x21), key_text,
                                            "alice");
              },
              secrets, nullptr});
  ASSERT_TRUE(sig.has_value() && sig->has_value());
  std::optional<Result<Bytes>> m;
  check_case({"asymDecrypt SM2", [&] { m = ohos::asym::asym_decrypt(ohos::asym::AsymAlgorithm::SM2, *ct, key_text); },
              secrets, nullptr});
  ASSERT_TRUE(m.has_value() && m->has_value());
  EXPECT_EQ(**m, Bytes(40, 0x21));
}

}  // namespace
}  // namespace tarnwick::sm2
