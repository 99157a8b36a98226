// The idle worker pool that registration keeps alive while any environment
// uses the module. It is given no work.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace tarnwick::binding {

class Runtime {
 public:
  // create starts the workers; nullptr when threads cannot be started.
  static std::unique_ptr<Runtime> create();
  ~Runtime();  // shuts down in the background: nothing waits for the workers

  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  struct Shared;

 private:
  explicit Runtime(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  std::shared_ptr<Shared> shared_;
};

// parse_worker_count reads `text` as an unsigned decimal count, as the
// worker pool's settings are read: an optional leading '+' and then one or
// more ASCII digits, nothing else, and no value above SIZE_MAX. nullopt for
// anything else (a '-' sign, spaces, a prefix such as 0x, an empty text).
std::optional<std::size_t> parse_worker_count(std::string_view text);

// worker_count is TOKIO_WORKER_THREADS when it parses as a positive count
// (capped at 512), else the number of CPUs this process may run on.
std::size_t worker_count();

}  // namespace tarnwick::binding
