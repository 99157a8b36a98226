// Strict DER (ITU-T X.690 §10) reading and writing for the key documents and
// records this module exchanges: SubjectPublicKeyInfo (RFC 5280), PKCS#8
// PrivateKeyInfo (RFC 5208), SEC1 ECPrivateKey (RFC 5915), PKCS#1 RSA keys
// (RFC 8017) and the SM2 ciphertext and signature records.
//
// Reading is strict: definite lengths in their minimal form only (at most
// four length octets, values up to kMaxLength), low-tag-number identifiers
// only, unsigned INTEGERs in canonical form. Every error the reader raises
// carries the absolute byte offset (from the start of the input given to the
// outermost Reader) of the element or read that failed.
//
// Typical use:
//
//   der::Reader in(bytes);
//   auto spki = in.read_sequence();            // Result<der::Reader>
//   if (!spki) return spki.error().fail("ASN.1 error: ");  // std::unexpected<Error>
//   auto alg = spki->read_sequence();
//   ...
//   if (auto done = spki->finish(); !done) ...  // nothing left inside
//   if (auto done = in.finish(); !done) ...     // nothing after the outer value
//
//   der::Writer out;
//   out.sequence([&](der::Writer& w) {
//     w.sequence([&](der::Writer& a) { a.oid(kRsaEncryption).null(); });
//     w.bit_string(rsa_public_key_der);
//   });
//   Result<Bytes> doc = std::move(out).finish();  // fails only past kMaxLength
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::der {

// kMaxLength is the largest length (of one value, or of a whole message) that
// is read or written: 2^28 − 1 = 268,435,455 bytes.
inline constexpr std::size_t kMaxLength = 0x0FFF'FFFF;

// Tag is one identifier octet (low-tag-number form: class, constructed bit,
// number 0..30).
struct Tag {
  std::uint8_t byte = 0;

  constexpr bool constructed() const noexcept { return (byte & 0x20) != 0; }
  constexpr bool context_specific() const noexcept { return (byte & 0xC0) == 0x80; }
  constexpr std::uint8_t number() const noexcept { return byte & 0x1F; }
  constexpr bool operator==(const Tag&) const = default;

  // context returns the CONTEXT-SPECIFIC [n] identifier (n ≤ 30).
  static constexpr Tag context(std::uint8_t n, bool is_constructed) noexcept {
    return Tag{static_cast<std::uint8_t>(0x80 | (is_constructed ? 0x20 : 0x00) | (n & 0x1F))};
  }

  // name is the tag's display name: "INTEGER", "BIT STRING", "OCTET STRING",
  // "NULL", "OBJECT IDENTIFIER", "SEQUENCE", "SET", …,
  // "CONTEXT-SPECIFIC [n] (constructed)" / "(primitive)", "APPLICATION [n] …",
  // "PRIVATE [n] …".
  std::string name() const;
};

inline constexpr Tag kInteger{0x02};
inline constexpr Tag kBitString{0x03};
inline constexpr Tag kOctetString{0x04};
inline constexpr Tag kNull{0x05};
inline constexpr Tag kObjectIdentifier{0x06};
inline constexpr Tag kSequence{0x30};
inline constexpr Tag kSet{0x31};

enum class ErrorKind : std::uint8_t {
  Incomplete,        // "ASN.1 DER message is incomplete: expected {e}, actual {a}"
  IndefiniteLength,  // "indefinite length disallowed"
  Overlength,        // "ASN.1 DER message is too long"
  Length,            // "incorrect length for {tag}"
  Noncanonical,      // "ASN.1 {tag} not canonically encoded as DER"
  Value,             // "malformed ASN.1 DER value for {tag}"
  TagUnexpected,     // "unexpected ASN.1 DER tag: expected {T}, got {T}"
  TagUnknown,        // "unknown/unsupported ASN.1 DER tag: 0x{hh}"
  TagNumberInvalid,  // "invalid tag number" (high-tag-number form, number 31)
  TrailingData,      // "trailing data at end of DER message: decoded {d} bytes, {r} bytes remaining"
  Overflow,          // "integer overflow"
  OidMalformed,      // "malformed OID"
};

// Error is a DER failure: its kind, the tag(s) or numbers the kind's text
// names, and the byte offset where it was found when known. text() renders
// the exact message, with " at DER byte {pos}" appended when a position is
// known; callers add their own prefixes ("ASN.1 error: ", ...).
class Error {
 public:
  static Error incomplete(std::size_t expected, std::size_t actual);
  static Error indefinite_length();
  static Error overlength();
  static Error length(Tag tag);
  static Error noncanonical(Tag tag);
  static Error value(Tag tag);
  static Error tag_unexpected(Tag expected, Tag actual);
  static Error tag_unknown(std::uint8_t byte);
  static Error tag_number_invalid();
  static Error trailing_data(std::size_t decoded, std::size_t remaining);
  static Error overflow();
  static Error oid_malformed();

  // at returns a copy of this error with position `pos`.
  Error at(std::size_t pos) const;

  ErrorKind kind() const noexcept { return kind_; }
  // tag is the tag of Length/Noncanonical/Value, the actual tag of
  // TagUnexpected, the identifier byte of TagUnknown.
  Tag tag() const noexcept { return tag_; }
  std::optional<std::size_t> position() const noexcept { return position_; }

  // text is the full message, e.g. "incorrect length for NULL at DER byte 17".
  std::string text() const;
  // to_error wraps text() as the general error value, behind `prefix`.
  tarnwick::Error to_error(std::string_view prefix = {}) const;
  // fail is `std::unexpected(to_error(prefix))`, for early returns.
  std::unexpected<tarnwick::Error> fail(std::string_view prefix = {}) const;

  bool operator==(const Error&) const = default;

 private:
  Error(ErrorKind kind, Tag tag, Tag expected, std::size_t a, std::size_t b)
      : kind_(kind), tag_(tag), expected_(expected), a_(a), b_(b) {}

  ErrorKind kind_;
  Tag tag_;
  Tag expected_;
  std::size_t a_ = 0;  // Incomplete: expected; TrailingData: decoded
  std::size_t b_ = 0;  // Incomplete: actual; TrailingData: remaining
  std::optional<std::size_t> position_;
};

template <class T>
using Result = std::expected<T, Error>;

// Element is one value as it stands in the input.
struct Element {
  Tag tag;
  ByteView content;           // the value's contents
  ByteView encoded;           // identifier + length + contents
  std::size_t offset = 0;     // absolute offset of the identifier octet
  std::size_t content_offset = 0;
};

// BitString is a BIT STRING's contents: the count of unused bits in the last
// byte (0..7) and the bytes that carry the bits.
struct BitString {
  std::uint8_t unused_bits = 0;
  ByteView bytes;
};

// Reader is a cursor over DER values. A Reader for a constructed value's
// contents is obtained from read_sequence/read_explicit/...; it is bounded by
// that value and reports absolute offsets. A reader does not own its bytes.
//
// Every read_* consumes one element on success. On failure the cursor stays
// where it was; callers are expected to stop at the first error.
class Reader {
 public:
  // Reader over a whole message. An input longer than kMaxLength makes every
  // read fail with Overflow ("integer overflow").
  explicit Reader(ByteView input) noexcept;

  std::size_t position() const noexcept { return base_ + pos_; }  // absolute
  std::size_t remaining() const noexcept { return data_.size() - pos_; }
  bool empty() const noexcept { return pos_ == data_.size(); }
  // rest is the unread bytes.
  ByteView rest() const noexcept { return data_.subspan(pos_); }

  // peek_tag is the next identifier octet, or nullopt at the end.
  std::optional<Tag> peek_tag() const noexcept;
  // next_is is true when the next identifier octet is `tag`.
  bool next_is(Tag tag) const noexcept;

  // read_element reads any one value of a known tag.
  Result<Element> read_element();
  // read_element(tag) reads one value that must carry `tag`.
  Result<Element> read_element(Tag tag);

  // read_sequence reads a SEQUENCE and returns a reader over its contents.
  Result<Reader> read_sequence();
  // read_constructed reads a value with constructed `tag` and returns a
  // reader over its contents.
  Result<Reader> read_constructed(Tag tag);

  // read_integer_unsigned reads a non-negative INTEGER in canonical form and
  // returns its big-endian magnitude without the sign octet (zero is the one
  // byte 00). No contents or a redundant leading 00 fail with Noncanonical
  // for INTEGER; a negative value fails with Value for INTEGER.
  Result<ByteView> read_integer_unsigned();
  // read_integer_small reads a canonical unsigned INTEGER of at most
  // `max_bytes` (≤ 8) magnitude bytes; a longer one fails with Length for
  // INTEGER.
  Result<std::uint64_t> read_integer_small(std::size_t max_bytes = 8);
  // read_integer_content reads an INTEGER and returns its two's-complement
  // contents as they stand (at least one byte; not checked for minimality).
  // No contents fail with Value for INTEGER.
  Result<ByteView> read_integer_content();

  // read_bit_string reads a primitive BIT STRING: 0..7 unused bits, no unused
  // bits without data (both Value for BIT STRING), and unused bits zero
  // (Noncanonical for BIT STRING). Empty contents fail with Value.
  Result<BitString> read_bit_string();
  // read_octet_string reads a primitive OCTET STRING.
  Result<ByteView> read_octet_string();
  // read_null reads NULL; contents fail with Length for NULL.
  Result<void> read_null();
  // read_oid reads an OBJECT IDENTIFIER and returns its contents, checked as
  // well-formed (see oid_to_dotted); a malformed one fails with OidMalformed.
  Result<ByteView> read_oid();

  // read_explicit reads [n] EXPLICIT: a constructed CONTEXT-SPECIFIC [n] and
  // returns a reader over its contents. A primitive [n] fails with
  // Noncanonical for that tag.
  Result<Reader> read_explicit(std::uint8_t n);
  // read_optional_explicit reads [n] EXPLICIT when the next tag is a
  // CONTEXT-SPECIFIC [n] (either form), else returns nullopt and reads nothing.
  Result<std::optional<Reader>> read_optional_explicit(std::uint8_t n);
  // read_implicit reads [n] IMPLICIT with the given form and returns the value.
  Result<Element> read_implicit(std::uint8_t n, bool constructed);

  // finish succeeds when nothing is left to read; else TrailingData with the
  // bytes decoded and remaining in this reader, at the first unread byte.
  Result<void> finish() const;

 private:
  Reader(ByteView data, std::size_t base) noexcept : data_(data), base_(base) {}
  Result<Element> parse_element() const;
  Reader nested(const Element& e) const noexcept { return Reader(e.content, e.content_offset); }

  ByteView data_;
  std::size_t base_ = 0;
  std::size_t pos_ = 0;
  bool too_long_ = false;
};

// SignedInteger is an INTEGER value of any size as sign and magnitude.
// `magnitude` is big-endian without leading zero bytes; zero is the empty
// magnitude and is never negative.
struct SignedInteger {
  bool negative = false;
  Bytes magnitude;

  // from_twos_complement reads INTEGER contents (big-endian two's
  // complement, redundant leading 00/FF octets allowed); empty reads as 0.
  static SignedInteger from_twos_complement(ByteView content);
  // from_unsigned reads a big-endian unsigned value (leading zeros allowed).
  static SignedInteger from_unsigned(ByteView big_endian);

  bool operator==(const SignedInteger&) const = default;
};

// Wipe selects whether a Writer wipes every buffer it drops (for documents
// that hold private keys).
enum class Wipe : bool { No, Yes };

// Writer appends DER values to one buffer with minimal lengths. Constructed
// values are written through a callback that appends their contents.
class Writer {
 public:
  // A Writer refuses (at finish) any length above `max_length`; pass
  // SIZE_MAX for records that have no such limit.
  explicit Writer(Wipe wipe = Wipe::No, std::size_t max_length = kMaxLength)
      : wipe_(wipe), max_length_(max_length) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  ~Writer();

  // integer writes the non-negative INTEGER whose big-endian magnitude is
  // `magnitude` (leading zero bytes ignored, empty = 0), in minimal form with
  // a 00 octet in front when the top bit is set.
  Writer& integer(ByteView magnitude);
  Writer& integer(std::uint64_t value);
  // integer_signed writes −magnitude when `negative` (and magnitude ≠ 0),
  // else +magnitude, in minimal two's complement.
  Writer& integer_signed(bool negative, ByteView magnitude);
  Writer& integer(const SignedInteger& value) { return integer_signed(value.negative, value.magnitude); }
  Writer& bit_string(ByteView bytes, std::uint8_t unused_bits = 0);
  Writer& octet_string(ByteView bytes);
  Writer& null();
  // oid writes an OBJECT IDENTIFIER from its content octets.
  Writer& oid(ByteView content);
  // primitive writes `tag` with `content`.
  Writer& primitive(Tag tag, ByteView content);
  // raw appends already encoded DER.
  Writer& raw(ByteView encoded);

  // constructed writes `tag` around what `body(Writer&)` appends.
  template <class F>
  Writer& constructed(Tag tag, F&& body) {
    const std::size_t mark = buf_.size();
    std::forward<F>(body)(*this);
    close(tag, mark);
    return *this;
  }
  template <class F>
  Writer& sequence(F&& body) {
    return constructed(kSequence, std::forward<F>(body));
  }
  // explicit_ writes [n] EXPLICIT around what `body` appends.
  template <class F>
  Writer& explicit_(std::uint8_t n, F&& body) {
    return constructed(Tag::context(n, true), std::forward<F>(body));
  }

  std::size_t size() const noexcept { return buf_.size(); }

  // finish returns the document, or Overflow when some length exceeded
  // the limit. With Wipe::Yes the caller owns the wiping of the result.
  Result<Bytes> finish() &&;

 private:
  void append(ByteView bytes);
  void append_header(Tag tag, std::size_t length);
  void close(Tag tag, std::size_t mark);
  void grow(std::size_t extra);

  Bytes buf_;
  Wipe wipe_;
  std::size_t max_length_;
  bool overflow_ = false;
};

// oid_to_dotted returns the dotted form ("1.2.840.10045.2.1") of the OBJECT
// IDENTIFIER contents `content`, or OidMalformed when they are empty, longer
// than 39 bytes, end inside a subidentifier, have a subidentifier with a
// leading 0x80 octet, or an arc above 2^32 − 1.
Result<std::string> oid_to_dotted(ByteView content);

// encoded_length returns the size of identifier + length octets + `length`
// contents.
std::size_t encoded_length(std::size_t length) noexcept;

}  // namespace tarnwick::der
