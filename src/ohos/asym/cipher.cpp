#include "ohos/asym/cipher.h"

#include <cstdint>

#include "ohos/asym/record_codec.h"

namespace tarnwick::ohos::asym {

Result<Bytes> Cipher::encode() const {
  der::Writer w(der::Wipe::No, SIZE_MAX);
  w.sequence([&](der::Writer& s) { s.integer(x).integer(y).octet_string(c3).octet_string(c2); });
  auto out = std::move(w).finish();
  if (!out) return out.error().fail();
  return std::move(*out);
}

Result<Cipher> Cipher::decode(ByteView der) {
  record::Cursor outer(der);
  auto contents = outer.sequence();
  if (!contents) return fail(std::move(contents.error()));
  record::Cursor in(*contents);
  Cipher c;
  auto x = in.integer();
  if (!x) return fail(record::field_error("Cipher.x", x.error()));
  auto y = in.integer();
  if (!y) return fail(record::field_error("Cipher.y", y.error()));
  auto c3 = in.octet_string();
  if (!c3) return fail(record::field_error("Cipher.c3", c3.error()));
  auto c2 = in.octet_string();
  if (!c2) return fail(record::field_error("Cipher.c2", c2.error()));
  if (auto done = in.finish(); !done) return fail(std::move(done.error()));
  c.x = std::move(*x);
  c.y = std::move(*y);
  c.c3 = std::move(*c3);
  c.c2 = std::move(*c2);
  return c;
}

}  // namespace tarnwick::ohos::asym
