// Shared by the fuzz targets: a splitter for the fuzzer's bytes, a hard
// check that aborts (so libFuzzer records the input), the fixed keys, and the
// seed generator mode.
//
// Seed mode: each target defines `void seeds(SeedSink&)` producing valid
// inputs. With TARNWICK_FUZZ_SEEDS=<dir> in the environment, the target
// writes them as files into <dir> at initialisation and exits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <openssl/err.h>

#include "support/bytes.h"

namespace tarnwick::fuzz {

// check aborts with `what` when `ok` is false: a property violation is a
// finding just like a crash.
#define FUZZ_CHECK(ok, what)                                               \
  do {                                                                     \
    if (!(ok)) {                                                           \
      std::fprintf(stderr, "fuzz property violated: %s (%s:%d)\n", (what), \
                   __FILE__, __LINE__);                                    \
      std::abort();                                                        \
    }                                                                      \
  } while (0)

// Input splits the fuzzer's bytes front to back; reads past the end yield
// zeros / empty views.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  ByteView take(std::size_t n) {
    if (n > size_ - pos_) n = size_ - pos_;
    ByteView v(data_ + pos_, n);
    pos_ += n;
    return v;
  }
  ByteView rest() { return take(size_ - pos_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class SeedSink {
 public:
  void add(ByteView seed) { seeds_.emplace_back(seed.begin(), seed.end()); }
  void add(const std::string& s) { seeds_.emplace_back(s.begin(), s.end()); }
  const std::vector<Bytes>& all() const { return seeds_; }

 private:
  std::vector<Bytes> seeds_;
};

void seeds(SeedSink& sink);  // defined by each target

// Bytes of the fixed keys (PKCS#8 DER), decoded once.
Bytes rsa_pkcs8();
Bytes sm2_pkcs8();

// maybe_write_seeds implements the seed mode; called from
// LLVMFuzzerInitialize in common.cpp.
void maybe_write_seeds();

}  // namespace tarnwick::fuzz
