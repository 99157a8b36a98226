#include "ohos/binding/byte_runner.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "ohos/binding/byte_script.h"
#include "support/os_random.h"
#include "support/secret.h"

namespace tarnwick::binding::byte_runner {
namespace {

// After this many failed attempts to make the script in one environment, the
// environment converts element by element for good.
constexpr int kMaxAttempts = 3;

// The texts of the TypeError that a failed [[Set]] throws in strict code,
// which napi_set_element ignores: a read-only or setter-less index, an array
// made non-extensible, a proxy's trap answering false.
constexpr std::array<std::string_view, 4> kFailedStorePrefixes = {
    "Cannot assign to read only property ",
    "Cannot set property ",
    "Cannot add property ",
    "'set' on proxy: trap returned falsish for property ",
};

}  // namespace

// The four xorshift32 states that one call of the script starts from: two
// seeds below 2^30 that the script is given, none of them 0 (xorshift32
// stays at 0 forever), and the two the script derives from them. The states
// reach all 32 bits from the first step on.
using Seeds = std::array<std::uint32_t, 4>;

struct Lease::State {
  explicit State(napi_env e) : env(e) {}
  napi_env env;
  napi_ref reader = nullptr;
  napi_ref writer = nullptr;
  napi_ref view = nullptr;                  // the Uint8Array the script reads or writes
  napi_ref buffer = nullptr;                // its ArrayBuffer
  napi_ref type_error_prototype = nullptr;  // the realm's own TypeError.prototype
  int failed_attempts = 0;
  bool busy = false;
  // Draws the script's seeds: a splitmix64 state keyed from the OS source
  // when the script is made. User code never sees a seed or this state.
  std::uint64_t seed_state = 0;
  // How much of the current buffer the lease has used: wiped when the lease
  // ends, since the bytes may be decrypted data.
  std::uint32_t used = 0;

  // The view's data as last fetched, and nullptr once it is gone: good only
  // until JavaScript runs again.
  std::uint8_t* data = nullptr;

  bool ready() const noexcept { return reader != nullptr; }
  bool make();
  void drop_refs();
  std::uint8_t* fetch();
  std::uint8_t* usable_buffer(napi_value* view_out);
  bool is_failed_store(napi_value exception) const;
  Seeds next_seeds() noexcept;
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
  state->drop_refs();
  delete state;
}

bool function_at(napi_env env, napi_value array, std::uint32_t index, napi_ref* out) {
  napi_value fn;
  napi_valuetype type;
  return napi_get_element(env, array, index, &fn) == napi_ok && napi_typeof(env, fn, &type) == napi_ok &&
         type == napi_function && napi_create_reference(env, fn, 1, out) == napi_ok;
}

// overflowed takes the pending exception, if any, and tells whether it is a
// RangeError (the stack running out).
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

// new_view makes a zeroed Uint8Array of kWindow bytes and its ArrayBuffer.
bool new_view(napi_env env, napi_ref* view_out, napi_ref* buffer_out) {
  napi_value buffer, view;
  void* data = nullptr;
  if (napi_create_arraybuffer(env, kWindow, &data, &buffer) != napi_ok || data == nullptr ||
      napi_create_typedarray(env, napi_uint8_array, kWindow, buffer, 0, &view) != napi_ok ||
      napi_create_reference(env, buffer, 1, buffer_out) != napi_ok) {
    return false;
  }
  if (napi_create_reference(env, view, 1, view_out) == napi_ok) return true;
  napi_delete_reference(env, *buffer_out);
  *buffer_out = nullptr;
  return false;
}

}  // namespace

void Lease::State::drop_refs() {
  for (napi_ref* ref : {&reader, &writer, &view, &buffer, &type_error_prototype}) {
    if (*ref != nullptr) napi_delete_reference(env, *ref);
    *ref = nullptr;
  }
}

bool Lease::State::make() {
  napi_value source, pair, message, sample, prototype;
  std::uint8_t key[8];
  if (!os_random::fill(key)) {
    ++failed_attempts;
    return false;
  }
  seed_state = 0;
  for (std::uint8_t b : key) seed_state = seed_state << 8 | b;
  wipe(std::span<std::uint8_t>(key));
  const bool ok =
      napi_create_string_utf8(env, byte_script::kSource.data(), byte_script::kSource.size(), &source) == napi_ok &&
      napi_run_script(env, source, &pair) == napi_ok && function_at(env, pair, 0, &reader) &&
      function_at(env, pair, 1, &writer) && new_view(env, &view, &buffer) &&
      napi_create_string_utf8(env, "", 0, &message) == napi_ok &&
      napi_create_type_error(env, nullptr, message, &sample) == napi_ok &&
      napi_get_prototype(env, sample, &prototype) == napi_ok &&
      napi_create_reference(env, prototype, 1, &type_error_prototype) == napi_ok;
  if (ok) return true;
  // The stack running out while the script compiles or runs is no reason to
  // give up on it: a later conversion, higher up the stack, tries again.
  if (!overflowed(env)) ++failed_attempts;
  clear_pending(env);
  drop_refs();
  return false;
}

// fetch sets `data` to the buffer's data as it is now: nullptr when the
// buffer is detached, which leaves it without data and with length 0 (what
// napi_is_detached_arraybuffer tests).
std::uint8_t* Lease::State::fetch() {
  napi_value b;
  void* p = nullptr;
  std::size_t length = 0;
  data = nullptr;
  if (napi_get_reference_value(env, buffer, &b) == napi_ok && b != nullptr &&
      napi_get_arraybuffer_info(env, b, &p, &length) == napi_ok && p != nullptr && length >= kWindow) {
    data = static_cast<std::uint8_t*>(p);
  }
  return data;
}

// usable_buffer fetches the view and its data, first replacing both with new
// ones when user code has detached the buffer. The old memory belongs to
// whoever holds it now: it is neither wiped nor read.
std::uint8_t* Lease::State::usable_buffer(napi_value* view_out) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (view != nullptr && fetch() != nullptr && napi_get_reference_value(env, view, view_out) == napi_ok &&
        *view_out != nullptr) {
      return data;
    }
    used = 0;
    for (napi_ref* ref : {&view, &buffer}) {
      if (*ref != nullptr) napi_delete_reference(env, *ref);
      *ref = nullptr;
    }
    if (!new_view(env, &view, &buffer)) {
      clear_pending(env);
      return nullptr;
    }
  }
  return nullptr;
}

Seeds Lease::State::next_seeds() noexcept {
  Seeds out;
  for (int k = 0; k < 2; ++k) {
    std::uint32_t& seed = out[k];
    do {
      seed_state += 0x9e3779b97f4a7c15u;
      std::uint64_t z = seed_state;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
      // 30 bits: numbers the engine holds without allocating.
      seed = static_cast<std::uint32_t>((z ^ (z >> 31)) >> 34);
    } while (seed == 0);
  }
  out[2] = out[0] ^ 0x6a09e667u;
  out[3] = out[1] ^ 0xbb67ae85u;
  return out;
}

// is_failed_store tells the TypeError that strict code throws for a failed
// [[Set]] from an exception that user code threw: an Error of this realm's
// TypeError.prototype with one of the engine's texts as its own message.
bool Lease::State::is_failed_store(napi_value exception) const {
  bool is_error = false, has_message = false, same = false;
  napi_value prototype, expected, key, message;
  char text[96];
  std::size_t length = 0;
  if (napi_is_error(env, exception, &is_error) != napi_ok || !is_error ||
      napi_get_prototype(env, exception, &prototype) != napi_ok ||
      napi_get_reference_value(env, type_error_prototype, &expected) != napi_ok || expected == nullptr ||
      napi_strict_equals(env, prototype, expected, &same) != napi_ok || !same ||
      napi_create_string_utf8(env, "message", 7, &key) != napi_ok ||
      napi_has_own_property(env, exception, key, &has_message) != napi_ok || !has_message ||
      napi_get_named_property(env, exception, "message", &message) != napi_ok ||
      napi_get_value_string_utf8(env, message, text, sizeof text, &length) != napi_ok) {
    clear_pending(env);
    return false;
  }
  const std::string_view got(text, length);
  return std::any_of(kFailedStorePrefixes.begin(), kFailedStorePrefixes.end(),
                     [&](std::string_view prefix) { return got.starts_with(prefix); });
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
  if (state->busy) return Lease(nullptr);
  if (!state->ready() && (state->failed_attempts >= kMaxAttempts || !state->make())) return Lease(nullptr);
  state->busy = true;
  return Lease(state);
}

Lease::~Lease() {
  if (state_ == nullptr) return;
  // No JavaScript ran since the last fetch.
  if (state_->data != nullptr) wipe(std::span<std::uint8_t>(state_->data, state_->used));
  state_->data = nullptr;
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

bool u32s(napi_env env, std::initializer_list<std::uint32_t> values, napi_value* out) {
  for (std::uint32_t v : values) {
    if (napi_create_uint32(env, v, out++) != napi_ok) return false;
  }
  return true;
}

// Report is what one call of the script answered: the sum alone (every
// index taken), [2, index] (reading: nothing was read) or [kind, index,
// value, sum]. The answer is a number or an array literal of the script's,
// so reading its elements runs no user code.
struct Report {
  bool done = false;
  std::uint32_t kind = 0;
  std::uint32_t index = 0;
  napi_value value = nullptr;
  double sum = -1;
};

bool parse(napi_env env, napi_value result, Report* r) {
  napi_valuetype type;
  if (napi_typeof(env, result, &type) != napi_ok) return false;
  if (type == napi_number) {
    r->done = true;
    return napi_get_value_double(env, result, &r->sum) == napi_ok;
  }
  std::uint32_t length = 0;
  napi_value sum;
  if (!u32_at(env, result, 0, &r->kind) || !u32_at(env, result, 1, &r->index) ||
      napi_get_array_length(env, result, &length) != napi_ok) {
    return false;
  }
  if (length == 2) return r->kind == 2;
  return length == 4 && napi_get_element(env, result, 2, &r->value) == napi_ok &&
         napi_get_element(env, result, 3, &sum) == napi_ok && napi_get_value_double(env, sum, &r->sum) == napi_ok;
}

// keyed_sum is the script's sum over `bytes` for `seeds`.
std::uint64_t keyed_sum(const Seeds& seeds, const std::uint8_t* bytes, std::size_t n) noexcept {
  std::array<std::uint32_t, 4> x = seeds;
  std::array<std::uint64_t, 4> sum{};
  const auto step = [](std::uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s >> 10;
  };
  const auto pair = [&](std::size_t i) -> std::uint64_t { return std::uint32_t{bytes[i]} << 8 | bytes[i + 1]; };
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    for (std::size_t l = 0; l < 4; ++l) sum[l] += pair(i + 2 * l) * step(x[l]);
  }
  std::size_t l = 0;
  for (; i + 1 < n; i += 2, ++l) sum[l] += pair(i) * step(x[l]);
  if (i < n) sum[l] += std::uint64_t{bytes[i]} * step(x[l]);
  return sum[0] + sum[1] + sum[2] + sum[3];
}

bool sum_matches(const Report& r, const Seeds& seeds, const std::uint8_t* bytes, std::size_t n) noexcept {
  return static_cast<double>(keyed_sum(seeds, bytes, n)) == r.sum;
}

// seed_args makes the two seeds the script is given.
bool seed_args(napi_env env, const Seeds& seeds, napi_value* out) {
  return napi_create_uint32(env, seeds[0], &out[0]) == napi_ok && napi_create_uint32(env, seeds[1], &out[1]) == napi_ok;
}

}  // namespace

Outcome Lease::read(napi_value array, std::uint32_t start, std::uint32_t end, Bytes& out) const {
  napi_env env = state_->env;
  napi_value argv[6];
  argv[0] = array;
  // The script itself finds a buffer detached before the call; nothing is
  // written here before it runs.
  if (state_->view == nullptr || napi_get_reference_value(env, state_->view, &argv[3]) != napi_ok ||
      argv[3] == nullptr) {
    if (state_->usable_buffer(&argv[3]) == nullptr) return {Outcome::kUnavailable, start};
  }
  std::uint32_t i = start;
  bool renewed = false;
  while (i < end) {
    const std::uint32_t stop = i + std::min(end - i, kWindow);
    const Seeds seeds = state_->next_seeds();
    if (!u32s(env, {i, stop}, &argv[1]) || !seed_args(env, seeds, &argv[4])) {
      return {Outcome::kUnavailable, i};
    }
    state_->used = std::max(state_->used, stop - i);
    napi_value result;
    Report r;
    if (!call(env, state_->reader, 6, argv, &result)) return {Outcome::kUnavailable, i};
    // Getters may have run: the bytes are taken from the buffer as it is
    // now, and only if it is still the one the script filled.
    const std::uint8_t* p = state_->fetch();
    if (!parse(env, result, &r)) return {Outcome::kUnavailable, i};
    if (!r.done && r.kind == 2) {
      // Detached before this call: once with a new buffer.
      if (renewed || state_->usable_buffer(&argv[3]) == nullptr) return {Outcome::kUnavailable, i};
      renewed = true;
      continue;
    }
    const std::uint32_t reached = r.done ? stop : r.index;
    if (p == nullptr && reached > i) return {Outcome::kLost, reached};
    // Bytes that user code overwrote after the script wrote them: the
    // getters cannot run again. Only a getter's own exception comes first.
    if (r.kind != 1 && p != nullptr && !sum_matches(r, seeds, p, reached - i)) return {Outcome::kAltered, i};
    if (p != nullptr) out.insert(out.end(), p, p + (reached - i));
    if (!r.done) return {r.kind == 0 ? Outcome::kStopped : Outcome::kThrew, reached, r.value};
    i = stop;
  }
  return {Outcome::kDone, end};
}

Outcome Lease::write(napi_value array, ByteView bytes) const {
  napi_env env = state_->env;
  const auto n = static_cast<std::uint32_t>(bytes.size());
  napi_value argv[7];
  argv[0] = array;
  std::uint8_t* p = state_->usable_buffer(&argv[3]);
  std::uint32_t i = 0;
  while (i < n) {
    if (p == nullptr) return {Outcome::kUnavailable, i};
    const std::uint32_t base = i;
    const std::uint32_t stop = i + std::min(n - i, kWindow);
    std::copy(bytes.begin() + base, bytes.begin() + stop, p);
    state_->used = std::max(state_->used, stop - base);
    // One window, resumed past each index whose [[Set]] failed.
    while (i < stop) {
      const Seeds seeds = state_->next_seeds();
      if (!u32s(env, {i, stop}, &argv[1]) || !seed_args(env, seeds, &argv[5])) {
        return {Outcome::kUnavailable, i};
      }
      if (i == base) {
        argv[4] = argv[1];
      } else if (!u32s(env, {base}, &argv[4])) {
        return {Outcome::kUnavailable, i};
      }
      napi_value result;
      Report r;
      if (!call(env, state_->writer, 7, argv, &result)) return {Outcome::kUnavailable, i};
      p = state_->fetch();
      if (!parse(env, result, &r)) return {Outcome::kUnavailable, i};
      if (!r.done && r.kind == 1 && !state_->is_failed_store(r.value)) {
        return {Outcome::kThrew, r.index, r.value};
      }
      // What the script stored against what was meant: user code that
      // overwrote the buffer mid-call made setters see, or the array hold,
      // other values.
      const std::uint32_t reached = r.done ? stop : r.index;
      if (!sum_matches(r, seeds, bytes.data() + i, reached - i)) return {Outcome::kAltered, i};
      if (r.done) {
        i = stop;
      } else if (r.kind == 2) {
        // The buffer was detached under the script: the rest goes element
        // by element from the bytes held here.
        return {Outcome::kUnavailable, r.index};
      } else {
        i = r.index + 1;  // a failed [[Set]], ignored
        p = state_->fetch();  // reading the message may have run user code
      }
      if (p == nullptr) return {Outcome::kUnavailable, i};
    }
  }
  return {Outcome::kDone, n};
}

}  // namespace tarnwick::binding::byte_runner
