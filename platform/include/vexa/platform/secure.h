// Containers for secrets (PINs, PUKs, keys, secure-messaging keys): their memory
// is wiped with OPENSSL_cleanse whenever it is released, including the old block
// when a vector grows.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "vexa/platform/wintypes.h"

namespace vexa {

// Wipes n bytes at p in a way the compiler cannot optimise away.
void SecureWipe(void* p, std::size_t n) noexcept;

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    SecureWipe(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

// A byte string that wipes itself. Use it for every secret the system holds.
using SecureBytes = std::vector<BYTE, WipingAllocator<BYTE>>;

}  // namespace vexa
