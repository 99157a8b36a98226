// Key-pair generation for JavaScript: Base64 SubjectPublicKeyInfo and PKCS#8
// documents in a KeyPair record.
#pragma once

#include <cstdint>

#include "ohos/asym/algorithms.h"
#include "ohos/asym/key_pair.h"
#include "support/error.h"

namespace tarnwick::ohos::asym {

// asym_generate_key makes a new key pair. For RSA `key_size` is the modulus
// size in bits (the generator's texts for bad sizes pass through); for SM2
// it is ignored. Failures of SM2 generation read "Failed to generate SM2 key
// pair: " and the cause.
Result<KeyPair> asym_generate_key(AsymAlgorithm algorithm, std::int32_t key_size);

// asym_generate_key_test is asym_generate_key except that an SM2 pubkey is
// the lowercase hex of 04 ‖ x ‖ y (130 characters).
Result<KeyPair> asym_generate_key_test(AsymAlgorithm algorithm, std::int32_t key_size);

}  // namespace tarnwick::ohos::asym
