// The native record behind a JavaScript KeyPair instance.
#pragma once

#include <string>
#include <utility>

#include "support/secret.h"

namespace tarnwick::ohos::asym {

// KeyPair holds the two key texts. The private key's text is wiped whenever a
// record releases it.
struct KeyPair {
  KeyPair() = default;
  KeyPair(std::string pub, std::string priv) : pubkey(std::move(pub)), privkey(std::move(priv)) {}
  KeyPair(KeyPair&&) noexcept = default;
  KeyPair& operator=(KeyPair&& other) noexcept {
    pubkey = std::move(other.pubkey);
    wipe(privkey);
    privkey = std::move(other.privkey);
    return *this;
  }
  KeyPair(const KeyPair&) = delete;
  KeyPair& operator=(const KeyPair&) = delete;
  ~KeyPair() { wipe(privkey); }

  std::string pubkey;
  std::string privkey;
};

}  // namespace tarnwick::ohos::asym
