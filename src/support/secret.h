// Buffers for key material: one wipe routine, and a byte vector whose every
// allocation is wiped before it goes back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include <openssl/crypto.h>

namespace tarnwick {

// wipe_memory overwrites `n` bytes at `p` with zeros in a way the compiler
// may not remove. Every wipe goes through it. OPENSSL_cleanse comes from
// the static libcrypto, which the sanitizers do not instrument, so the
// sanitizer build wipes with its own checked stores: a wipe of memory that
// is not ours any more is reported there.
inline void wipe_memory(void* p, std::size_t n) noexcept {
  if (n == 0) return;
#if defined(TARNWICK_SANITIZE)
  volatile std::uint8_t* bytes = static_cast<std::uint8_t*>(p);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = 0;
#else
  OPENSSL_cleanse(p, n);
#endif
}

// wipe overwrites `bytes` with zeros.
inline void wipe(std::span<std::uint8_t> bytes) noexcept { wipe_memory(bytes.data(), bytes.size()); }

// wipe clears the whole allocation of `bytes` (its capacity, not only its
// size) and leaves it empty.
inline void wipe(std::vector<std::uint8_t>& bytes) noexcept {
  bytes.resize(bytes.capacity());
  wipe(std::span<std::uint8_t>(bytes));
  bytes.clear();
}

// wipe clears the characters of `text` and its spare capacity and leaves it
// empty.
inline void wipe(std::string& text) noexcept {
  text.resize(text.capacity());
  wipe_memory(text.data(), text.size());
  text.clear();
}

// wipe_object overwrites a plain object (round keys, a block, a counter) in
// place.
template <class T>
  requires std::is_trivially_copyable_v<T>
inline void wipe_object(T& object) noexcept {
  wipe_memory(&object, sizeof object);
}

// Wiped holds a plain value and wipes it when it goes out of scope.
template <class T>
  requires std::is_trivially_copyable_v<T>
struct Wiped {
  T value{};
  Wiped() = default;
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  ~Wiped() { wipe_object(value); }
};

// WipingAllocator hands out plain heap memory and wipes each allocation,
// whole, before freeing it, so a container that grows leaves no copy behind.
template <class T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    wipe_memory(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// SecretBytes holds key material: decoded private-key documents, symmetric
// keys. It converts to ByteView like Bytes does.
using SecretBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// WipeOnExit wipes a buffer the current scope does not own the type of (a
// Bytes or std::string handed over by a caller) when the scope ends, on every
// return path.
template <class Buffer>
class WipeOnExit {
 public:
  explicit WipeOnExit(Buffer& buffer) noexcept : buffer_(buffer) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { wipe(buffer_); }

 private:
  Buffer& buffer_;
};

}  // namespace tarnwick
