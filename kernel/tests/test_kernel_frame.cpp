// Status codes, ToKernelStatus, HexText, WriteFileBytes and the wrapper of the
// exported methods.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include <PCSC/pcsclite.h>

#include "kernel_guard.h"
#include "vexa/kernel/status.h"
#include "vexa/kernel/util.h"
#include "vexa/platform/module.h"

namespace fs = std::filesystem;

TEST(KernelStatus, CodesAreTheSameInEveryScope) {
  static_assert(CObjDefs::ERR_NO_OBJ_FOUND == -1 && CObjDefs::ERR_NO_SLOT_ATTAHED == -2);
  static_assert(CObjDefs::ERR_MEMORY == -4 && CObjDefs::ERR_GENERIC == -9);
  static_assert(CObjDefs::ERR_STATE == -11 && CObjDefs::ERR_GENERATE == -12);
  static_assert(CObjDefs::ERR_KEY_TYPE == -14 && CObjDefs::ERR_NOT_SUPPORTED == -18);
  static_assert(CObjDefs::ERR_SAVE_THREAD == -21 && CObjDefs::ERR_VERIFY_FAILED == -26);
  static_assert(static_cast<int>(CSlotsDefs::ERR_NO_TOKEN) == -7);
  static_assert(static_cast<int>(CSecurityObjsDefs::ERR_PIN_WRONG) == -23);
  static_assert(static_cast<int>(CSlotsDefs::ERR_BUSY) == static_cast<int>(CSecurityObjsDefs::ERR_BUSY));
  EXPECT_STREQ(KernelStatusName(CObjDefs::ERR_MEMORY), "ERR_MEMORY");
  EXPECT_STREQ(KernelStatusName(CObjDefs::ERR_NO_SLOT_ATTAHED), "ERR_NO_SLOT_ATTAHED");
  EXPECT_STREQ(KernelStatusName(0), "OK");
  EXPECT_STREQ(KernelStatusName(-0x6982), "SW_6982");
  EXPECT_STREQ(KernelStatusName(ToKernelStatus(SCARD_W_REMOVED_CARD)), "SCARD_0x80100069");
}

TEST(KernelStatus, LowerLayerCodesBecomeKernelCodes) {
  struct Case {
    long in;
    int32_t out;
  };
  const Case cases[] = {
      {0, 0},
      {0x6982, -0x6982},                                           // card status word
      {0x63C2, -0x63C2},
      {0x6A82, -0x6A82},
      {-4, -4},                                                    // already a kernel code
      {SCARD_W_REMOVED_CARD, static_cast<int32_t>(0x80100069u)},  // PC/SC, held in a 64-bit LONG
      {static_cast<int32_t>(0x80100069u), static_cast<int32_t>(0x80100069u)},
      {SCARD_E_NO_SMARTCARD, static_cast<int32_t>(0x8010000Cu)},
  };
  for (const auto& c : cases) EXPECT_EQ(ToKernelStatus(c.in), c.out) << std::hex << c.in;
}

TEST(KernelUtil, HexText) {
  const BYTE b[] = {0x0A, 0x1B, 0xFF, 0x00};
  struct Case {
    std::size_t len;
    char sep;
    bool reverse;
    const char* out;
  };
  const Case cases[] = {
      {4, '\0', false, "0A1BFF00"}, {4, ' ', false, "0A 1B FF 00 "}, {2, '\0', true, "B1A0"},
      {2, ':', true, ":B1:A0"},     {0, ' ', false, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HexText(b, c.len, c.sep, c.reverse), c.out);
  EXPECT_EQ(HexText(nullptr, 5), "");
}

TEST(KernelUtil, WriteFileBytes) {
  char tmpl[] = "/tmp/vexa_kutil_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path dir = tmpl;
  fs::path f = dir / "gdo.bin";
  auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  const BYTE a[] = {'a', 'b', 'c'};
  const BYTE d[] = {'d'};
  EXPECT_EQ(WriteFileBytes(f.c_str(), a, 3, false), 0);
  EXPECT_EQ(WriteFileBytes(f.c_str(), d, 1, true), 0);
  EXPECT_EQ(read(f), "abcd");
  EXPECT_EQ(WriteFileBytes(f.c_str(), d, 1, false), 0);
  EXPECT_EQ(read(f), "d") << "without append the file is truncated";
  struct stat st {};
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(WriteFileBytes((dir / "new.bin").c_str(), d, 1, true), 0) << "append creates";
  EXPECT_EQ(WriteFileBytes((dir / "no/dir").c_str(), a, 3, false), -1);
  EXPECT_EQ(WriteFileBytes(nullptr, a, 3, false), -1);
  EXPECT_EQ(WriteFileBytes(f.c_str(), nullptr, 3, false), -1);
  fs::create_symlink(f, dir / "link");
  EXPECT_EQ(WriteFileBytes((dir / "link").c_str(), a, 3, false), -1) << "a link is not followed";
  EXPECT_EQ(read(f), "d");
  fs::remove_all(dir);
}

TEST(KernelGuard, RefusesWhenUnstartedAndTurnsExceptionsIntoErrMemory) {
  vexa::ModuleResetForTest();
  int ran = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(vexa::kernel::Guarded("CObjs::Test", [&] { ++ran; return 0; }), CObjDefs::ERR_GENERIC);
  EXPECT_EQ(vexa::kernel::GuardedAs<HRESULT>("X", E_FAIL, E_OUTOFMEMORY, [&] { ++ran; return S_OK; }), E_FAIL);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ran, 0) << "an unstarted engine refuses before the body";
  EXPECT_NE(err.find("CObjs::Test refused"), std::string::npos) << err;

  vexa::ModuleRunStart("vexakernel", [] { return 0; });
  EXPECT_EQ(vexa::kernel::Guarded("A", [] { return ToKernelStatus(0x6982); }), -0x6982);
  EXPECT_EQ(vexa::kernel::Guarded("A", [] { return ToKernelStatus(SCARD_W_REMOVED_CARD); }),
            static_cast<int32_t>(0x80100069u));
  EXPECT_EQ(vexa::kernel::Guarded("A", []() -> int { throw std::runtime_error("x"); }), CObjDefs::ERR_MEMORY);
  EXPECT_EQ(vexa::kernel::Guarded("A", []() -> int { throw std::bad_alloc(); }), CObjDefs::ERR_MEMORY);
  EXPECT_EQ(vexa::kernel::Guarded("A", []() -> int { throw 42; }), CObjDefs::ERR_MEMORY);
  EXPECT_EQ(vexa::kernel::GuardedAs<HRESULT>("X", E_FAIL, E_OUTOFMEMORY, []() -> HRESULT { throw 1; }),
            E_OUTOFMEMORY);
  vexa::ModuleResetForTest();
}

TEST(KernelGuard, TracedCallsWriteEntryAndExitLines) {
  char tmpl[] = "/tmp/vexa_kguard_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  fs::path dir = tmpl;
  std::ofstream(dir / "r.reg") << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n\"vexakernel\"=dword:1\n";
  setenv("VEXA_REGISTRY", (dir / "r.reg").c_str(), 1);
  fs::path log = dir / "k.api";
  ASSERT_EQ(TraceOpen(log.c_str(), "vexakernel", 4), 0);
  vexa::ModuleRunStart("vexakernel", [] { return 0; });
  EXPECT_EQ(vexa::kernel::GuardedTraced("CSlots::LoadSlots", [] { return 0; }), 0);
  EXPECT_EQ(vexa::kernel::GuardedTraced("CSlots::Attach", [] { return CSlotsDefs::ERR_NO_TOKEN; }), -7);
  EXPECT_EQ(vexa::kernel::GuardedTraced("CToken::Verify", [] { return ToKernelStatus(0x6983); }), -0x6983);
  TraceClose();
  vexa::ModuleResetForTest();
  unsetenv("VEXA_REGISTRY");
  std::ifstream in(log);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string t = ss.str();
  const char* lines[] = {"] IN  -> CSlots::LoadSlots\n", "] OUT -> CSlots::LoadSlots\n",
                         "] IN  -> CSlots::Attach\n",    "] OUT -> CSlots::Attach - ERR_NO_TOKEN\n",
                         "] OUT -> CToken::Verify - SW_6983\n"};
  std::size_t at = 0;
  for (const char* l : lines) {
    at = t.find(l, at);
    ASSERT_NE(at, std::string::npos) << l << "\n" << t;
  }
  fs::remove_all(dir);
}
