// Reader selection over a fake PC/SC service and registry files of the test's
// own: the reader whose card is a registered card type of this provider.
#include <gtest/gtest.h>

#include "card_types.h"
#include "support/fake_pcsc.h"
#include "support/scoped_registry.h"
#include "vexa/card/card_session.h"

using vexa::card::test::FakePcsc;
using vexa::card::test::ScopedRegistry;
using Bytes = std::vector<BYTE>;

namespace {

const Bytes kM401 = {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x03, 0x15};
const Bytes kM410 = {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x05, 0x13};
const Bytes kForeign = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00};

const char* kTypes =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXA - Tavrix M4.01]\n"
    "\"ATR\"=hex:3b,f2,98,00,ff,c1,10,31,fe,55,c8,03,15\n"
    "\"Crypto Provider\"=\"VEXA_CSP\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Foreign Card]\n"
    "\"ATR\"=hex:3b,8f,80,01,80,4f,0c,a0,00\n"
    "\"Crypto Provider\"=\"Other Provider\"\n";

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.AddReader("A 00 00", true, kForeign);
    fake.AddReader("B 00 00", false);
    fake.AddReader("C 00 00", true, kM401);
  }
  FakePcsc fake;
};

TEST_F(DialogTest, SilentSelectionTakesTheReaderWithAServedCard) {
  ScopedRegistry reg(kTypes);
  for (BOOL silent : {TRUE, FALSE}) {
    std::string reader;
    EXPECT_EQ(CCardSession::SmartCardDialog(reader, silent), 1);
    EXPECT_EQ(reader, "C 00 00");
    EXPECT_EQ(CCardSession::GetLastDialogError(), 0);
  }
  EXPECT_EQ(fake.LiveContexts(), 0);
}

TEST_F(DialogTest, NoServedCardMeansNoReaderChosen) {
  ScopedRegistry reg(kTypes);
  fake.SetCard("C 00 00", false);
  std::string reader = "stale";
  EXPECT_EQ(CCardSession::SmartCardDialog(reader, TRUE), 0);
  EXPECT_EQ(reader, "");
  EXPECT_EQ(CCardSession::GetLastDialogError(), SCARD_E_NO_SMARTCARD);
  EXPECT_EQ(fake.LiveContexts(), 0);
}

TEST_F(DialogTest, WithoutCardTypesOfThisProviderEveryCardQualifies) {
  for (const char* text : {"", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Foreign Card]\n"
                                "\"ATR\"=hex:3b,00\n\"Crypto Provider\"=\"Other Provider\"\n"}) {
    ScopedRegistry reg(text);
    std::string reader;
    EXPECT_EQ(CCardSession::SmartCardDialog(reader, TRUE), 1);
    EXPECT_EQ(reader, "A 00 00");
  }
}

TEST_F(DialogTest, AtrMaskIsApplied) {
  // One registered type covering every M4.x version byte and check byte.
  ScopedRegistry reg(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXA - any M4]\n"
      "\"ATR\"=hex:3b,f2,98,00,ff,c1,10,31,fe,55,c8,00,00\n"
      "\"ATRMask\"=hex:ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,00,00\n"
      "\"Crypto Provider\"=\"VEXA_CSP\"\n");
  fake.SetCard("C 00 00", false);
  fake.AddReader("D 00 00", true, kM410);
  std::string reader;
  EXPECT_EQ(CCardSession::SmartCardDialog(reader, TRUE), 1);
  EXPECT_EQ(reader, "D 00 00");
}

TEST_F(DialogTest, CallersBufferGetsTheNameAndItsLength) {
  ScopedRegistry reg(kTypes);
  char buf[64];
  DWORD len = 4;
  EXPECT_EQ(CCardSession::SmartCardDialog(buf, &len, TRUE), 0);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(CCardSession::GetLastDialogError(), SCARD_E_INSUFFICIENT_BUFFER);
  len = sizeof buf;
  EXPECT_EQ(CCardSession::SmartCardDialog(buf, &len, TRUE), 1);
  EXPECT_STREQ(buf, "C 00 00");
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(CCardSession::SmartCardDialog(buf, nullptr, TRUE), 0);
}

TEST_F(DialogTest, NoContextNoReader) {
  ScopedRegistry reg(kTypes);
  fake.ScriptEstablish({SCARD_E_NO_SERVICE});
  std::string reader;
  EXPECT_EQ(CCardSession::SmartCardDialog(reader, TRUE), 0);
  EXPECT_EQ(CCardSession::GetLastDialogError(), SCARD_E_NO_SERVICE);
}

TEST(CardTypes, SubkeyNamesComeFromTheSectionLines) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXA - Tavrix M4.0]\r\n"
      "\"ATR\"=hex:3b\r\n"
      "  [HKEY_LOCAL_MACHINE\\Software\\microsoft\\Cryptography\\Calais\\SmartCards\\VEXA - Tavrix M4.01  (Velmoranta)]  \n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\vexa - tavrix m4.0]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Deeper\\Key]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards]\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\User Card]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Unclosed\n"
      "\"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\InAValue]\"=\"x\"\n";
  EXPECT_EQ(vexa::card::CardTypeNames(text),
            (std::vector<std::string>{"VEXA - Tavrix M4.0", "VEXA - Tavrix M4.01  (Velmoranta)"}));
}

TEST(CardTypes, AtrMatchNeedsTheSameLength) {
  vexa::card::CardType t{"x", {0x3B, 0x02, 0x14}, {}, "VEXA_CSP"};
  EXPECT_TRUE(vexa::card::AtrMatches(t, Bytes{0x3B, 0x02, 0x14}));
  EXPECT_FALSE(vexa::card::AtrMatches(t, Bytes{0x3B, 0x02, 0x14, 0x00}));
  EXPECT_FALSE(vexa::card::AtrMatches(t, Bytes{0x3B, 0x02}));
  EXPECT_FALSE(vexa::card::AtrMatches(t, Bytes{0x3B, 0x02, 0x15}));
  t.mask = {0xFF, 0xFF};  // a mask of another length is not used
  EXPECT_FALSE(vexa::card::AtrMatches(t, Bytes{0x3B, 0x02, 0x15}));
}

}  // namespace
