#include "support/os_random.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace tarnwick::os_random {
namespace {

using GetrandomFn = long (*)(void*, std::size_t, unsigned);

// The cached lookup: nullptr = not looked up yet, kUnavailable = use the
// device, anything else = the function.
void* const kUnavailable = reinterpret_cast<void*>(std::uintptr_t{1});
std::atomic<void*> g_getrandom{nullptr};

// The device descriptor and the identity of the file it was opened on, both
// guarded by the device mutex.
std::atomic<int> g_urandom_fd{-1};
struct DeviceIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  dev_t rdev = 0;
};
DeviceIdentity g_urandom_identity;
std::mutex& device_mutex() {
  static auto* m = new std::mutex;
  return *m;
}

const char* g_random_path = "/dev/random";
const char* g_urandom_path = "/dev/urandom";

std::atomic<ReadFn> g_test_read{nullptr};
std::atomic<void*> g_test_ctx{nullptr};

int last_errno() { return errno; }

void* lookup_getrandom() {
  void* cached = g_getrandom.load(std::memory_order_acquire);
  if (cached != nullptr) return cached;
  void* found = dlsym(RTLD_DEFAULT, "getrandom");
  if (found != nullptr) {
    // A probe for 0 bytes tells whether the kernel offers the call at all.
    auto fn = reinterpret_cast<GetrandomFn>(found);
    if (fn(nullptr, 0, 0) < 0) {
      const int err = last_errno();
      if (err == ENOSYS || err == EPERM) found = nullptr;
    }
  }
  void* outcome = found != nullptr ? found : kUnavailable;
  g_getrandom.store(outcome, std::memory_order_release);
  return outcome;
}

long getrandom_read(void* fn, std::uint8_t* buf, std::size_t len, int* err) {
  const long r = reinterpret_cast<GetrandomFn>(fn)(buf, len, 0);
  if (r < 0) *err = last_errno();
  return r;
}

long fd_read(void* ctx, std::uint8_t* buf, std::size_t len, int* err) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(ctx));
  const long r = ::read(fd, buf, len);
  if (r < 0) *err = last_errno();
  return r;
}

int open_retrying(const char* path, int flags) {
  for (;;) {
    const int fd = ::open(path, flags);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// cached_device tells whether the cached descriptor `fd` is still the one
// that was opened on the device: a descriptor closed behind the module's back
// and its number reused for another file must not be read as random bytes.
// Called under the device mutex.
bool cached_device(int fd) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return false;
  const DeviceIdentity& id = g_urandom_identity;
  return S_ISCHR(st.st_mode) && st.st_dev == id.dev && st.st_ino == id.ino && st.st_rdev == id.rdev;
}

// urandom_fd returns the device's descriptor. The first use in the process
// waits for /dev/random to become readable (the pool is initialised), then
// opens /dev/urandom; threads that come meanwhile block on the mutex until
// the descriptor is stored. A file there that is not a character device is
// refused with ENODEV. A cached descriptor that is no longer the device is
// forgotten (not closed: its number belongs to someone else now) and the
// device is opened afresh.
std::expected<int, OsError> urandom_fd() {
  std::lock_guard lock(device_mutex());
  int fd = g_urandom_fd.load(std::memory_order_acquire);
  if (cached_device(fd)) return fd;
  g_urandom_fd.store(-1, std::memory_order_release);

  auto os_error = [] {
    const int err = last_errno();
    return OsError(err > 0 ? static_cast<std::uint32_t>(err) : OsError::kErrnoNotPositive);
  };
  const int random_fd = open_retrying(g_random_path, O_RDONLY | O_CLOEXEC);
  if (random_fd < 0) return std::unexpected(os_error());
  for (;;) {
    pollfd p{random_fd, POLLIN, 0};
    const int r = ::poll(&p, 1, -1);
    if (r >= 0) break;
    if (errno != EINTR) {
      const OsError e = os_error();
      ::close(random_fd);
      return std::unexpected(e);
    }
  }
  ::close(random_fd);
  fd = open_retrying(g_urandom_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(os_error());
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const OsError e = os_error();
    ::close(fd);
    return std::unexpected(e);
  }
  if (!S_ISCHR(st.st_mode)) {
    ::close(fd);
    return std::unexpected(OsError(ENODEV));
  }
  g_urandom_identity = {st.st_dev, st.st_ino, st.st_rdev};
  g_urandom_fd.store(fd, std::memory_order_release);
  return fd;
}

}  // namespace

std::string OsError::display() const {
  if (code_ >= 1 && code_ <= 0x7FFFFFFFu) {
    char buf[256];
    const char* text = strerror_r(static_cast<int>(code_), buf, sizeof buf);
    return std::string(text) + " (os error " + std::to_string(code_) + ")";
  }
  switch (code_) {
    case kUnsupported: return "getrandom: this target is not supported";
    case kErrnoNotPositive: return "errno: did not return a positive value";
    case kUnexpected: return "unexpected situation";
    default: return "Unknown Error: " + std::to_string(code_);
  }
}

std::string OsError::debug() const {
  std::string inner;
  if (code_ >= 1 && code_ <= 0x7FFFFFFFu) {
    char buf[256];
    const char* text = strerror_r(static_cast<int>(code_), buf, sizeof buf);
    inner = "Error { os_error: " + std::to_string(code_) + ", description: Os { code: " +
            std::to_string(code_) + ", message: \"" + text + "\" } }";
  } else if (code_ >= kUnsupported && code_ <= kUnexpected) {
    inner = "Error { internal_code: " + std::to_string(code_) + ", description: \"" + display() + "\" }";
  } else {
    inner = "Error { unknown_code: " + std::to_string(code_) + " }";
  }
  return "OsError(" + inner + ")";
}

FillResult fill_loop(std::span<std::uint8_t> buf, ReadFn read, void* ctx) {
  std::size_t done = 0;
  while (done < buf.size()) {
    const std::size_t remaining = buf.size() - done;
    int err = 0;
    const long r = read(ctx, buf.data() + done, remaining, &err);
    if (r > 0) {
      if (static_cast<unsigned long>(r) > remaining) return std::unexpected(OsError(OsError::kUnexpected));
      done += static_cast<std::size_t>(r);
    } else if (r == -1) {
      if (err == EINTR) continue;
      if (err > 0) return std::unexpected(OsError(static_cast<std::uint32_t>(err)));
      return std::unexpected(OsError(OsError::kErrnoNotPositive));
    } else {
      return std::unexpected(OsError(OsError::kUnexpected));
    }
  }
  return {};
}

FillResult fill(std::span<std::uint8_t> buf) {
  if (ReadFn test = g_test_read.load(std::memory_order_acquire)) {
    return fill_loop(buf, test, g_test_ctx.load(std::memory_order_acquire));
  }
  if (buf.empty()) return {};
  void* fn = lookup_getrandom();
  if (fn != kUnavailable) return fill_loop(buf, getrandom_read, fn);
  auto fd = urandom_fd();
  if (!fd) return std::unexpected(fd.error());
  return fill_loop(buf, fd_read, reinterpret_cast<void*>(static_cast<std::intptr_t>(*fd)));
}

namespace testing {
void set_source(ReadFn read, void* ctx) {
  g_test_ctx.store(ctx, std::memory_order_release);
  g_test_read.store(read, std::memory_order_release);
}

void use_device(const char* random_path, const char* urandom_path) {
  std::lock_guard lock(device_mutex());
  g_random_path = random_path != nullptr ? random_path : "/dev/random";
  g_urandom_path = urandom_path != nullptr ? urandom_path : "/dev/urandom";
  // The old descriptor is the test's to close; a lookup that has not run yet
  // would find the function again.
  g_urandom_fd.store(-1, std::memory_order_release);
  g_getrandom.store(random_path != nullptr ? kUnavailable : nullptr, std::memory_order_release);
}

int device_descriptor() { return g_urandom_fd.load(std::memory_order_acquire); }
}  // namespace testing

}  // namespace tarnwick::os_random
