// The strict DER reader over arbitrary bytes: every element is read through
// each typed reader that could apply, nested values are walked, and every
// reported position lies inside the input.
#include <functional>

#include "common.h"
#include "support/der.h"

namespace tarnwick::fuzz {
namespace {

void expect_position(const der::Error& e, std::size_t size) {
  if (e.position()) FUZZ_CHECK(*e.position() <= size, "error position past the input");
  FUZZ_CHECK(!e.text().empty(), "empty DER error text");
}

void walk(der::Reader r, std::size_t size, int depth) {
  while (!r.empty()) {
    {
      der::Reader probe = r;
      if (auto v = probe.read_integer_unsigned(); !v) expect_position(v.error(), size);
      probe = r;
      if (auto v = probe.read_integer_small(); !v) expect_position(v.error(), size);
      probe = r;
      if (auto v = probe.read_integer_content(); v) {
        der::SignedInteger::from_twos_complement(*v);
      }
      probe = r;
      if (auto v = probe.read_bit_string(); !v) expect_position(v.error(), size);
      probe = r;
      if (auto v = probe.read_null(); !v) expect_position(v.error(), size);
      probe = r;
      if (auto v = probe.read_oid(); v) {
        FUZZ_CHECK(der::oid_to_dotted(*v).has_value(), "read_oid accepted what oid_to_dotted refuses");
      }
      probe = r;
      if (auto v = probe.read_optional_explicit(0); v && *v && depth < 32) walk(**v, size, depth + 1);
      probe = r;
      if (auto v = probe.read_implicit(1, false); !v) expect_position(v.error(), size);
    }
    const std::size_t before = r.position();
    auto e = r.read_element();
    if (!e) {
      expect_position(e.error(), size);
      FUZZ_CHECK(r.position() == before, "a failed read moved the cursor");
      return;
    }
    FUZZ_CHECK(r.position() > before, "a read consumed nothing");
    FUZZ_CHECK(e->content.size() <= e->encoded.size(), "content larger than the element");
    der::oid_to_dotted(e->content);
    if (e->tag.constructed() && depth < 32) walk(der::Reader(e->content), e->content.size(), depth + 1);
  }
  if (auto done = r.finish(); !done) FUZZ_CHECK(false, "finish failed on an empty reader");
}

}  // namespace

void seeds(SeedSink& sink) {
  der::Writer w;
  w.sequence([](der::Writer& s) {
    s.integer(std::uint64_t{0x1234}).integer(ByteView()).null();
    const std::uint8_t oid[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
    s.oid(oid).bit_string(ByteView(oid)).octet_string(ByteView(oid));
    s.explicit_(0, [](der::Writer& e) { e.integer_signed(true, Bytes{0x80}); });
  });
  sink.add(*std::move(w).finish());
}

}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  der::Reader r(ByteView(data, size));
  tarnwick::fuzz::walk(r, size, 0);
  return 0;
}
