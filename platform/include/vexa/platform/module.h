// Start and stop hooks of a shared library.
//
// A library names its start and stop functions once, in one of its source files:
//
//   static int Start() { ...; return 0; }          // nonzero: start failed
//   static void Stop() { ... }
//   VEXA_MODULE_HOOKS("vexakernel", Start, Stop)
//
// The start function runs when the library is loaded (dlopen or program start),
// the stop function when it is unloaded (dlclose or process exit). dlopen cannot
// be refused from a start function on this platform, so a library whose start
// failed stays loaded but unstarted: each entry point asks vexa::ModuleStarted()
// first and fails at once. The start function explains a failure with
// vexa::ModuleSetFailure(); the facility writes that cause to standard error and
// to the module's trace.
//
// Every module (shared library) that links the platform layer has its own state.
#pragma once

#include <atomic>
#include <new>
#include <string>
#include <utility>

namespace vexa {

// A process-wide object that is built on first use and never destroyed. Stop
// hooks run after the C++ destructors of the library's other globals have run at
// process exit, so state that a stop hook uses (the trace, the configuration)
// must outlive them.
template <class T>
class NoDestructor {
 public:
  template <class... Args>
  explicit NoDestructor(Args&&... args) {
    new (m_storage) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  T& operator*() noexcept { return *std::launder(reinterpret_cast<T*>(m_storage)); }
  T* operator->() noexcept { return &**this; }

 private:
  alignas(T) unsigned char m_storage[sizeof(T)];
};

enum class ModuleState : int { kNotStarted = 0, kStarted = 1, kFailed = 2, kStopped = 3 };

using ModuleStartFn = int (*)();
using ModuleStopFn = void (*)();

// Runs the start function (catching everything) and records its outcome. Called
// by the constructor that VEXA_MODULE_HOOKS defines; tests may call it directly.
void ModuleRunStart(const char* moduleName, ModuleStartFn start) noexcept;
// Runs the stop function once (catching everything), whether the start succeeded
// or not: a failed start may have opened the trace, which the stop closes.
void ModuleRunStop(ModuleStopFn stop) noexcept;

// True once the start function has returned 0 and until the stop begins. Cheap:
// one atomic load.
bool ModuleStarted() noexcept;
ModuleState GetModuleState() noexcept;
// True when the last start returned 0, also while the stop runs (a stop function
// asks this to know whether there is anything to release).
bool ModuleStartSucceeded() noexcept;

// Records why the start failed (the start function calls it before returning
// nonzero). The text should name the cause and where to mend it.
void ModuleSetFailure(std::string cause) noexcept;
// The recorded cause ("" when none).
std::string ModuleFailure();
// The module name given to ModuleRunStart.
const char* ModuleName() noexcept;

// Test support: back to "not started", no cause.
void ModuleResetForTest() noexcept;

}  // namespace vexa

#define VEXA_MODULE_HOOKS(moduleName, startFn, stopFn)                             \
  __attribute__((constructor)) static void vexa_module_start_hook_() {             \
    ::vexa::ModuleRunStart(moduleName, startFn);                                   \
  }                                                                                \
  __attribute__((destructor)) static void vexa_module_stop_hook_() {               \
    ::vexa::ModuleRunStop(stopFn);                                                 \
  }
