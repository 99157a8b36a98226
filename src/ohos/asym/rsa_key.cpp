// RSA key documents: SubjectPublicKeyInfo, PKCS#8 and the bare PKCS#1
// forms, read by one rule and written for generated keys.
#include "ohos/asym/rsa_key.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

#include <openssl/crypto.h>

#include "ohos/asym/rsa_key_parts.h"
#include "support/der.h"
#include "support/secret.h"

namespace tarnwick::ohos::asym {
namespace rsa_detail {
namespace {

constexpr const char* kSpkiMalformed = "public key error: SPKI cryptographic key data malformed";

// rsaEncryption, 1.2.840.113549.1.1.1 (RFC 8017 appendix A.1).
constexpr std::uint8_t kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

constexpr const char* kSpkiAsn1 = "public key error: ASN.1 error: ";
constexpr const char* kPkcs1BitStringTooLong = "PKCS#1 ASN.1 error: incorrect length for BIT STRING";
constexpr const char* kPkcs8Asn1 = "PKCS#8 ASN.1 error: ";

// BnBytes is the minimal big-endian form of a BIGNUM, wiped when released.
class BnBytes {
 public:
  explicit BnBytes(const BIGNUM* bn) : bytes_(static_cast<std::size_t>(BN_num_bytes(bn))) {
    if (!bytes_.empty()) BN_bn2bin(bn, bytes_.data());
  }
  BnBytes(const BnBytes&) = delete;
  BnBytes& operator=(const BnBytes&) = delete;
  ~BnBytes() { wipe_memory(bytes_.data(), bytes_.size()); }
  ByteView view() const noexcept { return bytes_; }

 private:
  Bytes bytes_;
};

void write_algorithm(der::Writer& w) {
  w.sequence([](der::Writer& a) { a.oid(kRsaEncryption).null(); });
}

// encode_public writes the SubjectPublicKeyInfo of {n, e}.
Result<Bytes> encode_public(const BIGNUM* n, const BIGNUM* e) {
  const BnBytes nb(n), eb(e);
  der::Writer inner;
  inner.sequence([&](der::Writer& w) { w.integer(nb.view()).integer(eb.view()); });
  auto rsa_public = std::move(inner).finish();
  if (!rsa_public) return rsa_public.error().fail(kSpkiAsn1);
  der::Writer outer;
  outer.sequence([&](der::Writer& w) {
    write_algorithm(w);
    w.bit_string(*rsa_public);
  });
  auto spki = std::move(outer).finish();
  if (!spki) return spki.error().fail(kSpkiAsn1);
  return std::move(*spki);
}

// encode_private writes the PKCS#8 PrivateKeyInfo (version 0, no attributes,
// no public key) around the two-prime RSAPrivateKey. Every intermediate
// buffer holding private values is wiped.
Result<Bytes> encode_private(const RsaParts& k, const CrtParts& c) {
  der::Writer inner(der::Wipe::Yes);
  {
    const BnBytes n(k.n.get()), e(k.e.get()), d(k.d.get()), p(k.p.get()), q(k.q.get());
    const BnBytes dp(c.dp.get()), dq(c.dq.get()), qinv(c.qinv.get());
    inner.sequence([&](der::Writer& w) {
      w.integer(std::uint64_t{0});
      for (const BnBytes* v : {&n, &e, &d, &p, &q, &dp, &dq, &qinv}) w.integer(v->view());
    });
  }
  auto rsa_private = std::move(inner).finish();
  if (!rsa_private) return rsa_private.error().fail(kPkcs8Asn1);
  der::Writer outer(der::Wipe::Yes);
  outer.sequence([&](der::Writer& w) {
    w.integer(std::uint64_t{0});
    write_algorithm(w);
    w.octet_string(*rsa_private);
  });
  wipe(*rsa_private);
  auto doc = std::move(outer).finish();
  if (!doc) return doc.error().fail(kPkcs8Asn1);
  return std::move(*doc);
}

ossl::BnPtr public_bn(ByteView magnitude) {
  return ossl::BnPtr(BN_bin2bn(magnitude.data(), static_cast<int>(magnitude.size()), nullptr));
}

ossl::SecretBnPtr private_bn(ByteView magnitude) {
  ossl::SecretBnPtr bn = secret_bn();
  if (bn && BN_bin2bn(magnitude.data(), static_cast<int>(magnitude.size()), bn.get()) == nullptr) return nullptr;
  return bn;
}

struct RsaPublicParts {
  ossl::BnPtr n;
  ossl::BnPtr e;
};

// ParsedPrivate is an RSAPrivateKey as read: its parts, or a multi-prime key
// (version 1 with otherPrimeInfos), which the key rules refuse.
struct ParsedPrivate {
  bool multi_prime = false;
  RsaParts parts;
};

// parse_rsa_public_key reads the whole of `der` as RSAPublicKey
// {modulus, publicExponent} (RFC 8017 A.1.1).
std::expected<RsaPublicParts, der::Error> parse_rsa_public_key(ByteView bytes) {
  der::Reader in(bytes);
  auto seq = in.read_sequence();
  if (!seq) return std::unexpected(seq.error());
  auto n = seq->read_integer_unsigned();
  if (!n) return std::unexpected(n.error());
  auto e = seq->read_integer_unsigned();
  if (!e) return std::unexpected(e.error());
  if (auto done = seq->finish(); !done) return std::unexpected(done.error());
  if (auto done = in.finish(); !done) return std::unexpected(done.error());
  return RsaPublicParts{public_bn(*n), public_bn(*e)};
}

// parse_rsa_private_key reads the whole of `der` as RSAPrivateKey (RFC 8017
// A.1.2): version 0 with two primes, or version 1 with otherPrimeInfos.
std::expected<ParsedPrivate, der::Error> parse_rsa_private_key(ByteView bytes) {
  der::Reader in(bytes);
  auto seq = in.read_sequence();
  if (!seq) return std::unexpected(seq.error());
  const std::size_t version_at = seq->position();
  auto version = seq->read_integer_small(1);
  if (!version) return std::unexpected(version.error());
  if (*version > 1) return std::unexpected(der::Error::value(der::kInteger).at(version_at));
  ByteView values[8];
  for (ByteView& v : values) {
    auto read = seq->read_integer_unsigned();
    if (!read) return std::unexpected(read.error());
    v = *read;
  }
  ParsedPrivate out;
  if (seq->next_is(der::kSequence)) {
    auto others = seq->read_sequence();
    if (!others) return std::unexpected(others.error());
    out.multi_prime = true;
  }
  if (out.multi_prime != (*version == 1))
    return std::unexpected(der::Error::value(der::kInteger).at(version_at));
  if (auto done = seq->finish(); !done) return std::unexpected(done.error());
  if (auto done = in.finish(); !done) return std::unexpected(done.error());
  // The stored CRT values (values[5..7]) only have to be well-formed; the
  // exponents are always recomputed, the coefficient when it is wrong.
  out.parts.n = public_bn(values[0]);
  out.parts.e = public_bn(values[1]);
  out.parts.d = private_bn(values[2]);
  out.parts.p = private_bn(values[3]);
  out.parts.q = private_bn(values[4]);
  out.parts.stored_qinv = private_bn(values[7]);
  return out;
}

// read_algorithm_is_rsa tells whether the AlgorithmIdentifier `alg` is
// rsaEncryption with its NULL parameters present.
bool read_algorithm_is_rsa(der::Reader& outer) {
  auto alg = outer.read_sequence();
  if (!alg) return false;
  auto oid = alg->read_oid();
  if (!oid || !std::equal(oid->begin(), oid->end(), std::begin(kRsaEncryption), std::end(kRsaEncryption)))
    return false;
  return alg->read_null().has_value() && alg->finish().has_value();
}

// spki_payload returns the RSAPublicKey bytes of a SubjectPublicKeyInfo
// that is the whole of `bytes` and names rsaEncryption with NULL parameters.
std::optional<ByteView> spki_payload(ByteView bytes) {
  der::Reader in(bytes);
  auto spki = in.read_sequence();
  if (!spki || !in.finish() || !read_algorithm_is_rsa(*spki)) return std::nullopt;
  auto bits = spki->read_bit_string();
  if (!bits || bits->unused_bits != 0 || !spki->finish()) return std::nullopt;
  return bits->bytes;
}

// pkcs8_payload returns the privateKey bytes of a PrivateKeyInfo (RFC 5208,
// with the RFC 5958 version 1 public key) that is the whole of `bytes` and
// names rsaEncryption with NULL parameters. Attributes and the public key
// are skipped.
std::optional<ByteView> pkcs8_payload(ByteView bytes) {
  der::Reader in(bytes);
  auto info = in.read_sequence();
  if (!info || !in.finish()) return std::nullopt;
  auto version = info->read_integer_small(1);
  if (!version || *version > 1 || !read_algorithm_is_rsa(*info)) return std::nullopt;
  auto key = info->read_octet_string();
  if (!key) return std::nullopt;
  if (info->next_is(der::Tag::context(0, true)) && !info->read_implicit(0, true)) return std::nullopt;
  bool has_public_key = false;
  if (info->next_is(der::Tag::context(1, false))) {
    if (!info->read_implicit(1, false)) return std::nullopt;
    has_public_key = true;
  }
  if (has_public_key != (*version == 1)) return std::nullopt;
  // Later extension fields are skipped.
  while (!info->empty()) {
    auto tag = info->peek_tag();
    if (!tag || !tag->context_specific() || !info->read_element()) return std::nullopt;
  }
  return *key;
}

// public_key_from_rsa_public applies the public-key checks to one
// RSAPublicKey document.
std::optional<ossl::PkeyPtr> public_key_from_rsa_public(ByteView bytes) {
  auto parts = parse_rsa_public_key(bytes);
  if (!parts || !parts->n || !parts->e || !public_checks_pass(parts->n.get(), parts->e.get()))
    return std::nullopt;
  ossl::PkeyPtr pkey = public_pkey(parts->n.get(), parts->e.get());
  if (!pkey) return std::nullopt;
  return pkey;
}

// private_key_from_rsa_private builds the key of one RSAPrivateKey document,
// reporting the failure as the PKCS#8 codec does.
Result<ossl::PkeyPtr> private_key_from_rsa_private(ByteView bytes) {
  auto parsed = parse_rsa_private_key(bytes);
  if (!parsed) return parsed.error().fail(kPkcs8Asn1);
  const RsaParts& k = parsed->parts;
  if (parsed->multi_prime || !k.n || !k.e || !k.d || !k.p || !k.q) return fail(kPkcs8Malformed);
  return checked_private_pkey(k);
}

}  // namespace

Result<RsaKeyPairDer> encode_key_pair(const RsaParts& k, const CrtParts& c) {
  auto public_der = encode_public(k.n.get(), k.e.get());
  if (!public_der) return std::unexpected(public_der.error());
  auto private_der = encode_private(k, c);
  if (!private_der) return std::unexpected(private_der.error());
  return RsaKeyPairDer{std::move(*public_der), std::move(*private_der)};
}

}  // namespace rsa_detail

using namespace rsa_detail;

Result<ossl::PkeyPtr> rsa_public_key_from_der(ByteView der) {
  ossl::ErrorQueueGuard guard;
  if (std::optional<ByteView> payload = spki_payload(der)) {
    if (auto key = public_key_from_rsa_public(*payload)) return std::move(*key);
  }
  // The bytes as a bare RSAPublicKey: they must fit the BIT STRING of a
  // SubjectPublicKeyInfo, and this attempt's failure is the one reported.
  if (der.size() > der::kMaxLength) return fail(kPkcs1BitStringTooLong);
  auto parts = parse_rsa_public_key(der);
  if (!parts) return parts.error().fail(kSpkiAsn1);
  if (!parts->n || !parts->e || !public_checks_pass(parts->n.get(), parts->e.get())) return fail(kSpkiMalformed);
  ossl::PkeyPtr pkey = public_pkey(parts->n.get(), parts->e.get());
  if (!pkey) return fail(kSpkiMalformed);
  return pkey;
}

Result<ossl::PkeyPtr> rsa_private_key_from_der(ByteView der) {
  ossl::ErrorQueueGuard guard;
  if (std::optional<ByteView> payload = pkcs8_payload(der)) {
    if (auto key = private_key_from_rsa_private(*payload)) return std::move(*key);
  }
  return private_key_from_rsa_private(der);
}

}  // namespace tarnwick::ohos::asym
