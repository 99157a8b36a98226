#include "ohos/asym/sign.h"

#include <openssl/crypto.h>

#include <array>
#include <new>
#include <utility>

#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/sign.h"
#include "crypto/sm2/util.h"
#include "crypto/sm2/verify.h"
#include "crypto/sm3/sm3.h"
#include "ohos/asym/rsa_key.h"
#include "ohos/asym/rsa_ops.h"
#include "support/base64.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace {

ByteView text_bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

std::optional<RsaDigest> rsa_digest_of(AlgorithmKind kind) {
  switch (kind) {
    case AlgorithmKind::SHA1WithRSA: return RsaDigest::kSha1;
    case AlgorithmKind::SHA256WithRSA: return RsaDigest::kSha256;
    default: return std::nullopt;
  }
}

constexpr const char* kSignFailed = "sign failed: ";

Result<std::string> sign_sm2(AlgorithmKind kind, ByteView data, ByteView key_der, std::string_view user_id) {
  auto key = sm2::private_key_from_pkcs8(key_der);
  if (!key) {
    auto sec1 = sm2::private_key_from_sec1_der(key_der);
    if (!sec1) return std::unexpected(sec1.error());
    key = std::move(*sec1);
  }
  Bytes e;
  if (kind == AlgorithmKind::SM3WithSM2) {
    const ByteView id = user_id.empty() ? sm2::default_user_id() : text_bytes(user_id);
    auto z = sm2::util::user_digest(id, key->public_key);
    if (!z) return fail(kSignFailed + std::string(sm2::display(z.error())));
    Bytes input = std::move(*z);
    input.insert(input.end(), data.begin(), data.end());
    e = sm3::digest(input);
  } else {
    e = sm3::digest(data);
  }
  auto sig = sm2::sign_digest(e, *key);
  if (!sig) return fail(kSignFailed + sig.error().display());
  return base64::encode(Signature::encode(sig->r, sig->s));
}

Result<std::string> sign_rsa(AlgorithmKind kind, ByteView data, ByteView key_der) {
  const auto digest = rsa_digest_of(kind);
  if (!digest) return fail("unsupported algorithm");
  auto key = rsa_private_key_from_der(key_der);
  if (!key) return std::unexpected(key.error());
  auto sig = rsa_pkcs1v15_sign(key->get(), *digest, data);
  if (!sig) return std::unexpected(sig.error());
  return base64::encode(*sig);
}

// joined_signature returns r ‖ s, each left-padded to 32 bytes, from the
// magnitudes of the record's INTEGERs (their signs are not looked at), or
// nullopt when either needs more than 32 bytes.
std::optional<std::array<std::uint8_t, 64>> joined_signature(const Signature& sig) {
  const Bytes& r = sig.r.magnitude;
  const Bytes& s = sig.s.magnitude;
  if (r.size() > 32 || s.size() > 32) return std::nullopt;
  std::array<std::uint8_t, 64> out{};
  std::copy(r.begin(), r.end(), out.begin() + static_cast<std::ptrdiff_t>(32 - r.size()));
  std::copy(s.begin(), s.end(), out.end() - static_cast<std::ptrdiff_t>(s.size()));
  return out;
}

Result<bool> verify_sm2(AlgorithmKind kind, ByteView data, ByteView sig_der, ByteView key_der,
                        std::optional<ByteView> user_id) {
  auto key = sm2::public_key_from_spki(key_der);
  if (!key) return std::unexpected(key.error());
  auto record = Signature::decode(sig_der);
  if (!record) return fail("failed to decode signature");
  const auto joined = joined_signature(*record);
  if (!joined) return false;
  if (kind == AlgorithmKind::SM3WithSM2) return sm2::verify_with_id(*key, user_id, data, *joined).has_value();
  return sm2::key::verify_digest(sm3::digest(data), *key, *joined).has_value();
}

Result<bool> verify_rsa(AlgorithmKind kind, ByteView data, ByteView signature, ByteView key_der) {
  auto key = rsa_public_key_from_der(key_der);
  if (!key) return std::unexpected(key.error());
  const auto digest = rsa_digest_of(kind);
  if (!digest) return false;
  return rsa_pkcs1v15_verify(key->get(), *digest, data, signature);
}

}  // namespace

Result<std::string> asym_sign(SignAlgorithm algorithm, Bytes data, std::string privkey, std::string user_id) {
  if (data.empty()) return fail("origin data is empty");
  WipeOnExit wipe_key_text(privkey);
  if (privkey.empty()) return fail("privkey is empty");
  // The decoded document is wiped when released, on every path below.
  auto key_der = base64::decode_secret(privkey);
  if (!key_der) return std::unexpected(key_der.error());
  const AlgorithmKind kind = algorithm_kind(algorithm);
  if (is_sm2_family(kind)) return sign_sm2(kind, data, *key_der, user_id);
  return sign_rsa(kind, data, *key_der);
}

Result<bool> verify_signature(std::string_view signature, ByteView data, AlgorithmKind kind,
                              std::string_view pubkey, std::optional<ByteView> user_id) {
  if (signature.empty()) return fail("signed data is empty");
  if (data.empty()) return fail("origin data is empty");
  auto sig = base64::decode(signature);
  if (!sig) return std::unexpected(sig.error());
  if (pubkey.empty()) return fail("pubkey is empty");
  auto key_der = base64::decode(pubkey);
  if (!key_der) return std::unexpected(key_der.error());
  if (is_sm2_family(kind)) return verify_sm2(kind, data, *sig, *key_der, user_id);
  return verify_rsa(kind, data, *sig, *key_der);
}

bool asym_verify(SignAlgorithm algorithm, Bytes data, std::string signature, std::string pubkey,
                 std::string user_id) {
  try {
    std::optional<ByteView> id;
    if (!user_id.empty()) id = text_bytes(user_id);
    const auto answer = verify_signature(signature, data, algorithm_kind(algorithm), pubkey, id);
    return answer.has_value() && *answer;
  } catch (const std::bad_alloc&) {
    // Verification answers false for every failure, running out of memory
    // included.
    return false;
  }
}

}  // namespace tarnwick::ohos::asym
