// The card session over a fake PC/SC service: command encodings, response
// handling, repetition, contexts, connections, reader list, transactions and
// the masking of secrets in the APDU trace.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "apdu_codec.h"
#include "support/fake_pcsc.h"
#include "support/scoped_registry.h"
#include "vexa/card/card_session.h"
#include "vexa/platform/trace.h"

using vexa::card::SendForm;
using vexa::card::test::FakePcsc;
using Bytes = std::vector<BYTE>;

namespace {

const char* kReader = "Virtual Reader 00 00";

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Filled(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>(i * 7 + 1);
  return b;
}

const Bytes kData300 = Filled(300);
const BYTE kFid[] = {0x3F, 0x00};
const BYTE kEf[] = {0x50, 0x15};

APDU Make(BYTE cla, BYTE ins, BYTE p1, BYTE p2) {
  APDU a;
  a.CLA = cla;
  a.INS = ins;
  a.P1 = p1;
  a.P2 = p2;
  return a;
}

// ---- encodings, written out by hand ----

struct EncodeCase {
  const char* name;
  APDU apdu;
  BYTE channel;
  SendForm form;
  Bytes expected;
};

std::vector<EncodeCase> EncodeCases() {
  std::vector<EncodeCase> c;
  c.push_back({"header only", Make(0x00, 0xA4, 0x03, 0x00), 0, SendForm::kSend, {0x00, 0xA4, 0x03, 0x00}});
  {
    APDU a = Make(0x00, 0xCA, 0x01, 0x82);
    a.Le = 0x02;
    c.push_back({"Le only", a, 0, SendForm::kSend, {0x00, 0xCA, 0x01, 0x82, 0x02}});
  }
  {
    APDU a = Make(0x00, 0xA4, 0x04, 0x00);
    a.Lc = 2;
    a.pData = kFid;
    c.push_back({"data without Le", a, 0, SendForm::kSend, {0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}});
  }
  {
    APDU a = Make(0x00, 0xA4, 0x02, 0x00);
    a.Lc = 2;
    a.pData = kEf;
    a.Le = 0x10;
    c.push_back({"data and Le", a, 0, SendForm::kSend, {0x00, 0xA4, 0x02, 0x00, 0x02, 0x50, 0x15, 0x10}});
  }
  {
    APDU a = Make(0x00, 0xB0, 0x00, 0x00);
    a.Le = 0x70;
    c.push_back({"CLA 00 on channel 2", a, 2, SendForm::kSend, {0x02, 0xB0, 0x00, 0x00, 0x70}});
    c.push_back({"CLA 00 on the basic channel", a, 0, SendForm::kSend, {0x00, 0xB0, 0x00, 0x00, 0x70}});
  }
  {
    APDU a = Make(0x0C, 0x20, 0x00, 0x81);
    c.push_back({"CLA 0C on channel 2 unchanged", a, 2, SendForm::kSend, {0x0C, 0x20, 0x00, 0x81}});
    APDU b = Make(0x80, 0x10, 0x00, 0x00);
    c.push_back({"CLA 80 on channel 3 unchanged", b, 3, SendForm::kSend, {0x80, 0x10, 0x00, 0x00}});
  }
  {
    APDU a = Make(0x00, 0xB0, 0x00, 0x00);
    a.bExtended = 1;
    a.LeExtHi = 0x01;
    a.LeExtLo = 0x00;
    c.push_back({"extended without data", a, 0, SendForm::kSend, {0x00, 0xB0, 0x00, 0x00, 0x00, 0x01, 0x00}});
  }
  {
    APDU a = Make(0x00, 0xD6, 0x00, 0x00);
    a.bExtended = 1;
    a.LcExtHi = 0x01;
    a.LcExtLo = 0x2C;
    a.pData = kData300.data();
    c.push_back({"extended data without Le", a, 0, SendForm::kSendExt,
                 Concat({{0x00, 0xD6, 0x00, 0x00, 0x00, 0x01, 0x2C}, kData300})});
  }
  {
    APDU a = Make(0x00, 0x2A, 0x80, 0x86);
    a.bExtended = 1;
    a.LcExtHi = 0x01;
    a.LcExtLo = 0x2C;
    a.pData = kData300.data();
    a.Le = 0x01;
    a.LeExtHi = 0x00;
    c.push_back({"SendExt, 300 bytes, Le 0x0100", a, 0, SendForm::kSendExt,
                 Concat({{0x00, 0x2A, 0x80, 0x86, 0x00, 0x01, 0x2C}, kData300, {0x01, 0x00}})});
    a.Le = 0x90;
    c.push_back({"SendExt puts 01 before the extended Le byte", a, 0, SendForm::kSendExt,
                 Concat({{0x00, 0x2A, 0x80, 0x86, 0x00, 0x01, 0x2C}, kData300, {0x01, 0x00}})});
    c.push_back({"Send sends the short Le and the extended Le byte", a, 0, SendForm::kSend,
                 Concat({{0x00, 0x2A, 0x80, 0x86, 0x00, 0x01, 0x2C}, kData300, {0x90, 0x00}})});
    a.Le = 0x00;
    a.LeExtHi = 0x02;
    c.push_back({"SendExt, extended Le byte only", a, 0, SendForm::kSendExt,
                 Concat({{0x00, 0x2A, 0x80, 0x86, 0x00, 0x01, 0x2C}, kData300, {0x01, 0x02}})});
  }
  return c;
}

TEST(ApduEncoding, BuildsTheCommandBytesOfEveryForm) {
  for (const EncodeCase& c : EncodeCases()) {
    Bytes out;
    ASSERT_EQ(vexa::card::EncodeCommand(c.apdu, c.channel, c.form, out), 0) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

TEST(ApduEncoding, RefusesAnnouncedDataWithoutPointer) {
  APDU a = Make(0x00, 0xD6, 0x00, 0x00);
  a.Lc = 4;
  Bytes out;
  EXPECT_EQ(vexa::card::EncodeCommand(a, 0, SendForm::kSend, out), SCARD_E_INVALID_PARAMETER);
  a.Lc = 0;
  a.bExtended = 1;
  a.LcExtLo = 1;
  EXPECT_EQ(vexa::card::EncodeCommand(a, 0, SendForm::kSendExt, out), SCARD_E_INVALID_PARAMETER);
}

// ---- the session over the fake service ----

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.AddReader(kReader, true, {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x03, 0x15});
    ASSERT_TRUE(session.InitRM());
    ASSERT_EQ(session.Connect(kReader), SCARD_S_SUCCESS);
  }
  void Answer(Bytes response) {
    fake.SetCardFn([response](const Bytes&) { return response; });
  }
  FakePcsc fake;
  CCardSession session;
};

TEST_F(SessionTest, CommandsGoOutThroughTheSessionWithItsChannelByte) {
  session.Set_ChannelUsed(2);
  BYTE ch = 0;
  EXPECT_EQ(session.Get_ChannelUsed(&ch), 0);
  EXPECT_EQ(ch, 2);
  EXPECT_EQ(session.Send(Make(0x00, 0xA4, 0x03, 0x00), nullptr, nullptr), 0);
  EXPECT_EQ(session.Send(Make(0x0C, 0xA4, 0x03, 0x00), nullptr, nullptr), 0);
  APDU ext = EncodeCases()[10].apdu;  // SendExt, 300 bytes, Le 0x0100
  WORD len = 0;
  BYTE sw1 = 0, sw2 = 0;
  EXPECT_EQ(session.SendExt(ext, nullptr, &len, &sw1, &sw2), 0);
  const auto sent = fake.Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], (Bytes{0x02, 0xA4, 0x03, 0x00}));
  EXPECT_EQ(sent[1], (Bytes{0x0C, 0xA4, 0x03, 0x00}));
  EXPECT_EQ(sent[2], Concat({{0x02, 0x2A, 0x80, 0x86, 0x00, 0x01, 0x2C}, kData300, {0x01, 0x00}}));
  EXPECT_EQ(session.GetCommandCount(), 3u);
}

TEST_F(SessionTest, StatusOnlyResponseGivesLengthZeroAndTheStatus) {
  Answer({0x6A, 0x82});
  BYTE buf[255];
  BYTE len = sizeof buf;
  BYTE sw1 = 0, sw2 = 0;
  EXPECT_EQ(session.Send(Make(0x00, 0xA4, 0x00, 0x00), buf, &len, &sw1, &sw2), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(sw1, 0x6A);
  EXPECT_EQ(sw2, 0x82);
  len = sizeof buf;
  EXPECT_EQ(session.Send(Make(0x00, 0xA4, 0x00, 0x00), buf, &len), 0x6A82);
}

TEST_F(SessionTest, ResponseDataAreCopiedAndStatusWordsPassUnchanged) {
  Answer({0xC8, 0x03, 0x90, 0x00});
  BYTE buf[255];
  BYTE len = sizeof buf;
  EXPECT_EQ(session.Send(Make(0x00, 0xCA, 0x01, 0x82), buf, &len), 0);
  ASSERT_EQ(len, 2);
  EXPECT_EQ(buf[0], 0xC8);
  EXPECT_EQ(buf[1], 0x03);
  // 61xx and 6Cxx reach the caller: no GET RESPONSE, no repetition.
  for (Bytes sw : {Bytes{0x61, 0x10}, Bytes{0x6C, 0x08}}) {
    Answer(sw);
    const int before = fake.TransmitCalls();
    len = sizeof buf;
    EXPECT_EQ(session.Send(Make(0x00, 0xB0, 0x00, 0x00), buf, &len), (LONG{sw[0]} << 8) | sw[1]);
    EXPECT_EQ(fake.TransmitCalls(), before + 1);
  }
}

TEST_F(SessionTest, ResponseLargerThanTheCallersBufferIsRefusedWithoutWriting) {
  Answer(Concat({Filled(20), {0x90, 0x00}}));
  BYTE buf[16];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  BYTE len = sizeof buf;
  BYTE sw1 = 0, sw2 = 0;
  EXPECT_EQ(session.Send(Make(0x00, 0xB0, 0x00, 0x00), buf, &len, &sw1, &sw2), SCARD_E_INSUFFICIENT_BUFFER);
  for (BYTE b : buf) EXPECT_EQ(b, 0xEE);
  WORD wlen = sizeof buf;
  EXPECT_EQ(session.SendExt(Make(0x00, 0xB0, 0x00, 0x00), buf, &wlen, &sw1, &sw2), SCARD_E_INSUFFICIENT_BUFFER);
  for (BYTE b : buf) EXPECT_EQ(b, 0xEE);
}

TEST_F(SessionTest, LargeResponsesOfExtendedCommandsArrive) {
  const Bytes data = Filled(1000);
  Answer(Concat({data, {0x90, 0x00}}));
  Bytes buf(2048);
  WORD len = static_cast<WORD>(buf.size());
  BYTE sw1 = 0, sw2 = 0;
  APDU a = Make(0x00, 0xB0, 0x00, 0x00);
  a.bExtended = 1;
  a.LeExtHi = 0x03;
  a.LeExtLo = 0xE8;
  EXPECT_EQ(session.SendExt(a, buf.data(), &len, &sw1, &sw2), 0);
  ASSERT_EQ(len, 1000);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buf.begin()));
}

TEST_F(SessionTest, ResponseShorterThanTheStatusIsAnError) {
  // Card still in the reader: a communication error; card gone: removed card.
  for (bool removed : {false, true}) {
    for (Bytes raw : {Bytes{}, Bytes{0x90}}) {
      fake.SetCardFn([&, raw, removed](const Bytes&) {
        if (removed) fake.SetCard(kReader, false);
        return raw;
      });
      BYTE buf[255];
      BYTE len = sizeof buf;
      BYTE sw1 = 0x11, sw2 = 0x22;
      const LONG expected = removed ? SCARD_W_REMOVED_CARD : SCARD_F_COMM_ERROR;
      EXPECT_EQ(session.Send(Make(0x00, 0x20, 0x00, 0x81), buf, &len, &sw1, &sw2), expected);
      EXPECT_EQ(sw1, 0x11);  // no status invented
      EXPECT_EQ(sw2, 0x22);
      EXPECT_EQ(session.Send(Make(0x00, 0x20, 0x00, 0x81), buf, &len), expected);
      fake.SetCard(kReader, true);
    }
  }
}

TEST_F(SessionTest, FailedTransmissionIsRepeatedOnceReconnectingAfterAReset) {
  fake.ScriptTransmit({SCARD_W_RESET_CARD});
  EXPECT_EQ(session.Send(Make(0x00, 0x84, 0x00, 0x00), nullptr, nullptr), 0);
  EXPECT_EQ(fake.TransmitCalls(), 2);
  EXPECT_EQ(fake.ReconnectCalls(), 1);

  fake.ScriptTransmit({SCARD_F_COMM_ERROR, SCARD_E_NOT_TRANSACTED});
  EXPECT_EQ(session.Send(Make(0x00, 0x84, 0x00, 0x00), nullptr, nullptr), SCARD_E_NOT_TRANSACTED);
  EXPECT_EQ(fake.TransmitCalls(), 4);
  EXPECT_EQ(fake.ReconnectCalls(), 1);
}

TEST_F(SessionTest, WithoutACardHandleNothingIsSentAndNothingSucceeds) {
  ASSERT_EQ(session.Disconnect(), SCARD_S_SUCCESS);
  EXPECT_EQ(session.GetCardHandle(), 0u);
  EXPECT_EQ(fake.LiveHandles(), 0);
  BYTE buf[255];
  BYTE len = sizeof buf;
  BYTE sw1 = 0, sw2 = 0;
  EXPECT_EQ(session.Send(Make(0x00, 0x20, 0x00, 0x81), buf, &len, &sw1, &sw2), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(session.Send(Make(0x00, 0x20, 0x00, 0x81), buf, &len), SCARD_E_INVALID_HANDLE);
  CCardSession fresh;
  EXPECT_EQ(fresh.Send(Make(0x00, 0x20, 0x00, 0x81), buf, &len), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(fake.TransmitCalls(), 0);
}

TEST_F(SessionTest, AtrManufacturerAndTransactions) {
  BYTE atr[33];
  DWORD cb = sizeof atr;
  ASSERT_EQ(session.GetATR(atr, &cb), SCARD_S_SUCCESS);
  EXPECT_EQ(Bytes(atr, atr + cb),
            (Bytes{0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x03, 0x15}));
  BYTE vendor[16];
  DWORD cv = sizeof vendor;
  EXPECT_EQ(session.GetManufacturer(vendor, &cv), SCARD_S_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(vendor), "Vexa");
  DWORD small = 2;
  EXPECT_EQ(session.GetManufacturer(vendor, &small), 1);
  EXPECT_EQ(session.GetManufacturer(nullptr, &cv), 1);
  EXPECT_EQ(session.GetReaderInfo(), 0xFFFF);

  session.LockSC();
  EXPECT_EQ(fake.Transactions(), 1);
  session.UnlockSC();
  EXPECT_EQ(fake.Transactions(), 0);
}

// ---- contexts ----

TEST(SessionContext, UserScopeFirstThenSystemScopeUntilItWorks) {
  FakePcsc fake;
  fake.ScriptEstablish({SCARD_F_INTERNAL_ERROR, SCARD_E_NO_READERS_AVAILABLE, SCARD_S_SUCCESS});
  CCardSession s;
  EXPECT_TRUE(s.InitRM());
  EXPECT_EQ(fake.EstablishScopes(),
            (std::vector<DWORD>{SCARD_SCOPE_USER, SCARD_SCOPE_SYSTEM, SCARD_SCOPE_SYSTEM}));
  EXPECT_TRUE(s.InitRM());  // already there
  EXPECT_EQ(fake.EstablishCalls(), 3);
}

TEST(SessionContext, NoServiceStopsAtOnce) {
  FakePcsc fake;
  fake.ScriptEstablish({SCARD_E_NO_SERVICE, SCARD_E_NO_SERVICE, SCARD_S_SUCCESS});
  CCardSession s;
  EXPECT_FALSE(s.InitRM());
  EXPECT_EQ(fake.EstablishCalls(), 2);
  EXPECT_EQ(s.GetContext(), 0u);
}

TEST(SessionContext, OnlyTheEstablishingSessionReleasesTheContext) {
  FakePcsc fake;
  fake.AddReader(kReader, true);
  {
    CCardSession owner;
    ASSERT_TRUE(owner.InitRM());
    ASSERT_EQ(owner.Connect(kReader), SCARD_S_SUCCESS);
    {
      CCardSession copy(owner);
      EXPECT_EQ(copy.GetContext(), owner.GetContext());
      EXPECT_EQ(copy.GetCardHandle(), owner.GetCardHandle());
      EXPECT_EQ(copy.ExitRM(), 1);
      EXPECT_EQ(fake.LiveContexts(), 1);
    }
    EXPECT_EQ(fake.LiveContexts(), 1);
    EXPECT_EQ(owner.Send(Make(0x00, 0x84, 0x00, 0x00), nullptr, nullptr), 0);

    // Assigning over a session that owns a context releases that context first.
    CCardSession other;
    ASSERT_TRUE(other.InitRM());
    EXPECT_EQ(fake.LiveContexts(), 2);
    other = owner;
    EXPECT_EQ(fake.LiveContexts(), 1);
  }
  EXPECT_EQ(fake.LiveContexts(), 0);
}

// ---- connections ----

// Reaches the secure-messaging key slot the command classes use.
class KeyedSession : public CCardSession {
 public:
  using CCardSession::HasSMKey;
  using CCardSession::SetSMKey;
};

TEST(SessionConnect, EmptyReaderConnectsWithRemovedCardAndKeepsTheName) {
  FakePcsc fake;
  fake.AddReader("Empty 00 00", false);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  EXPECT_EQ(s.Connect("Empty 00 00"), SCARD_W_REMOVED_CARD);
  EXPECT_STREQ(s.GetReaderName(), "Empty 00 00");
  EXPECT_EQ(s.GetCardHandle(), 0u);
}

TEST(SessionConnect, OtherErrorsClearTheHandleAndTheKey) {
  FakePcsc fake;
  fake.AddReader(kReader, true);
  KeyedSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect(kReader), SCARD_S_SUCCESS);
  const BYTE key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  s.SetSMKey(key);
  EXPECT_TRUE(s.HasSMKey());
  EXPECT_EQ(s.Connect("No Such Reader"), SCARD_E_UNKNOWN_READER);
  EXPECT_EQ(s.GetCardHandle(), 0u);
  EXPECT_FALSE(s.HasSMKey());
  EXPECT_EQ(fake.LiveHandles(), 0);  // the first connection was not leaked
}

TEST(SessionConnect, DisconnectReleasesTheKeyAndAReconnectionDoesNotLeak) {
  FakePcsc fake;
  fake.AddReader(kReader, true);
  KeyedSession s;
  ASSERT_TRUE(s.InitRM());
  ASSERT_EQ(s.Connect(kReader), SCARD_S_SUCCESS);
  ASSERT_EQ(s.Connect(kReader), SCARD_S_SUCCESS);
  EXPECT_EQ(fake.LiveHandles(), 1);
  EXPECT_EQ(s.ReConnect(), SCARD_S_SUCCESS);
  const BYTE key[16] = {};
  s.SetSMKey(key);
  EXPECT_EQ(s.Disconnect(), SCARD_S_SUCCESS);
  EXPECT_FALSE(s.HasSMKey());
  EXPECT_EQ(fake.LiveHandles(), 0);
  EXPECT_STREQ(s.GetReaderName(), kReader);
}

TEST(SessionConnect, WithoutANameTheFirstReaderThatAcceptsIsTaken) {
  FakePcsc fake;
  fake.AddReader("A 00 00", false);
  fake.AddReader("B 00 00", true);
  fake.AddReader("C 00 00", true);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  EXPECT_EQ(s.Connect(), SCARD_S_SUCCESS);
  EXPECT_STREQ(s.GetReaderName(), "B 00 00");
  EXPECT_NE(s.GetCardHandle(), 0u);
}

TEST(SessionReaderList, FlagsSelectReadersWithCardsOrAlsoEmptyOnes) {
  FakePcsc fake;
  fake.AddReader("Card 00 00", true);
  fake.AddReader("Empty 00 00", false);
  fake.AddReader("Held 00 00", true);
  fake.SetExclusive("Held 00 00", true);
  fake.AddReader("Card 00 01", true);
  CCardSession s;
  ASSERT_TRUE(s.InitRM());
  std::vector<std::string> list;
  s.GetReaderList(TRUE, list);
  EXPECT_EQ(list, (std::vector<std::string>{"Card 00 00", "Card 00 01"}));
  EXPECT_EQ(s.GetReaderList(FALSE, list), SCARD_S_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::string>{"Card 00 00", "Empty 00 00", "Card 00 01"}));
  std::string msz;
  DWORD count = 0;
  s.GetReaderList(FALSE, msz, &count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(msz, std::string("Card 00 00\0Empty 00 00\0Card 00 01\0\0", 35));
  EXPECT_EQ(fake.LiveHandles(), 0);  // every probe connection was closed
}

// ---- trace ----

TEST(SessionTrace, SecretCommandDataAndDecipheredDataAreMasked) {
  char dir[] = "/tmp/vexacard-trace-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/vexacard.log";
  vexa::card::test::ScopedRegistry reg(
      "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n\"vexacard\"=dword:00000001\n");
  ASSERT_EQ(TraceOpen(log.c_str(), "vexacard", 4), 0);
  {
    FakePcsc fake;
    fake.AddReader(kReader, true);
    CCardSession s;
    ASSERT_TRUE(s.InitRM());
    ASSERT_EQ(s.Connect(kReader), SCARD_S_SUCCESS);
    const BYTE pin[] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38};
    const BYTE key[] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};
    const BYTE aid[] = {0xA0, 0x00, 0x00, 0x00, 0x63};
    struct Cmd { BYTE cla, ins, p1, p2; const BYTE* data; BYTE n; };
    const Cmd secret[] = {{0x00, 0x20, 0x00, 0x81, pin, 8},   // VERIFY
                          {0x00, 0x24, 0x01, 0x81, pin, 8},   // CHANGE REFERENCE DATA
                          {0x00, 0x2C, 0x00, 0x81, pin, 8},   // RESET RETRY COUNTER
                          {0x00, 0xDA, 0x01, 0x6E, key, 8},   // key load
                          {0x90, 0x24, 0x21, 0x81, key, 8}};  // key change
    for (const Cmd& c : secret) {
      APDU a = Make(c.cla, c.ins, c.p1, c.p2);
      a.Lc = c.n;
      a.pData = c.data;
      s.Send(a, nullptr, nullptr);
    }
    APDU sel = Make(0x00, 0xA4, 0x04, 0x00);
    sel.Lc = sizeof aid;
    sel.pData = aid;
    s.Send(sel, nullptr, nullptr);
    fake.SetCardFn([](const Bytes&) { return Bytes{0x5E, 0xC7, 0xE7, 0x4B, 0x90, 0x00}; });
    APDU dec = Make(0x00, 0x2A, 0x80, 0x86);
    dec.Lc = sizeof aid;
    dec.pData = aid;
    BYTE out[255];
    BYTE len = sizeof out;
    s.Send(dec, out, &len);
  }
  TraceClose();
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  const std::string t = text.str();
  std::remove(log.c_str());
  rmdir(dir);
  EXPECT_EQ(t.find("31 32 33 34"), std::string::npos) << t;
  EXPECT_EQ(t.find("A1 B2 C3 D4"), std::string::npos) << t;
  EXPECT_EQ(t.find("5E C7 E7 4B"), std::string::npos) << t;
  EXPECT_NE(t.find("00 20 00 81 08"), std::string::npos) << t;  // header stays readable
  EXPECT_NE(t.find("00 A4 04 00 05 A0 00 00 00 63"), std::string::npos) << t;
  EXPECT_NE(t.find("masked"), std::string::npos) << t;
}

}  // namespace
