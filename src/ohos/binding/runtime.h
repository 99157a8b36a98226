// The idle worker pool that registration keeps alive while any environment
// uses the module. It is given no work.
#pragma once

#include <memory>

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

}  // namespace tarnwick::binding
