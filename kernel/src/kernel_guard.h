// The wrapper around the body of every exported kernel method: an engine that did
// not start refuses at once, and no exception leaves the library.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

#include "vexa/kernel/status.h"
#include "vexa/platform/module.h"
#include "vexa/platform/trace.h"

namespace vexa::kernel {

// Writes, once per process, why calls are refused (standard error and trace).
void ReportUnstarted(const char* method) noexcept;

// Runs body and returns its result; ERR_GENERIC at once when the engine is not
// started, ERR_MEMORY when body throws. method names the call for the trace
// ("CSlots::LoadSlots"). Lower-layer codes inside body go through ToKernelStatus.
template <class F>
int32_t Guarded(const char* method, F&& body) noexcept {
  if (!vexa::ModuleStarted()) {
    ReportUnstarted(method);
    return CObjDefs::ERR_GENERIC;
  }
  try {
    return static_cast<int32_t>(body());
  } catch (const std::exception& e) {
    Trace(1, "%s - exception: %s - ERR_MEMORY\n", method, e.what());
  } catch (...) {
    Trace(1, "%s - unknown exception - ERR_MEMORY\n", method);
  }
  return CObjDefs::ERR_MEMORY;
}

// As Guarded, and traces the entry "IN  -> <method>" and the exit
// "OUT -> <method>", with " - <error name>" on failure, at level 1.
template <class F>
int32_t GuardedTraced(const char* method, F&& body) noexcept {
  Trace(1, "IN  -> %s\n", method);
  const int32_t rc = Guarded(method, std::forward<F>(body));
  if (rc == 0)
    Trace(1, "OUT -> %s\n", method);
  else
    Trace(1, "OUT -> %s - %s\n", method, KernelStatusName(rc));
  return rc;
}

// As Guarded, for methods with another result type (BOOL, HRESULT, a handle):
// notStarted when the engine did not start, onException when body throws.
template <class R, class F>
R GuardedAs(const char* method, R notStarted, R onException, F&& body) noexcept {
  if (!vexa::ModuleStarted()) {
    ReportUnstarted(method);
    return notStarted;
  }
  try {
    return body();
  } catch (const std::exception& e) {
    Trace(1, "%s - exception: %s\n", method, e.what());
  } catch (...) {
    Trace(1, "%s - unknown exception\n", method);
  }
  return onException;
}

}  // namespace vexa::kernel
