// Conversions between JS values and native values, with the binding's
// messages for every failure.
#pragma once

#include <node_api.h>

#include <array>
#include <cstdint>
#include <string>

#include "ohos/binding/error.h"
#include "support/bytes.h"

namespace tarnwick::binding {

constexpr std::size_t kMaxArguments = 5;

struct Arguments {
  napi_value self = nullptr;
  std::size_t count = 0;  // the count the host reports, possibly above N
  std::array<napi_value, kMaxArguments> values{};
};

// fetch_arguments fetches `this` and `n` arguments (missing ones are
// undefined). With `required`, a call without any argument fails.
BResult<Arguments> fetch_arguments(napi_env env, napi_callback_info info, std::size_t n, bool required);

BResult<std::int32_t> i32_from_js(napi_env env, napi_value value);
BResult<Bytes> bytes_from_js(napi_env env, napi_value value);
BResult<std::string> text_from_js(napi_env env, napi_value value);

// describe_value names `value` for a text-conversion message: "Number 5 ",
// "Object {...}", "function f(..) ", or the type name.
BResult<std::string> describe_value(napi_env env, napi_value value);

BResult<napi_value> bytes_to_js(napi_env env, ByteView bytes);
BResult<napi_value> text_to_js(napi_env env, std::string_view text);
BResult<napi_value> bool_to_js(napi_env env, bool value);
BResult<napi_value> i32_to_js(napi_env env, std::int32_t value);
BResult<napi_value> undefined_value(napi_env env);

}  // namespace tarnwick::binding
