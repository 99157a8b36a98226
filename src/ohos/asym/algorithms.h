// The algorithm selectors of the asymmetric services; their values are the
// numbers JavaScript passes.
#pragma once

#include <cstdint>

namespace tarnwick::ohos::asym {

enum class AsymAlgorithm : std::uint8_t { RSA = 0, SM2 = 1 };

enum class SignAlgorithm : std::uint8_t { SHA1WithRSA = 0, SHA256WithRSA = 1, SM3 = 2, SM3WithSM2 = 3 };

}  // namespace tarnwick::ohos::asym
