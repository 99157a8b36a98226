#include "crypto/sm4/error.h"

namespace tarnwick::sm4 {

std::string_view display(Sm4Error e) noexcept {
  switch (e) {
    case Sm4Error::InvalidBlockSize: return "the block size of SM4 must be 16";
    case Sm4Error::InvalidDataLength: return "the data len of SM4 must be 16";
    case Sm4Error::InvalidPaddingByte:
      return "the last u8 of cbc_decrypt out in SM4 must be positive which isn't greater than 16";
    case Sm4Error::TagMismatch: return "invalid hmac tag";
  }
  return "";
}

}  // namespace tarnwick::sm4
