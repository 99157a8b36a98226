#include "ohos/asym/rsa_ops.h"

#include <cstddef>
#include <cstdint>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include "support/ossl.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace {

constexpr const char* kMessageTooLong = "message too long";
constexpr const char* kDecryptionError = "decryption error";
constexpr const char* kInternalError = "internal error";

// RFC 8017 §7.1.1: mLen <= k - 2hLen - 2 with hLen = 32 for SHA-256.
constexpr std::ptrdiff_t kOaepOverhead = 2 * 32 + 2;
// RFC 8017 §9.2 step 3: emLen >= tLen + 11.
constexpr std::ptrdiff_t kPkcs1Overhead = 11;

// Never hand OpenSSL a null pointer for an empty input.
const std::uint8_t kEmpty[1] = {0};
const unsigned char* bytes_of(ByteView v) { return v.empty() ? kEmpty : v.data(); }

// modulus_size is k, the size of n in bytes, or 0 when `key` is not usable.
std::ptrdiff_t modulus_size(EVP_PKEY* key) {
  if (key == nullptr || EVP_PKEY_is_a(key, "RSA") != 1) return 0;
  const int k = EVP_PKEY_get_size(key);
  return k > 0 ? k : 0;
}

// below_modulus tells whether the k-byte big-endian `value` is less than n.
bool below_modulus(EVP_PKEY* key, ByteView value) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &raw) != 1) return false;
  ossl::BnPtr n(raw);
  ossl::BnPtr v(BN_bin2bn(bytes_of(value), static_cast<int>(value.size()), nullptr));
  return v && BN_cmp(v.get(), n.get()) < 0;
}

struct DigestInfo {
  const EVP_MD* md;
  std::ptrdiff_t prefix_len;  // DER DigestInfo before the hash (RFC 8017 §9.2 note 1)
  std::ptrdiff_t hash_len;
};

DigestInfo digest_info(RsaDigest digest) {
  if (digest == RsaDigest::kSha1) return {EVP_sha1(), 15, 20};
  return {EVP_sha256(), 19, 32};
}

// pkey_ctx makes an operation context for `key` with PKCS#1 v1.5 padding and
// `md` for the DigestInfo, after `init` has run on it.
ossl::PkeyCtxPtr signature_ctx(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*), const EVP_MD* md) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!ctx || init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1)
    return nullptr;
  return ctx;
}

ossl::PkeyCtxPtr oaep_ctx(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*)) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!ctx || init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
      EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha256()) != 1 ||
      EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha256()) != 1)
    return nullptr;
  return ctx;
}

bool hash(const DigestInfo& info, ByteView data, unsigned char* out) {
  unsigned int len = 0;
  return EVP_Digest(bytes_of(data), data.size(), out, &len, info.md, nullptr) == 1 &&
         static_cast<std::ptrdiff_t>(len) == info.hash_len;
}

}  // namespace

Result<Bytes> rsa_oaep_encrypt(EVP_PKEY* key, ByteView data) {
  ossl::ErrorQueueGuard guard;
  const std::ptrdiff_t k = modulus_size(key);
  if (k == 0) return fail(kInternalError);
  if (static_cast<std::ptrdiff_t>(data.size()) > k - kOaepOverhead) return fail(kMessageTooLong);
  ossl::PkeyCtxPtr ctx = oaep_ctx(key, EVP_PKEY_encrypt_init);
  if (!ctx) return fail(kInternalError);
  Bytes out(static_cast<std::size_t>(k), 0);
  std::size_t out_len = out.size();
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &out_len, bytes_of(data), data.size()) != 1 ||
      out_len != out.size())
    return fail(kInternalError);
  return out;
}

Result<Bytes> rsa_oaep_decrypt(EVP_PKEY* key, ByteView ciphertext) {
  ossl::ErrorQueueGuard guard;
  const std::ptrdiff_t k = modulus_size(key);
  // OpenSSL takes k - 1 bytes as a value with a leading zero dropped; the
  // length must be exactly k (RFC 8017 §7.1.2 step 1b).
  if (k == 0 || static_cast<std::ptrdiff_t>(ciphertext.size()) != k) return fail(kDecryptionError);
  if (!below_modulus(key, ciphertext)) return fail(kDecryptionError);
  ossl::PkeyCtxPtr ctx = oaep_ctx(key, EVP_PKEY_decrypt_init);
  if (!ctx) return fail(kDecryptionError);
  Bytes out(static_cast<std::size_t>(k), 0);
  std::size_t out_len = out.size();
  if (EVP_PKEY_decrypt(ctx.get(), out.data(), &out_len, ciphertext.data(), ciphertext.size()) != 1 ||
      out_len > out.size()) {
    wipe_memory(out.data(), out.size());
    return fail(kDecryptionError);
  }
  wipe_memory(out.data() + out_len, out.size() - out_len);
  out.resize(out_len);
  return out;
}

Result<Bytes> rsa_pkcs1v15_sign(EVP_PKEY* key, RsaDigest digest, ByteView data) {
  ossl::ErrorQueueGuard guard;
  const DigestInfo info = digest_info(digest);
  const std::ptrdiff_t k = modulus_size(key);
  if (k == 0) return fail(kInternalError);
  if (k < info.prefix_len + info.hash_len + kPkcs1Overhead) return fail(kMessageTooLong);
  unsigned char h[EVP_MAX_MD_SIZE];
  if (!hash(info, data, h)) return fail(kInternalError);
  ossl::PkeyCtxPtr ctx = signature_ctx(key, EVP_PKEY_sign_init, info.md);
  if (!ctx) return fail(kInternalError);
  Bytes sig(static_cast<std::size_t>(k), 0);
  std::size_t sig_len = sig.size();
  if (EVP_PKEY_sign(ctx.get(), sig.data(), &sig_len, h, static_cast<std::size_t>(info.hash_len)) != 1 ||
      sig_len != sig.size())
    return fail(kInternalError);
  return sig;
}

bool rsa_pkcs1v15_verify(EVP_PKEY* key, RsaDigest digest, ByteView data, ByteView signature) {
  ossl::ErrorQueueGuard guard;
  const DigestInfo info = digest_info(digest);
  const std::ptrdiff_t k = modulus_size(key);
  if (k == 0 || static_cast<std::ptrdiff_t>(signature.size()) != k) return false;
  if (k < info.prefix_len + info.hash_len + kPkcs1Overhead) return false;
  if (!below_modulus(key, signature)) return false;
  unsigned char h[EVP_MAX_MD_SIZE];
  if (!hash(info, data, h)) return false;
  ossl::PkeyCtxPtr ctx = signature_ctx(key, EVP_PKEY_verify_init, info.md);
  if (!ctx) return false;
  return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), h,
                         static_cast<std::size_t>(info.hash_len)) == 1;
}

}  // namespace tarnwick::ohos::asym
