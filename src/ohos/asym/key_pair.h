// The native record behind a JavaScript KeyPair instance.
#pragma once

#include <string>

namespace tarnwick::ohos::asym {

struct KeyPair {
  std::string pubkey;
  std::string privkey;
};

}  // namespace tarnwick::ohos::asym
