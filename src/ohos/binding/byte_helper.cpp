#include "ohos/binding/byte_helper.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "support/secret.h"

namespace tarnwick::binding::byte_helper {
namespace {

// The script. It names no global and calls no method, so nothing that user
// code can replace (Array, Uint8Array, Reflect, Symbol.iterator, prototype
// methods) is consulted: only syntax and the arguments native code passes.
// The two entry points are strict, so that neither Function.prototype.caller
// nor .arguments hands a getter or setter the scratch buffer; `put` alone is
// sloppy, because a sloppy assignment ignores a failed [[Set]] exactly as
// napi_set_element does (a read-only or setter-less index inherited from a
// prototype), and it closes over nothing. Everything that can run user code
// sits inside a try, so an exception that escapes a call was raised before
// any element was touched (the stack overflowing on entry, say).
//
// readBytes(a, start, end, out): for each i in [start, end), in order, reads
// a[i] once; a number whose ToUint32 is at most 255 goes to out[i - start].
// Returns undefined when every index was taken, [0, i, value] for the first
// element that was not, [1, i, exception] when reading a[i] threw.
// writeBytes(a, start, end, src): a[i] = src[i - start] for each i in order;
// undefined, or [i, exception] when storing a[i] threw.
constexpr std::string_view kSource = R"js((function () {
  function put(a, i, v) { a[i] = v; }
  function readBytes(a, start, end, out) {
    'use strict';
    let i = start;
    try {
      for (; i < end; ++i) {
        const v = a[i];
        if (typeof v !== 'number') return [0, i, v];
        const b = v >>> 0;
        if (b > 255) return [0, i, v];
        out[i - start] = b;
      }
    } catch (e) {
      return [1, i, e];
    }
  }
  function writeBytes(a, start, end, src) {
    'use strict';
    let i = start;
    try {
      for (; i < end; ++i) put(a, i, src[i - start]);
    } catch (e) {
      return [i, e];
    }
  }
  return [readBytes, writeBytes];
})()
//# sourceURL=tarnwick:bytes
)js";

// After this many failed attempts to make the script in one environment, the
// environment converts element by element for good.
constexpr int kMaxAttempts = 3;

}  // namespace

struct Lease::State {
  explicit State(napi_env e) : env(e) {}
  napi_env env;
  napi_ref reader = nullptr;
  napi_ref writer = nullptr;
  napi_ref scratch_array = nullptr;
  std::uint8_t* scratch = nullptr;
  int failed_attempts = 0;
  bool busy = false;
  // How much of the scratch buffer the current lease has used: wiped when
  // the lease ends, since the bytes may be decrypted data.
  std::uint32_t used = 0;

  bool ready() const noexcept { return scratch != nullptr; }
  bool make();
  void drop_refs();
};

namespace {

// The thread's environments that have a state. Heap-held and never destroyed,
// so a cleanup hook that runs late in a thread's life still finds it.
std::vector<Lease::State*>& states() {
  thread_local auto* list = new std::vector<Lease::State*>;
  return *list;
}

void clear_pending(napi_env env) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_value ignored;
    napi_get_and_clear_last_exception(env, &ignored);
  }
}

// The environment is going away: release its script and scratch buffer.
void teardown(void* arg) {
  auto* state = static_cast<Lease::State*>(arg);
  auto& list = states();
  list.erase(std::remove(list.begin(), list.end(), state), list.end());
  napi_env env = state->env;
  for (napi_ref ref : {state->reader, state->writer, state->scratch_array}) {
    if (ref != nullptr) napi_delete_reference(env, ref);
  }
  delete state;
}

bool function_at(napi_env env, napi_value array, std::uint32_t index, napi_ref* out) {
  napi_value fn;
  napi_valuetype type;
  return napi_get_element(env, array, index, &fn) == napi_ok && napi_typeof(env, fn, &type) == napi_ok &&
         type == napi_function && napi_create_reference(env, fn, 1, out) == napi_ok;
}

}  // namespace

void Lease::State::drop_refs() {
  for (napi_ref* ref : {&reader, &writer, &scratch_array}) {
    if (*ref != nullptr) napi_delete_reference(env, *ref);
    *ref = nullptr;
  }
  scratch = nullptr;
}

bool Lease::State::make() {
  napi_value source, pair, buffer, view;
  void* data = nullptr;
  const bool ok =
      napi_create_string_utf8(env, kSource.data(), kSource.size(), &source) == napi_ok &&
      napi_run_script(env, source, &pair) == napi_ok && function_at(env, pair, 0, &reader) &&
      function_at(env, pair, 1, &writer) && napi_create_arraybuffer(env, kWindow, &data, &buffer) == napi_ok &&
      data != nullptr && napi_create_typedarray(env, napi_uint8_array, kWindow, buffer, 0, &view) == napi_ok &&
      napi_create_reference(env, view, 1, &scratch_array) == napi_ok;
  if (ok) {
    scratch = static_cast<std::uint8_t*>(data);
    return true;
  }
  clear_pending(env);
  drop_refs();
  ++failed_attempts;
  return false;
}

Lease Lease::acquire(napi_env env) {
  auto& list = states();
  State* state = nullptr;
  for (State* s : list) {
    if (s->env == env) {
      state = s;
      break;
    }
  }
  if (state == nullptr) {
    state = new State(env);
    if (napi_add_env_cleanup_hook(env, teardown, state) != napi_ok) {
      delete state;
      return Lease(nullptr);
    }
    list.push_back(state);
  }
  if (state->busy) return Lease(nullptr);
  if (!state->ready() && (state->failed_attempts >= kMaxAttempts || !state->make())) return Lease(nullptr);
  state->busy = true;
  return Lease(state);
}

Lease::~Lease() {
  if (state_ == nullptr) return;
  if (state_->scratch != nullptr) wipe(std::span<std::uint8_t>(state_->scratch, state_->used));
  state_->used = 0;
  state_->busy = false;
}

std::span<std::uint8_t> Lease::scratch() const noexcept { return {state_->scratch, kWindow}; }

namespace {

// call runs `fn(array, start, end, scratch)`; false when the call itself
// failed, with nothing left pending.
bool call(napi_env env, napi_ref fn_ref, napi_ref scratch_ref, napi_value array, std::uint32_t start,
          std::uint32_t end, napi_value* result) {
  napi_value fn, recv, argv[4];
  argv[0] = array;
  const bool ok = napi_get_reference_value(env, fn_ref, &fn) == napi_ok && fn != nullptr &&
                  napi_get_reference_value(env, scratch_ref, &argv[3]) == napi_ok && argv[3] != nullptr &&
                  napi_get_undefined(env, &recv) == napi_ok && napi_create_uint32(env, start, &argv[1]) == napi_ok &&
                  napi_create_uint32(env, end, &argv[2]) == napi_ok &&
                  napi_call_function(env, recv, fn, 4, argv, result) == napi_ok;
  // Whatever escaped the script's own try happened before it read or wrote
  // anything: the stack overflowing on entry, say.
  if (!ok) clear_pending(env);
  return ok;
}

bool u32_at(napi_env env, napi_value box, std::uint32_t i, std::uint32_t* out) {
  napi_value v;
  return napi_get_element(env, box, i, &v) == napi_ok && napi_get_value_uint32(env, v, out) == napi_ok;
}

}  // namespace

Outcome Lease::read(napi_value array, std::uint32_t start, std::uint32_t end) const {
  napi_env env = state_->env;
  state_->used = std::max(state_->used, end - start);
  napi_value result;
  if (!call(env, state_->reader, state_->scratch_array, array, start, end, &result)) return {};
  napi_valuetype type;
  if (napi_typeof(env, result, &type) != napi_ok) return {};
  if (type == napi_undefined) return {Outcome::kDone, end, nullptr};
  // [kind, index, value]: an array literal of the script's, so reading its
  // elements runs no user code.
  Outcome out;
  std::uint32_t kind = 0;
  if (!u32_at(env, result, 0, &kind) || !u32_at(env, result, 1, &out.index) ||
      napi_get_element(env, result, 2, &out.value) != napi_ok) {
    return {};
  }
  out.kind = kind == 0 ? Outcome::kStopped : Outcome::kThrew;
  return out;
}

Outcome Lease::write(napi_value array, std::uint32_t start, std::uint32_t end) const {
  napi_env env = state_->env;
  state_->used = std::max(state_->used, end - start);
  napi_value result;
  if (!call(env, state_->writer, state_->scratch_array, array, start, end, &result)) return {};
  napi_valuetype type;
  if (napi_typeof(env, result, &type) != napi_ok) return {};
  if (type == napi_undefined) return {Outcome::kDone, end, nullptr};
  Outcome out;
  if (!u32_at(env, result, 0, &out.index) || napi_get_element(env, result, 1, &out.value) != napi_ok) return {};
  out.kind = Outcome::kThrew;
  return out;
}

}  // namespace tarnwick::binding::byte_helper
