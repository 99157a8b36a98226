// SM2 decryption and signature verification of arbitrary inputs under one
// fixed key, through the services (record decoding included). Layout:
// [op][data length][data][user ID length][user ID][rest]; op 0 decrypts the
// rest as a DER Cipher record, op 1 verifies it as an SM3 signature of data
// and op 2 as an SM3WithSM2 signature with the user ID.
#include <string>

#include "common.h"
#include "crypto/sm2/key_encoding.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/sign.h"
#include "support/base64.h"

namespace {
using namespace tarnwick;
using namespace tarnwick::ohos::asym;

const std::string& private_b64() {
  static const std::string k = base64::encode(fuzz::sm2_pkcs8());
  return k;
}
const std::string& public_b64() {
  static const std::string k = [] {
    auto key = sm2::private_key_from_pkcs8(fuzz::sm2_pkcs8());
    return base64::encode(*sm2::public_key_to_spki(key->public_key));
  }();
  return k;
}
}  // namespace

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  const Bytes msg = {'h', 'e', 'l', 'l', 'o', ' ', 's', 'm', '2'};
  auto ct = asym_encrypt(AsymAlgorithm::SM2, msg, public_b64());
  FUZZ_CHECK(ct.has_value(), ct ? "" : ct.error().display().c_str());
  Bytes seed = {0, 0, 0};
  Bytes der = *base64::decode(*ct);
  seed.insert(seed.end(), der.begin(), der.end());
  sink.add(seed);
  for (std::uint8_t op : {1, 2}) {
    const std::string uid = op == 2 ? "alice" : "";
    auto sig = asym_sign(op == 1 ? SignAlgorithm::SM3 : SignAlgorithm::SM3WithSM2, msg, private_b64(), uid);
    FUZZ_CHECK(sig.has_value(), sig ? "" : sig.error().display().c_str());
    Bytes s = {op, static_cast<std::uint8_t>(msg.size())};
    s.insert(s.end(), msg.begin(), msg.end());
    s.push_back(static_cast<std::uint8_t>(uid.size()));
    s.insert(s.end(), uid.begin(), uid.end());
    Bytes sd = *base64::decode(*sig);
    s.insert(s.end(), sd.begin(), sd.end());
    sink.add(s);
  }
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t op = in.byte() % 3;
  const ByteView msg = in.take(in.byte());
  const ByteView uid = in.take(in.byte());
  const ByteView rest = in.rest();
  if (op == 0) {
    auto plain = asym_decrypt(AsymAlgorithm::SM2, base64::encode(rest), private_b64());
    if (plain) {
      // A record that decrypts re-encrypts to a record of the same length.
      auto again = asym_encrypt(AsymAlgorithm::SM2, *plain, public_b64());
      FUZZ_CHECK(plain->empty() || again.has_value(), "decrypted plaintext does not encrypt");
    } else {
      FUZZ_CHECK(!plain.error().display().empty(), "empty error text");
    }
  } else {
    asym_verify(op == 1 ? SignAlgorithm::SM3 : SignAlgorithm::SM3WithSM2, Bytes(msg.begin(), msg.end()),
                base64::encode(rest), public_b64(), std::string(uid.begin(), uid.end()));
  }
  return 0;
}
