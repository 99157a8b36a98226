// Load-time registries of exports and classes, and the registration entry
// the host calls for every environment that imports the module.
#pragma once

#include <node_api.h>

#include <string>
#include <vector>

#include "ohos/binding/error.h"

namespace tarnwick::binding {

// Load-time constructor priorities: the loader runs them in this order
// whatever the link order of their translation units.
namespace priority {
inline constexpr int kKeyPairClass = 201;
inline constexpr int kSymAlgorithm = 202;
inline constexpr int kSymGenerateKey = 203;
inline constexpr int kSymEncrypt = 204;
inline constexpr int kSymDecrypt = 205;
inline constexpr int kModule = 206;
inline constexpr int kAsymAlgorithm = 207;
inline constexpr int kSignAlgorithm = 208;
inline constexpr int kAsymGenerateKey = 209;
inline constexpr int kAsymGenerateKeyTest = 210;
inline constexpr int kAsymEncrypt = 211;
inline constexpr int kAsymDecrypt = 212;
inline constexpr int kAsymSign = 213;
inline constexpr int kAsymVerify = 214;
inline constexpr int kRandomGenerate = 215;
}  // namespace priority

using Creator = BResult<napi_value> (*)(napi_env env);

struct ClassProperty {
  std::string name;
  napi_callback getter;
  napi_callback setter;
  napi_property_attributes attributes;
};

// register_export appends (name, creator) to the export registry.
void register_export(const char* name, Creator creator);

// register_class enters a class under `type_key` with its JS name and
// appends `properties` to its list.
void register_class(const void* type_key, const char* name, std::vector<ClassProperty> properties);

// register_module hands the module record to napi_module_register.
void register_module();

// constructor_ref returns the calling thread's constructor reference for
// the class `name`, made by the latest registration on this thread whose
// environment is still alive, or nullptr.
napi_ref constructor_ref(const std::string& name);

}  // namespace tarnwick::binding

extern "C" __attribute__((visibility("default"))) napi_value napi_register_module_v1(napi_env env,
                                                                                       napi_value exports);
