#include "crypto/sm2/key_encoding.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include "sm2_scalar_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include "crypto/sm2/biguint.h"
#include "support/der.h"
#include "support/hex.h"

namespace tarnwick::sm2 {
namespace {

using testing::unhex;

const std::string kAlgHex = "301306072a8648ce3d020106082a811ccf5501822d";
const std::string kGHex =
    "0432c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7"
    "bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0";


// A scratch directory for the openssl command's files.
class OpensslFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnwick_sm2_keys_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static void run(const std::string& cmd) {
    FILE* f = popen((cmd + " 2>&1").c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, f)) out += buf;
    ASSERT_EQ(pclose(f), 0) << cmd << "\n" << out;
  }
  static Bytes read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void write(const std::string& p, ByteView b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  std::string dir_;
};

Sm2PrivateKey key_from_hex(const std::string& d_hex) { return sm2_testing::private_key_hex(d_hex); }

TEST_F(OpensslFiles, OurDocumentsHaveTheLayoutAndOpensslReadsThem) {
  struct Case {
    const char* name;
    std::string d_hex;
    std::size_t size;
    std::string prefix;
  };
  const Case cases[] = {
      {"d_32_bytes", "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8", 150,
       "308193020100" + kAlgHex + "0479307702010104203945208f"},
      {"d_31_bytes", "0045208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8", 149,
       "308192020100" + kAlgHex + "04783076020101041f45208f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Sm2PrivateKey key = key_from_hex(c.d_hex);
    const Bytes pkcs8 = private_key_to_pkcs8(key).value();
    EXPECT_EQ(pkcs8.size(), c.size);
    EXPECT_EQ(hex::encode(pkcs8).substr(0, c.prefix.size()), c.prefix);
    const Bytes spki = public_key_to_spki(key.public_key).value();
    ASSERT_EQ(spki.size(), 91u);
    EXPECT_EQ(hex::encode(spki).substr(0, 54), "3059" + kAlgHex + "034200" + "04");
    EXPECT_EQ(Bytes(spki.end() - 65, spki.end()), p256_ecc::encode_uncompressed(key.public_key));

    // The openssl command reads our PKCS#8 and derives the same SPKI.
    write(path("ours.p8"), pkcs8);
    run("openssl pkey -inform DER -in " + path("ours.p8") + " -pubout -outform DER -out " + path("pub.der"));
    EXPECT_EQ(read(path("pub.der")), spki);

    // And we read both back.
    const Sm2PrivateKey back = private_key_from_pkcs8(pkcs8).value();
    EXPECT_EQ(sm2_testing::hex_of(back.d), sm2_testing::hex_of(key.d));
    EXPECT_EQ(p256_ecc::to_affine(back.public_key), p256_ecc::to_affine(key.public_key));
    EXPECT_EQ(public_key_from_spki(spki).value(), p256_ecc::to_affine(key.public_key));
  }
}

TEST_F(OpensslFiles, WeReadOpensslKeys) {
  const std::pair<const char*, std::string> gens[] = {
      {"genpkey", "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -outform DER -out "},
      {"ecparam", "openssl ecparam -name SM2 -genkey -noout -outform DER -out "},
  };
  for (const auto& [name, gen] : gens) {
    SCOPED_TRACE(name);
    run(gen + path("k.der"));
    // The bare SEC1 form (what `openssl pkey/ec -outform DER` write for EC keys) and
    // PKCS#8 (ECPrivateKey without [0] parameters, d padded to 32 bytes).
    run("openssl ec -in " + path("k.der") + " -inform DER -outform DER -out " + path("k.sec1"));
    run("openssl pkcs8 -topk8 -nocrypt -in " + path("k.der") + " -inform DER -outform DER -out " + path("k.p8"));
    run("openssl pkey -in " + path("k.der") + " -inform DER -pubout -outform DER -out " + path("k.pub"));
    const Bytes pub = read(path("k.pub"));

    auto from_pkcs8 = private_key_from_pkcs8(read(path("k.p8")));
    ASSERT_TRUE(from_pkcs8.has_value()) << from_pkcs8.error().display();
    auto from_sec1 = private_key_from_sec1_der(read(path("k.sec1")));
    ASSERT_TRUE(from_sec1.has_value()) << from_sec1.error().display();
    EXPECT_EQ(sm2_testing::hex_of(from_pkcs8->d), sm2_testing::hex_of(from_sec1->d));
    EXPECT_EQ(public_key_to_spki(from_pkcs8->public_key).value(), pub);
    EXPECT_EQ(public_key_to_spki(from_sec1->public_key).value(), pub);
    auto spki = public_key_from_spki(pub);
    ASSERT_TRUE(spki.has_value()) << spki.error().display();
    EXPECT_EQ(*spki, p256_ecc::to_affine(from_pkcs8->public_key));
  }
}

// spki builds a SubjectPublicKeyInfo from the hex of its AlgorithmIdentifier
// and of its BIT STRING contents (unused-bits byte first).
Bytes spki(const std::string& alg_hex, const std::string& bits_hex) {
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.raw(unhex(alg_hex));
    s.primitive(der::kBitString, unhex(bits_hex));
  });
  return std::move(w).finish().value();
}

// sec1 builds an ECPrivateKey from raw parts ("" leaves a field out).
Bytes sec1(const std::string& d_hex, const std::string& params_oid_hex, const std::string& pub_bits_hex) {
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{1});
    s.octet_string(unhex(d_hex));
    if (!params_oid_hex.empty()) s.explicit_(0, [&](der::Writer& p) { p.oid(unhex(params_oid_hex)); });
    if (!pub_bits_hex.empty()) s.explicit_(1, [&](der::Writer& p) { p.primitive(der::kBitString, unhex(pub_bits_hex)); });
  });
  return std::move(w).finish().value();
}

Bytes pkcs8(const std::string& alg_hex, ByteView inner) {
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{0});
    s.raw(unhex(alg_hex));
    s.octet_string(inner);
  });
  return std::move(w).finish().value();
}

TEST(Sm2KeyEncoding, PublicKeyReaderAcceptsAndRejects) {
  const std::string xy = kGHex.substr(2);
  const std::string rsa_alg = "300d06092a864886f70d0101010500";
  const std::string p256_alg = "301306072a8648ce3d020106082a8648ce3d030107";
  const std::string no_params_alg = "300906072a8648ce3d0201";
  std::string off_curve = kGHex;
  off_curve.back() = '1';
  // x = p + 1: 1 is the x of a curve point, so only the range check refuses it.
  const std::string x_unreduced = "fffffffeffffffffffffffffffffffffffffffff000000010000000000000000";
  ASSERT_TRUE(p256_ecc::decode_point(unhex("02" + x_unreduced)).has_value());
  ASSERT_TRUE(p256_ecc::is_on_curve(p256_ecc::decode_point(unhex("02" + x_unreduced)).value()));
  const std::string integer_text = "ASN.1 error: malformed ASN.1 DER value for INTEGER";
  struct Case {
    const char* name;
    Bytes doc;
    std::string error;  // empty: accepted as G
  };
  const Case cases[] = {
      {"uncompressed", spki(kAlgHex, "00" + kGHex), ""},
      {"prefix_05", spki(kAlgHex, "0005" + xy), ""},
      {"compressed", spki(kAlgHex, "0002" + xy.substr(0, 64)), ""},
      {"rsa_algorithm", spki(rsa_alg, "00" + kGHex), "unknown/unsupported algorithm OID: 1.2.840.10045.2.1"},
      {"no_parameters", spki(no_params_alg, "00" + kGHex), "AlgorithmIdentifier parameters missing"},
      {"other_curve", spki(p256_alg, "00" + kGHex), "unknown/unsupported algorithm OID: 1.2.156.10197.1.301"},
      {"unused_bits", spki(kAlgHex, "01" + kGHex), "ASN.1 error: malformed ASN.1 DER value for BIT STRING"},
      {"empty_key", spki(kAlgHex, "00"), integer_text},
      {"64_bytes", spki(kAlgHex, "00" + xy), integer_text},
      {"66_bytes", spki(kAlgHex, "00" + kGHex + "00"), integer_text},
      {"off_curve", spki(kAlgHex, "00" + off_curve), integer_text},
      {"compressed_x_above_p", spki(kAlgHex, "0002" + x_unreduced), integer_text},
      {"uncompressed_x_above_p", spki(kAlgHex, "0004" + x_unreduced + std::string(64, '0')), integer_text},
  };
  const auto g = p256_ecc::init_curve_params().g;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = public_key_from_spki(c.doc);
    if (c.error.empty()) {
      ASSERT_TRUE(got.has_value()) << got.error().display();
      EXPECT_EQ(*got, g);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().display(), c.error);
    }
  }
  // Malformed structures keep the DER text behind the prefix.
  Bytes truncated = spki(kAlgHex, "00" + kGHex);
  truncated.pop_back();
  EXPECT_EQ(public_key_from_spki(truncated).error().display().rfind("ASN.1 error: ", 0), 0u);
}

// openssl_public returns d·G (04 ‖ x ‖ y, hex) and its negation, by
// OpenSSL's SM2 group.
std::pair<std::string, std::string> openssl_public(const std::string& d_hex) {
  const ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  const ossl::BnCtxPtr ctx(BN_CTX_new());
  const ossl::BnPtr d = biguint::from_bytes(unhex(d_hex));
  const ossl::EcPointPtr p(EC_POINT_new(group.get()));
  EXPECT_EQ(EC_POINT_mul(group.get(), p.get(), d.get(), nullptr, nullptr, ctx.get()), 1);
  Bytes out(65);
  EXPECT_EQ(EC_POINT_point2oct(group.get(), p.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(), 65, ctx.get()),
            65u);
  const std::string pub = hex::encode(out);
  EXPECT_EQ(EC_POINT_invert(group.get(), p.get(), ctx.get()), 1);
  EXPECT_EQ(EC_POINT_point2oct(group.get(), p.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(), 65, ctx.get()),
            65u);
  return {pub, hex::encode(out)};
}

TEST(Sm2KeyEncoding, PrivateKeyReadersAcceptAndReject) {
  const std::string d = "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8";
  const std::string sm2_oid = "2a811ccf5501822d";
  const std::string p256_oid = "2a8648ce3d030107";
  const std::string other_pub = "00" + kGHex;  // G belongs to d = 1, not d
  // The document's own point, and points that share its x: the public key
  // read is d·G whichever of them the document carries.
  const auto [own, own_negated] = openssl_public(d);
  const bool y_odd = (unhex(own.substr(128, 2))[0] & 1) != 0;
  const std::string own_compressed = (y_odd ? "03" : "02") + own.substr(2, 64);
  struct Case {
    const char* name;
    Bytes sec1_doc;
    std::string want_d_hex;  // empty: rejected
    std::string pkcs8_error;
    std::string sec1_error;
  };
  const Case cases[] = {
      {"plain", sec1(d, sm2_oid, ""), d, "", ""},
      {"left_padded_33", sec1("00" + d, "", ""), d, "", ""},
      {"other_curve_params", sec1(d, p256_oid, ""), d, "", ""},
      {"public_key_of_another_scalar", sec1(d, sm2_oid, other_pub), d, "", ""},
      {"own_public_key", sec1(d, sm2_oid, "00" + own), d, "", ""},
      {"own_public_key_negated", sec1(d, sm2_oid, "00" + own_negated), d, "", ""},
      {"own_public_key_compressed", sec1(d, "", "00" + own_compressed), d, "", ""},
      {"all_zero_d", sec1(std::string(64, '0'), "", ""), "00", "", ""},
      {"d_33_bytes", sec1("01" + d, "", ""), "", "PKCS#8 ASN.1 error: malformed ASN.1 DER value for SEQUENCE",
       "malformed ASN.1 DER value for SEQUENCE"},
      {"public_key_64_bytes", sec1(d, "", "00" + kGHex.substr(2)), "",
       "PKCS#8 ASN.1 error: malformed ASN.1 DER value for BIT STRING", "malformed ASN.1 DER value for BIT STRING"},
      {"public_key_empty", sec1(d, "", "00"), "", "PKCS#8 ASN.1 error: malformed ASN.1 DER value for BIT STRING",
       "malformed ASN.1 DER value for BIT STRING"},
  };
  // Both ways of reading (with d·G, and d alone for decryption) accept and
  // reject the same documents with the same texts.
  for (const Case& c : cases) {
    for (const PublicKeyPart part : {PublicKeyPart::kCompute, PublicKeyPart::kSkip}) {
      SCOPED_TRACE(std::string(c.name) + (part == PublicKeyPart::kSkip ? " d_alone" : ""));
      auto from_p8 = private_key_from_pkcs8(pkcs8(kAlgHex, c.sec1_doc), part);
      auto from_sec1 = private_key_from_sec1_der(c.sec1_doc, part);
      if (c.want_d_hex.empty()) {
        ASSERT_FALSE(from_p8.has_value());
        ASSERT_FALSE(from_sec1.has_value());
        EXPECT_EQ(from_p8.error().display(), c.pkcs8_error);
        EXPECT_EQ(from_sec1.error().display(), c.sec1_error);
        continue;
      }
      ASSERT_TRUE(from_p8.has_value()) << from_p8.error().display();
      ASSERT_TRUE(from_sec1.has_value()) << from_sec1.error().display();
      const ossl::BnPtr want = biguint::from_bytes(unhex(c.want_d_hex));
      EXPECT_EQ(BN_cmp(sm2_testing::bn_of(from_p8->d).get(), want.get()), 0);
      EXPECT_EQ(BN_cmp(sm2_testing::bn_of(from_sec1->d).get(), want.get()), 0);
      if (part == PublicKeyPart::kSkip) {
        EXPECT_TRUE(p256_ecc::is_infinity(from_p8->public_key));
        EXPECT_TRUE(p256_ecc::is_infinity(from_sec1->public_key));
        continue;
      }
      EXPECT_EQ(p256_ecc::encode_uncompressed(from_p8->public_key),
                p256_ecc::encode_uncompressed(p256_ecc::mul_base(*want).value()));
    }
  }
  EXPECT_TRUE(p256_ecc::is_infinity(private_key_from_sec1_der(sec1(std::string(64, '0'), "", "")).value().public_key));

  const std::string rsa_alg = "300d06092a864886f70d0101010500";
  const std::string no_params_alg = "300906072a8648ce3d0201";
  const std::string p256_alg = "301306072a8648ce3d020106082a8648ce3d030107";
  struct AlgCase {
    const char* name;
    std::string alg_hex;
    std::string error;
  };
  const AlgCase alg_cases[] = {
      {"rsa", rsa_alg, "public key error: unknown/unsupported algorithm OID: 1.2.840.10045.2.1"},
      {"no_params", no_params_alg, "public key error: AlgorithmIdentifier parameters missing"},
      {"other_curve", p256_alg, "public key error: unknown/unsupported algorithm OID: 1.2.156.10197.1.301"},
  };
  for (const AlgCase& c : alg_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(private_key_from_pkcs8(pkcs8(c.alg_hex, sec1(d, "", ""))).error().display(), c.error);
  }
  const Bytes not_der = unhex("0102");
  EXPECT_EQ(private_key_from_pkcs8(not_der).error().display().rfind("PKCS#8 ASN.1 error: ", 0), 0u);
}

// Curve parameters that are an OBJECT IDENTIFIER but a malformed one (no
// content octets; a subidentifier with a leading 80 octet; one cut off
// inside a subidentifier) get the DER text behind each reader's prefix, not
// the "unknown/unsupported algorithm OID" of a well-formed other curve. An
// unknown algorithm is still reported first.
TEST(Sm2KeyEncoding, MalformedCurveParametersGetTheDerText) {
  const std::string d = "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8";
  struct Case {
    const char* name;
    std::string oid_content_hex;
  };
  const Case cases[] = {
      {"empty", ""},
      {"non_minimal_subidentifier", "2a80811ccf5501822d"},
      {"cut_inside_subidentifier", "2a811ccf550182"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t len = c.oid_content_hex.size() / 2;
    const std::string params = "06" + hex::encode(Bytes{static_cast<std::uint8_t>(len)}) + c.oid_content_hex;
    const std::string alg = "30" + hex::encode(Bytes{static_cast<std::uint8_t>(9 + 2 + len)}) + "06072a8648ce3d0201" + params;
    // The parameters start at byte 13 of the SubjectPublicKeyInfo (30 xx,
    // 30 xx, the 9-byte algorithm) and at byte 16 of the PKCS#8 document
    // (30 xx, 02 01 00, 30 xx, the algorithm).
    EXPECT_EQ(public_key_from_spki(spki(alg, "00" + kGHex)).error().display(), "ASN.1 error: malformed OID at DER byte 13");
    EXPECT_EQ(private_key_from_pkcs8(pkcs8(alg, sec1(d, "", ""))).error().display(),
              "PKCS#8 ASN.1 error: malformed OID at DER byte 16");
    // Inside the ECPrivateKey, [0] starts at byte 39 (30 xx, 02 01 01, the
    // 34-byte privateKey) and its OBJECT IDENTIFIER at byte 41.
    const Bytes bad_sec1 = sec1(d, c.oid_content_hex.empty() ? "" : c.oid_content_hex, "");
    if (!c.oid_content_hex.empty()) {
      EXPECT_EQ(private_key_from_sec1_der(bad_sec1).error().display(), "malformed OID at DER byte 41");
      EXPECT_EQ(private_key_from_pkcs8(pkcs8(kAlgHex, bad_sec1)).error().display(),
                "PKCS#8 ASN.1 error: malformed OID at DER byte 41");
    }
    // Another algorithm with the same parameters: the algorithm is reported.
    const std::string rsa_alg =
        "30" + hex::encode(Bytes{static_cast<std::uint8_t>(11 + 2 + len)}) + "06092a864886f70d010101" + params;
    EXPECT_EQ(public_key_from_spki(spki(rsa_alg, "00" + kGHex)).error().display(),
              "unknown/unsupported algorithm OID: 1.2.840.10045.2.1");
    EXPECT_EQ(private_key_from_pkcs8(pkcs8(rsa_alg, sec1(d, "", ""))).error().display(),
              "public key error: unknown/unsupported algorithm OID: 1.2.840.10045.2.1");
  }
}

}  // namespace
}  // namespace tarnwick::sm2
