#include "ohos/binding/convert.h"

#include <algorithm>
#include <string_view>

#include "ohos/binding/byte_runner.h"

namespace tarnwick::binding {
namespace {

// Describing a value can recurse (a function's name, the text JSON.stringify
// returns); beyond this depth a value is described by its type name alone.
constexpr int kMaxDescribeDepth = 8;

// Byte data of at least this many elements is converted by the environment's
// script (byte_runner.h), shorter data element by element through Node-API:
// one call into the script costs about as much as two elements do
// (bench/bytes_bench.js: a single element is some 15% slower through the
// script, two break even, three are 20% faster).
constexpr std::uint32_t kScriptMinLength = 2;

std::string_view value_type_name(napi_valuetype t) {
  switch (t) {
    case napi_undefined: return "Undefined";
    case napi_null: return "Null";
    case napi_boolean: return "Boolean";
    case napi_number: return "Number";
    case napi_string: return "String";
    case napi_object: return "Object";
    case napi_function: return "Function";
    case napi_external: return "External";
    case napi_bigint: return "BigInt";
    default: return "Unknown";
  }
}

BResult<std::string> text_from_js_at(napi_env env, napi_value value, int depth);
BResult<std::string> describe_value_at(napi_env env, napi_value value, int depth);

// read_utf8 copies a JS string's UTF-8 bytes; nullopt when `value` is not a
// string or the read fails, with `status` set.
BResult<std::string> coerced_text(napi_env env, napi_value value) {
  napi_value str;
  napi_status s = napi_coerce_to_string(env, value, &str);
  if (s != napi_ok) return fail(s, "");
  std::size_t len = 0;
  s = napi_get_value_string_utf8(env, str, nullptr, 0, &len);
  if (s != napi_ok) return fail(s, "");
  std::string out(len + 1, '\0');
  std::size_t written = 0;
  s = napi_get_value_string_utf8(env, str, out.data(), out.size(), &written);
  if (s != napi_ok) return fail(s, "");
  out.resize(std::min(len + 1, written));
  return out;
}

BResult<std::string> describe_function(napi_env env, napi_value value, int depth) {
  napi_value name_value;
  const napi_status s = napi_get_named_property(env, value, "name", &name_value);
  if (s != napi_ok) return fail(s, "Get function name failed");
  auto name = text_from_js_at(env, name_value, depth + 1);
  if (!name) return std::unexpected(std::move(name.error()));
  return "function " + (name->empty() ? std::string("anonymous") : *name) + "(..) ";
}

BResult<std::string> describe_object(napi_env env, napi_value value, int depth) {
  napi_value global, json, stringify, undefined, result;
  napi_status s = napi_get_global(env, &global);
  if (s != napi_ok) return fail(s, "Get global object from Env failed");
  s = napi_get_named_property(env, global, "JSON", &json);
  if (s != napi_ok) return fail(s, "get_named_property_unchecked error");
  s = napi_get_named_property(env, json, "stringify", &stringify);
  if (s != napi_ok) return fail(s, "get_named_property_unchecked error");
  s = napi_get_undefined(env, &undefined);
  if (s != napi_ok) return fail(s, "Get undefined value failed");
  s = napi_call_function(env, undefined, stringify, 1, &value, &result);
  if (s == napi_pending_exception) {
    // The thrown value is taken from the engine and held, then turned into
    // the reason. When that conversion throws too (a toString that throws,
    // a symbol), the reason stays empty and its exception stays pending:
    // throw_error finds it and throws it in place of this error.
    napi_value exception;
    s = napi_get_and_clear_last_exception(env, &exception);
    if (s != napi_ok) return fail(s, "Create Error reference failed");
    napi_ref ref = nullptr;
    napi_valuetype t;
    if (napi_typeof(env, exception, &t) == napi_ok && (t == napi_object || t == napi_function)) {
      s = napi_create_reference(env, exception, 1, &ref);
      if (s != napi_ok) return fail(s, "Create Error reference failed");
    }
    auto reason = coerced_text(env, exception);
    std::string text = reason ? std::move(*reason) : std::string();
    if (ref != nullptr) return std::unexpected<Error>(std::in_place, napi_generic_failure, std::move(text), env, ref);
    return fail(napi_generic_failure, std::move(text));
  }
  if (s != napi_ok) return fail(s, "Call Function failed");
  auto text = text_from_js_at(env, result, depth + 1);
  if (!text) return std::unexpected(std::move(text.error()));
  return "Object " + *text;
}

BResult<std::string> describe_value_at(napi_env env, napi_value value, int depth) {
  napi_valuetype t;
  const napi_status s = napi_typeof(env, value, &t);
  if (s != napi_ok) return fail(s, "");
  const std::string_view type = value_type_name(t);
  if (depth >= kMaxDescribeDepth) return std::string(type);
  switch (t) {
    case napi_function: return describe_function(env, value, depth);
    case napi_object: return describe_object(env, value, depth);
    case napi_boolean:
    case napi_number:
    case napi_bigint: {
      auto text = coerced_text(env, value);
      if (!text) return std::unexpected(std::move(text.error()));
      return std::string(type) + " " + *text + " ";
    }
    default: return std::string(type);
  }
}

BResult<std::string> text_from_js_at(napi_env env, napi_value value, int depth) {
  // Short texts in one read. A read that stops short of the end leaves less
  // than one UTF-8 sequence (at most 4 bytes) unused besides the NUL.
  char small[256];
  std::size_t len = 0;
  napi_status s = napi_get_value_string_utf8(env, value, small, sizeof small, &len);
  if (s == napi_ok && len + 5 < sizeof small) return std::string(small, len);
  if (s == napi_ok) s = napi_get_value_string_utf8(env, value, nullptr, 0, &len);
  if (s != napi_ok) {
    auto description = describe_value_at(env, value, depth);
    if (!description) return std::unexpected(std::move(description.error()));
    return fail(s, "Failed to convert JavaScript value `" + *description + "` into rust type `String`");
  }
  std::string out(len + 1, '\0');
  std::size_t written = 0;
  s = napi_get_value_string_utf8(env, value, out.data(), out.size(), &written);
  if (s != napi_ok) {
    auto description = describe_value_at(env, value, depth);
    if (!description) return std::unexpected(std::move(description.error()));
    return fail(s, "Failed to convert napi `" + *description + "` into rust type `String`");
  }
  out.resize(std::min(len + 1, written));
  return out;
}

// typed_read_error is the failure of reading a number: the read's status
// with the value's type in the message, or napi_typeof's status alone.
Error typed_read_error(napi_env env, napi_value value, napi_status read_status, std::string_view rust_type) {
  napi_valuetype t;
  const napi_status s = napi_typeof(env, value, &t);
  if (s != napi_ok) return Error(s, "");
  return Error(read_status, "Failed to convert napi value " + std::string(value_type_name(t)) +
                                " into rust type `" + std::string(rust_type) + "`");
}

// byte_from_element takes one element of byte data as napi_get_value_uint32
// reads it (ToUint32 of a number), refusing values above 255.
BResult<std::uint8_t> byte_from_element(napi_env env, napi_value element) {
  std::uint32_t v = 0;
  const napi_status s = napi_get_value_uint32(env, element, &v);
  if (s != napi_ok) return std::unexpected(typed_read_error(env, element, s, "u8"));
  if (v > 255) return fail(napi_generic_failure, "Failed to convert u32 to u8");
  return static_cast<std::uint8_t>(v);
}

}  // namespace

BResult<Arguments> fetch_arguments(napi_env env, napi_callback_info info, std::size_t n, bool required) {
  Arguments args;
  std::size_t argc = n;
  const napi_status s = napi_get_cb_info(env, info, &argc, args.values.data(), &args.self, nullptr);
  if (s != napi_ok) return fail(s, "Failed to initialize napi function call.");
  args.count = argc;
  if (required && argc == 0) return fail(napi_invalid_arg, "1 arguments required by received 0.");
  return args;
}

BResult<std::int32_t> i32_from_js(napi_env env, napi_value value) {
  std::int32_t out = 0;
  const napi_status s = napi_get_value_int32(env, value, &out);
  if (s != napi_ok) return std::unexpected(typed_read_error(env, value, s, "i32"));
  return out;
}

BResult<Bytes> bytes_from_js(napi_env env, napi_value value) {
  bool is_array = false;
  napi_status s = napi_is_array(env, value, &is_array);
  if (s != napi_ok) return fail(s, "Failed to check given napi value is array");
  if (!is_array) return fail(napi_invalid_arg, "Given napi value is not an array");
  std::uint32_t length = 0;
  s = napi_get_array_length(env, value, &length);
  if (s != napi_ok) return fail(s, "Failed to get Array length");
  // The length is the caller's claim; grow only with elements actually read.
  Bytes out;
  std::uint32_t i = 0;
  if (length >= kScriptMinLength) {
    if (auto lease = byte_runner::Lease::acquire(env)) {
      while (i < length) {
        const byte_runner::Outcome r = lease.read(value, i, length, out);
        i = static_cast<std::uint32_t>(out.size());
        if (r.kind == byte_runner::Outcome::kDone || r.kind == byte_runner::Outcome::kUnavailable) break;
        if (r.kind == byte_runner::Outcome::kThrew) {
          // The getter's exception, thrown again as it is, as after a failed
          // napi_get_element.
          napi_throw(env, r.value);
          return fail(napi_pending_exception, "Failed to get element with index `" + std::to_string(i) + "`");
        }
        if (r.kind == byte_runner::Outcome::kLost) {
          // User code took the buffer away while getters ran, and those
          // elements cannot be read a second time.
          return fail(napi_generic_failure, "Byte data was lost while it was read");
        }
        auto b = byte_from_element(env, r.value);
        if (!b) return std::unexpected(std::move(b.error()));
        out.push_back(*b);
        ++i;
      }
    }
  }
  for (; i < length; ++i) {
    napi_value element;
    s = napi_get_element(env, value, i, &element);
    if (s != napi_ok) return fail(s, "Failed to get element with index `" + std::to_string(i) + "`");
    auto b = byte_from_element(env, element);
    if (!b) return std::unexpected(std::move(b.error()));
    out.push_back(*b);
  }
  return out;
}

BResult<std::string> text_from_js(napi_env env, napi_value value) { return text_from_js_at(env, value, 0); }

BResult<std::string> describe_value(napi_env env, napi_value value) { return describe_value_at(env, value, 0); }

BResult<napi_value> bytes_to_js(napi_env env, ByteView bytes) {
  napi_value array;
  napi_status s = napi_create_array_with_length(env, bytes.size(), &array);
  if (s != napi_ok) return fail(s, "Failed to create napi Array");
  std::size_t i = 0;
  if (bytes.size() >= kScriptMinLength && bytes.size() <= UINT32_MAX) {
    if (auto lease = byte_runner::Lease::acquire(env)) {
      const byte_runner::Outcome r = lease.write(array, bytes);
      if (r.kind == byte_runner::Outcome::kThrew) {
        // The setter's exception, thrown again as it is, as after a failed
        // napi_set_element.
        napi_throw(env, r.value);
        return fail(napi_pending_exception, "Failed to set element with index `" + std::to_string(r.index) + "`");
      }
      i = r.index;  // kDone: all of them; kUnavailable: the rest element by element
    }
  }
  for (; i < bytes.size(); ++i) {
    napi_value v;
    s = napi_create_uint32(env, bytes[i], &v);
    if (s != napi_ok) return fail(s, "Failed to convert rust type `u8` into napi value");
    s = napi_set_element(env, array, static_cast<std::uint32_t>(i), v);
    if (s != napi_ok) return fail(s, "Failed to set element with index `" + std::to_string(i) + "`");
  }
  return array;
}

BResult<napi_value> text_to_js(napi_env env, std::string_view text) {
  napi_value v;
  const napi_status s = napi_create_string_utf8(env, text.data(), text.size(), &v);
  if (s != napi_ok) return fail(s, "Failed to convert rust `String` into napi `string`");
  return v;
}

BResult<napi_value> bool_to_js(napi_env env, bool value) {
  napi_value v;
  const napi_status s = napi_get_boolean(env, value, &v);
  if (s != napi_ok) return fail(s, "Failed to convert rust type `bool` into napi value");
  return v;
}

BResult<napi_value> i32_to_js(napi_env env, std::int32_t value) {
  napi_value v;
  const napi_status s = napi_create_int32(env, value, &v);
  if (s != napi_ok) return fail(s, "Failed to convert rust type `i32` into napi value");
  return v;
}

BResult<napi_value> undefined_value(napi_env env) {
  napi_value v;
  const napi_status s = napi_get_undefined(env, &v);
  if (s != napi_ok) return fail(s, "Failed to create napi undefined value");
  return v;
}

}  // namespace tarnwick::binding
