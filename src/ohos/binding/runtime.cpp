#include "ohos/binding/runtime.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <exception>
#include <thread>

namespace tarnwick::binding {

struct Runtime::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
};

namespace {

// A count far above any machine's CPUs, so that a stray value cannot make
// the process start millions of threads.
constexpr std::size_t kMaxWorkers = 512;

void worker(std::shared_ptr<Runtime::Shared> shared) {
  std::unique_lock lock(shared->mutex);
  shared->wake.wait(lock, [&] { return shared->stop; });
}

void stop(Runtime::Shared& shared) {
  {
    std::lock_guard lock(shared.mutex);
    shared.stop = true;
  }
  shared.wake.notify_all();
}

// parse_worker_count reads `text` as an unsigned decimal count, as the
// worker pool's settings are read: an optional leading '+' and then one or
// more ASCII digits, nothing else, and no value above SIZE_MAX. nullopt for
// anything else (a '-' sign, spaces, a prefix such as 0x, an empty text).
std::optional<std::size_t> parse_worker_count(std::string_view text) {
  // One leading '+' is allowed, and then only the digits 0-9: no sign '-',
  // no spaces, no prefix, nothing after; "" and "+" are not numbers.
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::size_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// worker_count is TOKIO_WORKER_THREADS when it parses as a positive count
// (capped at 512), else the number of CPUs this process may run on.
std::size_t worker_count() {
  if (const char* env = std::getenv("TOKIO_WORKER_THREADS")) {
    const std::optional<std::size_t> n = parse_worker_count(env);
    if (n && *n > 0) return std::min(*n, kMaxWorkers);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  return 1;
}

}  // namespace

std::unique_ptr<Runtime> Runtime::create() {
  std::shared_ptr<Shared> shared;
  try {
    shared = std::make_shared<Shared>();
    auto runtime = std::unique_ptr<Runtime>(new Runtime(shared));
    const std::size_t n = worker_count();
    for (std::size_t i = 0; i < n; ++i) {
      std::thread t(worker, shared);
      // Named before create() returns, so the name is there as soon as the
      // runtime is. "tokio-runtime-worker": Linux keeps the first 15 bytes.
      pthread_setname_np(t.native_handle(), "tokio-runtime-w");
      t.detach();
    }
    return runtime;
  } catch (const std::exception&) {
    if (shared) stop(*shared);
    return nullptr;
  }
}

Runtime::~Runtime() { stop(*shared_); }

}  // namespace tarnwick::binding
