// Byte arrays at JavaScript speed: a small script, compiled once per
// environment, that reads a JS array into a typed array and writes a typed
// array out into a JS array, each element exactly as napi_get_element and
// napi_set_element would touch it. Native code hands it one window of indices
// at a time through a scratch Uint8Array that only native code and the
// script can reach.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <span>

namespace tarnwick::binding::byte_helper {

// kWindow is the most elements one call of the script reads or writes; it is
// also the size of each environment's scratch buffer.
constexpr std::uint32_t kWindow = 64 * 1024;

// How a call of the script over [start, end) ended.
struct Outcome {
  enum Kind {
    kDone,         // every index in [start, end) was read (or written)
    kStopped,      // reading: the element at `index` is not a number 0..255; `value` is it
    kThrew,        // reading or writing `index` threw `value`, which is no longer pending
    kUnavailable,  // the script failed before touching any index; nothing is pending
  };
  Kind kind = kUnavailable;
  std::uint32_t index = 0;
  napi_value value = nullptr;
};

// Lease is the calling environment's script and scratch buffer, held for one
// conversion. A conversion that runs while another one of the same
// environment holds the lease (a getter calling back into the module) gets
// none and converts element by element.
class Lease {
 public:
  // acquire returns an empty lease when the script cannot be made in `env`
  // (the host refuses to compile or run it, or cannot track its teardown) or
  // is in use.
  static Lease acquire(napi_env env);
  ~Lease();
  Lease(Lease&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  Lease& operator=(Lease&&) = delete;

  explicit operator bool() const noexcept { return state_ != nullptr; }

  struct State;  // one environment's script, scratch buffer and use flag

  // scratch is the window the script reads from or writes into: element
  // `start + k` lives at scratch()[k].
  std::span<std::uint8_t> scratch() const noexcept;

  // read converts array[start .. end) into scratch()[0 .. end - start), each
  // element read once, in order, with [[Get]]. On kStopped and kThrew the
  // elements before `index` are in the scratch buffer.
  Outcome read(napi_value array, std::uint32_t start, std::uint32_t end) const;

  // write stores scratch()[0 .. end - start) into array[start .. end) in
  // order with a [[Set]] whose failure is ignored, as napi_set_element does.
  // kStopped never occurs.
  Outcome write(napi_value array, std::uint32_t start, std::uint32_t end) const;

 private:
  explicit Lease(State* state) : state_(state) {}
  State* state_ = nullptr;
};

}  // namespace tarnwick::binding::byte_helper
