// Byte arrays at JavaScript speed: runs the environment's conversion script
// (byte_script.h) over a JS array one window of indices at a time, each
// element touched exactly as napi_get_element and napi_set_element would
// touch it. The bytes pass through a Uint8Array that the script writes or
// reads. User code can reach that Uint8Array (an inspector session finds
// every object) and detach or transfer its buffer whenever JavaScript runs,
// so the buffer's memory is allocated here and freed only once both the
// engine and this code have let go of it: no detach can free it under us,
// and a pointer into it stays good for as long as the environment's state
// holds it. A buffer found detached is not used again.
#pragma once

#include <node_api.h>

#include <cstdint>

#include "support/bytes.h"

namespace tarnwick::binding::byte_runner {

// kWindow is the most elements one call of the script reads or writes; it is
// also the size of each environment's buffer.
constexpr std::uint32_t kWindow = 64 * 1024;

// How a conversion over a range of indices ended.
struct Outcome {
  enum Kind {
    kDone,         // every index of the range was read (or written)
    kStopped,      // reading: the element at `index` is not a number 0..255; `value` is it
    kThrew,        // reading or writing `index` threw `value`, which is no longer pending
    kUnavailable,  // the script cannot go on; indices from `index` on were not touched
    kLost,         // reading: user code detached the buffer while elements before
                   // `index` were being read, and their bytes went with it
  };
  Kind kind = kUnavailable;
  std::uint32_t index = 0;
  napi_value value = nullptr;
};

// Lease is the calling environment's script and buffer, held for one
// conversion. A conversion that runs while another one of the same
// environment holds the lease (a getter calling back into the module) gets
// none and converts element by element.
class Lease {
 public:
  // acquire returns an empty lease when the script cannot be made in `env`
  // (the host refuses to compile or run it, to lend it memory of ours as a
  // buffer, or to track its teardown) or is in use.
  static Lease acquire(napi_env env);
  ~Lease();  // wipes what the buffer held, or lets go of a detached one
  Lease(Lease&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  Lease& operator=(Lease&&) = delete;

  explicit operator bool() const noexcept { return state_ != nullptr; }

  struct State;  // one environment's script, buffer and use flag

  // read appends the bytes of array[start .. end) to `out`, each element read
  // once, in order, with [[Get]]. On kStopped, kThrew and kUnavailable the
  // bytes of the elements before `index` have been appended; on kLost the
  // elements up to `index` were read but not all of their bytes are in `out`.
  Outcome read(napi_value array, std::uint32_t start, std::uint32_t end, Bytes& out) const;

  // write stores bytes[i] into array[i] in order with a [[Set]] whose failure
  // is ignored, as napi_set_element does. kStopped and kLost never occur; on
  // kUnavailable the indices before `index` have been stored.
  Outcome write(napi_value array, ByteView bytes) const;

 private:
  explicit Lease(State* state) : state_(state) {}
  State* state_ = nullptr;
};

}  // namespace tarnwick::binding::byte_runner
