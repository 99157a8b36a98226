#include "ohos/asym/signature.h"

#include <cstdint>
#include <utility>

#include "ohos/asym/record_codec.h"

namespace tarnwick::ohos::asym {

Bytes Signature::encode(ByteView r, ByteView s) {
  der::Writer w(der::Wipe::No, SIZE_MAX);
  w.sequence([&](der::Writer& seq) { seq.integer(r).integer(s); });
  auto out = std::move(w).finish();  // no limit is set, so this cannot fail
  return out ? std::move(*out) : Bytes{};
}

Result<Signature> Signature::decode(ByteView der) {
  record::Cursor outer(der);
  auto contents = outer.sequence();
  if (!contents) return fail(std::move(contents.error()));
  record::Cursor in(*contents);
  auto r = in.integer();
  if (!r) return fail(record::field_error("Signature.r", r.error()));
  auto s = in.integer();
  if (!s) return fail(record::field_error("Signature.s", s.error()));
  if (auto done = in.finish(); !done) return fail(std::move(done.error()));
  return Signature{std::move(*r), std::move(*s)};
}

std::string_view name(AlgorithmKind kind) noexcept {
  switch (kind) {
    case AlgorithmKind::None: return "None";
    case AlgorithmKind::RSA: return "RSA";
    case AlgorithmKind::SHA1WithRSA: return "SHA1WithRSA";
    case AlgorithmKind::SHA256WithRSA: return "SHA256WithRSA";
    case AlgorithmKind::SM3: return "SM3";
    case AlgorithmKind::SM3WithSM2: return "SM3WithSM2";
  }
  return "";
}

}  // namespace tarnwick::ohos::asym
