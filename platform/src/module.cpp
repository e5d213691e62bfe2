// Module start/stop bookkeeping: one state per module that links the platform layer.
#include "vexa/platform/module.h"

#include <cstdio>
#include <mutex>

#include "vexa/platform/trace.h"

namespace vexa {
namespace {

struct ModuleRecord {
  std::atomic<int> state{static_cast<int>(ModuleState::kNotStarted)};
  std::atomic<bool> stopRan{false};
  std::atomic<bool> startOk{false};
  std::mutex mu;  // guards cause and name
  std::string cause;
  const char* name = "module";
};

ModuleRecord& Record() {
  static NoDestructor<ModuleRecord> r;
  return *r;
}

void SetState(ModuleState s) { Record().state.store(static_cast<int>(s), std::memory_order_release); }

}  // namespace

void ModuleSetFailure(std::string cause) noexcept {
  auto& r = Record();
  std::lock_guard<std::mutex> g(r.mu);
  r.cause = std::move(cause);
}

std::string ModuleFailure() {
  auto& r = Record();
  std::lock_guard<std::mutex> g(r.mu);
  return r.cause;
}

const char* ModuleName() noexcept {
  auto& r = Record();
  std::lock_guard<std::mutex> g(r.mu);
  return r.name;
}

void ModuleRunStart(const char* moduleName, ModuleStartFn start) noexcept {
  auto& r = Record();
  {
    std::lock_guard<std::mutex> g(r.mu);
    r.name = moduleName != nullptr ? moduleName : "module";
    r.cause.clear();
  }
  r.stopRan.store(false);
  r.startOk.store(false);
  int rc = -1;
  try {
    rc = start != nullptr ? start() : 0;
  } catch (const std::exception& e) {
    ModuleSetFailure(std::string("exception in the start hook: ") + e.what());
    rc = -1;
  } catch (...) {
    ModuleSetFailure("unknown exception in the start hook");
    rc = -1;
  }
  if (rc == 0) {
    r.startOk.store(true);
    SetState(ModuleState::kStarted);
    return;
  }
  SetState(ModuleState::kFailed);
  std::string cause;
  try {
    cause = ModuleFailure();
  } catch (...) {
  }
  if (cause.empty()) cause = "the start hook failed";
  std::fprintf(stderr, "%s: not started: %s\n", r.name, cause.c_str());
  std::fflush(stderr);
  Trace(1, "%s: not started: %s\n", r.name, cause.c_str());
}

void ModuleRunStop(ModuleStopFn stop) noexcept {
  auto& r = Record();
  if (r.stopRan.exchange(true)) return;
  SetState(ModuleState::kStopped);
  try {
    if (stop != nullptr) stop();
  } catch (...) {
    // A stop hook runs at unload or exit: nothing is left to report to.
  }
  // Free the cause: after dlclose nothing could reach it any more.
  std::lock_guard<std::mutex> g(r.mu);
  std::string().swap(r.cause);
}

bool ModuleStarted() noexcept {
  return Record().state.load(std::memory_order_acquire) == static_cast<int>(ModuleState::kStarted);
}

bool ModuleStartSucceeded() noexcept { return Record().startOk.load(std::memory_order_acquire); }

ModuleState GetModuleState() noexcept {
  return static_cast<ModuleState>(Record().state.load(std::memory_order_acquire));
}

void ModuleResetForTest() noexcept {
  auto& r = Record();
  SetState(ModuleState::kNotStarted);
  r.stopRan.store(false);
  r.startOk.store(false);
  ModuleSetFailure({});
}

}  // namespace vexa
