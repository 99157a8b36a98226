#include "ohos/binding/key_pair_class.h"

#include <memory>
#include <string>
#include <unordered_map>

#include "ohos/binding/convert.h"
#include "ohos/binding/registry.h"

namespace tarnwick::binding {
namespace {

using ohos::asym::KeyPair;

constexpr const char* kJsName = "KeyPair";
constexpr const char* kTypeName = "tarnwick::ohos::asym::KeyPair";
// Marks the objects this module wrapped: napi_unwrap alone would hand back
// another addon's pointer just as readily.
constexpr napi_type_tag kTypeTag = {0x7a1b5c3e9d2f4860ULL, 0xb3c8e1d4a6f70952ULL};
const int kTypeKey = 0;

thread_local bool t_factory_flag = false;

// The thread's wrapped records and their wrap references. Heap-held and never
// destroyed, so a finalizer that runs late in a thread's life still finds it.
std::unordered_map<KeyPair*, napi_ref>& wrapped_objects() {
  thread_local auto* map = new std::unordered_map<KeyPair*, napi_ref>;
  return *map;
}

std::string with_type(const char* text) { return std::string(text) + " `" + kTypeName + "`"; }

// finalize runs from the host's garbage collection and teardown; nothing in
// it throws (erasing from a map and deleting the record do not allocate).
void finalize(napi_env env, void* data, void*) {
  auto* record = static_cast<KeyPair*>(data);
  auto& wrapped = wrapped_objects();
  if (auto it = wrapped.find(record); it != wrapped.end()) {
    napi_delete_reference(env, it->second);
    wrapped.erase(it);
  }
  delete record;
}

BResult<KeyPair*> unwrap(napi_env env, napi_value self) {
  const std::string failure = std::string("Failed to unwrap exclusive reference of `") + kJsName +
                              "` type from napi value";
  bool tagged = false;
  napi_status s = napi_check_object_type_tag(env, self, &kTypeTag, &tagged);
  if (s != napi_ok) return fail(s, failure);
  if (!tagged) return fail(napi_invalid_arg, failure);
  void* data = nullptr;
  s = napi_unwrap(env, self, &data);
  if (s != napi_ok) return fail(s, failure);
  return static_cast<KeyPair*>(data);
}

template <std::string KeyPair::*Field>
napi_value get_field_unguarded(napi_env env, napi_callback_info info) {
  auto args = fetch_arguments(env, info, 0, false);
  if (!args) return throw_error(env, std::move(args.error())), nullptr;
  auto record = unwrap(env, args->self);
  if (!record) return throw_error(env, std::move(record.error())), nullptr;
  auto value = text_to_js(env, (*record)->*Field);
  if (!value) return throw_error(env, std::move(value.error())), nullptr;
  return *value;
}

template <std::string KeyPair::*Field>
napi_value set_field_unguarded(napi_env env, napi_callback_info info) {
  auto args = fetch_arguments(env, info, 1, true);
  if (!args) return throw_error(env, std::move(args.error())), nullptr;
  auto record = unwrap(env, args->self);
  if (!record) return throw_error(env, std::move(record.error())), nullptr;
  auto text = text_from_js(env, args->values[0]);
  if (!text) return throw_error(env, std::move(text.error())), nullptr;
  std::string& field = (*record)->*Field;
  if constexpr (Field == &KeyPair::privkey) wipe(field);
  field = std::move(*text);
  auto undefined = undefined_value(env);
  if (!undefined) return throw_error(env, std::move(undefined.error())), nullptr;
  return *undefined;
}

// The accessors are JS entries like the exported functions: no C++
// exception leaves them.
template <std::string KeyPair::*Field>
napi_value get_field(napi_env env, napi_callback_info info) {
  return guarded(env, [&] { return get_field_unguarded<Field>(env, info); });
}

template <std::string KeyPair::*Field>
napi_value set_field(napi_env env, napi_callback_info info) {
  return guarded(env, [&] { return set_field_unguarded<Field>(env, info); });
}

}  // namespace

napi_value default_class_constructor(napi_env env, napi_callback_info) {
  if (!t_factory_flag) napi_throw_error(env, nullptr, "Class contains no `constructor`, can not new it!");
  return nullptr;
}

namespace key_pair {

BResult<napi_value> to_napi_value(napi_env env, KeyPair record) {
  napi_ref ctor_ref = constructor_ref(kJsName);
  if (ctor_ref == nullptr) {
    return fail(napi_invalid_arg, "Failed to get constructor of class `KeyPair` in `ToNapiValue`");
  }
  auto owned = std::make_unique<KeyPair>(std::move(record));

  napi_value ctor = nullptr;
  napi_status s = napi_get_reference_value(env, ctor_ref, &ctor);
  if (s != napi_ok || ctor == nullptr) {
    return fail(s != napi_ok ? s : napi_generic_failure, with_type("Failed to get constructor reference of class"));
  }

  napi_value instance = nullptr;
  t_factory_flag = true;
  s = napi_new_instance(env, ctor, 0, nullptr, &instance);
  t_factory_flag = false;
  if (s != napi_ok) return fail(s, with_type("Failed to construct class"));

  s = napi_type_tag_object(env, instance, &kTypeTag);
  if (s != napi_ok) return fail(s, with_type("Failed to wrap native object of class"));
  napi_ref wrap_ref = nullptr;
  s = napi_wrap(env, instance, owned.get(), finalize, nullptr, &wrap_ref);
  if (s != napi_ok) return fail(s, with_type("Failed to wrap native object of class"));
  KeyPair* raw = owned.release();

  // The wrap reference must not keep the instance alive. Hosts differ in the
  // count they hand back (Node gives 0), so bring it to 0 from what it is.
  std::uint32_t count = 0;
  s = napi_reference_ref(env, wrap_ref, &count);
  while (s == napi_ok && count > 0) s = napi_reference_unref(env, wrap_ref, &count);
  if (s != napi_ok) return fail(s, with_type("Failed to ref class"));

  auto& wrapped = wrapped_objects();
  if (auto [it, inserted] = wrapped.try_emplace(raw, wrap_ref); !inserted) {
    napi_delete_reference(env, it->second);
    it->second = wrap_ref;
  }
  return instance;
}

void register_class() {
  const auto attributes = static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  std::vector<ClassProperty> properties;
  properties.push_back({"pubkey", get_field<&KeyPair::pubkey>, set_field<&KeyPair::pubkey>, attributes});
  properties.push_back({"privkey", get_field<&KeyPair::privkey>, set_field<&KeyPair::privkey>, attributes});
  binding::register_class(&kTypeKey, kJsName, std::move(properties));
}

}  // namespace key_pair
}  // namespace tarnwick::binding
