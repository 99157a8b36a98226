// The binding's error: a Node-API status, a reason, and optionally a JS
// value (a caught exception) to throw in its place.
#pragma once

#include <node_api.h>

#include <expected>
#include <string>
#include <string_view>

#include "ohos/binding/status.h"
#include "support/error.h"

namespace tarnwick::binding {

class Error {
 public:
  Error(int status, std::string reason) : status_(status), reason_(std::move(reason)) {}
  // An error holding `value` through a reference it owns.
  Error(int status, std::string reason, napi_env env, napi_ref held)
      : status_(status), reason_(std::move(reason)), env_(env), held_(held) {}
  Error(Error&& other) noexcept;
  Error& operator=(Error&&) = delete;
  Error(const Error&) = delete;
  ~Error();

  int status() const noexcept { return status_; }
  const std::string& reason() const noexcept { return reason_; }
  // display is "Status, reason", or the status name alone for an empty reason.
  std::string display() const;

  // take_held hands over the held reference (nullptr if none).
  napi_ref take_held() noexcept;

 private:
  int status_;
  std::string reason_;
  napi_env env_ = nullptr;
  napi_ref held_ = nullptr;
};

template <class T>
using BResult = std::expected<T, Error>;

inline std::unexpected<Error> fail(int status, std::string reason) {
  return std::unexpected<Error>(std::in_place, status, std::move(reason));
}

// service_error turns a failed service rule into an InvalidArg error with its
// display text as reason.
Error service_error(const tarnwick::Error& e);

// throw_error throws `e` into `env`: nothing for PendingException, the
// pending exception again if there is one, the held Error object if any,
// else a new Error whose message is the reason and whose code the status name.
void throw_error(napi_env env, Error e);

// throw_current_exception throws the C++ exception being handled, whatever
// its type, as a GenericFailure error through throw_error: "out of memory"
// for std::bad_alloc, what() for other standard exceptions, "unknown
// exception" for the rest. Call it only inside a catch block; every JS entry
// of the module does, so that no exception reaches the host.
void throw_current_exception(napi_env env) noexcept;

// guarded runs the entry `body` and returns its result, or throws any C++
// exception escaping it (throw_current_exception) and returns nullptr.
template <class Body>
napi_value guarded(napi_env env, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    throw_current_exception(env);
  }
  return nullptr;
}

}  // namespace tarnwick::binding
