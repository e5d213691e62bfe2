// Costs of the engine frame: loading and unloading the engine, registry reads and
// writes, trace lines written and filtered out.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vexa/platform/registry.h"
#include "vexa/platform/trace.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <class F>
static double MicrosPer(int n, F&& f) {
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) f(i);
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
}

int main() {
  char tmpl[] = "/tmp/vexa_bench_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  fs::path dir = tmpl;
  fs::path reg = dir / "registry.reg";
  {
    std::ofstream f(reg);
    f << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
      << "\"AID\"=hex:a0,00,00,00,63,50,4b,43,53,2d,31,35\n\"TraceDir\"=\"" << dir.string() << "\"\n"
      << "\"vexakernel\"=dword:00000004\n\"bench\"=dword:00000004\n";
    for (int i = 0; i < 20; ++i) f << "\"Filler" << i << "\"=dword:0000000" << (i % 10) << "\n";
  }
  setenv("VEXA_REGISTRY", reg.c_str(), 1);

  std::vector<BYTE> d;
  double read = MicrosPer(2000, [&](int) { RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "AID", d); });
  std::printf("RegReadValue (30-line file): %.1f us\n", read);

  double write = MicrosPer(100, [&](int i) {
    BYTE v[4] = {static_cast<BYTE>(i), 0, 0, 0};
    RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "Counter", REG_DWORD, v, 4);
  });
  std::printf("RegWriteValue (locked, fsync, rename): %.1f us\n", write);

  double load = MicrosPer(100, [&](int) {
    void* h = dlopen(VEXA_KERNEL_SO, RTLD_NOW | RTLD_LOCAL);
    if (h != nullptr) dlclose(h);
  });
  std::printf("engine dlopen+start+stop+dlclose, trace level 4: %.1f us\n", load);

  std::string path = (dir / "bench.log").string();
  TraceOpen(path.c_str(), "bench", 2);
  double line = MicrosPer(100000, [](int i) { Trace(1, "\tSlot %d attached to token %s\n", i, "ABCDEF"); });
  double filtered = MicrosPer(1000000, [](int i) { Trace(3, "\tfiltered %d\n", i); });
  TraceClose();
  std::printf("Trace line written: %.2f us; filtered out by level: %.3f us\n", line, filtered);

  fs::remove_all(dir);
  return 0;
}
