// Fault injection for the registration and conversion tests: linked into a
// second build of the module with -Wl,--wrap for the calls below.
// TARNWICK_FAULT names one call and the name it acts on
// ("napi_create_function:symEncrypt"); that call then fails with
// GenericFailure. With "throw:" in front it throws a
// std::runtime_error("injected fault") instead, and with "throw-other:" an
// exception of no standard type. Two calls fail as a host would when it runs
// no scripts: "napi_run_script:" refuses to compile, and
// "napi_call_function:" throws a RangeError before the callee runs, as an
// overflowing stack does ("napi_call_function:even": every second call).
// With "detach:", every call that may run JavaScript (getting or setting an
// element or property, calling, coercing, asking for a prototype or an own
// property, running a script) is followed by what user code could do at that
// moment: every buffer the module has lent the engine is detached, and when
// there was one, the heap is collected in full (node must run with
// --expose-gc). Every other call goes to the host.
#include <node_api.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" {
napi_status __real_napi_create_function(napi_env, const char*, size_t, napi_callback, void*, napi_value*);
napi_status __real_napi_set_named_property(napi_env, napi_value, const char*, napi_value);
napi_status __real_napi_define_class(napi_env, const char*, size_t, napi_callback, void*, size_t,
                                     const napi_property_descriptor*, napi_value*);
napi_status __real_napi_create_object(napi_env, napi_value*);
napi_status __real_napi_new_instance(napi_env, napi_value, size_t, const napi_value*, napi_value*);
napi_status __real_napi_wrap(napi_env, napi_value, void*, napi_finalize, void*, napi_ref*);
napi_status __real_napi_create_threadsafe_function(napi_env, napi_value, napi_value, napi_value, size_t, size_t,
                                                   void*, napi_finalize, void*, napi_threadsafe_function_call_js,
                                                   napi_threadsafe_function*);
napi_status __real_napi_add_env_cleanup_hook(napi_env, napi_cleanup_hook, void*);
napi_status __real_napi_run_script(napi_env, napi_value, napi_value*);
napi_status __real_napi_call_function(napi_env, napi_value, napi_value, size_t, const napi_value*, napi_value*);
napi_status __real_napi_get_element(napi_env, napi_value, uint32_t, napi_value*);
napi_status __real_napi_set_element(napi_env, napi_value, uint32_t, napi_value);
napi_status __real_napi_get_named_property(napi_env, napi_value, const char*, napi_value*);
napi_status __real_napi_has_own_property(napi_env, napi_value, napi_value, bool*);
napi_status __real_napi_get_prototype(napi_env, napi_value, napi_value*);
napi_status __real_napi_coerce_to_string(napi_env, napi_value, napi_value*);
napi_status __real_napi_create_external_arraybuffer(napi_env, void*, size_t, napi_finalize, void*, napi_value*);
napi_status __real_napi_create_arraybuffer(napi_env, size_t, void**, napi_value*);
}

namespace {

bool fault(const char* call, const char* name = "") {
  const char* spec = std::getenv("TARNWICK_FAULT");
  if (spec == nullptr) return false;
  const std::string want = std::string(call) + ":" + (name != nullptr ? name : "");
  if ("throw:" + want == spec) throw std::runtime_error("injected fault");
  if ("throw-other:" + want == spec) throw 42;
  return want == spec;
}

// The buffers the module made on this thread, by environment, held weakly.
thread_local std::vector<std::pair<napi_env, napi_ref>> lent;

void remember(napi_env env, napi_status status, napi_value buffer) {
  napi_ref ref;
  if (status == napi_ok && napi_create_reference(env, buffer, 0, &ref) == napi_ok) lent.emplace_back(env, ref);
}

// after_js does what "detach:" asks after a call that may have run
// JavaScript, leaving a pending exception as it found it.
void after_js(napi_env env) {
  const char* spec = std::getenv("TARNWICK_FAULT");
  if (spec == nullptr || std::strcmp(spec, "detach:") != 0) return;
  bool pending = false, any = false;
  napi_value exception = nullptr;
  if (napi_is_exception_pending(env, &pending) != napi_ok) return;
  if (pending) napi_get_and_clear_last_exception(env, &exception);
  for (auto it = lent.begin(); it != lent.end();) {
    napi_value buffer = nullptr;
    bool detached = false;
    if (it->first != env) {
      ++it;
    } else if (napi_get_reference_value(env, it->second, &buffer) != napi_ok || buffer == nullptr) {
      napi_delete_reference(env, it->second);
      it = lent.erase(it);
    } else {
      if (napi_is_detached_arraybuffer(env, buffer, &detached) == napi_ok && !detached) {
        if (napi_detach_arraybuffer(env, buffer) != napi_ok) {
          napi_fatal_error("napi_faults", NAPI_AUTO_LENGTH, "a buffer of the module could not be detached",
                           NAPI_AUTO_LENGTH);
        }
        any = true;
      }
      ++it;
    }
  }
  napi_value global, gc, ignored;
  if (any && (napi_get_global(env, &global) != napi_ok ||
              __real_napi_get_named_property(env, global, "gc", &gc) != napi_ok ||
              __real_napi_call_function(env, global, gc, 0, nullptr, &ignored) != napi_ok)) {
    napi_fatal_error("napi_faults", NAPI_AUTO_LENGTH, "detach: needs node --expose-gc", NAPI_AUTO_LENGTH);
  }
  if (pending) napi_throw(env, exception);
}

// Runs the host's call, then after_js.
template <class... A, class... B>
napi_status then_detach(napi_status (*real)(napi_env, A...), napi_env env, B... args) {
  const napi_status status = real(env, args...);
  after_js(env);
  return status;
}

}  // namespace

extern "C" {

napi_status __wrap_napi_create_function(napi_env env, const char* name, size_t len, napi_callback cb, void* data,
                                        napi_value* result) {
  if (fault("napi_create_function", name)) return napi_generic_failure;
  return __real_napi_create_function(env, name, len, cb, data, result);
}

napi_status __wrap_napi_set_named_property(napi_env env, napi_value object, const char* name, napi_value value) {
  if (fault("napi_set_named_property", name)) return napi_generic_failure;
  return then_detach(__real_napi_set_named_property, env, object, name, value);
}

napi_status __wrap_napi_define_class(napi_env env, const char* name, size_t len, napi_callback ctor, void* data,
                                     size_t n, const napi_property_descriptor* props, napi_value* result) {
  if (fault("napi_define_class", name)) return napi_generic_failure;
  return __real_napi_define_class(env, name, len, ctor, data, n, props, result);
}

napi_status __wrap_napi_create_object(napi_env env, napi_value* result) {
  if (fault("napi_create_object")) return napi_generic_failure;
  return __real_napi_create_object(env, result);
}

napi_status __wrap_napi_new_instance(napi_env env, napi_value ctor, size_t argc, const napi_value* argv,
                                     napi_value* result) {
  if (fault("napi_new_instance")) return napi_generic_failure;
  return then_detach(__real_napi_new_instance, env, ctor, argc, argv, result);
}

napi_status __wrap_napi_wrap(napi_env env, napi_value object, void* native, napi_finalize finalize, void* hint,
                             napi_ref* result) {
  if (fault("napi_wrap")) return napi_generic_failure;
  return __real_napi_wrap(env, object, native, finalize, hint, result);
}

napi_status __wrap_napi_create_threadsafe_function(napi_env env, napi_value func, napi_value resource,
                                                   napi_value name, size_t queue, size_t threads, void* fdata,
                                                   napi_finalize finalize, void* context,
                                                   napi_threadsafe_function_call_js call_js,
                                                   napi_threadsafe_function* result) {
  if (fault("napi_create_threadsafe_function")) return napi_generic_failure;
  return __real_napi_create_threadsafe_function(env, func, resource, name, queue, threads, fdata, finalize, context,
                                                call_js, result);
}

napi_status __wrap_napi_add_env_cleanup_hook(napi_env env, napi_cleanup_hook hook, void* arg) {
  if (fault("napi_add_env_cleanup_hook")) return napi_generic_failure;
  return __real_napi_add_env_cleanup_hook(env, hook, arg);
}

napi_status __wrap_napi_run_script(napi_env env, napi_value script, napi_value* result) {
  if (fault("napi_run_script")) return napi_generic_failure;
  return then_detach(__real_napi_run_script, env, script, result);
}

napi_status __wrap_napi_call_function(napi_env env, napi_value recv, napi_value func, size_t argc,
                                      const napi_value* argv, napi_value* result) {
  static std::atomic<unsigned> calls{0};
  if (fault("napi_call_function") || (fault("napi_call_function", "even") && ++calls % 2 == 0)) {
    // Call a function that throws instead, so that the exception is left
    // with the environment exactly as a callee's would be.
    napi_value thrower;
    const napi_callback throws = [](napi_env e, napi_callback_info) -> napi_value {
      napi_throw_range_error(e, nullptr, "Maximum call stack size exceeded");
      return nullptr;
    };
    if (__real_napi_create_function(env, "thrower", NAPI_AUTO_LENGTH, throws, nullptr, &thrower) != napi_ok) {
      return napi_generic_failure;
    }
    return __real_napi_call_function(env, recv, thrower, 0, nullptr, result);
  }
  return then_detach(__real_napi_call_function, env, recv, func, argc, argv, result);
}

napi_status __wrap_napi_get_element(napi_env env, napi_value object, uint32_t index, napi_value* result) {
  return then_detach(__real_napi_get_element, env, object, index, result);
}

napi_status __wrap_napi_set_element(napi_env env, napi_value object, uint32_t index, napi_value value) {
  return then_detach(__real_napi_set_element, env, object, index, value);
}

napi_status __wrap_napi_get_named_property(napi_env env, napi_value object, const char* name, napi_value* result) {
  return then_detach(__real_napi_get_named_property, env, object, name, result);
}

napi_status __wrap_napi_has_own_property(napi_env env, napi_value object, napi_value key, bool* result) {
  return then_detach(__real_napi_has_own_property, env, object, key, result);
}

napi_status __wrap_napi_get_prototype(napi_env env, napi_value object, napi_value* result) {
  return then_detach(__real_napi_get_prototype, env, object, result);
}

napi_status __wrap_napi_coerce_to_string(napi_env env, napi_value value, napi_value* result) {
  return then_detach(__real_napi_coerce_to_string, env, value, result);
}

napi_status __wrap_napi_create_external_arraybuffer(napi_env env, void* data, size_t length, napi_finalize finalize,
                                                    void* hint, napi_value* result) {
  const napi_status status = __real_napi_create_external_arraybuffer(env, data, length, finalize, hint, result);
  remember(env, status, *result);
  return status;
}

napi_status __wrap_napi_create_arraybuffer(napi_env env, size_t length, void** data, napi_value* result) {
  const napi_status status = __real_napi_create_arraybuffer(env, length, data, result);
  remember(env, status, *result);
  return status;
}

}  // extern "C"
