#include "vorel/sym/encrypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <string_view>

#include "crypto/padding/pkcs7.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/error.h"
#include "support/base64.h"
#include "support/hex.h"
#include "support/ossl.h"
#include "support/secret.h"
#include "vorel/random/random.h"

namespace tarnwick::vorel::sym {
namespace {

constexpr std::size_t kIvLen = 16;
constexpr std::string_view kSm4GcmAad = "5e03b7c9d1f2a84460ce9b13d7a25f0e8c6b4a19";
constexpr const char* kUnpadError = "Unpad Error";

bool known(SymAlgorithm a) { return static_cast<std::uint8_t>(a) <= static_cast<std::uint8_t>(SymAlgorithm::SM4GCM); }

// The binding rejects other values before calling; C++ callers get the
// same text.
std::unexpected<Error> unknown(SymAlgorithm a) {
  return fail("value `" + std::to_string(static_cast<unsigned>(a)) +
              "` does not match any variant of enum `SymAlgorithm`");
}

std::size_t key_len(SymAlgorithm a) {
  switch (a) {
    case SymAlgorithm::AES256ECB:
    case SymAlgorithm::AES256CBC:
    case SymAlgorithm::AES256OFB:
    case SymAlgorithm::AES256CFB: return 32;
    default: return 16;
  }
}

bool ignores_iv(SymAlgorithm a) {
  return a == SymAlgorithm::AES128ECB || a == SymAlgorithm::AES256ECB || a == SymAlgorithm::SM4ECB;
}

// The AES algorithms map to OpenSSL ciphers; nullptr for SM4.
const EVP_CIPHER* aes_cipher(SymAlgorithm a) {
  switch (a) {
    case SymAlgorithm::AES128ECB: return EVP_aes_128_ecb();
    case SymAlgorithm::AES128CBC: return EVP_aes_128_cbc();
    case SymAlgorithm::AES128OFB: return EVP_aes_128_ofb();
    case SymAlgorithm::AES128CFB: return EVP_aes_128_cfb128();
    case SymAlgorithm::AES256ECB: return EVP_aes_256_ecb();
    case SymAlgorithm::AES256CBC: return EVP_aes_256_cbc();
    case SymAlgorithm::AES256OFB: return EVP_aes_256_ofb();
    case SymAlgorithm::AES256CFB: return EVP_aes_256_cfb128();
    default: return nullptr;
  }
}

bool is_aes_ofb(SymAlgorithm a) { return a == SymAlgorithm::AES128OFB || a == SymAlgorithm::AES256OFB; }

bool service_pads(SymAlgorithm a) {
  return a == SymAlgorithm::SM4ECB || a == SymAlgorithm::SM4CBC || a == SymAlgorithm::SM4CFB;
}

struct Material {
  SecretBytes key;
  Bytes iv;
};

// check runs the argument checks shared by both directions, in order.
Result<Material> check(SymAlgorithm algorithm, const Bytes& data, const std::string& key, const std::string& iv,
                       const char* empty_data_text) {
  if (!known(algorithm)) return unknown(algorithm);
  if (key.empty()) return fail("key is empty");
  if (data.empty()) return fail(empty_data_text);
  auto key_bytes = base64::decode_secret(key);
  if (!key_bytes) return std::unexpected(key_bytes.error());
  const std::size_t required = key_len(algorithm);
  if (key_bytes->size() != required) {
    return fail("key len " + std::to_string(key_bytes->size()) + ", must be " + std::to_string(required));
  }
  auto iv_bytes = base64::decode(iv);
  if (!iv_bytes) return std::unexpected(iv_bytes.error());
  if (!ignores_iv(algorithm) && iv_bytes->size() != kIvLen) return fail("iv len must be " + std::to_string(kIvLen));
  return Material{std::move(*key_bytes), std::move(*iv_bytes)};
}

// evp_run passes `data` through the AES cipher in place, with OpenSSL's
// padding off. Its failures are ours to word: no OpenSSL text leaves here.
bool evp_run(const EVP_CIPHER* cipher, bool encrypt, const Material& m, Bytes& data) {
  ossl::ErrorQueueGuard guard;
  ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  const unsigned char* iv = EVP_CIPHER_get_iv_length(cipher) > 0 ? m.iv.data() : nullptr;
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, m.key.data(), iv, encrypt ? 1 : 0) != 1) return false;
  if (EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) return false;
  std::size_t off = 0;
  constexpr std::size_t kChunk = std::size_t{1} << 30;  // whole blocks, below INT_MAX
  while (off < data.size()) {
    const std::size_t n = std::min(kChunk, data.size() - off);
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), data.data() + off, &written, data.data() + off, static_cast<int>(n)) != 1 ||
        static_cast<std::size_t>(written) != n) {
      return false;
    }
    off += n;
  }
  int tail = 0;
  unsigned char final_block[EVP_MAX_BLOCK_LENGTH];
  if (EVP_CipherFinal_ex(ctx.get(), final_block, &tail) != 1 || tail != 0) return false;
  return true;
}

// aes_unpad removes PKCS#7 padding of 1 … 16 bytes. The check reads the last
// 16 bytes whatever the padding length, with masks in place of branches.
bool aes_unpad(Bytes& data) {
  if (data.size() < 16) return false;
  const std::uint8_t p = data.back();
  unsigned bad = static_cast<unsigned>(p == 0) | static_cast<unsigned>(p > 16);
  for (std::size_t i = 1; i <= 16; ++i) {
    const unsigned in_pad = 0u - static_cast<unsigned>(i <= p);
    bad |= (data[data.size() - i] ^ p) & in_pad;
  }
  if (bad != 0) return false;
  data.resize(data.size() - p);
  return true;
}

Result<sm4::Sm4KeySchedule> sm4_schedule(const Material& m) {
  auto s = sm4::cipher::key_schedule(m.key);
  if (!s) return std::unexpected(sm4::to_error(s.error()));
  return *s;
}

sm4::Sm4Mode sm4_mode(SymAlgorithm a) {
  switch (a) {
    case SymAlgorithm::SM4CBC: return sm4::Sm4Mode::Cbc;
    case SymAlgorithm::SM4OFB: return sm4::Sm4Mode::Ofb;
    case SymAlgorithm::SM4CFB: return sm4::Sm4Mode::Cfb;
    default: return sm4::Sm4Mode::Gcm;
  }
}

Result<Bytes> sm4_aad(SymAlgorithm a) {
  if (a != SymAlgorithm::SM4GCM) return Bytes{};
  auto aad = hex::decode(kSm4GcmAad);
  if (!aad) return fail("invalid associated data");
  return std::move(*aad);
}

Result<Bytes> sm4_run(SymAlgorithm algorithm, bool encrypt, const Material& m, const Bytes& data) {
  auto schedule = sm4_schedule(m);
  if (!schedule) return std::unexpected(schedule.error());
  std::expected<Bytes, sm4::Sm4Error> out;
  if (algorithm == SymAlgorithm::SM4ECB) {
    out = encrypt ? sm4::cipher::encrypt_ecb(*schedule, data) : sm4::cipher::decrypt_ecb(*schedule, data);
  } else {
    auto aad = sm4_aad(algorithm);
    if (!aad) return std::unexpected(aad.error());
    const sm4::Sm4ModeCipher cipher{*schedule, sm4_mode(algorithm)};
    out = encrypt ? sm4::cipher_mode::encrypt(cipher, *aad, data, m.iv)
                  : sm4::cipher_mode::decrypt(cipher, *aad, data, m.iv);
  }
  if (!out) return std::unexpected(sm4::to_error(out.error()));
  return std::move(*out);
}

}  // namespace

Result<std::string> sym_generate_key(SymAlgorithm algorithm) {
  if (!known(algorithm)) return unknown(algorithm);
  auto bytes = random::random_bytes(key_len(algorithm));
  if (!bytes) return std::unexpected(bytes.error());
  WipeOnExit wipe_key(*bytes);
  return base64::encode(*bytes);
}

Result<Bytes> sym_encrypt(SymAlgorithm algorithm, Bytes data, std::string key, std::string iv) {
  WipeOnExit wipe_key_text(key);
  auto m = check(algorithm, data, key, iv, "plaintext is empty");
  if (!m) return std::unexpected(m.error());

  if (const EVP_CIPHER* aes = aes_cipher(algorithm)) {
    if (!is_aes_ofb(algorithm)) padding::pkcs7::pad(data);
    if (!evp_run(aes, true, *m, data)) return fail("AES encryption failed");
    return data;
  }
  if (service_pads(algorithm)) padding::pkcs7::pad(data);
  return sm4_run(algorithm, true, *m, data);
}

Result<Bytes> sym_decrypt(SymAlgorithm algorithm, Bytes data, std::string key, std::string iv) {
  WipeOnExit wipe_key_text(key);
  auto m = check(algorithm, data, key, iv, "ciphertext is empty");
  if (!m) return std::unexpected(m.error());

  if (const EVP_CIPHER* aes = aes_cipher(algorithm)) {
    if (is_aes_ofb(algorithm)) {
      if (!evp_run(aes, false, *m, data)) return fail("AES decryption failed");
      return data;
    }
    if (data.size() % 16 != 0) return fail(kUnpadError);
    if (!evp_run(aes, false, *m, data) || !aes_unpad(data)) return fail(kUnpadError);
    return data;
  }
  auto out = sm4_run(algorithm, false, *m, data);
  if (!out) return out;
  if (service_pads(algorithm)) {
    if (auto r = padding::pkcs7::unpad(*out); !r) return std::unexpected(r.error());
  }
  return out;
}

}  // namespace tarnwick::vorel::sym
