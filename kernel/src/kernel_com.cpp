// The COM-style entry points and the refusal of calls into an unstarted engine.
#include <atomic>
#include <cstdio>

#include "kernel_guard.h"
#include "vexa/kernel/com.h"

namespace vexa::kernel {

void ReportUnstarted(const char* method) noexcept {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  std::string cause;
  try {
    cause = vexa::ModuleFailure();
  } catch (...) {
  }
  if (cause.empty()) cause = "the start hook did not run";
  std::fprintf(stderr, "vexakernel: %s refused: the engine is not started: %s\n",
               method != nullptr ? method : "call", cause.c_str());
  std::fflush(stderr);
  Trace(1, "%s refused: the engine is not started: %s\n", method != nullptr ? method : "call",
        cause.c_str());
}

}  // namespace vexa::kernel

HRESULT DllGetClassObject(const void* /*rclsid*/, const void* /*riid*/, void** ppv) {
  if (ppv != nullptr) *ppv = nullptr;
  return vexa::kernel::GuardedAs<HRESULT>("DllGetClassObject", E_FAIL, E_OUTOFMEMORY,
                                          [] { return S_OK; });
}

HRESULT DllCanUnloadNow(void) { return S_OK; }
