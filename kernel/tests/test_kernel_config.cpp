// Reading the engine's configuration: defaults, numbers, flags, and "AID".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "vexa/kernel/config.h"

namespace fs = std::filesystem;
using vexa::kernel::KernelConfig;

namespace {

class KernelConfigRead : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa_kcfg_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    reg = dir / "registry.reg";
    setenv("VEXA_REGISTRY", reg.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VEXA_REGISTRY");
    fs::remove_all(dir);
  }
  int Read(const std::string& values, KernelConfig& c, std::string& cause) {
    std::ofstream(reg) << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n" << values;
    return vexa::kernel::ReadKernelConfig(c, cause);
  }
  fs::path dir, reg;
};

const std::string kAid = "\"AID\"=hex:a0,00,00,00,63\n";

}  // namespace

TEST_F(KernelConfigRead, DefaultsWhenOnlyAidIsThere) {
  KernelConfig c;
  std::string cause;
  ASSERT_EQ(Read(kAid, c, cause), 0) << cause;
  EXPECT_EQ(c.aid, (std::vector<BYTE>{0xA0, 0, 0, 0, 0x63}));
  EXPECT_EQ(c.slotTimeOutSec, 5u);
  EXPECT_EQ(c.serializeTimerMs, 15000u);
  EXPECT_FALSE(c.compressCerts || c.compressData || c.softKeyGen || c.citrixTS || c.findCertByID);
  EXPECT_EQ(c.gdoLog, 0u);
}

TEST_F(KernelConfigRead, NumbersAndFlags) {
  KernelConfig c;
  std::string cause;
  ASSERT_EQ(Read(kAid +
                     "\"TokenTimeOut\"=dword:00000100\n"  // 256: a stored number, not absent
                     "\"SerializeGDO\"=dword:00000003\n"
                     "\"Compress Certs\"=\"1\"\n"         // text: first byte '1' -> off
                     "\"Compress Data\"=dword:00000001\n"
                     "\"SoftKeyGen\"=hex:01\n"
                     "\"CitrixTS\"=dword:00000002\n"      // first byte 2 -> off
                     "\"FindCertByID\"=dword:00000101\n"  // first byte 1 -> on
                     "\"GDO_log\"=dword:00000007\n",
                 c, cause),
            0)
      << cause;
  EXPECT_EQ(c.slotTimeOutSec, 256u);
  EXPECT_EQ(c.serializeTimerMs, 3000u);
  EXPECT_FALSE(c.compressCerts);
  EXPECT_TRUE(c.compressData);
  EXPECT_TRUE(c.softKeyGen);
  EXPECT_FALSE(c.citrixTS);
  EXPECT_TRUE(c.findCertByID);
  EXPECT_EQ(c.gdoLog, 7u);

  ASSERT_EQ(Read(kAid + "\"SerializeGDO\"=dword:ffffffff\n", c, cause), 0);
  EXPECT_EQ(c.serializeTimerMs, 4294967u * 1000u) << "the delay saturates instead of wrapping";
}

TEST_F(KernelConfigRead, AidMissingOrUnusable) {
  struct Case {
    std::string values;
    const char* says;
  };
  std::string longAid = "\"AID\"=hex:00";
  for (int i = 0; i < 255; ++i) longAid += ",11";
  const Case cases[] = {
      {"\"TokenTimeOut\"=dword:5\n", "\"AID\" is missing"},
      {"\"AID\"=hex:\n", "has 0 bytes"},
      {longAid + "\n", "has 256 bytes"},
  };
  for (const auto& c : cases) {
    KernelConfig cfg;
    std::string cause;
    EXPECT_EQ(Read(c.values, cfg, cause), -1);
    EXPECT_NE(cause.find(c.says), std::string::npos) << cause;
    EXPECT_NE(cause.find(reg.string()), std::string::npos) << cause;
  }
  fs::remove(reg);
  KernelConfig cfg;
  std::string cause;
  EXPECT_EQ(vexa::kernel::ReadKernelConfig(cfg, cause), -1);
  EXPECT_NE(cause.find("\"AID\""), std::string::npos) << cause;
}

TEST(KernelConfigValues, AccessorsAndRefreshMark) {
  KernelConfig c;
  c.aid = {1, 2, 3};
  c.serializeTimerMs = 3000;
  c.citrixTS = true;
  vexa::kernel::SetConfig(c);
  EXPECT_EQ(vexa::kernel::DefaultAID().size(), 3u);
  EXPECT_EQ(vexa::kernel::SerializeTimerMs(), 3000u);
  EXPECT_TRUE(vexa::kernel::CitrixTS());
  EXPECT_FALSE(vexa::kernel::SoftKeyGen());
  vexa::kernel::SetRefreshMark(0);
  EXPECT_EQ(vexa::kernel::RaiseRefreshMark(), 1);
  EXPECT_EQ(vexa::kernel::RefreshMark(), 1);
}
