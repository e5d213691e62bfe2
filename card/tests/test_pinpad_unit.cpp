// PIN-pad detection and verification with fake PIN-pad libraries of the tests'
// own, named through the registry value "PinPadLibrary".
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/fake_pcsc.h"
#include "support/scoped_registry.h"
#include "vexa/card/card_session.h"
#include "vexa/card/pinpad.h"

using vexa::card::test::FakePcsc;
using vexa::card::test::ScopedRegistry;

namespace {

const std::string kFake = std::string(VEXA_CARD_TEST_LIBDIR) + "/libscardspen.so";
const std::string kNoFunction = std::string(VEXA_CARD_TEST_LIBDIR) + "/libnopinpad.so";

std::string RegistryNaming(const std::string& lib) {
  return "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n\"PinPadLibrary\"=\"" + lib + "\"\n";
}

// Keeps the fake library loaded for the test, so that the state it records
// survives the session's own load and unload.
class FakePinPad {
 public:
  FakePinPad() : m_h(dlopen(kFake.c_str(), RTLD_NOW)) {
    if (m_h == nullptr) return;
    answer = reinterpret_cast<void (*)(LONG, BYTE, BYTE)>(dlsym(m_h, "FakePinPadAnswer"));
    lastCall = reinterpret_cast<int (*)(SCARDHANDLE*, BYTE*, DWORD*, DWORD*)>(dlsym(m_h, "FakePinPadLastCall"));
  }
  ~FakePinPad() {
    if (m_h != nullptr) dlclose(m_h);
  }
  bool ok() const { return m_h != nullptr && answer != nullptr && lastCall != nullptr; }
  void (*answer)(LONG, BYTE, BYTE) = nullptr;
  int (*lastCall)(SCARDHANDLE*, BYTE*, DWORD*, DWORD*) = nullptr;

 private:
  void* m_h;
};

TEST(PinPad, EnabledOnlyWhenTheLibraryLoads) {
  {
    ScopedRegistry reg(RegistryNaming(kFake));
    EXPECT_EQ(CCardSession::isPinPadEnabled(), 1);
  }
  {
    ScopedRegistry reg(RegistryNaming("/nonexistent/libscardspen.so"));
    EXPECT_EQ(CCardSession::isPinPadEnabled(), 0);
  }
}

TEST(PinPad, VerificationSendsTheRequestBlockAndMapsTheStatus) {
  ScopedRegistry reg(RegistryNaming(kFake));
  FakePinPad pad;
  ASSERT_TRUE(pad.ok()) << dlerror();
  FakePcsc fake;
  fake.AddReader("R 00 00", true);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect("R 00 00"), SCARD_S_SUCCESS);

  const BYTE expected[32] = {0x52, 0x06, 0x01, 0x06, 0x00, 0x20, 0x00, 0x81, 0x80, 0x01, 0x20};
  struct Case {
    LONG result;
    BYTE sw1, sw2;
    LONG expected;
  };
  const Case cases[] = {{0, 0x90, 0x00, 0},
                        {0, 0x63, 0xC2, 0x63C2},
                        {0, 0x69, 0x83, 0x6983},
                        {static_cast<LONG>(SCARD_W_CANCELLED_BY_USER), 0x90, 0x00,
                         static_cast<LONG>(SCARD_W_CANCELLED_BY_USER)}};
  int calls = 0;
  for (const Case& c : cases) {
    pad.answer(c.result, c.sw1, c.sw2);
    EXPECT_EQ(s.PinPadVerify(0x01), c.expected);
    SCARDHANDLE h = 0;
    BYTE req[32] = {};
    DWORD cbReq = 0, cbSw = 0;
    EXPECT_EQ(pad.lastCall(&h, req, &cbReq, &cbSw), ++calls);
    EXPECT_EQ(h, s.GetCardHandle());
    EXPECT_EQ(cbReq, 32u);
    EXPECT_EQ(cbSw, 2u);
    EXPECT_EQ(std::memcmp(req, expected, 32), 0);
  }
  // The reference gets bit 0x80 whether or not the caller set it.
  pad.answer(0, 0x90, 0x00);
  EXPECT_EQ(s.PinPadVerify(0x82), 0);
  SCARDHANDLE h = 0;
  BYTE req[32] = {};
  DWORD cbReq = 0, cbSw = 0;
  pad.lastCall(&h, req, &cbReq, &cbSw);
  EXPECT_EQ(req[7], 0x82);
}

TEST(PinPad, MissingLibraryOrFunctionGivesMinusOne) {
  FakePcsc fake;
  fake.AddReader("R 00 00", true);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect("R 00 00"), SCARD_S_SUCCESS);
  for (const std::string& lib : {std::string("/nonexistent/libscardspen.so"), kNoFunction}) {
    ScopedRegistry reg(RegistryNaming(lib));
    EXPECT_EQ(s.PinPadVerify(0x01), -1) << lib;
  }
}

TEST(PinPad, WithoutACardNothingIsCalled) {
  ScopedRegistry reg(RegistryNaming(kFake));
  FakePinPad pad;
  ASSERT_TRUE(pad.ok());
  SCARDHANDLE h = 0;
  BYTE req[32];
  DWORD a = 0, b = 0;
  const int before = pad.lastCall(&h, req, &a, &b);
  CCardSession s;
  EXPECT_EQ(s.PinPadVerify(0x01), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(pad.lastCall(&h, req, &a, &b), before);
}

}  // namespace
