#include "crypto/sm2/key_encoding.h"

#include <algorithm>
#include <array>
#include <string>

#include "crypto/sm2/p256_ecc.h"
#include "support/ct.h"
#include "support/secret.h"

namespace tarnwick::sm2 {
namespace {

constexpr std::array<std::uint8_t, 7> kIdEcPublicKey = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::array<std::uint8_t, 8> kSm2Curve = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};
constexpr const char* kIdEcPublicKeyDotted = "1.2.840.10045.2.1";
constexpr const char* kSm2CurveDotted = "1.2.156.10197.1.301";

bool same(ByteView a, ByteView b) { return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin()); }

std::unexpected<Error> der_fail(const der::Error& e, std::string_view prefix) { return e.fail(prefix); }

// check_algorithm reads an AlgorithmIdentifier and checks it names an SM2
// key. A malformed structure is reported through `der_error`, at once; the
// identifier checks run in order (algorithm, parameters present, parameters
// an OBJECT IDENTIFIER, well formed, the SM2 curve) and the first that fails
// sets either `text` (a SubjectPublicKeyInfo-level text) or `oid_error` (the
// DER error of malformed curve parameters), which the callers report after
// the rest of the structure has been read.
struct AlgorithmCheck {
  std::optional<der::Error> der_error;  // structure
  std::optional<std::string> text;      // identifier mismatch (SubjectPublicKeyInfo text)
  std::optional<der::Error> oid_error;  // parameters not a well-formed OBJECT IDENTIFIER
};

AlgorithmCheck check_algorithm(der::Reader& outer) {
  AlgorithmCheck out;
  auto alg = outer.read_sequence();
  if (!alg) {
    out.der_error = alg.error();
    return out;
  }
  auto oid = alg->read_oid();
  if (!oid) {
    out.der_error = oid.error();
    return out;
  }
  std::optional<der::Element> params;
  if (!alg->empty()) {
    auto e = alg->read_element();
    if (!e) {
      out.der_error = e.error();
      return out;
    }
    params = *e;
  }
  if (auto done = alg->finish(); !done) {
    out.der_error = done.error();
    return out;
  }
  if (!same(*oid, kIdEcPublicKey)) {
    out.text = std::string("unknown/unsupported algorithm OID: ") + kIdEcPublicKeyDotted;
    return out;
  }
  if (!params) {
    out.text = "AlgorithmIdentifier parameters missing";
    return out;
  }
  if (params->tag != der::kObjectIdentifier) {
    out.text = "ASN.1 error: " + der::Error::tag_unexpected(der::kObjectIdentifier, params->tag).text();
    return out;
  }
  if (auto dotted = der::oid_to_dotted(params->content); !dotted) {
    out.oid_error = dotted.error().at(params->offset);
    return out;
  }
  if (!same(params->content, kSm2Curve)) {
    out.text = std::string("unknown/unsupported algorithm OID: ") + kSm2CurveDotted;
  }
  return out;
}

const std::string& value_text(der::Tag tag) {
  static const std::string integer = der::Error::value(der::kInteger).text();
  static const std::string bit_string = der::Error::value(der::kBitString).text();
  static const std::string sequence = der::Error::value(der::kSequence).text();
  return tag == der::kInteger ? integer : tag == der::kBitString ? bit_string : sequence;
}

// read_bit_string_bytes reads a BIT STRING; unused bits (a well-formed count
// of 1..7) give `unused` = true and no error.
der::Result<std::optional<ByteView>> read_whole_bytes(der::Reader& r) {
  auto bits = r.read_bit_string();
  if (bits) {
    if (bits->unused_bits != 0) return std::optional<ByteView>{};
    return std::optional<ByteView>{bits->bytes};
  }
  if (bits.error().kind() == der::ErrorKind::Noncanonical) {
    // Unused bits that are not zero: still a string with unused bits.
    auto skip = r.read_element(der::kBitString);
    if (!skip) return std::unexpected(skip.error());
    return std::optional<ByteView>{};
  }
  return std::unexpected(bits.error());
}

}  // namespace

der::Result<Sec1PrivateKey> decode_sec1(ByteView der_bytes) {
  der::Reader in(der_bytes);
  auto seq = in.read_sequence();
  if (!seq) return std::unexpected(seq.error());
  const std::size_t version_pos = seq->position();
  auto version = seq->read_integer_small(1);
  if (!version) return std::unexpected(version.error());
  if (*version != 1) return std::unexpected(der::Error::value(der::kInteger).at(version_pos));
  auto d = seq->read_octet_string();
  if (!d) return std::unexpected(d.error());
  Sec1PrivateKey key{*d, std::nullopt};
  auto params = seq->read_optional_explicit(0);
  if (!params) return std::unexpected(params.error());
  if (*params) {
    auto oid = (*params)->read_oid();
    if (!oid) return std::unexpected(oid.error());
    if (auto done = (*params)->finish(); !done) return std::unexpected(done.error());
  }
  auto pub = seq->read_optional_explicit(1);
  if (!pub) return std::unexpected(pub.error());
  if (*pub) {
    const std::size_t pos = (*pub)->position();
    auto bytes = read_whole_bytes(**pub);
    if (!bytes) return std::unexpected(bytes.error());
    if (!*bytes) return std::unexpected(der::Error::value(der::kBitString).at(pos));
    key.public_key = **bytes;
    if (auto done = (*pub)->finish(); !done) return std::unexpected(done.error());
  }
  if (auto done = seq->finish(); !done) return std::unexpected(done.error());
  if (auto done = in.finish(); !done) return std::unexpected(done.error());
  return key;
}

Result<Sm2PublicKey> public_key_from_spki(ByteView der_bytes) {
  constexpr std::string_view kPrefix = "ASN.1 error: ";
  der::Reader in(der_bytes);
  auto spki = in.read_sequence();
  if (!spki) return der_fail(spki.error(), kPrefix);
  AlgorithmCheck alg = check_algorithm(*spki);
  if (alg.der_error) return der_fail(*alg.der_error, kPrefix);
  auto key_bits = read_whole_bytes(*spki);
  if (!key_bits) return der_fail(key_bits.error(), kPrefix);
  if (auto done = spki->finish(); !done) return der_fail(done.error(), kPrefix);
  if (auto done = in.finish(); !done) return der_fail(done.error(), kPrefix);
  if (alg.text) return fail(*alg.text);
  if (alg.oid_error) return der_fail(*alg.oid_error, kPrefix);
  if (!*key_bits) return fail(std::string(kPrefix) + value_text(der::kBitString));

  auto point = p256_ecc::decode_point(**key_bits);
  // Coordinates must be reduced: the point arithmetic is only defined for
  // values below p.
  if (!point || !p256_field::is_reduced(point->x) || !p256_field::is_reduced(point->y) ||
      !p256_ecc::is_on_curve(*point)) {
    return fail(std::string(kPrefix) + value_text(der::kInteger));
  }
  return *point;
}

der::Result<Sm2PrivateKey> private_key_from_sec1(const Sec1PrivateKey& key, PublicKeyPart part) {
  const ByteView octets = key.private_key;
  // d must fit in 32 bytes: every octet before the last 32 must be zero.
  // The octets are secret; only the outcome of the test is made public.
  std::uint64_t extra = 0;
  for (std::size_t i = 0; i + 32 < octets.size(); ++i) extra |= octets[i];
  if (ct::declassify_mask(~ct::is_zero(extra))) return std::unexpected(der::Error::value(der::kSequence));
  const std::size_t keep = std::min<std::size_t>(octets.size(), 32);
  std::uint8_t be[32] = {};
  std::copy(octets.end() - static_cast<std::ptrdiff_t>(keep), octets.end(), be + (32 - keep));
  Sm2PrivateKey out{Scalar::from_bytes(be), p256_ecc::kInfinity};
  wipe_object(be);
  // The document's point, when there is one, is decoded once: it must
  // decode, and where d·G is computed it serves as d·G's affine form when it
  // is exactly that (any other point changes nothing).
  std::optional<std::expected<Sm2PublicKey, Sm2Error>> claimed;
  if (key.public_key) claimed = p256_ecc::decode_point(*key.public_key);
  if (part == PublicKeyPart::kCompute) {
    out.public_key = claimed && *claimed ? public_point(out.d, **claimed) : public_point(out.d);
    if (!p256_ecc::is_on_curve(out.public_key)) return std::unexpected(der::Error::value(der::kSequence));
  }
  if (claimed && !*claimed) return std::unexpected(der::Error::value(der::kBitString));
  return out;
}

Result<Sm2PrivateKey> private_key_from_sec1_der(ByteView der_bytes, PublicKeyPart part) {
  auto sec1 = decode_sec1(der_bytes);
  if (!sec1) return sec1.error().fail();
  auto key = private_key_from_sec1(*sec1, part);
  if (!key) return key.error().fail();
  return std::move(*key);
}

Result<Sm2PrivateKey> private_key_from_pkcs8(ByteView der_bytes, PublicKeyPart part) {
  constexpr std::string_view kPrefix = "PKCS#8 ASN.1 error: ";
  der::Reader in(der_bytes);
  auto info = in.read_sequence();
  if (!info) return der_fail(info.error(), kPrefix);
  const std::size_t version_pos = info->position();
  auto version = info->read_integer_small(1);
  if (!version) return der_fail(version.error(), kPrefix);
  if (*version > 1) return der_fail(der::Error::value(der::kInteger).at(version_pos), kPrefix);
  AlgorithmCheck alg = check_algorithm(*info);
  if (alg.der_error) return der_fail(*alg.der_error, kPrefix);
  auto private_key = info->read_octet_string();
  if (!private_key) return der_fail(private_key.error(), kPrefix);
  // [0] IMPLICIT attributes and (version 1) [1] IMPLICIT public key are skipped.
  if (info->next_is(der::Tag::context(0, true))) {
    if (auto a = info->read_implicit(0, true); !a) return der_fail(a.error(), kPrefix);
  }
  if (*version == 1 && info->next_is(der::Tag::context(1, false))) {
    if (auto a = info->read_implicit(1, false); !a) return der_fail(a.error(), kPrefix);
  }
  if (auto done = info->finish(); !done) return der_fail(done.error(), kPrefix);
  if (auto done = in.finish(); !done) return der_fail(done.error(), kPrefix);
  if (alg.text) return fail("public key error: " + *alg.text);
  if (alg.oid_error) return der_fail(*alg.oid_error, kPrefix);

  auto sec1 = decode_sec1(*private_key);
  if (!sec1) return der_fail(sec1.error(), kPrefix);
  auto key = private_key_from_sec1(*sec1, part);
  if (!key) return der_fail(key.error(), kPrefix);
  return std::move(*key);
}

Result<Bytes> private_key_to_pkcs8(const Sm2PrivateKey& key) {
  // d in minimal big-endian form (0 as 00). Its length is written into the
  // document; the count of leading zero bytes is taken without branching on
  // d and then made public.
  Wiped<std::array<std::uint8_t, 32>> d;
  key.d.to_bytes(d.value.data());
  std::uint64_t still_zero = ~std::uint64_t{0};
  std::size_t zeros = 0;
  for (int i = 0; i < 31; ++i) {
    still_zero &= ct::is_zero(d.value[static_cast<std::size_t>(i)]);
    zeros += static_cast<std::size_t>(still_zero & 1);
  }
  ct::declassify(&zeros, sizeof zeros);
  const ByteView d_minimal = ByteView(d.value).subspan(zeros);
  const Bytes point = p256_ecc::encode_uncompressed(key.public_key);
  der::Writer sec1_writer(der::Wipe::Yes);
  sec1_writer.sequence([&](der::Writer& w) {
    w.integer(std::uint64_t{1});
    w.octet_string(d_minimal);
    w.explicit_(0, [&](der::Writer& p) { p.oid(kSm2Curve); });
    w.explicit_(1, [&](der::Writer& p) { p.bit_string(point); });
  });
  auto sec1_doc = std::move(sec1_writer).finish();
  if (!sec1_doc) return sec1_doc.error().fail();
  Bytes& sec1 = *sec1_doc;
  const WipeOnExit wipe_sec1(sec1);

  der::Writer out(der::Wipe::Yes);
  out.sequence([&](der::Writer& w) {
    w.integer(std::uint64_t{0});
    w.sequence([&](der::Writer& a) { a.oid(kIdEcPublicKey).oid(kSm2Curve); });
    w.octet_string(sec1);
  });
  auto doc = std::move(out).finish();
  if (!doc) return doc.error().fail();
  return std::move(*doc);
}

Result<Bytes> public_key_to_spki(const Sm2PublicKey& key) {
  const Bytes point = p256_ecc::encode_uncompressed(key);
  der::Writer out;
  out.sequence([&](der::Writer& w) {
    w.sequence([&](der::Writer& a) { a.oid(kIdEcPublicKey).oid(kSm2Curve); });
    w.bit_string(point);
  });
  auto doc = std::move(out).finish();
  if (!doc) return doc.error().fail();
  return std::move(*doc);
}

}  // namespace tarnwick::sm2
