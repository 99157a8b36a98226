// The Cipher and Signature record decoders over arbitrary bytes; a decoded
// record re-encodes to a document that decodes to the same record.
#include "common.h"
#include "ohos/asym/cipher.h"
#include "ohos/asym/signature.h"

namespace tarnwick::fuzz {
void seeds(SeedSink& sink) {
  ohos::asym::Cipher c{der::SignedInteger::from_unsigned(Bytes(32, 0x81)),
                       der::SignedInteger::from_unsigned(Bytes(32, 0x7F)), Bytes(32, 0xC3), Bytes(5, 0xC2)};
  sink.add(*c.encode());
  sink.add(ohos::asym::Signature::encode(Bytes(32, 0xFF), Bytes(31, 0x01)));
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick::ohos::asym;
  const tarnwick::ByteView in(data, size);
  if (auto c = Cipher::decode(in); c) {
    auto doc = c->encode();
    FUZZ_CHECK(doc.has_value(), "encoding a decoded Cipher failed");
    auto again = Cipher::decode(*doc);
    FUZZ_CHECK(again && *again == *c, "Cipher round trip");
  } else {
    FUZZ_CHECK(!c.error().display().empty(), "empty error text");
  }
  if (auto s = Signature::decode(in); s) {
    FUZZ_CHECK(!s->r.negative || !s->r.magnitude.empty(), "negative zero");
  }
  return 0;
}
