#include "ohos/asym/record_codec.h"

#include <utility>

namespace tarnwick::ohos::asym::record {
namespace {

constexpr std::string_view kCodecSpecific = "Wrapped codec-specific decode error";

std::string need_more(std::size_t missing) {
  return decode_error("Need more data to continue: (Size(" + std::to_string(missing) + "))");
}

}  // namespace

std::string decode_error(std::string_view description) {
  std::string t = "Error Kind: ";
  t += description;
  t += "\nCodec: DER\n";
  return t;
}

std::string field_error(std::string_view path, std::string_view inner) {
  std::string d = "Error when decoding field `";
  d += path;
  d += "`: ";
  d += inner;
  return decode_error(d);
}

// value reads identifier and length (X.690 §8.1.2, §8.1.3 with the DER
// restrictions of §10.1: definite, fewest octets) and the contents.
Read<Cursor::Value> Cursor::value() {
  const std::size_t size = data_.size();
  std::size_t i = pos_;
  if (i == size) return std::unexpected(need_more(1));
  const std::uint8_t id = data_[i++];
  if ((id & 0x1F) == 0x1F) {
    // High-tag-number form: never a tag a record field accepts.
    return std::unexpected(decode_error(kCodecSpecific));
  }
  if (i == size) return std::unexpected(need_more(1));
  const std::uint8_t first = data_[i++];
  std::size_t length = 0;
  if (first < 0x80) {
    length = first;
  } else if (first == 0x80 || first == 0xFF) {
    return std::unexpected(decode_error(kCodecSpecific));  // indefinite / reserved
  } else {
    const std::size_t n = first & 0x7Fu;
    if (n > sizeof(std::size_t)) return std::unexpected(decode_error(kCodecSpecific));
    if (size - i < n) return std::unexpected(need_more(n - (size - i)));
    if (data_[i] == 0) return std::unexpected(decode_error(kCodecSpecific));  // not minimal
    for (std::size_t k = 0; k < n; ++k) length = (length << 8) | data_[i++];
    if (length < 0x80) return std::unexpected(decode_error(kCodecSpecific));  // not minimal
  }
  if (length > size - i) return std::unexpected(need_more(length - (size - i)));
  Value v{id, data_.subspan(i, length)};
  pos_ = i + length;
  return v;
}

Read<ByteView> Cursor::sequence() {
  if (pos_ < data_.size() && data_[pos_] != 0x30) return std::unexpected(decode_error(kCodecSpecific));
  auto v = value();
  if (!v) return std::unexpected(std::move(v.error()));
  return v->content;
}

Read<der::SignedInteger> Cursor::integer() {
  if (pos_ < data_.size() && (data_[pos_] & 0xDF) != 0x02) {
    return std::unexpected(decode_error(kCodecSpecific));
  }
  auto v = value();
  if (!v) return std::unexpected(std::move(v.error()));
  if (v->content.empty()) return std::unexpected(decode_error("Unexpected empty input while decoding Integer"));
  return der::SignedInteger::from_twos_complement(v->content);
}

Read<Bytes> Cursor::octet_string() {
  if (pos_ < data_.size() && data_[pos_] != 0x04) return std::unexpected(decode_error(kCodecSpecific));
  auto v = value();
  if (!v) return std::unexpected(std::move(v.error()));
  return Bytes(v->content.begin(), v->content.end());
}

Read<void> Cursor::finish() const {
  if (pos_ == data_.size()) return {};
  return std::unexpected(decode_error("Unexpected extra data found: length `" +
                                      std::to_string(data_.size() - pos_) + "` bytes"));
}

}  // namespace tarnwick::ohos::asym::record
