// The start and stop steps of the engine in a process.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>
#include <string>

#include "kernel_hooks.h"
#include "vexa/kernel/config.h"
#include "vexa/platform/module.h"
#include "vexa/platform/trace.h"

namespace vexa::kernel {
namespace {

struct ModuleInfo {
  std::mutex mu;  // guards path
  std::string path;
};

ModuleInfo& Info() {
  static NoDestructor<ModuleInfo> m;
  return *m;
}

void TraceCallingProcess() {
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n < 0) {
    Trace(1, "calling Process error (0x%08x)\r\n", static_cast<unsigned>(errno));
    return;
  }
  exe[n] = '\0';
  Trace(1, "calling Process - %s (0x%08x)\r\n", exe, static_cast<unsigned>(::getpid()));
}

void RememberModule() {
  Dl_info dl{};
  if (::dladdr(reinterpret_cast<void*>(&KernelStart), &dl) != 0 && dl.dli_fname != nullptr) {
    std::lock_guard<std::mutex> g(Info().mu);
    Info().path = dl.dli_fname;
  }
}

}  // namespace

std::string ModulePath() {
  std::lock_guard<std::mutex> g(Info().mu);
  return Info().path;
}

int KernelStart() {
  char base[32];
  std::snprintf(base, sizeof base, "%08x.api", static_cast<unsigned>(::getpid()));
  const std::string tracePath = vexa::TraceFilePath(base);
  TraceOpen(tracePath.c_str(), "vexakernel", 4);
  Trace(1, "INITINSTANCE\n");
  TraceCallingProcess();

  KernelConfig config;
  std::string cause;
  if (ReadKernelConfig(config, cause) != 0) {
    vexa::ModuleSetFailure(cause);
    return -1;
  }
  SetConfig(config);
  RememberModule();
  if (RefreshMark() == 0) SetRefreshMark(1);
  return 0;
}

void KernelStop() {
  const int lastError = errno;
  Trace(4, "IN -> ExitInstance.\r\n");
  if (vexa::ModuleStartSucceeded() && UnloadSlotsAtStop != nullptr) UnloadSlotsAtStop();
  Trace(1, "\tEffettuato UnloadSlots.\r\n");
  Trace(1, "ExitInstance - 0x%08x", static_cast<unsigned>(lastError));
  TraceClose();
  // Free what the start allocated, so that a dlclose leaves nothing behind.
  ClearConfig();
  std::lock_guard<std::mutex> g(Info().mu);
  std::string().swap(Info().path);
}

}  // namespace vexa::kernel
