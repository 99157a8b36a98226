// The process-wide operating-system random source: getrandom(2) looked up
// once at run time, falling back to /dev/urandom (after /dev/random has once
// reported readable) where the function is missing or the kernel refuses it.
// The device must be a character device, and its cached descriptor is checked
// to still be that device before every use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace tarnwick::os_random {

// OsError is a failure of the random source. Codes 1..0x7FFFFFFF are errno
// values; the codes from 0x80000000 up are the source's own.
class OsError {
 public:
  static constexpr std::uint32_t kUnsupported = 0x80000000u;
  static constexpr std::uint32_t kErrnoNotPositive = 0x80000001u;
  static constexpr std::uint32_t kUnexpected = 0x80000002u;

  explicit constexpr OsError(std::uint32_t code) : code_(code) {}

  constexpr std::uint32_t code() const noexcept { return code_; }
  // display is the text a caller sees, e.g. "Bad address (os error 14)".
  std::string display() const;
  std::string debug() const;

  bool operator==(const OsError&) const = default;

 private:
  std::uint32_t code_;
};

using FillResult = std::expected<void, OsError>;

// fill writes unpredictable bytes into all of `buf`, or fails leaving its
// contents unspecified. Safe to call from any thread.
FillResult fill(std::span<std::uint8_t> buf);

// ReadFn is one read of at most `len` bytes into `buf`: it returns the
// count read or -1 with the error number in `*err`, as getrandom(2) and
// read(2) do.
using ReadFn = long (*)(void* ctx, std::uint8_t* buf, std::size_t len, int* err);

// fill_loop calls `read` until `buf` is full: a positive result counts as
// filled, -1 with EINTR repeats, -1 with a positive errno fails with it, -1
// with errno <= 0 fails with kErrnoNotPositive, and 0, a result beyond what
// remains or any other negative value fails with kUnexpected.
FillResult fill_loop(std::span<std::uint8_t> buf, ReadFn read, void* ctx);

namespace testing {
// set_source replaces the kernel source process-wide with `read` (nullptr
// restores it). For tests that need a failing or scripted source.
void set_source(ReadFn read, void* ctx);

// use_device makes the source take the device path, with `random_path` to
// wait on and `urandom_path` to read, as if getrandom were missing; the
// descriptor opened so far is forgotten, not closed. use_device(nullptr,
// nullptr) restores the real paths and a fresh getrandom lookup.
void use_device(const char* random_path, const char* urandom_path);

// device_descriptor is the cached device descriptor, or -1.
int device_descriptor();
}  // namespace testing

}  // namespace tarnwick::os_random
