// JS faces of the algorithm enums: a plain object of int32 properties per
// environment, and the checked conversion of an enum argument.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "ohos/binding/convert.h"
#include "ohos/binding/error.h"

namespace tarnwick::binding {

// EnumTraits<E> supplies `kName` and `kVariants` (names in value order,
// value = index) for each exported enum.
template <class E>
struct EnumTraits;

template <class E>
BResult<napi_value> create_enum(napi_env env) {
  using Traits = EnumTraits<E>;
  napi_value object;
  napi_status s = napi_create_object(env, &object);
  if (s != napi_ok) return fail(s, "Failed to create napi object");
  std::int32_t value = 0;
  for (const char* variant : Traits::kVariants) {
    auto v = i32_to_js(env, value++);
    if (!v) return std::unexpected(std::move(v.error()));
    s = napi_set_named_property(env, object, variant, *v);
    if (s != napi_ok) return fail(s, "Failed to defined enum `" + std::string(Traits::kName) + "`");
  }
  return object;
}

template <class E>
BResult<E> enum_from_js(napi_env env, napi_value value) {
  using Traits = EnumTraits<E>;
  auto raw = i32_from_js(env, value);
  if (!raw) {
    return fail(raw.error().status(), "Failed to convert napi value into enum `" + std::string(Traits::kName) +
                                          "`. " + raw.error().display());
  }
  if (static_cast<std::uint32_t>(*raw) >= std::size(Traits::kVariants)) {
    return fail(napi_invalid_arg, "value `" + std::to_string(*raw) + "` does not match any variant of enum `" +
                                      std::string(Traits::kName) + "`");
  }
  return static_cast<E>(*raw);
}

}  // namespace tarnwick::binding
