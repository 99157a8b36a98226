// Independent peers for the native tests: OpenSSL's EVP ciphers and SM3, and the
// hex and BIGNUM helpers the tests share.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/bytes.h"
#include "support/hex.h"
#include "support/ossl.h"

namespace tarnwick::testing {

// unhex reads hex digits, skipping spaces; invalid text fails the test.
inline Bytes unhex(std::string_view text) {
  std::string clean;
  for (char c : text)
    if (c != ' ') clean += c;
  auto b = hex::decode(clean);
  EXPECT_TRUE(b.has_value()) << text;
  return b.value_or(Bytes{});
}

// bn_hex parses a hexadecimal BIGNUM constant.
inline ossl::BnPtr bn_hex(const std::string& h) {
  BIGNUM* bn = nullptr;
  EXPECT_GT(BN_hex2bn(&bn, h.c_str()), 0) << h;
  return ossl::BnPtr(bn);
}

inline std::string tohex(ByteView b) { return hex::encode(b); }

// evp_crypt runs `cipher` once over `in`; `padding` toggles OpenSSL's own
// PKCS#7. An OpenSSL failure yields the bytes "<ossl>", which match no
// expected output.
inline Bytes evp_crypt(const EVP_CIPHER* cipher, bool encrypt, ByteView key, ByteView iv, ByteView in,
                       bool padding) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  bool ok = ctx != nullptr &&
            EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(),
                              encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0) == 1 &&
            EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return Bytes{'<', 'o', 's', 's', 'l', '>'};
  out.resize(static_cast<std::size_t>(n1 + n2));
  return out;
}

// openssl_sm3 is OpenSSL's SM3 digest of `data`.
inline Bytes openssl_sm3(ByteView data) {
  Bytes out(32);
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sm3(), nullptr), 1);
  EXPECT_EQ(len, 32u);
  return out;
}

// pattern returns n bytes that differ from block to block.
inline Bytes pattern(std::size_t n, unsigned seed = 1) {
  Bytes b(n);
  std::uint32_t x = 0x9e3779b9u * seed + 7;
  for (auto& v : b) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<std::uint8_t>(x >> 24);
  }
  return b;
}

using VectorBlock = std::map<std::string, std::string>;

// load_vectors reads tests/vectors/<name>: blocks of "Key = Value" lines
// separated by blank lines, "#" starting a comment line.
inline std::vector<VectorBlock> load_vectors(const std::string& name) {
  std::ifstream in(std::string(TARNWICK_SOURCE_DIR) + "/tests/vectors/" + name);
  std::vector<VectorBlock> out;
  VectorBlock cur;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
      continue;
    }
    if (line[0] == '#') continue;
    const auto eq = line.find(" =");
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 2);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    cur[line.substr(0, eq)] = value;
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

}  // namespace tarnwick::testing
