// Internal: the DER reading shared by the Cipher and Signature records, with
// the record decoders' own error texts ("Error Kind: …\nCodec: DER\n").
// Included only by cipher.cpp and signature.cpp.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "support/bytes.h"
#include "support/der.h"

namespace tarnwick::ohos::asym::record {

// decode_error is the full text of a decode error with `description`.
std::string decode_error(std::string_view description);
// field_error is the full text of a failure while decoding field `path`,
// around the inner error's full text.
std::string field_error(std::string_view path, std::string_view inner);

// Outcome of a read: the value, or the full text of the error.
template <class T>
using Read = std::expected<T, std::string>;

// Cursor over the contents of one record.
class Cursor {
 public:
  explicit Cursor(ByteView data) : data_(data) {}

  // sequence reads the outer universal constructed SEQUENCE (definite,
  // minimal length) and returns its contents; later bytes are not examined.
  Read<ByteView> sequence();
  // integer reads an INTEGER (universal class, number 2, either form) of at
  // least one content byte, as a signed two's-complement value of any length.
  Read<der::SignedInteger> integer();
  // octet_string reads a primitive OCTET STRING.
  Read<Bytes> octet_string();
  // finish fails with the extra-data text when contents are left.
  Read<void> finish() const;

 private:
  struct Value {
    std::uint8_t id;
    ByteView content;
  };
  Read<Value> value();

  ByteView data_;
  std::size_t pos_ = 0;
};

}  // namespace tarnwick::ohos::asym::record
