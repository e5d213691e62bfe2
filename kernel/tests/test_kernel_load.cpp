// Loads libvexakernel.so as a client process does, each case in a child process
// with its own registry file and trace folder: start-up with and without "AID",
// the configuration lines of the trace, trace levels and file names, the stop.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "vexa/platform/wintypes.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

using GetClassObjectFn = HRESULT (*)(const void*, const void*, void**);
using CanUnloadFn = HRESULT (*)();

struct LoadResult {
  int exit = -1;      // 0 started and answered S_OK, 1 refused with E_FAIL, other: broken
  std::string err;    // the child's standard error
  pid_t pid = 0;      // names the trace file
};

// kDlclose: dlclose, then exit (the stop runs at one or the other);
// kMustUnload: dlclose must unload the library (the stop runs there);
// kProcessExit: no dlclose, the stop runs at process exit.
enum class Unload { kDlclose, kMustUnload, kProcessExit };

class KernelLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa_kload_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    reg = dir / "registry.reg";
  }
  void TearDown() override { fs::remove_all(dir); }

  // The registry file: the trace folder, then the given value lines.
  void Registry(const std::string& values) {
    std::ofstream f(reg);
    f << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
      << "\"TraceDir\"=\"" << dir.string() << "\"\n"
      << values;
  }

  LoadResult Load(Unload how = Unload::kDlclose) {
    LoadResult r;
    fs::path errFile = dir / "stderr.txt";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      setenv("VEXA_REGISTRY", reg.c_str(), 1);
      int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 2);
      void* h = dlopen(VEXA_KERNEL_SO, RTLD_NOW | RTLD_LOCAL);
      if (h == nullptr) _exit(10);
      auto get = reinterpret_cast<GetClassObjectFn>(dlsym(h, "DllGetClassObject"));
      auto can = reinterpret_cast<CanUnloadFn>(dlsym(h, "DllCanUnloadNow"));
      if (get == nullptr || can == nullptr) _exit(11);
      void* obj = reinterpret_cast<void*>(1);
      HRESULT hr = get(nullptr, nullptr, &obj);
      int code = obj != nullptr ? 12 : hr == S_OK ? 0 : hr == E_FAIL ? 1 : 13;
      if (can() != S_OK) code = 14;
      if (how == Unload::kProcessExit) exit(code);
      dlclose(h);
      if (how == Unload::kMustUnload) {
        // Still mapped: the library has GNU unique symbols (build it with
        // -fno-gnu-unique) or another reference keeps it.
        if (dlopen(VEXA_KERNEL_SO, RTLD_NOW | RTLD_NOLOAD) != nullptr) _exit(20);
        _exit(code);
      }
      exit(code);
    }
    r.pid = pid;
    int st = 0;
    waitpid(pid, &st, 0);
    r.exit = WIFEXITED(st) ? WEXITSTATUS(st) : 100 + WTERMSIG(st);
    r.err = ReadText(errFile);
    return r;
  }

  fs::path TraceFile(const LoadResult& r, const char* suffix = "") {
    char name[32];
    std::snprintf(name, sizeof name, "%08x.api%s", static_cast<unsigned>(r.pid), suffix);
    return dir / name;
  }

  fs::path dir, reg;
};

const char* kAid = "\"AID\"=hex:a0,00,00,00,63,50,4b,43,53,2d,31,35\n";

}  // namespace

TEST_F(KernelLoad, WithoutAidEveryEntryPointFailsAndStandardErrorSaysWhy) {
  Registry("\"vexakernel\"=dword:00000004\n");
  LoadResult r = Load();
  EXPECT_EQ(r.exit, 1) << r.err;
  EXPECT_NE(r.err.find("\"AID\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(reg.string()), std::string::npos) << "names the registry file: " << r.err;
  std::string trace = ReadText(TraceFile(r));
  EXPECT_NE(trace.find("INITINSTANCE\n"), std::string::npos);
  EXPECT_NE(trace.find("\"AID\" is missing"), std::string::npos) << trace;
  EXPECT_NE(trace.find("### Closing Log ###"), std::string::npos) << "the stop closes the trace";
}

TEST_F(KernelLoad, WithoutRegistryFileTheEngineDoesNotStart) {
  LoadResult r = Load();  // no file written
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("\"AID\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(reg.string()), std::string::npos) << r.err;
}

TEST_F(KernelLoad, MalformedRegistryFileIsNamedWithItsLine) {
  std::ofstream(reg) << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n" << kAid << "\"Bad\"=hex:a0,,\n";
  LoadResult r = Load();
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find(reg.string() + ":3: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"AID\""), std::string::npos) << r.err;
}

TEST_F(KernelLoad, StartTracesTheConfigurationItRead) {
  Registry(std::string(kAid) +
           "\"vexakernel\"=dword:00000004\n"
           "\"SerializeGDO\"=dword:00000003\n"
           "\"Compress Certs\"=\"1\"\n"
           "\"Compress Data\"=dword:00000001\n"
           "\"SoftKeyGen\"=dword:00000001\n");
  LoadResult r = Load();
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string t = ReadText(TraceFile(r));
  const char* inOrder[] = {
      "************* INIT LOG ",
      "] INITINSTANCE\n",
      "] calling Process - ",
      "] \tSlotTimeOut value 5 sec.\n",
      "] \tSERIALIZATION Timer set at 3000 (sec.)\n",
      "] \tCertificate compression NO\n",  // text "1": first byte is '1', not 1
      "] \tGDO Data compression YES\n",
      "] \tSoftware GenKey YES\n",
      "] \tCitrix TS support NO\n",
      "] IN -> ExitInstance.\r\n",
      "] \tEffettuato UnloadSlots.\r\n",
      "] ExitInstance - 0x",
      "\n\n### Closing Log ###\n\n",
  };
  std::size_t at = 0;
  for (const char* s : inOrder) {
    std::size_t found = t.find(s, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << s << "\n" << t;
    at = found;
  }
  EXPECT_NE(t.find("INIT LOG " ), std::string::npos);
  EXPECT_NE(t.find(" logLevel 4 g_bTimeLog 0\n"), std::string::npos);
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  char proc[64];
  std::snprintf(proc, sizeof proc, " (0x%08x)\r\n", static_cast<unsigned>(r.pid));
  EXPECT_NE(t.find(std::string("calling Process - ") + self + proc), std::string::npos) << t;
}

TEST_F(KernelLoad, TimersPresentAndZero) {
  Registry(std::string(kAid) + "\"vexakernel\"=dword:4\n\"TokenTimeOut\"=dword:0000001e\n\"SerializeGDO\"=dword:0\n");
  LoadResult r = Load();
  ASSERT_EQ(r.exit, 0) << r.err;
  std::string t = ReadText(TraceFile(r));
  EXPECT_NE(t.find("\tSlotTimeOut value 30 sec.\n"), std::string::npos) << t;
  EXPECT_EQ(t.find("No TimeOut Found"), std::string::npos);
  EXPECT_NE(t.find("\tNo SERIALIZATION Timer Found\n"), std::string::npos) << "0 counts as absent";
  EXPECT_NE(t.find("\tSERIALIZATION Timer set at 15000 (sec.)\n"), std::string::npos) << t;
}

TEST_F(KernelLoad, TraceLevelAndFileName) {
  struct Case {
    const char* values;
    const char* suffix;
    int initLevel;         // -1: no trace file at all
    bool configLines;
  };
  const Case cases[] = {
      {"\"vexakernel\"=dword:00000009\n", "", 4, true},
      {"\"vexakernel\"=dword:00000001\n", "", 1, false},
      {"\"vexakernel\"=dword:00000000\n", "", 0, false},
      {"\"vexakernel\"=dword:00000004\n\"Multilog\"=dword:00000001\n", "01", 4, true},
      {"", "", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values);
    Registry(std::string(kAid) + c.values);
    LoadResult r = Load();
    ASSERT_EQ(r.exit, 0) << r.err;
    fs::path f = TraceFile(r, c.suffix);
    if (c.initLevel < 0) {
      EXPECT_FALSE(fs::exists(f));
      EXPECT_FALSE(fs::exists(TraceFile(r, "01")));
      continue;
    }
    ASSERT_TRUE(fs::exists(f)) << f;
    if (*c.suffix != '\0') {
      EXPECT_FALSE(fs::exists(TraceFile(r)));
    }
    std::string t = ReadText(f);
    EXPECT_NE(t.find(" logLevel " + std::to_string(c.initLevel) + " g_bTimeLog 0\n"), std::string::npos) << t;
    EXPECT_EQ(t.find("SlotTimeOut value") != std::string::npos, c.configLines) << t;
    if (c.initLevel == 0) {
      EXPECT_EQ(t.find("[0x"), std::string::npos) << "only the INIT LOG line: " << t;
    }
    if (c.initLevel == 1) {
      EXPECT_NE(t.find("] INITINSTANCE\n"), std::string::npos);
    }
  }
}

// dlclose unloads the engine and runs its stop there.
TEST_F(KernelLoad, DlcloseUnloadsAndRunsTheStop) {
  Registry(std::string(kAid) + "\"vexakernel\"=dword:00000004\n");
  LoadResult r = Load(Unload::kMustUnload);
  ASSERT_EQ(r.exit, 0) << (r.exit == 20 ? "dlclose left the library loaded" : r.err);
  std::string t = ReadText(TraceFile(r));
  EXPECT_NE(t.find("] IN -> ExitInstance.\r\n"), std::string::npos) << t;
  EXPECT_NE(t.find("### Closing Log ###"), std::string::npos) << t;
}

// At process exit (no dlclose) the stop still runs after the library's other
// globals are gone, and still reaches the trace.
TEST_F(KernelLoad, StopAtProcessExitStillTraces) {
  Registry(std::string(kAid) + "\"vexakernel\"=dword:00000004\n");
  LoadResult r = Load(Unload::kProcessExit);
  ASSERT_EQ(r.exit, 0) << r.err;
  std::string t = ReadText(TraceFile(r));
  EXPECT_NE(t.find("] IN -> ExitInstance.\r\n"), std::string::npos) << t;
  EXPECT_NE(t.find("### Closing Log ###"), std::string::npos) << t;
}
