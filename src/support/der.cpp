#include "support/der.h"
#include "support/secret.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace tarnwick::der {
namespace {

constexpr std::size_t kMaxOidBytes = 39;

// known_tag is true for the identifier octets the reader accepts: the
// universal types below and every APPLICATION, CONTEXT-SPECIFIC and PRIVATE
// tag in low-tag-number form.
bool known_tag(std::uint8_t b) {
  switch (b) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06:
    case 0x09: case 0x0A: case 0x0C: case 0x12: case 0x13: case 0x14:
    case 0x15: case 0x16: case 0x17: case 0x18: case 0x1A: case 0x1E:
    case 0x30: case 0x31:
      return true;
    default:
      return b >= 0x40 && (b & 0x1F) != 0x1F;
  }
}

const char* universal_name(std::uint8_t b) {
  switch (b) {
    case 0x01: return "BOOLEAN";
    case 0x02: return "INTEGER";
    case 0x03: return "BIT STRING";
    case 0x04: return "OCTET STRING";
    case 0x05: return "NULL";
    case 0x06: return "OBJECT IDENTIFIER";
    case 0x09: return "REAL";
    case 0x0A: return "ENUMERATED";
    case 0x0C: return "UTF8String";
    case 0x12: return "NumericString";
    case 0x13: return "PrintableString";
    case 0x14: return "TeletexString";
    case 0x15: return "VideotexString";
    case 0x16: return "IA5String";
    case 0x17: return "UTCTime";
    case 0x18: return "GeneralizedTime";
    case 0x1A: return "VisibleString";
    case 0x1E: return "BMPString";
    case 0x30: return "SEQUENCE";
    case 0x31: return "SET";
    default: return nullptr;
  }
}

std::size_t length_octets(std::size_t length) noexcept {
  if (length < 0x80) return 1;
  std::size_t n = 0;
  for (std::size_t v = length; v != 0; v >>= 8) ++n;
  return 1 + n;
}

ByteView strip_zeros(ByteView v) {
  std::size_t i = 0;
  while (i < v.size() && v[i] == 0) ++i;
  return v.subspan(i);
}

}  // namespace

// ---------------------------------------------------------------- Tag

std::string Tag::name() const {
  if (const char* u = universal_name(byte)) return u;
  const char* cls = nullptr;
  switch (byte & 0xC0) {
    case 0x40: cls = "APPLICATION"; break;
    case 0x80: cls = "CONTEXT-SPECIFIC"; break;
    case 0xC0: cls = "PRIVATE"; break;
    default: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%02x", byte);
      return buf;
    }
  }
  return std::string(cls) + " [" + std::to_string(number()) + "] " +
         (constructed() ? "(constructed)" : "(primitive)");
}

// ---------------------------------------------------------------- Error

Error Error::incomplete(std::size_t expected, std::size_t actual) {
  return Error(ErrorKind::Incomplete, {}, {}, expected, actual);
}
Error Error::indefinite_length() { return Error(ErrorKind::IndefiniteLength, {}, {}, 0, 0); }
Error Error::overlength() { return Error(ErrorKind::Overlength, {}, {}, 0, 0); }
Error Error::length(Tag tag) { return Error(ErrorKind::Length, tag, {}, 0, 0); }
Error Error::noncanonical(Tag tag) { return Error(ErrorKind::Noncanonical, tag, {}, 0, 0); }
Error Error::value(Tag tag) { return Error(ErrorKind::Value, tag, {}, 0, 0); }
Error Error::tag_unexpected(Tag expected, Tag actual) {
  return Error(ErrorKind::TagUnexpected, actual, expected, 0, 0);
}
Error Error::tag_unknown(std::uint8_t byte) { return Error(ErrorKind::TagUnknown, Tag{byte}, {}, 0, 0); }
Error Error::tag_number_invalid() { return Error(ErrorKind::TagNumberInvalid, {}, {}, 0, 0); }
Error Error::trailing_data(std::size_t decoded, std::size_t remaining) {
  return Error(ErrorKind::TrailingData, {}, {}, decoded, remaining);
}
Error Error::overflow() { return Error(ErrorKind::Overflow, {}, {}, 0, 0); }
Error Error::oid_malformed() { return Error(ErrorKind::OidMalformed, {}, {}, 0, 0); }

Error Error::at(std::size_t pos) const {
  Error e = *this;
  e.position_ = pos;
  return e;
}

std::string Error::text() const {
  std::string t;
  switch (kind_) {
    case ErrorKind::Incomplete:
      t = "ASN.1 DER message is incomplete: expected " + std::to_string(a_) + ", actual " +
          std::to_string(b_);
      break;
    case ErrorKind::IndefiniteLength: t = "indefinite length disallowed"; break;
    case ErrorKind::Overlength: t = "ASN.1 DER message is too long"; break;
    case ErrorKind::Length: t = "incorrect length for " + tag_.name(); break;
    case ErrorKind::Noncanonical: t = "ASN.1 " + tag_.name() + " not canonically encoded as DER"; break;
    case ErrorKind::Value: t = "malformed ASN.1 DER value for " + tag_.name(); break;
    case ErrorKind::TagUnexpected:
      t = "unexpected ASN.1 DER tag: expected " + expected_.name() + ", got " + tag_.name();
      break;
    case ErrorKind::TagUnknown: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%02x", tag_.byte);
      t = std::string("unknown/unsupported ASN.1 DER tag: 0x") + buf;
      break;
    }
    case ErrorKind::TagNumberInvalid: t = "invalid tag number"; break;
    case ErrorKind::TrailingData:
      t = "trailing data at end of DER message: decoded " + std::to_string(a_) + " bytes, " +
          std::to_string(b_) + " bytes remaining";
      break;
    case ErrorKind::Overflow: t = "integer overflow"; break;
    case ErrorKind::OidMalformed: t = "malformed OID"; break;
  }
  if (position_) t += " at DER byte " + std::to_string(*position_);
  return t;
}

tarnwick::Error Error::to_error(std::string_view prefix) const {
  std::string t(prefix);
  t += text();
  return tarnwick::Error(std::move(t));
}

std::unexpected<tarnwick::Error> Error::fail(std::string_view prefix) const {
  return std::unexpected<tarnwick::Error>(to_error(prefix));
}

// ---------------------------------------------------------------- Reader

Reader::Reader(ByteView input) noexcept : data_(input), too_long_(input.size() > kMaxLength) {}

std::optional<Tag> Reader::peek_tag() const noexcept {
  if (too_long_ || empty()) return std::nullopt;
  return Tag{data_[pos_]};
}

bool Reader::next_is(Tag tag) const noexcept {
  const auto t = peek_tag();
  return t && *t == tag;
}

Result<Element> Reader::parse_element() const {
  if (too_long_) return std::unexpected(Error::overflow());
  const std::size_t end = base_ + data_.size();
  std::size_t i = pos_;
  if (i == data_.size()) return std::unexpected(Error::incomplete(end + 1, end).at(end));
  const std::uint8_t id = data_[i];
  const std::size_t tag_at = base_ + i;
  if ((id & 0x1F) == 0x1F) return std::unexpected(Error::tag_number_invalid().at(tag_at));
  if (!known_tag(id)) return std::unexpected(Error::tag_unknown(id).at(tag_at));
  ++i;
  if (i == data_.size()) return std::unexpected(Error::incomplete(end + 1, end).at(end));
  const std::size_t length_at = base_ + i;
  const std::uint8_t first = data_[i++];
  std::size_t length = 0;
  if (first < 0x80) {
    length = first;
  } else if (first == 0x80) {
    return std::unexpected(Error::indefinite_length().at(length_at));
  } else if (first <= 0x84) {
    const std::size_t n = first - 0x80u;
    for (std::size_t k = 0; k < n; ++k) {
      if (i == data_.size()) return std::unexpected(Error::incomplete(end + 1, end).at(end));
      length = (length << 8) | data_[i++];
    }
    if (length > kMaxLength) return std::unexpected(Error::overflow().at(length_at));
    // X.690 §10.1: the fewest possible length octets.
    if (length_octets(length) != n + 1) return std::unexpected(Error::overlength().at(length_at));
  } else {
    return std::unexpected(Error::overlength().at(length_at));
  }
  Element e;
  e.tag = Tag{id};
  e.offset = tag_at;
  e.content_offset = base_ + i;
  if (length > data_.size() - i) {
    return std::unexpected(Error::incomplete(e.content_offset + length, end).at(e.content_offset));
  }
  e.content = data_.subspan(i, length);
  e.encoded = data_.subspan(pos_, i + length - pos_);
  return e;
}

Result<Element> Reader::read_element() {
  auto e = parse_element();
  if (!e) return e;
  pos_ += e->encoded.size();
  return e;
}

Result<Element> Reader::read_element(Tag tag) {
  auto e = parse_element();
  if (!e) return e;
  if (e->tag != tag) return std::unexpected(Error::tag_unexpected(tag, e->tag).at(e->offset));
  pos_ += e->encoded.size();
  return e;
}

Result<Reader> Reader::read_sequence() { return read_constructed(kSequence); }

Result<Reader> Reader::read_constructed(Tag tag) {
  auto e = read_element(tag);
  if (!e) return std::unexpected(e.error());
  return nested(*e);
}

Result<ByteView> Reader::read_integer_unsigned() {
  auto e = parse_element();
  if (!e) return std::unexpected(e.error());
  if (e->tag != kInteger) return std::unexpected(Error::tag_unexpected(kInteger, e->tag).at(e->offset));
  const ByteView c = e->content;
  if (c.empty()) return std::unexpected(Error::noncanonical(kInteger).at(e->offset));
  ByteView magnitude = c;
  if (c[0] == 0x00 && c.size() > 1) {
    if (c[1] < 0x80) return std::unexpected(Error::noncanonical(kInteger).at(e->offset));
    magnitude = c.subspan(1);
  } else if (c[0] >= 0x80) {
    return std::unexpected(Error::value(kInteger).at(e->offset));
  }
  pos_ += e->encoded.size();
  return magnitude;
}

Result<std::uint64_t> Reader::read_integer_small(std::size_t max_bytes) {
  if (max_bytes > 8) max_bytes = 8;
  const std::size_t start = position();
  const std::size_t saved = pos_;
  auto m = read_integer_unsigned();
  if (!m) return std::unexpected(m.error());
  const ByteView v = strip_zeros(*m);
  if (v.size() > max_bytes) {
    pos_ = saved;
    return std::unexpected(Error::length(kInteger).at(start));
  }
  std::uint64_t out = 0;
  for (std::uint8_t b : v) out = (out << 8) | b;
  return out;
}

Result<ByteView> Reader::read_integer_content() {
  auto e = parse_element();
  if (!e) return std::unexpected(e.error());
  if (e->tag != kInteger) return std::unexpected(Error::tag_unexpected(kInteger, e->tag).at(e->offset));
  if (e->content.empty()) return std::unexpected(Error::value(kInteger).at(e->offset));
  pos_ += e->encoded.size();
  return e->content;
}

Result<BitString> Reader::read_bit_string() {
  auto e = parse_element();
  if (!e) return std::unexpected(e.error());
  if (e->tag != kBitString) return std::unexpected(Error::tag_unexpected(kBitString, e->tag).at(e->offset));
  const ByteView c = e->content;
  if (c.empty()) return std::unexpected(Error::value(kBitString).at(e->offset));
  BitString out{c[0], c.subspan(1)};
  if (out.unused_bits > 7 || (out.unused_bits != 0 && out.bytes.empty())) {
    return std::unexpected(Error::value(kBitString).at(e->offset));
  }
  // X.690 §11.2.1: the unused bits are zero.
  if (out.unused_bits != 0 && (out.bytes.back() & ((1u << out.unused_bits) - 1)) != 0) {
    return std::unexpected(Error::noncanonical(kBitString).at(e->offset));
  }
  pos_ += e->encoded.size();
  return out;
}

Result<ByteView> Reader::read_octet_string() {
  auto e = read_element(kOctetString);
  if (!e) return std::unexpected(e.error());
  return e->content;
}

Result<void> Reader::read_null() {
  auto e = parse_element();
  if (!e) return std::unexpected(e.error());
  if (e->tag != kNull) return std::unexpected(Error::tag_unexpected(kNull, e->tag).at(e->offset));
  if (!e->content.empty()) return std::unexpected(Error::length(kNull).at(e->offset));
  pos_ += e->encoded.size();
  return {};
}

Result<ByteView> Reader::read_oid() {
  auto e = parse_element();
  if (!e) return std::unexpected(e.error());
  if (e->tag != kObjectIdentifier) {
    return std::unexpected(Error::tag_unexpected(kObjectIdentifier, e->tag).at(e->offset));
  }
  if (auto d = oid_to_dotted(e->content); !d) return std::unexpected(d.error().at(e->offset));
  pos_ += e->encoded.size();
  return e->content;
}

Result<Reader> Reader::read_explicit(std::uint8_t n) {
  auto e = parse_element();
  if (!e) return std::unexpected(e.error());
  const Tag want = Tag::context(n, true);
  if (e->tag == Tag::context(n, false)) return std::unexpected(Error::noncanonical(e->tag).at(e->offset));
  if (e->tag != want) return std::unexpected(Error::tag_unexpected(want, e->tag).at(e->offset));
  pos_ += e->encoded.size();
  return nested(*e);
}

Result<std::optional<Reader>> Reader::read_optional_explicit(std::uint8_t n) {
  const auto t = peek_tag();
  if (!t || !t->context_specific() || t->number() != n) return std::optional<Reader>();
  auto r = read_explicit(n);
  if (!r) return std::unexpected(r.error());
  return std::optional<Reader>(*r);
}

Result<Element> Reader::read_implicit(std::uint8_t n, bool constructed) {
  return read_element(Tag::context(n, constructed));
}

Result<void> Reader::finish() const {
  if (too_long_) return std::unexpected(Error::overflow());
  if (!empty()) return std::unexpected(Error::trailing_data(pos_, remaining()).at(position()));
  return {};
}

// ---------------------------------------------------------------- Writer

Writer::~Writer() {
  if (wipe_ == Wipe::Yes && !buf_.empty()) wipe_memory(buf_.data(), buf_.size());
}

void Writer::grow(std::size_t extra) {
  const std::size_t need = buf_.size() + extra;
  if (need <= buf_.capacity()) return;
  if (wipe_ == Wipe::No) {
    buf_.reserve(std::max(need, 2 * buf_.capacity()));
    return;
  }
  // Move to a larger buffer by hand so the old one is wiped, not just freed.
  Bytes bigger;
  bigger.reserve(std::max<std::size_t>({need, 2 * buf_.capacity(), 64}));
  bigger.assign(buf_.begin(), buf_.end());
  if (!buf_.empty()) wipe_memory(buf_.data(), buf_.size());
  buf_.swap(bigger);
}

void Writer::append(ByteView bytes) {
  grow(bytes.size());
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

namespace {

// Header is an identifier and a minimal definite length, as written.
struct Header {
  std::array<std::uint8_t, 10> bytes{};
  std::size_t size = 0;
};

Header make_header(Tag tag, std::size_t length) {
  Header h;
  h.bytes[h.size++] = tag.byte;
  const std::size_t lo = length_octets(length);
  if (lo == 1) {
    h.bytes[h.size++] = static_cast<std::uint8_t>(length);
  } else {
    h.bytes[h.size++] = static_cast<std::uint8_t>(0x80 + (lo - 1));
    for (std::size_t k = lo - 1; k-- > 0;) h.bytes[h.size++] = static_cast<std::uint8_t>(length >> (8 * k));
  }
  return h;
}

}  // namespace

void Writer::append_header(Tag tag, std::size_t length) {
  const Header h = make_header(tag, length);
  append(ByteView(h.bytes.data(), h.size));
}

void Writer::close(Tag tag, std::size_t mark) {
  const std::size_t length = buf_.size() - mark;
  if (length > max_length_) {
    overflow_ = true;
    return;
  }
  const Header h = make_header(tag, length);
  grow(h.size);  // no reallocation during the insert below
  buf_.insert(buf_.begin() + static_cast<std::ptrdiff_t>(mark), h.bytes.begin(), h.bytes.begin() + h.size);
}

Writer& Writer::primitive(Tag tag, ByteView content) {
  if (content.size() > max_length_) {
    overflow_ = true;
    return *this;
  }
  append_header(tag, content.size());
  append(content);
  return *this;
}

Writer& Writer::integer(ByteView magnitude) {
  const ByteView m = strip_zeros(magnitude);
  if (m.empty()) {
    const std::uint8_t zero = 0;
    return primitive(kInteger, ByteView(&zero, 1));
  }
  if (m[0] < 0x80) return primitive(kInteger, m);
  if (m.size() >= max_length_) {
    overflow_ = true;
    return *this;
  }
  append_header(kInteger, m.size() + 1);
  const std::uint8_t zero = 0;
  append(ByteView(&zero, 1));
  append(m);
  return *this;
}

Writer& Writer::integer(std::uint64_t value) {
  std::array<std::uint8_t, 8> be{};
  for (std::size_t k = 0; k < 8; ++k) be[k] = static_cast<std::uint8_t>(value >> (8 * (7 - k)));
  return integer(ByteView(be.data(), be.size()));
}

Writer& Writer::integer_signed(bool negative, ByteView magnitude) {
  const ByteView m = strip_zeros(magnitude);
  if (!negative || m.empty()) return integer(m);
  // Two's complement of m in m.size() bytes, then one FF octet in front if the
  // result would read as non-negative (m > 2^(8k−1)).
  Bytes t(m.begin(), m.end());
  unsigned carry = 1;
  for (std::size_t k = t.size(); k-- > 0;) {
    const unsigned v = static_cast<std::uint8_t>(~t[k]) + carry;
    t[k] = static_cast<std::uint8_t>(v);
    carry = v >> 8;
  }
  if (t[0] < 0x80) t.insert(t.begin(), 0xFF);
  Writer& w = primitive(kInteger, t);
  if (wipe_ == Wipe::Yes) wipe_memory(t.data(), t.size());
  return w;
}

Writer& Writer::bit_string(ByteView bytes, std::uint8_t unused_bits) {
  if (bytes.size() >= max_length_) {
    overflow_ = true;
    return *this;
  }
  append_header(kBitString, bytes.size() + 1);
  append(ByteView(&unused_bits, 1));
  append(bytes);
  return *this;
}

Writer& Writer::octet_string(ByteView bytes) { return primitive(kOctetString, bytes); }

Writer& Writer::null() { return primitive(kNull, {}); }

Writer& Writer::oid(ByteView content) { return primitive(kObjectIdentifier, content); }

Writer& Writer::raw(ByteView encoded) {
  append(encoded);
  return *this;
}

Result<Bytes> Writer::finish() && {
  if (overflow_) return std::unexpected(Error::overflow());
  return std::move(buf_);
}

// ---------------------------------------------------------------- helpers

SignedInteger SignedInteger::from_unsigned(ByteView big_endian) {
  const ByteView m = strip_zeros(big_endian);
  return SignedInteger{false, Bytes(m.begin(), m.end())};
}

SignedInteger SignedInteger::from_twos_complement(ByteView content) {
  if (content.empty() || content[0] < 0x80) return from_unsigned(content);
  // Negative: magnitude = two's complement of the contents.
  Bytes m(content.begin(), content.end());
  unsigned carry = 1;
  for (std::size_t k = m.size(); k-- > 0;) {
    const unsigned v = static_cast<std::uint8_t>(~m[k]) + carry;
    m[k] = static_cast<std::uint8_t>(v);
    carry = v >> 8;
  }
  SignedInteger out = from_unsigned(m);
  out.negative = true;  // never zero: the contents had their top bit set
  return out;
}

Result<std::string> oid_to_dotted(ByteView content) {
  if (content.empty() || content.size() > kMaxOidBytes) return std::unexpected(Error::oid_malformed());
  std::string out;
  std::uint64_t arc = 0;
  bool first = true;
  bool start = true;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const std::uint8_t b = content[i];
    // X.690 §8.19.2: each subidentifier in the fewest octets.
    if (start && b == 0x80) return std::unexpected(Error::oid_malformed());
    start = false;
    arc = (arc << 7) | (b & 0x7F);
    if (arc > (first ? 80ull + 0xFFFF'FFFFull : 0xFFFF'FFFFull)) return std::unexpected(Error::oid_malformed());
    if (b & 0x80) continue;
    if (first) {
      // X.690 §8.19.4: the first subidentifier is 40·X + Y.
      const std::uint64_t x = arc < 40 ? 0 : arc < 80 ? 1 : 2;
      out = std::to_string(x) + "." + std::to_string(arc - 40 * x);
      first = false;
    } else {
      out += '.';
      out += std::to_string(arc);
    }
    arc = 0;
    start = true;
  }
  if (!start) return std::unexpected(Error::oid_malformed());
  return out;
}

std::size_t encoded_length(std::size_t length) noexcept { return 1 + length_octets(length) + length; }

}  // namespace tarnwick::der
