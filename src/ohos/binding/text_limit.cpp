#include "ohos/binding/text_limit.h"

#include <climits>
#include <optional>
#include <string>

namespace tarnwick::binding {
namespace {

constexpr const char* kTextFailure = "Failed to convert rust `String` into napi `string`";

// Every engine the module runs on holds strings of this many characters (V8
// on 32-bit platforms has the smallest limit), so shorter texts need no
// question.
constexpr std::size_t kAlwaysFits = (std::size_t{1} << 28) - 16;

// engine_holds asks the engine whether it can hold a string of `length`
// characters: a script joins pieces into a rope of that length, which the
// engine refuses (throwing) before it copies a character when the length is
// above its longest string, and builds in a few dozen steps otherwise.
// nullopt when the script cannot run.
std::optional<bool> engine_holds(napi_env env, std::size_t length) {
  const std::string source =
      "(function (n) {"
      "  try {"
      "    let text = '', piece = 'x';"
      "    for (;;) {"
      "      if (n & 1) text += piece;"
      "      n >>>= 1;"
      "      if (n === 0) return true;"
      "      piece += piece;"
      "    }"
      "  } catch (e) {"
      "    return false;"
      "  }"
      "})(" + std::to_string(length) + ")";
  napi_value script = nullptr;
  napi_value result = nullptr;
  bool holds = false;
  if (napi_create_string_utf8(env, source.data(), source.size(), &script) != napi_ok ||
      napi_run_script(env, script, &result) != napi_ok || napi_get_value_bool(env, result, &holds) != napi_ok) {
    bool pending = false;
    if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
      napi_value ignored;
      napi_get_and_clear_last_exception(env, &ignored);
    }
    return std::nullopt;
  }
  return holds;
}

}  // namespace

BResult<void> text_fits(napi_env env, std::size_t length) {
  if (length > static_cast<std::size_t>(INT_MAX)) return fail(napi_invalid_arg, kTextFailure);
  if (length <= kAlwaysFits) return {};
  // Unanswered, the text is made and the host decides as it would have.
  if (engine_holds(env, length) == false) return fail(napi_generic_failure, kTextFailure);
  return {};
}

}  // namespace tarnwick::binding
