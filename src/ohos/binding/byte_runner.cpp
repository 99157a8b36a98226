#include "ohos/binding/byte_runner.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "ohos/binding/byte_script.h"
#include "support/secret.h"

namespace tarnwick::binding::byte_runner {
namespace {

// After this many failed attempts to make the script or its buffer in one
// environment, the environment converts element by element for good.
constexpr int kMaxAttempts = 3;

// Block is the memory behind an environment's buffer. It has two holders,
// the engine (until the ArrayBuffer's finalizer runs, however long user
// code keeps a detached or transferred copy of it) and the environment's
// Window; the last one to let go wipes and frees it.
struct Block {
  alignas(64) std::uint8_t bytes[kWindow];
  std::atomic<int> holders{2};

  void release() noexcept {
    if (holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      wipe(std::span<std::uint8_t>(bytes));
      delete this;
    }
  }
};

void finalize_block(napi_env, void*, void* hint) { static_cast<Block*>(hint)->release(); }

// Window is the environment's Uint8Array of kWindow bytes over a Block. The
// Block outlives every use of `bytes()` here, attached or not; whether the
// ArrayBuffer still holds it says whether the script's stores reach it.
class Window {
 public:
  bool empty() const noexcept { return block_ == nullptr; }
  std::uint8_t* bytes() const noexcept { return block_->bytes; }

  // make creates the buffer and its view; false when the host refuses.
  bool make(napi_env env) {
    auto* block = new (std::nothrow) Block;
    if (block == nullptr) return false;
    napi_value buffer, view;
    if (napi_create_external_arraybuffer(env, block->bytes, kWindow, finalize_block, block, &buffer) != napi_ok) {
      // Never handed to the engine, so no finalizer will run.
      delete block;
      return false;
    }
    block_ = block;
    if (napi_create_typedarray(env, napi_uint8_array, kWindow, buffer, 0, &view) != napi_ok ||
        napi_create_reference(env, buffer, 1, &buffer_) != napi_ok ||
        napi_create_reference(env, view, 1, &view_) != napi_ok) {
      drop(env);
      return false;
    }
    return true;
  }

  // attached reports whether the ArrayBuffer still holds the block: user code
  // detaches it by transferring it (structuredClone, postMessage).
  bool attached(napi_env env) const {
    napi_value buffer;
    void* data = nullptr;
    std::size_t length = 0;
    return block_ != nullptr && napi_get_reference_value(env, buffer_, &buffer) == napi_ok && buffer != nullptr &&
           napi_get_arraybuffer_info(env, buffer, &data, &length) == napi_ok && data == block_->bytes &&
           length == kWindow;
  }

  bool view(napi_env env, napi_value* out) const {
    return napi_get_reference_value(env, view_, out) == napi_ok && *out != nullptr;
  }

  // drop lets go of the buffer; the block goes once the engine lets go too.
  void drop(napi_env env) noexcept {
    for (napi_ref* ref : {&view_, &buffer_}) {
      if (*ref != nullptr) napi_delete_reference(env, *ref);
      *ref = nullptr;
    }
    if (block_ != nullptr) block_->release();
    block_ = nullptr;
  }

 private:
  Block* block_ = nullptr;
  napi_ref view_ = nullptr;
  napi_ref buffer_ = nullptr;
};

}  // namespace

struct Lease::State {
  explicit State(napi_env e) : env(e) {}
  napi_env env;
  napi_ref reader = nullptr;
  napi_ref writer = nullptr;
  Window window;
  int failed_attempts = 0;
  bool busy = false;
  // How much of the buffer the lease has used: wiped when the lease ends,
  // since the bytes may be decrypted data.
  std::uint32_t used = 0;

  bool ready() const noexcept { return reader != nullptr; }
  bool make();
  bool usable_view(napi_value* view);
  void drop_all() noexcept;
};

namespace {

// The thread's environments that have a state. Made with the first one and
// freed with the last, from its environment's cleanup hook.
thread_local std::vector<Lease::State*>* thread_states = nullptr;

std::vector<Lease::State*>& states() {
  if (thread_states == nullptr) thread_states = new std::vector<Lease::State*>;
  return *thread_states;
}

void clear_pending(napi_env env) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_value ignored;
    napi_get_and_clear_last_exception(env, &ignored);
  }
}

// The environment is going away: release its script and buffer.
void teardown(void* arg) {
  auto* state = static_cast<Lease::State*>(arg);
  if (thread_states != nullptr) {
    auto& list = *thread_states;
    list.erase(std::remove(list.begin(), list.end(), state), list.end());
    if (list.empty()) {
      delete thread_states;
      thread_states = nullptr;
    }
  }
  state->drop_all();
  delete state;
}

bool function_at(napi_env env, napi_value array, std::uint32_t index, napi_ref* out) {
  napi_value fn;
  napi_valuetype type;
  return napi_get_element(env, array, index, &fn) == napi_ok && napi_typeof(env, fn, &type) == napi_ok &&
         type == napi_function && napi_create_reference(env, fn, 1, out) == napi_ok;
}

// overflowed takes the pending exception, if any, and tells whether it is a
// RangeError (the stack running out). Only the script's own compilation or
// first run can have thrown it.
bool overflowed(napi_env env) {
  bool pending = false, is_error = false, same = false;
  napi_value exception, message, sample, got, expected;
  return napi_is_exception_pending(env, &pending) == napi_ok && pending &&
         napi_get_and_clear_last_exception(env, &exception) == napi_ok &&
         napi_is_error(env, exception, &is_error) == napi_ok && is_error &&
         napi_create_string_utf8(env, "", 0, &message) == napi_ok &&
         napi_create_range_error(env, nullptr, message, &sample) == napi_ok &&
         napi_get_prototype(env, sample, &expected) == napi_ok &&
         napi_get_prototype(env, exception, &got) == napi_ok &&
         napi_strict_equals(env, got, expected, &same) == napi_ok && same;
}

}  // namespace

void Lease::State::drop_all() noexcept {
  for (napi_ref* ref : {&reader, &writer}) {
    if (*ref != nullptr) napi_delete_reference(env, *ref);
    *ref = nullptr;
  }
  window.drop(env);
}

bool Lease::State::make() {
  napi_value source, pair;
  const bool ok =
      napi_create_string_utf8(env, byte_script::kSource.data(), byte_script::kSource.size(), &source) == napi_ok &&
      napi_run_script(env, source, &pair) == napi_ok && function_at(env, pair, 0, &reader) &&
      function_at(env, pair, 1, &writer);
  if (ok) return true;
  // The stack running out while the script compiles or runs is no reason to
  // give up on it: a later conversion, higher up the stack, tries again.
  if (!overflowed(env)) ++failed_attempts;
  clear_pending(env);
  drop_all();
  return false;
}

// usable_view hands out the view, first replacing the buffer when user code
// has detached it: the script's stores into a detached buffer would be lost.
bool Lease::State::usable_view(napi_value* view) {
  if (window.attached(env)) return window.view(env, view);
  window.drop(env);
  used = 0;
  if (window.make(env) && window.view(env, view)) return true;
  ++failed_attempts;
  clear_pending(env);
  window.drop(env);
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
      if (list.empty()) {
        delete thread_states;
        thread_states = nullptr;
      }
      return Lease(nullptr);
    }
    list.push_back(state);
  }
  if (state->busy || state->failed_attempts >= kMaxAttempts) return Lease(nullptr);
  if (!state->ready() && !state->make()) return Lease(nullptr);
  state->busy = true;
  return Lease(state);
}

Lease::~Lease() {
  if (state_ == nullptr) return;
  if (state_->used != 0) {
    // Wiped while the buffer is still ours; a detached one is let go of, and
    // its block is wiped when the engine lets go of it too.
    if (state_->window.attached(state_->env)) {
      wipe(std::span<std::uint8_t>(state_->window.bytes(), state_->used));
    } else {
      state_->window.drop(state_->env);
    }
  }
  state_->used = 0;
  state_->busy = false;
}

namespace {

// call runs `fn(argv...)`; false when the call itself failed, with nothing
// left pending. Whatever escaped the script's own try happened before it
// read or wrote anything: the stack overflowing on entry, say.
bool call(napi_env env, napi_ref fn_ref, std::size_t argc, const napi_value* argv, napi_value* result) {
  napi_value fn, recv;
  const bool ok = napi_get_reference_value(env, fn_ref, &fn) == napi_ok && fn != nullptr &&
                  napi_get_undefined(env, &recv) == napi_ok &&
                  napi_call_function(env, recv, fn, argc, argv, result) == napi_ok;
  if (!ok) clear_pending(env);
  return ok;
}

bool u32_at(napi_env env, napi_value box, std::uint32_t i, std::uint32_t* out) {
  napi_value v;
  return napi_get_element(env, box, i, &v) == napi_ok && napi_get_value_uint32(env, v, out) == napi_ok;
}

bool window_args(napi_env env, std::uint32_t start, std::uint32_t stop, napi_value* out) {
  return napi_create_uint32(env, start, &out[0]) == napi_ok && napi_create_uint32(env, stop, &out[1]) == napi_ok;
}

// Report is what one call of the script over [start, stop) answered: `stop`
// (every index taken) or [kind, index] or [kind, index, value].
struct Report {
  enum Kind : std::uint32_t { kRefused = 0, kThrew = 1, kGone = 2, kDone = 3 };
  std::uint32_t kind = kDone;
  std::uint32_t index = 0;
  napi_value value = nullptr;
};

// parse reads the script's answer. The answer is a number or an array
// literal of the script's, so reading its elements runs no user code; an
// answer of any other shape, or an index outside the window, is refused
// (nothing but code that rewrites the script's values gives one).
bool parse(napi_env env, napi_value result, std::uint32_t start, std::uint32_t stop, Report* r) {
  napi_valuetype type;
  if (napi_typeof(env, result, &type) != napi_ok) return false;
  if (type == napi_number) {
    std::uint32_t end = 0;
    r->kind = Report::kDone;
    r->index = stop;
    return napi_get_value_uint32(env, result, &end) == napi_ok && end == stop;
  }
  std::uint32_t length = 0;
  if (!u32_at(env, result, 0, &r->kind) || !u32_at(env, result, 1, &r->index) ||
      napi_get_array_length(env, result, &length) != napi_ok || r->index < start || r->index > stop) {
    return false;
  }
  // Gone after the last index is read, or stopped at an index of the window.
  if (r->kind == Report::kGone) return length == 2;
  return r->kind < Report::kGone && r->index < stop && length == 3 &&
         napi_get_element(env, result, 2, &r->value) == napi_ok;
}

}  // namespace

Outcome Lease::read(napi_value array, std::uint32_t start, std::uint32_t end, Bytes& out) const {
  napi_env env = state_->env;
  std::uint32_t i = start;
  while (i < end) {
    const std::uint32_t stop = i + std::min(end - i, kWindow);
    napi_value argv[4];
    argv[0] = array;
    if (!state_->usable_view(&argv[3]) || !window_args(env, i, stop, &argv[1])) return {Outcome::kUnavailable, i};
    state_->used = std::max(state_->used, stop - i);
    napi_value result;
    Report r;
    if (!call(env, state_->reader, 4, argv, &result) || !parse(env, result, i, stop, &r)) {
      return {Outcome::kUnavailable, i};
    }
    if (r.kind == Report::kGone) return {Outcome::kLost, r.index};
    // The buffer still held the block when the script last stored into it,
    // so every byte it stored is there, whatever user code did since.
    const std::uint8_t* bytes = state_->window.bytes();
    out.insert(out.end(), bytes, bytes + (r.index - i));
    if (r.kind != Report::kDone) {
      return {r.kind == Report::kRefused ? Outcome::kStopped : Outcome::kThrew, r.index, r.value};
    }
    i = stop;
  }
  return {Outcome::kDone, end};
}

Outcome Lease::write(napi_value array, ByteView bytes) const {
  napi_env env = state_->env;
  const auto n = static_cast<std::uint32_t>(bytes.size());
  std::uint32_t i = 0;
  while (i < n) {
    const std::uint32_t stop = i + std::min(n - i, kWindow);
    napi_value argv[4];
    argv[0] = array;
    if (!state_->usable_view(&argv[3]) || !window_args(env, i, stop, &argv[1])) return {Outcome::kUnavailable, i};
    std::copy(bytes.begin() + i, bytes.begin() + stop, state_->window.bytes());
    state_->used = std::max(state_->used, stop - i);
    napi_value result;
    Report r;
    if (!call(env, state_->writer, 4, argv, &result) || !parse(env, result, i, stop, &r)) {
      return {Outcome::kUnavailable, i};
    }
    if (r.kind == Report::kThrew) return {Outcome::kThrew, r.index, r.value};
    // A setter detached the buffer under the script: the rest goes element
    // by element from `bytes`.
    if (r.kind != Report::kDone) return {Outcome::kUnavailable, r.index};
    i = stop;
  }
  return {Outcome::kDone, n};
}

}  // namespace tarnwick::binding::byte_runner
