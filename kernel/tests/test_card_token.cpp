// CToken against the real pcscd: connecting, the cached card OS version checks,
// application selection, UID, ATR and closing.
#include <gtest/gtest.h>

#include <PCSC/pcsclite.h>

#include <memory>

#include "test_slot_env.h"
#include "vexa/kernel/status.h"
#include "vexa/kernel/token.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

using slot_test::EngineEnv;
using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;

namespace {

class CardToken : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_bed = std::make_unique<PcscTestbed>(1); }
  static void TearDownTestSuite() { s_bed.reset(); }
  void SetUp() override {
    env = std::make_unique<EngineEnv>();
    reader = s_bed->ReaderNames()[0];
  }
  void TearDown() override { env.reset(); }

  std::string Image(const std::string& version) {
    vexa::vcard::PersoOptions o;
    o.version = version;
    const std::string path = s_bed->Dir() + "/" + version + ".img";
    vexa::vcard::CreateCardImage(path, o);
    return path;
  }
  static int Count(const VirtualCard& card, std::vector<uint8_t> head) {
    int n = 0;
    for (const auto& e : card.Log())
      if (e.command.size() >= head.size() && std::equal(head.begin(), head.end(), e.command.begin())) ++n;
    return n;
  }

  static std::unique_ptr<PcscTestbed> s_bed;
  std::unique_ptr<EngineEnv> env;
  std::string reader;
};
std::unique_ptr<PcscTestbed> CardToken::s_bed;

}  // namespace

TEST_F(CardToken, EmptyReaderIsNoCard) {
  CToken t(1, reader);
  EXPECT_EQ(t.OpenToken(), ToKernelStatus(SCARD_W_REMOVED_CARD));
  EXPECT_FALSE(t.IsConnected());
}

TEST_F(CardToken, VersionChecksAreCachedAndM420CoversM42b) {
  VirtualCard card(*s_bed, reader, Image("M4.2b"));
  card.ClearLog();
  CToken t(1, reader);
  ASSERT_EQ(t.OpenToken(), 0);
  BOOL is = TRUE;
  ASSERT_EQ(t.IsM420(&is), 0);
  EXPECT_FALSE(is) << "asked of the card: C8 09 is not M4.20";
  EXPECT_EQ(t.TavrixVersion(), 0);
  ASSERT_EQ(t.IsM42b(&is), 0);
  EXPECT_TRUE(is);
  EXPECT_EQ(t.TavrixVersion(), 43);
  ASSERT_EQ(t.IsM420(&is), 0);
  EXPECT_TRUE(is) << "from the cache, M4.2b counts as M4.20";
  ASSERT_EQ(t.IsM440(&is), 0);
  EXPECT_FALSE(is);
  ASSERT_EQ(t.IsM4(&is), 0);
  EXPECT_FALSE(is);
  EXPECT_EQ(Count(card, {0x00, 0xCA, 0x01, 0x82}), 1) << "one version query for the connection";
  EXPECT_EQ(t.IsM420(nullptr), CObjDefs::ERR_INVALID_PARAMETER);
}

TEST_F(CardToken, M3IsRecognisedButNeverCached) {
  VirtualCard card(*s_bed, reader, Image("M3"));
  CToken t(1, reader);
  ASSERT_EQ(t.OpenToken(), 0);
  BOOL is = FALSE;
  ASSERT_EQ(t.IsM3(&is), 0);
  EXPECT_TRUE(is);
  EXPECT_EQ(t.TavrixVersion(), 0);
  ASSERT_EQ(t.IsM4(&is), 0);
  EXPECT_FALSE(is);
  long major = 0, minor = 0;
  ASSERT_EQ(t.GetTokenVersion(&major, &minor), 0);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 0);
}

TEST_F(CardToken, SelectUidAtrAndClose) {
  VirtualCard card(*s_bed, reader, Image("M4.01"));
  CToken t(3, reader);
  EXPECT_EQ(t.SlotHandle(), 3u);
  EXPECT_EQ(t.SharedData().Size(), CToken::kSharedBlockSize);
  ASSERT_EQ(t.OpenToken(), 0);
  card.ClearLog();
  ASSERT_EQ(t.SelectAID(), 0) << "the configured AID";
  EXPECT_EQ(t.CurrentAID(), (std::vector<BYTE>{0xA0, 0x00, 0x00, 0x07, 0x56, 0x45, 0x58, 0x41, 0x01}));
  const auto log = card.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].command, (std::vector<uint8_t>{0x00, 0xA4, 0x04, 0x00, 0x09, 0xA0, 0x00, 0x00, 0x07, 0x56,
                                                  0x45, 0x58, 0x41, 0x01}));
  const BYTE missing[] = {0xA0, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(t.SelectAID(missing), -0x6A82);
  EXPECT_EQ(t.CurrentAID(), (std::vector<BYTE>(missing, missing + 5)));

  std::vector<BYTE> uid;
  ASSERT_EQ(t.GetUID(uid), 0);
  EXPECT_EQ(uid, (std::vector<BYTE>{0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
  const BYTE atr[] = {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x03, 0x15};
  EXPECT_EQ(t.IsSameATR(atr), 1);
  BYTE other[sizeof atr];
  std::copy(std::begin(atr), std::end(atr), other);
  other[11] = 0x04;
  EXPECT_EQ(t.IsSameATR(other), 0);
  EXPECT_EQ(t.IsSameATR(std::span<const BYTE>(atr, 5)), 0);

  const BYTE key[] = {'k'}, v1[] = {1}, v2[] = {2, 3};
  EXPECT_EQ(t.SetTokenAttribute(key, {}), CObjDefs::ERR_NO_ATTRIBUTE_FOUND);
  ASSERT_EQ(t.SetTokenAttribute(key, v1), 0);
  ASSERT_EQ(t.SetTokenAttribute(key, v2), 0);  // replaced in place
  std::vector<BYTE> got;
  ASSERT_EQ(t.GetTokenAttribute(key, got), 0);
  EXPECT_EQ(got, (std::vector<BYTE>{2, 3}));

  ASSERT_EQ(t.CloseToken(uid, FALSE), 0);
  EXPECT_FALSE(t.IsConnected());
  EXPECT_EQ(t.GetTokenAttribute(key, got), CObjDefs::ERR_NO_ATTRIBUTE_FOUND) << "the store is cleared";
}
