#include "ohos/binding/function.h"

#include <cstring>

namespace tarnwick::binding {

BResult<napi_value> create_function(napi_env env, const char* js_name, napi_callback entry,
                                    const char* native_name) {
  napi_value fn;
  const napi_status s = napi_create_function(env, js_name, std::strlen(js_name), entry, nullptr, &fn);
  if (s != napi_ok) return fail(s, std::string("Failed to register function `") + native_name + "`");
  return fn;
}

}  // namespace tarnwick::binding
