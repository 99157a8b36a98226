// JsFunction<&service, names> is the JS entry of one exported function,
// generated from the service function's own signature: it fetches as many
// arguments as the service takes, converts them left to right (the first
// failure is thrown and later arguments are not read), runs the service and
// converts its result or throws its error.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "ohos/asym/key_pair.h"
#include "ohos/binding/convert.h"
#include "ohos/binding/enums.h"
#include "ohos/binding/error.h"
#include "ohos/binding/key_pair_class.h"
#include "support/error.h"

namespace tarnwick::binding {

// ArgumentKind<T>::from_js converts one argument into a T.
template <class T, class = void>
struct ArgumentKind {
  // Enums with EnumTraits.
  static BResult<T> from_js(napi_env env, napi_value v) { return enum_from_js<T>(env, v); }
};
template <>
struct ArgumentKind<std::int32_t> {
  static BResult<std::int32_t> from_js(napi_env env, napi_value v) { return i32_from_js(env, v); }
};
template <>
struct ArgumentKind<Bytes> {
  static BResult<Bytes> from_js(napi_env env, napi_value v) { return bytes_from_js(env, v); }
};
template <>
struct ArgumentKind<std::string> {
  static BResult<std::string> from_js(napi_env env, napi_value v) { return text_from_js(env, v); }
};

inline BResult<napi_value> result_to_js(napi_env env, const Bytes& v) { return bytes_to_js(env, v); }
inline BResult<napi_value> result_to_js(napi_env env, const std::string& v) { return text_to_js(env, v); }
inline BResult<napi_value> result_to_js(napi_env env, bool v) { return bool_to_js(env, v); }
inline BResult<napi_value> result_to_js(napi_env env, ohos::asym::KeyPair&& v) {
  return key_pair::to_napi_value(env, std::move(v));
}

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<Result<T>> : std::true_type {};

// Precheck, when given, runs after the conversions and before the service,
// with the environment and the converted arguments: a function whose result
// cannot be returned to JS for some arguments refuses them there, with the
// error returning the result would give, before the service spends anything.
template <auto Fn, auto Precheck = nullptr>
struct JsFunction;

template <class R, class... A, R (*Fn)(A...), auto Precheck>
struct JsFunction<Fn, Precheck> {
  static_assert(sizeof...(A) <= kMaxArguments);

  static napi_value entry(napi_env env, napi_callback_info info) {
    return guarded(env, [&] { return run(env, info); });
  }

 private:
  static napi_value run(napi_env env, napi_callback_info info) {
    auto args = fetch_arguments(env, info, sizeof...(A), false);
    if (!args) return throw_error(env, std::move(args.error())), nullptr;

    std::tuple<std::optional<std::decay_t<A>>...> converted;
    const bool ok = [&]<std::size_t... I>(std::index_sequence<I...>) {
      return (convert_one<I>(env, args->values[I], std::get<I>(converted)) && ...);
    }(std::index_sequence_for<A...>{});
    if (!ok) return nullptr;

    if constexpr (!std::is_null_pointer_v<decltype(Precheck)>) {
      BResult<void> allowed = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return Precheck(env, *std::get<I>(converted)...);
      }(std::index_sequence_for<A...>{});
      if (!allowed) return throw_error(env, std::move(allowed.error())), nullptr;
    }

    R result = [&]<std::size_t... I>(std::index_sequence<I...>) {
      return Fn(std::move(*std::get<I>(converted))...);
    }(std::index_sequence_for<A...>{});

    if constexpr (IsResult<R>::value) {
      if (!result) return throw_error(env, service_error(result.error())), nullptr;
      return finish(env, result_to_js(env, std::move(*result)));
    } else {
      return finish(env, result_to_js(env, std::move(result)));
    }
  }

  template <std::size_t I, class T>
  static bool convert_one(napi_env env, napi_value value, std::optional<T>& slot) {
    auto r = ArgumentKind<T>::from_js(env, value);
    if (!r) {
      throw_error(env, std::move(r.error()));
      return false;
    }
    slot.emplace(std::move(*r));
    return true;
  }

  static napi_value finish(napi_env env, BResult<napi_value> value) {
    if (!value) return throw_error(env, std::move(value.error())), nullptr;
    return *value;
  }
};

// create_function makes the JS function `js_name` whose entry is `entry`;
// on failure the reason names the native function.
BResult<napi_value> create_function(napi_env env, const char* js_name, napi_callback entry,
                                    const char* native_name);

}  // namespace tarnwick::binding
