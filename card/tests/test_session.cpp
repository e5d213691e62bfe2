// The card session against the real pcscd with virtual readers and a virtual
// card: empty readers, the reader list, the bytes that reach the card (read
// from the card's own log), a card pulled in the middle of a command, and
// reader selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "support/child_process.h"
#include "support/scoped_registry.h"
#include "vexa/card/card_session.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;
using Bytes = std::vector<BYTE>;

namespace {

class CardSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_bed = std::make_unique<PcscTestbed>(2);
    s_readers = s_bed->ReaderNames();
    s_image = s_bed->Dir() + "/m410.img";
    vexa::vcard::PersoOptions opts;
    opts.version = "M4.10";
    vexa::vcard::CreateCardImage(s_image, opts);
  }
  static void TearDownTestSuite() { s_bed.reset(); }
  const std::string& Reader(int i) const { return s_readers.at(static_cast<std::size_t>(i)); }

  static std::unique_ptr<PcscTestbed> s_bed;
  static std::vector<std::string> s_readers;
  static std::string s_image;
};
std::unique_ptr<PcscTestbed> CardSessionTest::s_bed;
std::vector<std::string> CardSessionTest::s_readers;
std::string CardSessionTest::s_image;

APDU Make(BYTE cla, BYTE ins, BYTE p1, BYTE p2) {
  APDU a;
  a.CLA = cla;
  a.INS = ins;
  a.P1 = p1;
  a.P2 = p2;
  return a;
}

TEST_F(CardSessionTest, EmptyReaderConnectsWithRemovedCardAndKeepsTheName) {
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  EXPECT_EQ(s.Connect(Reader(1).c_str()), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(std::string(s.GetReaderName()), Reader(1));
  EXPECT_EQ(s.Send(Make(0x00, 0xCA, 0x01, 0x82), nullptr, nullptr), SCARD_E_INVALID_HANDLE);
}

TEST_F(CardSessionTest, ReaderListWithAndWithoutEmptyReadersNeverWithAnExclusivelyHeldOne) {
  VirtualCard card(*s_bed, Reader(0), s_image);
  const std::string heldImage = s_bed->Dir() + "/held.img";
  vexa::vcard::CreateCardImage(heldImage, vexa::vcard::PersoOptions{});
  VirtualCard held(*s_bed, Reader(3), heldImage);
  vexa::card::test::ChildProcess holder({std::string(VEXA_CARD_HELPER_DIR) + "/card_helper_hold_exclusive", Reader(3)});
  ASSERT_EQ(holder.ReadLine(), "ready");

  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  std::vector<std::string> list;
  s.GetReaderList(TRUE, list);
  EXPECT_EQ(std::set<std::string>(list.begin(), list.end()), (std::set<std::string>{Reader(0)}));
  s.GetReaderList(FALSE, list);
  EXPECT_EQ(std::set<std::string>(list.begin(), list.end()),
            (std::set<std::string>{Reader(0), Reader(1), Reader(2)}));
  EXPECT_EQ(holder.Finish(), 0);
  s.GetReaderList(TRUE, list);  // released: listed again
  EXPECT_EQ(std::set<std::string>(list.begin(), list.end()), (std::set<std::string>{Reader(0), Reader(3)}));
}

TEST_F(CardSessionTest, ChannelByteReplacesClassZeroOnlyAndExtendedCommandsKeepTheirLayout) {
  VirtualCard card(*s_bed, Reader(0), s_image);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect(Reader(0).c_str()), SCARD_S_SUCCESS);

  BYTE buf[255];
  BYTE len = sizeof buf;
  APDU version = Make(0x00, 0xCA, 0x01, 0x82);
  version.Le = 0x02;
  ASSERT_EQ(s.Send(version, buf, &len), 0);  // basic channel: the card OS version
  ASSERT_EQ(len, 2);
  EXPECT_EQ(buf[0], 0xC8);
  EXPECT_EQ(buf[1], 0x05);

  s.Set_ChannelUsed(2);
  BYTE sw1 = 0, sw2 = 0;
  len = sizeof buf;
  EXPECT_EQ(s.Send(version, buf, &len, &sw1, &sw2), 0);
  len = sizeof buf;
  EXPECT_EQ(s.Send(Make(0x0C, 0xCA, 0x01, 0x82), buf, &len, &sw1, &sw2), 0);
  s.Set_ChannelUsed(0);

  Bytes data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i);
  APDU ext = Make(0x00, 0x2A, 0x80, 0x86);
  ext.bExtended = 1;
  ext.LcExtHi = 0x01;
  ext.LcExtLo = 0x2C;
  ext.pData = data.data();
  ext.Le = 0x01;
  ext.LeExtHi = 0x00;
  Bytes out(1024);
  WORD wlen = static_cast<WORD>(out.size());
  EXPECT_EQ(s.SendExt(ext, out.data(), &wlen, &sw1, &sw2), 0);

  const auto log = card.Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].command, (Bytes{0x00, 0xCA, 0x01, 0x82, 0x02}));
  EXPECT_EQ(log[1].command, (Bytes{0x02, 0xCA, 0x01, 0x82, 0x02}));
  EXPECT_EQ(log[2].command, (Bytes{0x0C, 0xCA, 0x01, 0x82}));
  Bytes expected = {0x00, 0x2A, 0x80, 0x86, 0x00, 0x01, 0x2C};
  expected.insert(expected.end(), data.begin(), data.end());
  expected.push_back(0x01);
  expected.push_back(0x00);
  EXPECT_EQ(log[3].command, expected);
  // What the card answered is what the caller got.
  ASSERT_GE(log[3].response.size(), 2u);
  EXPECT_EQ(sw1, log[3].response[log[3].response.size() - 2]);
  EXPECT_EQ(sw2, log[3].response.back());
  EXPECT_EQ(s.GetCommandCount(), 4u);
}

TEST_F(CardSessionTest, AtrAndTransactionsOnTheVirtualCard) {
  VirtualCard card(*s_bed, Reader(2), s_image);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect(Reader(2).c_str()), SCARD_S_SUCCESS);
  BYTE atr[33];
  DWORD cb = sizeof atr;
  ASSERT_EQ(s.GetATR(atr, &cb), SCARD_S_SUCCESS);
  EXPECT_EQ(Bytes(atr, atr + cb),
            (Bytes{0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x05, 0x13}));
  s.LockSC();
  APDU life = Make(0x00, 0xCA, 0x01, 0x83);
  life.Le = 1;
  BYTE buf[255];
  BYTE len = sizeof buf;
  EXPECT_EQ(s.Send(life, buf, &len), 0);
  EXPECT_EQ(len, 1);
  s.UnlockSC();
  EXPECT_EQ(s.ReConnect(), SCARD_S_SUCCESS);
  len = sizeof buf;
  EXPECT_EQ(s.Send(life, buf, &len), 0);
  EXPECT_EQ(s.Disconnect(), SCARD_S_SUCCESS);
}

TEST_F(CardSessionTest, CardPulledInTheMiddleOfACommandIsAnErrorNotAStatus) {
  VirtualCard card(*s_bed, Reader(0), s_image);
  card.Remove();
  card.InsertPullingOutOn(0xB0);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect(Reader(0).c_str()), SCARD_S_SUCCESS);
  APDU read = Make(0x00, 0xB0, 0x00, 0x00);
  read.Le = 0x10;
  BYTE buf[255];
  BYTE len = sizeof buf;
  const LONG rc = s.Send(read, buf, &len);
  EXPECT_TRUE(rc == SCARD_W_REMOVED_CARD || rc == SCARD_F_COMM_ERROR) << std::hex << rc;
  card.Remove();
  len = sizeof buf;
  const LONG later = s.Send(read, buf, &len);
  // A PC/SC error (negative as a 32-bit value), never 0 or a status word.
  EXPECT_LT(static_cast<int32_t>(later), 0) << std::hex << later;
}

TEST_F(CardSessionTest, SilentSelectionFindsTheReaderOfARegisteredCard) {
  vexa::card::test::ScopedRegistry reg(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXA - Tavrix M4.10]\n"
      "\"ATR\"=hex:3b,f2,98,00,ff,c1,10,31,fe,55,c8,05,13\n"
      "\"Crypto Provider\"=\"VEXA_CSP\"\n");
  const std::string otherImage = s_bed->Dir() + "/m40.img";
  vexa::vcard::PersoOptions opts;
  opts.version = "M4.0";
  vexa::vcard::CreateCardImage(otherImage, opts);
  VirtualCard other(*s_bed, Reader(0), otherImage);
  VirtualCard served(*s_bed, Reader(3), s_image);
  std::string reader;
  EXPECT_EQ(CCardSession::SmartCardDialog(reader, TRUE), 1);
  EXPECT_EQ(reader, Reader(3));
  served.Remove();
  EXPECT_EQ(CCardSession::SmartCardDialog(reader, TRUE), 0);
  EXPECT_EQ(CCardSession::GetLastDialogError(), SCARD_E_NO_SMARTCARD);
}

}  // namespace
