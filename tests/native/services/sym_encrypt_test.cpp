#include "vorel/sym/encrypt.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "../crypto/peer.h"
#include "support/base64.h"
#include "support/os_random.h"

namespace tarnwick::vorel::sym {
namespace {

using testing::evp_crypt;
using testing::pattern;
using testing::tohex;
using testing::unhex;

using A = SymAlgorithm;

std::string b64(const Bytes& b) { return base64::encode(b); }

const Bytes kKey16 = pattern(16, 101);
const Bytes kKey32 = pattern(32, 102);
const Bytes kIv = pattern(16, 103);

// The PKCS#7 padding of RFC 5652 §6.3, written out for the peers that have
// none of their own (CFB and SM4's service layer).
Bytes rfc5652_pad(Bytes b) {
  const std::size_t p = 16 - b.size() % 16;
  b.insert(b.end(), p, static_cast<std::uint8_t>(p));
  return b;
}

struct Peer {
  const char* name;
  A algorithm;
  const EVP_CIPHER* (*cipher)();
  bool openssl_padding;  // OpenSSL pads itself
  int service_pads;      // layers of PKCS#7 added before OpenSSL runs
};

// Each algorithm's ciphertext as OpenSSL builds it: AES ECB/CBC with
// OpenSSL's own PKCS#7, AES CFB with PKCS#7 added first, OFB without
// padding; SM4 ECB/CFB with one layer, SM4 CBC with two (the service's and
// the engine's, the engine's one being OpenSSL's).
const Peer kPeers[] = {
    {"AES128ECB", A::AES128ECB, EVP_aes_128_ecb, true, 0},
    {"AES128CBC", A::AES128CBC, EVP_aes_128_cbc, true, 0},
    {"AES128OFB", A::AES128OFB, EVP_aes_128_ofb, false, 0},
    {"AES128CFB", A::AES128CFB, EVP_aes_128_cfb128, false, 1},
    {"AES256ECB", A::AES256ECB, EVP_aes_256_ecb, true, 0},
    {"AES256CBC", A::AES256CBC, EVP_aes_256_cbc, true, 0},
    {"AES256OFB", A::AES256OFB, EVP_aes_256_ofb, false, 0},
    {"AES256CFB", A::AES256CFB, EVP_aes_256_cfb128, false, 1},
    {"SM4ECB", A::SM4ECB, EVP_sm4_ecb, true, 0},
    {"SM4CBC", A::SM4CBC, EVP_sm4_cbc, true, 1},
    {"SM4OFB", A::SM4OFB, EVP_sm4_ofb, false, 0},
    {"SM4CFB", A::SM4CFB, EVP_sm4_cfb128, false, 1},
};

bool is_aes256(A a) { return a >= A::AES256ECB && a <= A::AES256CFB; }
bool is_ecb(A a) { return a == A::AES128ECB || a == A::AES256ECB || a == A::SM4ECB; }

TEST(SymService, AgreesWithOpenSsl) {
  for (const Peer& p : kPeers) {
    const Bytes& key = is_aes256(p.algorithm) ? kKey32 : kKey16;
    const Bytes iv = is_ecb(p.algorithm) ? Bytes{} : kIv;
    for (std::size_t n : {1u, 15u, 16u, 17u, 31u, 32u, 33u, 1000u}) {
      SCOPED_TRACE(std::string(p.name) + " len " + std::to_string(n));
      const Bytes data = pattern(n, static_cast<unsigned>(n));
      Bytes peer_in = data;
      for (int i = 0; i < p.service_pads; ++i) peer_in = rfc5652_pad(peer_in);
      const Bytes expected = evp_crypt(p.cipher(), true, key, iv, peer_in, p.openssl_padding);

      auto enc = sym_encrypt(p.algorithm, data, b64(key), b64(iv));
      ASSERT_TRUE(enc.has_value()) << enc.error().display();
      EXPECT_EQ(tohex(*enc), tohex(expected));
      auto dec = sym_decrypt(p.algorithm, expected, b64(key), b64(iv));
      ASSERT_TRUE(dec.has_value()) << dec.error().display();
      EXPECT_EQ(tohex(*dec), tohex(data));
    }
  }
}

TEST(SymService, CiphertextLengths) {
  struct Case {
    A algorithm;
    std::size_t for1, for16;
  };
  const Case cases[] = {
      {A::AES128ECB, 16, 32}, {A::AES128CBC, 16, 32}, {A::AES128OFB, 1, 16}, {A::AES128CFB, 16, 32},
      {A::AES256ECB, 16, 32}, {A::AES256CBC, 16, 32}, {A::AES256OFB, 1, 16}, {A::AES256CFB, 16, 32},
      {A::SM4ECB, 16, 32},    {A::SM4CBC, 32, 48},    {A::SM4OFB, 1, 16},    {A::SM4CFB, 16, 32},
      {A::SM4GCM, 17, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.algorithm));
    auto key = sym_generate_key(c.algorithm);
    ASSERT_TRUE(key.has_value());
    auto one = sym_encrypt(c.algorithm, Bytes{0x5a}, *key, b64(kIv));
    auto sixteen = sym_encrypt(c.algorithm, Bytes(16, 0x5a), *key, b64(kIv));
    ASSERT_TRUE(one.has_value());
    ASSERT_TRUE(sixteen.has_value());
    EXPECT_EQ(one->size(), c.for1);
    EXPECT_EQ(sixteen->size(), c.for16);
  }
}

// SM4GCM with the service's fixed associated data, against python
// `cryptography` (the vector blocks whose AAD is that value).
TEST(SymService, Sm4GcmAgreesWithPythonCryptography) {
  int seen = 0;
  for (auto& v : testing::load_vectors("sm4_gcm.txt")) {
    if (v["AAD"] != "5e03b7c9d1f2a84460ce9b13d7a25f0e8c6b4a19") continue;
    ++seen;
    SCOPED_TRACE("pt " + v["PT"]);
    const std::string key = b64(unhex(v["Key"])), iv = b64(unhex(v["IV"]));
    const Bytes sealed = unhex(v["CT"] + v["Tag"]);
    const Bytes pt = unhex(v["PT"]);
    if (!pt.empty()) {
      auto enc = sym_encrypt(A::SM4GCM, pt, key, iv);
      ASSERT_TRUE(enc.has_value());
      EXPECT_EQ(tohex(*enc), tohex(sealed));
    }
    auto dec = sym_decrypt(A::SM4GCM, sealed, key, iv);
    ASSERT_TRUE(dec.has_value()) << dec.error().display();
    EXPECT_EQ(tohex(*dec), tohex(pt));

    Bytes tampered = sealed;
    tampered.back() ^= 1;
    auto bad = sym_decrypt(A::SM4GCM, tampered, key, iv);
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().display(), "invalid hmac tag");
  }
  EXPECT_GT(seen, 0);
}

// The argument checks, in their order: each row fails only the check it
// names and passes every earlier one.
TEST(SymService, ChecksInOrder) {
  const std::string k16 = b64(kKey16), k32 = b64(kKey32), iv16 = b64(kIv);
  const Bytes data{1, 2, 3};
  struct Case {
    const char* name;
    A algorithm;
    bool encrypt;
    Bytes data;
    std::string key, iv;
    const char* text;
  };
  const Case cases[] = {
      {"key empty before data empty", A::SM4CBC, true, {}, "", "", "key is empty"},
      {"key empty, decrypt", A::AES128CBC, false, {}, "", "%%", "key is empty"},
      {"plaintext empty", A::SM4CBC, true, {}, k16, "%%", "plaintext is empty"},
      {"ciphertext empty", A::AES256OFB, false, {}, k32, "%%", "ciphertext is empty"},
      {"key symbol before key length", A::AES128ECB, true, data, "AAA*", "%%", "Invalid symbol 42, offset 3."},
      {"key input length", A::SM4OFB, true, data, "AAAAA", iv16, "Invalid input length: 5"},
      {"key last symbol", A::SM4OFB, true, data, "AB==", iv16, "Invalid last symbol 66, offset 1."},
      {"16-byte key for AES256ECB", A::AES256ECB, true, data, k16, "%%", "key len 16, must be 32"},
      {"24-byte key for AES256CBC", A::AES256CBC, false, data, b64(pattern(24)), "%%", "key len 24, must be 32"},
      {"32-byte key for SM4CBC", A::SM4CBC, true, data, k32, "%%", "key len 32, must be 16"},
      {"iv not Base64, ECB too", A::SM4ECB, true, data, k16, "%%", "Invalid symbol 37, offset 0."},
      {"iv not Base64 before iv length", A::AES128CBC, false, data, k16, "AAAAA", "Invalid input length: 5"},
      {"iv 15 bytes", A::AES128CBC, true, data, k16, b64(pattern(15)), "iv len must be 16"},
      {"iv 17 bytes", A::SM4GCM, false, data, k16, b64(pattern(17)), "iv len must be 16"},
      {"iv empty", A::AES256CFB, true, data, k32, "", "iv len must be 16"},
      {"iv empty, SM4CFB decrypt", A::SM4CFB, false, data, k16, "", "iv len must be 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = c.encrypt ? sym_encrypt(c.algorithm, c.data, c.key, c.iv) : sym_decrypt(c.algorithm, c.data, c.key, c.iv);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), c.text);
  }
}

TEST(SymService, EcbIgnoresIv) {
  for (A a : {A::AES128ECB, A::AES256ECB, A::SM4ECB}) {
    const std::string key = b64(is_aes256(a) ? kKey32 : kKey16);
    auto base = sym_encrypt(a, pattern(20), key, "");
    ASSERT_TRUE(base.has_value());
    for (const std::string& iv : {b64(pattern(3)), b64(pattern(16)), b64(pattern(40))}) {
      SCOPED_TRACE(static_cast<int>(a));
      auto enc = sym_encrypt(a, pattern(20), key, iv);
      ASSERT_TRUE(enc.has_value());
      EXPECT_EQ(*enc, *base);
      auto dec = sym_decrypt(a, *base, key, iv);
      ASSERT_TRUE(dec.has_value());
      EXPECT_EQ(*dec, pattern(20));
    }
  }
}

// Decryption failures after the checks. The ciphertexts come from OpenSSL
// with its padding off, so the decrypted block is the one written here.
TEST(SymService, DecryptionFailures) {
  const std::string k16 = b64(kKey16), k32 = b64(kKey32), iv = b64(kIv);
  auto raw = [&](const EVP_CIPHER* c, const Bytes& key, const char* block_hex, bool use_iv = true) {
    return evp_crypt(c, true, key, use_iv ? kIv : Bytes{}, unhex(block_hex), false);
  };
  const char* kEnds00 = "00112233445566778899aabbccddee00";
  const char* kEnds11 = "00112233445566778899aabbccddee11";
  const char* kEnds030403 = "00112233445566778899aabbcc030403";
  const char* kEnds20 = "20202020202020202020202020202020";
  struct Case {
    const char* name;
    A algorithm;
    Bytes data;
    std::string key;
    const char* text;
  };
  const Case cases[] = {
      {"AES128ECB 17 bytes", A::AES128ECB, pattern(17), k16, "Unpad Error"},
      {"AES128CBC 17 bytes", A::AES128CBC, pattern(17), k16, "Unpad Error"},
      {"AES256CFB 17 bytes", A::AES256CFB, pattern(17), k32, "Unpad Error"},
      {"AES128CFB 5 bytes", A::AES128CFB, pattern(5), k16, "Unpad Error"},
      {"AES128ECB ends 00", A::AES128ECB, raw(EVP_aes_128_ecb(), kKey16, kEnds00, false), k16, "Unpad Error"},
      {"AES256CBC ends 11", A::AES256CBC, raw(EVP_aes_256_cbc(), kKey32, kEnds11), k32, "Unpad Error"},
      {"AES128CFB inconsistent", A::AES128CFB, raw(EVP_aes_128_cfb128(), kKey16, kEnds030403), k16, "Unpad Error"},
      {"AES256ECB 32 above 16", A::AES256ECB, raw(EVP_aes_256_ecb(), kKey32, kEnds20, false), k32, "Unpad Error"},
      {"SM4CBC 17 bytes", A::SM4CBC, pattern(17), k16, "the data len of SM4 must be 16"},
      {"SM4CBC engine byte 00", A::SM4CBC, raw(EVP_sm4_cbc(), kKey16, kEnds00), k16,
       "the last u8 of cbc_decrypt out in SM4 must be positive which isn't greater than 16"},
      {"SM4CBC engine byte 11", A::SM4CBC, raw(EVP_sm4_cbc(), kKey16, kEnds11), k16,
       "the last u8 of cbc_decrypt out in SM4 must be positive which isn't greater than 16"},
      {"SM4CBC one layer only", A::SM4CBC, raw(EVP_sm4_cbc(), kKey16, "000102030405060708090a0b0c0d0201"), k16,
       "padding: inconsistent padding bytes"},
      {"SM4CBC nothing left", A::SM4CBC, raw(EVP_sm4_cbc(), kKey16, "10101010101010101010101010101010"), k16,
       "data is empty"},
      {"SM4ECB 15 bytes", A::SM4ECB, pattern(15), k16, "data is empty"},
      {"SM4ECB 1 byte", A::SM4ECB, pattern(1), k16, "data is empty"},
      {"SM4ECB ends 00", A::SM4ECB, raw(EVP_sm4_ecb(), kKey16, kEnds00, false), k16, "padding: invalid padding"},
      {"SM4CFB inconsistent", A::SM4CFB, raw(EVP_sm4_cfb128(), kKey16, kEnds030403), k16,
       "padding: inconsistent padding bytes"},
      {"SM4CFB 3 bytes ending 04", A::SM4CFB, raw(EVP_sm4_cfb128(), kKey16, "000004"), k16, "padding: invalid padding"},
      {"SM4GCM 1 byte", A::SM4GCM, pattern(1), k16, "the data len of SM4 must be 16"},
      {"SM4GCM 15 bytes", A::SM4GCM, pattern(15), k16, "the data len of SM4 must be 16"},
      {"SM4GCM forged 16 bytes", A::SM4GCM, pattern(16), k16, "invalid hmac tag"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = sym_decrypt(c.algorithm, c.data, c.key, iv);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), c.text);
  }
}

// SM4ECB decrypts whole blocks and ignores a partial tail.
TEST(SymService, Sm4EcbIgnoresPartialTail) {
  Bytes ct = evp_crypt(EVP_sm4_ecb(), true, kKey16, {}, pattern(7), true);
  ct.push_back(0xee);
  auto r = sym_decrypt(A::SM4ECB, ct, b64(kKey16), "");
  ASSERT_TRUE(r.has_value()) << r.error().display();
  EXPECT_EQ(*r, pattern(7));
}

TEST(SymService, GeneratedKeys) {
  for (int v = 0; v <= 12; ++v) {
    const A a = static_cast<A>(v);
    SCOPED_TRACE(v);
    auto key = sym_generate_key(a);
    ASSERT_TRUE(key.has_value());
    auto raw = base64::decode(*key);
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->size(), is_aes256(a) ? 32u : 16u);
    EXPECT_EQ(key->size(), is_aes256(a) ? 44u : 24u);
    auto enc = sym_encrypt(a, pattern(40), *key, b64(kIv));
    ASSERT_TRUE(enc.has_value()) << enc.error().display();
    auto dec = sym_decrypt(a, *enc, *key, b64(kIv));
    ASSERT_TRUE(dec.has_value()) << dec.error().display();
    EXPECT_EQ(*dec, pattern(40));
  }
}

long failing_read(void*, std::uint8_t*, std::size_t, int* err) {
  *err = EIO;
  return -1;
}

TEST(SymService, RandomSourceFailureIsPassedOn) {
  os_random::testing::set_source(failing_read, nullptr);
  auto key = sym_generate_key(A::SM4GCM);
  os_random::testing::set_source(nullptr, nullptr);
  ASSERT_FALSE(key.has_value());
  EXPECT_EQ(key.error().display(), "Input/output error (os error 5)");
}

}  // namespace
}  // namespace tarnwick::vorel::sym
