#include <node_api.h>

extern "C" __attribute__((visibility("default"))) napi_value napi_register_module_v1(napi_env, napi_value exports) {
  return exports;
}
