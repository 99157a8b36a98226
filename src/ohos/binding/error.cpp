#include "ohos/binding/error.h"

#include <exception>
#include <new>

namespace tarnwick::binding {

Error::Error(Error&& other) noexcept
    : status_(other.status_), reason_(std::move(other.reason_)), env_(other.env_), held_(other.held_) {
  other.held_ = nullptr;
}

Error::~Error() {
  if (held_ != nullptr) napi_delete_reference(env_, held_);
}

std::string Error::display() const {
  std::string out(status_name(status_));
  if (!reason_.empty()) out += ", " + reason_;
  return out;
}

napi_ref Error::take_held() noexcept {
  napi_ref r = held_;
  held_ = nullptr;
  return r;
}

Error service_error(const tarnwick::Error& e) { return Error(napi_invalid_arg, e.display()); }

void throw_error(napi_env env, Error e) {
  if (e.status() == napi_pending_exception) return;

  bool pending = false;
  if (napi_is_exception_pending(env, &pending) != napi_ok) {
    napi_fatal_error(nullptr, NAPI_AUTO_LENGTH, "Check exception status failed", NAPI_AUTO_LENGTH);
  }
  if (pending) {
    napi_value exception;
    if (napi_get_and_clear_last_exception(env, &exception) != napi_ok) {
      napi_fatal_error(nullptr, NAPI_AUTO_LENGTH, "Get and clear last exception failed", NAPI_AUTO_LENGTH);
    }
    napi_throw(env, exception);
    return;
  }

  if (napi_ref held = e.take_held()) {
    napi_value value = nullptr;
    const bool got = napi_get_reference_value(env, held, &value) == napi_ok && value != nullptr;
    napi_delete_reference(env, held);
    bool is_error = false;
    if (got && napi_is_error(env, value, &is_error) == napi_ok && is_error) {
      napi_throw(env, value);
      return;
    }
  }

  const std::string_view name = status_name(e.status());
  napi_value code = nullptr;
  napi_value message = nullptr;
  napi_value error = nullptr;
  napi_create_string_utf8(env, name.data(), name.size(), &code);
  napi_create_string_utf8(env, e.reason().data(), e.reason().size(), &message);
  napi_create_error(env, code, message, &error);
  napi_throw(env, error);
}

void throw_current_exception(napi_env env) noexcept {
  const char* reason = "unknown exception";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
  }
  try {
    throw_error(env, Error(napi_generic_failure, reason));
  } catch (...) {
    // Not even the reason could be copied: the host copies this one.
    napi_throw_error(env, "GenericFailure", "out of memory");
  }
}

}  // namespace tarnwick::binding
