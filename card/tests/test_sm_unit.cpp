// Secure messaging over a scripted card: padding, the protected command forms
// (enciphered data, challenge and MAC; the "4" forms), key derivation from the
// card's UID record and the master key (built in or from the registry), the
// bounds of the protected-data buffer, the response checks and the card OS
// version answer kept per connection. The expected protected commands were
// computed apart from this library from the keys, challenge and PIN named here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/scoped_registry.h"
#include "vexa/platform/trace.h"
#include "test_tavrix_fake.h"
#include "vexa/card/tavrix_m410.h"

using namespace vexa::card::test;

namespace {

const SMFLAGS kSM{1, 1};
const BYTE kPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};

const Bytes kGetUID = Hex("00 CA 01 81 60");
const Bytes kGetChallenge = Hex("00 84 00 00 08");
// VERIFY 10 with "12345678" under the card key derived from the default master
// key and the UID record above, challenge 01..08.
const Bytes kProtectedVerify =
    Hex("0C 20 00 90 1D 87 11 01 05 2D 3F 99 C1 5D 08 DE 9F ED 7A 7D 39 9E E8 53"
        " 8E 08 83 8A DB 8C 29 05 73 74");

using CardSmTest = FakeCardFixture<CTavrixM410>;

TEST(CardSmPadding, LengthsAndPadsFollowTheTwoMethods) {
  struct {
    DWORD n, iso, ansi;
  } cases[] = {{0, 8, 0}, {1, 8, 8}, {7, 8, 8}, {8, 16, 8}, {11, 16, 16}, {239, 240, 240}};
  for (auto c : cases) {
    EXPECT_EQ(CCardSM::LenPadISO(c.n), c.iso) << c.n;
    EXPECT_EQ(CCardSM::LenPadANSI(c.n), c.ansi) << c.n;
  }
  BYTE out[16];
  const BYTE three[] = {0xA1, 0xA2, 0xA3};
  ASSERT_EQ(CCardSM::MKPadISO(three, out), 8);
  EXPECT_EQ(Bytes(out, out + 8), Hex("A1 A2 A3 80 00 00 00 00"));
  ASSERT_EQ(CCardSM::MKPadANSI(three, out), 8);
  EXPECT_EQ(Bytes(out, out + 8), Hex("A1 A2 A3 00 00 00 00 00"));
  BYTE small[4];
  EXPECT_EQ(CCardSM::MKPadISO(three, small), -1);  // no room: refused, nothing written past it
}

TEST(CardSmPadding, RemovalFindsTheMarkerOrRefuses) {
  struct {
    const char* hex;
    long iso, ansi;
  } cases[] = {
      {"A1 A2 A3 80 00 00 00 00", 3, 4},
      {"A1 A2 A3 A4 A5 A6 A7 80", 7, 8},
      {"A1 80 00 00 00 00 00 00 00 00", 1, -1},     // eight zero bytes after the marker
      {"A1 80 00 00 00 00 00 00 00 00 00", -1, -1},  // nine
      {"A1 A2 A3 A4 00 00 00 00", -1, 4},        // no marker
      {"00 00 00 00 00 00 00 00", -1, -1},
      {"", -1, -1},
  };
  for (auto c : cases) {
    const Bytes b = Hex(c.hex);
    EXPECT_EQ(CCardSM::RMPadISO(b), c.iso) << c.hex;
    EXPECT_EQ(CCardSM::RMPadANSI(b), c.ansi) << c.hex;
  }
}

TEST_F(CardSmTest, ProtectedVerifyDerivesTheKeyOnceAndTakesOneChallenge) {
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kGetUID, kGetChallenge, kProtectedVerify}));
  // The second protected command of the connection: the key is kept.
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kGetChallenge, kProtectedVerify}));
}

TEST_F(CardSmTest, ReconnectionDerivesTheKeyAgain) {
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  ASSERT_EQ(m_obj.Disconnect(), SCARD_S_SUCCESS);
  ASSERT_EQ(m_obj.Connect(kReader), SCARD_S_SUCCESS);
  Forget();
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kGetUID, kGetChallenge, kProtectedVerify}));
}

TEST_F(CardSmTest, ProtectedCommandWithoutDataHasLc15) {
  ASSERT_EQ(m_obj.cmdRESET_RETRY_COUNTER(0x12, &kSM), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 4u);  // life cycle (0x20: no PHASE CONTROL), UID, challenge, command
  EXPECT_EQ(sent[0], Hex("00 CA 01 83 01"));
  EXPECT_EQ(sent[3], Hex("0C 2C 03 92 15 87 09 01 8E AA 07 74 C7 84 AE 32"
                         " 8E 08 97 58 C1 91 B3 21 C0 94"));
}

TEST_F(CardSmTest, RegistryMasterKeyReplacesTheBuiltInOne) {
  ScopedRegistry reg(
      "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
      "\"SMMasterKey\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,"
      "17,18\n");
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2], Hex("0C 20 00 90 1D 87 11 01 6E CA B2 64 16 CB B6 85 9A E0 59 20 4E 06"
                         " 05 41 8E 08 4F 37 7B CD FE D5 5A E8"));
}

TEST_F(CardSmTest, MasterKeyOfAnotherLengthIsIgnored) {
  ScopedRegistry reg(
      "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n\"SMMasterKey\"=hex:01,02,03,04,05,06,07,08\n");
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  EXPECT_EQ(Sent().back(), kProtectedVerify);
}

TEST_F(CardSmTest, FlagsOtherThanBothSetFailWithoutTraffic) {
  for (SMFLAGS f : {SMFLAGS{1, 0}, SMFLAGS{0, 1}, SMFLAGS{0, 0}}) {
    EXPECT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &f), -1);
  }
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CardSmTest, DataThatCannotBeProtectedIsRefusedBeforeSending) {
  const Bytes longPin(240, '1');
  EXPECT_EQ(m_obj.cmdVERIFY(0x10, longPin.data(), 240, &kSM), CARD_ERR_TOO_LONG);
  EXPECT_TRUE(Sent().empty());
  const Bytes maxPin(239, '1');
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, maxPin.data(), 239, &kSM), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  ASSERT_EQ(sent[2].size(), 5u + 253u);
  EXPECT_EQ(sent[2][4], 253);  // 87 F1 01, 240 cryptogram bytes, 8E 08, MAC
  EXPECT_EQ(sent[2][5], 0x87);
  EXPECT_EQ(sent[2][6], 0xF1);
}

TEST_F(CardSmTest, ShortUidAnswerGivesAClearErrorAndNoKey) {
  m_card.uid = Seq(15, 1);
  EXPECT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), CARD_ERR_SHORT_UID);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kGetUID}));
  EXPECT_EQ(m_obj.GetSMKey(), CARD_ERR_SHORT_UID);
  Forget();
  m_card.uid = Hex("3B 00 00 00 00 00 00 00 00 00 11 22 33 44 55 66");
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kGetUID, kGetChallenge, kProtectedVerify}));
}

TEST_F(CardSmTest, FailingChallengeStopsTheCommand) {
  ScriptedCard& card = m_card;
  m_pcsc.SetCardFn([&card](const Bytes& c) {
    if (c.size() == 5 && c[1] == 0x84) return Hex("6A 81");
    return card.Answer(c);
  });
  EXPECT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0x6A81);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kGetUID, kGetChallenge}));
}

TEST_F(CardSmTest, EraseWithBuiltInKeysUsesTheFourForm) {
  m_card.lifeCycle = 0x34;
  ASSERT_EQ(m_obj.cmdERASE_FILE(), 0);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{Hex("00 CA 01 83 01"),
                                        Hex("84 06 00 00 10 FE 4B 12 54 63 D9 4D 35 AA 98 E3"
                                            " 30 55 0D CD 7F")}));
}

TEST_F(CardSmTest, FourFormsWithGivenKeys) {
  const BYTE k1[8] = {'E', 'R', 'A', 'S', 'E', 'K', 'E', '1'};
  const BYTE k2[8] = {'E', 'R', 'A', 'S', 'E', 'K', 'E', '2'};
  m_obj.initializeKeysSM(k1, k2, k1);
  APDU plain;
  plain.CLA = 0x80;
  plain.INS = 0x06;
  APDU out;
  ASSERT_EQ(m_obj.SM_ENC_SIG_4(plain, out), 0);
  EXPECT_EQ(out.CLA, 0x84);
  ASSERT_EQ(out.Lc, 16);
  EXPECT_EQ(Bytes(out.pData, out.pData + 16),
            Hex("FE 4B 12 54 63 D9 4D 35 AA 98 E3 30 55 0D CD 7F"));
  const Bytes big(240, 0x11);  // 240 + 8 bytes cannot be enciphered into one short command
  plain.Lc = 240;
  plain.pData = big.data();
  EXPECT_EQ(m_obj.SM_ENC_SIG_4(plain, out), CARD_ERR_TOO_LONG);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CardSmTest, BuiltInFormatFieldAndLifeCycleRule) {
  m_card.lifeCycle = 0x20;
  EXPECT_EQ(m_obj.cmdFORMAT(), 0x20);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{Hex("00 CA 01 83 01")}));
  m_card.lifeCycle = 0x34;
  ASSERT_EQ(m_obj.cmdFORMAT(), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1],
            Hex("84 40 00 01 30 6F 26 85 03 01 40 00 86 09 00 00 00 00 00 00 00 00 00 8B 14"
                " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"
                " 10 87 AC 8F F0 81 7D 77"));
}

TEST_F(CardSmTest, ResponseChecksRefuseMalformedAnswers) {
  BYTE out[32];
  DWORD n = sizeof out;
  EXPECT_EQ(m_obj.Response_SM_Suppressed(Hex("81 03 0A 0B 0C"), out, &n), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Bytes(out, out + 3), Hex("0A 0B 0C"));
  n = sizeof out;
  EXPECT_EQ(m_obj.Response_SM_Suppressed(Hex("81 04 0A 0B 0C"), out, &n), -1);
  EXPECT_EQ(m_obj.Response_SM_ENC(Hex("87 09 01 00"), out, &n), -1);  // cryptogram cut short
  EXPECT_EQ(m_obj.Response_SM_ENC(Hex("81 09 01"), out, &n), -1);
  EXPECT_EQ(m_obj.Response_SM_SIG(Hex("81 02 00 00 8E 08 00 00 00 00 00 00 00"), Seq(16)), -1);
  EXPECT_EQ(m_obj.Response_SM_SIG(Hex("81 01"), Seq(16)), -1);
}

TEST_F(CardSmTest, ResponseChecksAcceptWhatTheProtectionProduces) {
  const BYTE k1[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const BYTE k2[8] = {9, 10, 11, 12, 13, 14, 15, 16};
  m_obj.initializeKeysSM(k1, k2, k1);
  // An enciphered answer: 87 L 01 and the cryptogram of 0A 0B 0C 80 00 00 00 00.
  BYTE crypt[8];
  DWORD cap = sizeof crypt;
  const BYTE plain[] = {0x0A, 0x0B, 0x0C};
  ASSERT_EQ(m_obj.mkEnc(plain, 3, crypt, &cap), 0);
  const Bytes resp = Cat({Hex("87 09 01"), Bytes(crypt, crypt + 8)});
  BYTE out[16];
  DWORD n = sizeof out;
  ASSERT_EQ(m_obj.Response_SM_ENC(resp, out, &n), 0);
  EXPECT_EQ(Bytes(out, out + n), Hex("0A 0B 0C"));
}

TEST_F(CardSmTest, VersionIsAskedOncePerConnection) {
  m_card.version = Hex("C8 0A");
  EXPECT_EQ(m_obj.IsM3(), 0);
  EXPECT_EQ(m_obj.IsM410(), 0);
  EXPECT_EQ(m_obj.IsM42b(), 1);
  EXPECT_EQ(m_obj.IsM440(), 1);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{Hex("00 CA 01 82 02")}));
  ASSERT_EQ(m_obj.Disconnect(), SCARD_S_SUCCESS);
  ASSERT_EQ(m_obj.Connect(kReader), SCARD_S_SUCCESS);
  Forget();
  m_card.version = Hex("C8 05");
  EXPECT_EQ(m_obj.IsM410(), 1);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{Hex("00 CA 01 82 02")}));
}

TEST_F(CardSmTest, VersionQueryFailures) {
  m_pcsc.SetCardFn([](const Bytes&) { return Hex("6A 88"); });
  EXPECT_EQ(m_obj.IsM3(), 0x6A88);
  EXPECT_EQ(m_obj.IsM4(), 0x6A88);
  EXPECT_EQ(m_obj.IsM410(), 0);
  EXPECT_EQ(m_obj.IsM440(), 0);
  DWORD kb = 0;
  EXPECT_EQ(m_obj.M420_32_64(&kb), 0x6A88);
}

// With tracing on, neither PINs, key values, the master key nor the card's key
// reach the trace; the entry and exit lines of the commands do.
TEST_F(CardSmTest, TraceKeepsPinsAndKeysOut) {
  char dir[] = "/tmp/vexacard-smtrace-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/vexacard.log";
  ScopedRegistry reg("[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n\"vexacard\"=dword:00000004\n");
  ASSERT_EQ(TraceOpen(log.c_str(), "vexacard", 4), 0);
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8, &kSM), 0);
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, kPin, 8), 0);
  const BYTE key[] = {0x81, 0x00, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
  ASSERT_EQ(m_obj.cmdCHANGE_KEY_DATA(0x02, OBJ_PRIVATE, key, 8, 0x01, 0x80), 0);
  m_card.lifeCycle = 0x34;
  ASSERT_EQ(m_obj.cmdERASE_FILE(), 0);
  TraceClose();
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  const std::string t = text.str();
  std::remove(log.c_str());
  rmdir(dir);
  EXPECT_NE(t.find("IN  -> CTavrixM4::cmdVERIFY"), std::string::npos) << t;
  EXPECT_NE(t.find("OUT -> CTavrixM4::cmdVERIFY"), std::string::npos) << t;
  EXPECT_EQ(t.find("31 32 33 34"), std::string::npos) << t;   // the PIN
  EXPECT_EQ(t.find("A1 B2 C3 D4"), std::string::npos) << t;   // the key value
  EXPECT_EQ(t.find("2B 7E 15 16"), std::string::npos) << t;   // the master key
  EXPECT_EQ(t.find("B9 F0 B0 0C"), std::string::npos) << t;   // the card's key
  EXPECT_EQ(t.find("45 52 41 53"), std::string::npos) << t;   // the built-in erase key
  for (const char* k : {"2b7e1516", "b9f0b00c", "45524153"}) {
    EXPECT_EQ(t.find(k), std::string::npos) << k;
  }
}

TEST_F(CardSmTest, MemorySizeOfM420) {
  m_card.answers = {Hex("00 00 00 40 00 00 90 00"), Hex("00 00 00 20 00 00 90 00")};
  DWORD kb = 0;
  EXPECT_EQ(m_obj.M420_32_64(&kb), 1);
  EXPECT_EQ(kb, 64u);
  EXPECT_EQ(m_obj.M420_32_64(&kb), 1);
  EXPECT_EQ(kb, 32u);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{Hex("00 CA 01 89 06"), Hex("00 CA 01 89 06")}));
}

}  // namespace
