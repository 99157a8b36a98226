#include "ohos/binding/registry.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "ohos/binding/key_pair_class.h"
#include "ohos/binding/runtime.h"

namespace tarnwick::binding {
namespace {

struct ExportEntry {
  std::string name;
  Creator creator;
};

struct ClassEntry {
  const void* type_key;
  std::string name;
  std::vector<ClassProperty> properties;
};

using ConstructorMap = std::unordered_map<std::string, napi_ref>;

// A thread's constructor references and the environment whose registration
// made them. The entry is removed when that environment is torn down, so a
// later thread given the same identity never sees references of a dead
// environment. (A later registration on the same thread replaces the entry;
// only the environment named in it removes it.)
struct ThreadConstructors {
  napi_env env;
  ConstructorMap constructors;
};

// The argument of the hook that removes a thread's entry.
struct ConstructorOwner {
  std::thread::id thread;
  napi_env env;
};

// Every registry is a leaked function-local static: the load-time
// constructors fill them before any namespace-scope object would exist,
// and nothing tears them down at unload.
template <class T>
struct Guarded {
  std::shared_mutex mutex;
  T value;
};

Guarded<std::vector<ExportEntry>>& export_registry() {
  static auto* r = new Guarded<std::vector<ExportEntry>>;
  return *r;
}
Guarded<std::vector<ClassEntry>>& class_registry() {
  static auto* r = new Guarded<std::vector<ClassEntry>>;
  return *r;
}
Guarded<std::unordered_map<std::thread::id, ThreadConstructors>>& class_constructors() {
  static auto* r = new Guarded<std::unordered_map<std::thread::id, ThreadConstructors>>;
  return *r;
}
Guarded<std::unique_ptr<Runtime>>& runtime_slot() {
  static auto* r = new Guarded<std::unique_ptr<Runtime>>;
  return *r;
}
Guarded<std::unordered_map<std::thread::id, bool>>& env_threads() {
  static auto* r = new Guarded<std::unordered_map<std::thread::id, bool>>;
  return *r;
}

std::atomic<std::size_t> g_runtime_users{0};
std::atomic<bool> g_first_registration_pending{true};
std::atomic<bool> g_first_registration_done{false};
std::atomic<std::thread::id> g_first_registration_thread{};

napi_module g_module = {
    1, 0, nullptr, napi_register_module_v1, "tarnwick", nullptr, {nullptr, nullptr, nullptr, nullptr},
};

// The cleanup hooks run from the host's teardown, where no exception may
// pass: none throws (remove_thread_hook catches the one allocation that
// could fail in them).
void drop_runtime_hook(void* token) noexcept {
  delete static_cast<std::uint64_t*>(token);
  std::unique_ptr<Runtime> retired;
  {
    auto& slot = runtime_slot();
    std::unique_lock lock(slot.mutex);
    if (g_runtime_users.fetch_sub(1) == 1) retired = std::move(slot.value);
  }
  // Destroying the runtime tells its workers to stop; nothing waits for them.
  retired.reset();
}

void remove_thread_hook(void* arg) noexcept {
  std::unique_ptr<std::thread::id> id(static_cast<std::thread::id*>(arg));
  auto& threads = env_threads();
  std::unique_lock lock(threads.mutex);
  try {
    threads.value[*id] = false;
  } catch (...) {
    // No room for the record: the thread is left out, which reads as false.
  }
}

void drop_constructors_hook(void* arg) noexcept {
  std::unique_ptr<ConstructorOwner> owner(static_cast<ConstructorOwner*>(arg));
  auto& ctors = class_constructors();
  std::unique_lock lock(ctors.mutex);
  const auto it = ctors.value.find(owner->thread);
  if (it != ctors.value.end() && it->second.env == owner->env) ctors.value.erase(it);
}

napi_value noop_callback(napi_env, napi_callback_info) { return nullptr; }
void noop_finalize(napi_env, void*, void*) {}
void noop_call_js(napi_env, napi_value, void*, void*) {}

void pass_gate() {
  const std::thread::id me = std::this_thread::get_id();
  if (g_first_registration_pending.exchange(false)) {
    g_first_registration_thread.store(me);
    return;
  }
  // A registration nested inside the first one (user code that runs during
  // it, on the same thread) must not wait for itself.
  while (!g_first_registration_done.load()) {
    if (g_first_registration_thread.load() == me) return;
    __builtin_ia32_pause();
  }
}

void define_exports(napi_env env, napi_value exports) {
  std::vector<ExportEntry> entries;
  {
    auto& reg = export_registry();
    std::shared_lock lock(reg.mutex);
    entries = reg.value;
  }
  // No lock is held while the engine runs: setting a property may run user
  // code, which may even register the module again.
  for (const ExportEntry& entry : entries) {
    auto value = entry.creator(env);
    if (!value) {
      throw_error(env, std::move(value.error()));
      continue;
    }
    const napi_status s = napi_set_named_property(env, exports, entry.name.c_str(), *value);
    if (s != napi_ok) throw_error(env, Error(s, "Failed to register export `" + entry.name + "`"));
  }
}

void define_classes(napi_env env, napi_value exports) {
  std::vector<ClassEntry> classes;
  {
    auto& reg = class_registry();
    std::shared_lock lock(reg.mutex);
    classes = reg.value;
  }
  ConstructorMap constructors;
  for (const ClassEntry& cls : classes) {
    std::vector<napi_property_descriptor> descriptors;
    for (const ClassProperty& p : cls.properties) {
      descriptors.push_back({p.name.c_str(), nullptr, nullptr, p.getter, p.setter, nullptr, p.attributes, nullptr});
    }
    const std::string failure = "Failed to register class `" + cls.name + "`";
    napi_value constructor = nullptr;
    napi_status s = napi_define_class(env, cls.name.c_str(), cls.name.size(), default_class_constructor, nullptr,
                                      descriptors.size(), descriptors.data(), &constructor);
    if (s != napi_ok) {
      // No class, so no reference: creating an instance then fails cleanly.
      throw_error(env, Error(s, failure));
      continue;
    }
    napi_ref ref = nullptr;
    if (napi_create_reference(env, constructor, 1, &ref) == napi_ok) constructors[cls.name] = ref;
    s = napi_set_named_property(env, exports, cls.name.c_str(), constructor);
    if (s != napi_ok) throw_error(env, Error(s, failure));
  }
  const std::thread::id me = std::this_thread::get_id();
  auto owner = std::make_unique<ConstructorOwner>(ConstructorOwner{me, env});
  {
    auto& ctors = class_constructors();
    std::unique_lock lock(ctors.mutex);
    ctors.value[me] = ThreadConstructors{env, std::move(constructors)};
  }
  if (napi_add_env_cleanup_hook(env, drop_constructors_hook, owner.get()) == napi_ok) owner.release();
}

void join_runtime(napi_env env) {
  bool created = true;
  {
    auto& slot = runtime_slot();
    std::unique_lock lock(slot.mutex);
    if (!slot.value) {
      slot.value = Runtime::create();
      created = slot.value != nullptr;
    }
    g_runtime_users.fetch_add(1);
  }
  if (!created) throw_error(env, Error(napi_generic_failure, "Create tokio runtime failed"));
  // Each registration gets its own hook argument: the host refuses the same
  // (function, argument) pair twice in one environment.
  static std::atomic<std::uint64_t> next_token{0};
  auto* token = new std::uint64_t(next_token.fetch_add(1));
  if (napi_add_env_cleanup_hook(env, drop_runtime_hook, token) != napi_ok) delete token;
}

void create_custom_gc(napi_env env) {
  napi_value function = nullptr;
  napi_status s = napi_create_function(env, "custom_gc", 9, noop_callback, nullptr, &function);
  if (s != napi_ok) throw_error(env, Error(s, "Create Custom GC Function in napi_register_module_v1 failed"));
  napi_value name = nullptr;
  s = napi_create_string_utf8(env, "CustomGC", 8, &name);
  if (s != napi_ok) throw_error(env, Error(s, "Create async resource string in napi_register_module_v1"));
  napi_threadsafe_function tsfn = nullptr;
  s = napi_create_threadsafe_function(env, function, nullptr, name, 0, 1, nullptr, noop_finalize, nullptr,
                                      noop_call_js, &tsfn);
  if (s != napi_ok || tsfn == nullptr) {
    // Nothing to unreference: the host asserts on a null function.
    throw_error(env, Error(s, "Create Custom GC ThreadsafeFunction in napi_register_module_v1 failed"));
    return;
  }
  s = napi_unref_threadsafe_function(env, tsfn);
  if (s != napi_ok) {
    throw_error(env, Error(s, "Unref Custom GC ThreadsafeFunction in napi_register_module_v1 failed"));
  }
}

void record_thread(napi_env env) {
  const std::thread::id me = std::this_thread::get_id();
  {
    auto& threads = env_threads();
    std::unique_lock lock(threads.mutex);
    threads.value[me] = true;
  }
  auto* id = new std::thread::id(me);
  const napi_status s = napi_add_env_cleanup_hook(env, remove_thread_hook, id);
  if (s != napi_ok) {
    delete id;
    throw_error(env, Error(s, "Failed to add remove thread id cleanup hook"));
  }
}

}  // namespace

void register_export(const char* name, Creator creator) {
  auto& reg = export_registry();
  std::unique_lock lock(reg.mutex);
  reg.value.push_back({name, creator});
}

void register_class(const void* type_key, const char* name, std::vector<ClassProperty> properties) {
  auto& reg = class_registry();
  std::unique_lock lock(reg.mutex);
  for (ClassEntry& cls : reg.value) {
    if (cls.type_key == type_key) {
      cls.name = name;
      for (ClassProperty& p : properties) cls.properties.push_back(std::move(p));
      return;
    }
  }
  reg.value.push_back({type_key, name, std::move(properties)});
}

// Some Node.js headers (18's among them) mark napi_module_register
// deprecated; the module still hands its record over at load, so only this
// call is exempt from the warning.
void register_module() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  napi_module_register(&g_module);
#pragma GCC diagnostic pop
}

napi_ref constructor_ref(const std::string& name) {
  auto& ctors = class_constructors();
  std::shared_lock lock(ctors.mutex);
  const auto thread = ctors.value.find(std::this_thread::get_id());
  if (thread == ctors.value.end()) return nullptr;
  const auto entry = thread->second.constructors.find(name);
  return entry == thread->second.constructors.end() ? nullptr : entry->second;
}

}  // namespace tarnwick::binding

extern "C" napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  using namespace tarnwick::binding;
  pass_gate();
  guarded(env, [&]() -> napi_value {
    define_exports(env, exports);
    define_classes(env, exports);
    join_runtime(env);
    if (!g_first_registration_done.load()) create_custom_gc(env);
    record_thread(env);
    return nullptr;
  });
  g_first_registration_done.store(true);
  return exports;
}
