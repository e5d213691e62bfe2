// Every exported operation of the card access library runs its body through
// Guarded, so that no exception leaves the library: memory exhaustion becomes
// SCARD_E_NO_MEMORY and anything else SCARD_F_UNKNOWN_ERROR.
#pragma once

#include <PCSC/winscard.h>

#include <new>

namespace vexa::card {

template <class F>
auto Guarded(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return static_cast<decltype(f())>(SCARD_E_NO_MEMORY);
  } catch (...) {
    return static_cast<decltype(f())>(SCARD_F_UNKNOWN_ERROR);
  }
}

}  // namespace vexa::card
