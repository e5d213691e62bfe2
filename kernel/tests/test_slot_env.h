// Shared set-up of the slot tests: a registry file with "AID" (the application
// of the virtual cards) and the engine trace, and the engine started as the
// module's own start hook does.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "kernel_hooks.h"
#include "vexa/platform/module.h"
#include "vexa/platform/trace.h"

namespace slot_test {

// The DF name that the personalisation gives the application by default.
inline const char kAidHex[] = "a0,00,00,07,56,45,58,41,01";

class EngineEnv {
 public:
  EngineEnv() {
    char tmpl[] = "/tmp/vexa_slots_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    m_dir = tmpl;
    std::ofstream(m_dir / "registry.reg")
        << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
        << "\"AID\"=hex:" << kAidHex << "\n"
        << "\"vexakernel\"=dword:00000004\n"
        << "\"TraceDir\"=\"" << m_dir.string() << "\"\n";
    setenv("VEXA_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    vexa::ModuleRunStart("vexakernel", vexa::kernel::KernelStart);
  }
  ~EngineEnv() {
    vexa::ModuleRunStop(vexa::kernel::KernelStop);
    vexa::ModuleResetForTest();
    unsetenv("VEXA_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  // Everything the engine traced so far.
  std::string TraceText() const {
    std::stringstream ss;
    for (const auto& e : std::filesystem::directory_iterator(m_dir)) {
      if (e.path().extension() == ".api") ss << std::ifstream(e.path()).rdbuf();
    }
    return ss.str();
  }
  const std::filesystem::path& Dir() const { return m_dir; }

 private:
  std::filesystem::path m_dir;
};

// Polls cond until it holds or ms pass (for states reached on another thread).
inline bool WaitFor(const std::function<bool()>& cond, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace slot_test
