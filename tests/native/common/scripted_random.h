// A scripted OS random source for tests that must choose the scalars the
// SM2 code draws (each draw reads exactly 32 bytes, big-endian).
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/hex.h"
#include "support/os_random.h"

namespace tarnwick::testing {

// ScriptedDraws answers each 32-byte read with the next listed value (hex),
// then fails with EIO, or keeps giving the last value with `repeat_last`.
struct ScriptedDraws {
  std::vector<std::string> values_hex;
  std::size_t next = 0;
  bool repeat_last = false;

  static long read(void* ctx, std::uint8_t* buf, std::size_t len, int* err) {
    auto* s = static_cast<ScriptedDraws*>(ctx);
    if (len != 32 || s->values_hex.empty() || (s->next >= s->values_hex.size() && !s->repeat_last)) {
      *err = EIO;
      return -1;
    }
    const std::size_t i = s->next < s->values_hex.size() ? s->next : s->values_hex.size() - 1;
    ++s->next;
    const auto v = hex::decode(s->values_hex[i]);
    if (!v || v->size() != 32) {
      *err = EINVAL;
      return -1;
    }
    std::memcpy(buf, v->data(), 32);
    return 32;
  }
};

// SourceGuard installs a source for its lifetime and restores the kernel's.
class SourceGuard {
 public:
  SourceGuard(os_random::ReadFn fn, void* ctx) { os_random::testing::set_source(fn, ctx); }
  explicit SourceGuard(ScriptedDraws* s) : SourceGuard(&ScriptedDraws::read, s) {}
  ~SourceGuard() { os_random::testing::set_source(nullptr, nullptr); }
  SourceGuard(const SourceGuard&) = delete;
  SourceGuard& operator=(const SourceGuard&) = delete;
};

}  // namespace tarnwick::testing
