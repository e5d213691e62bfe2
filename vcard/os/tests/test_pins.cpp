// PIN objects: retry counters, unblocking, change, chained VERIFY, PINs made
// with the creation templates, and the same commands under secure messaging
// with the MAC computed here step by step from the algorithm.
#include "card_fixture.h"

namespace vexa::vcard::test {
namespace {

const Bytes kMaster = H("2B7E151628AED2A6 ABF7158809CF4F3C 762E7160F38B4DA5");

class PinTest : public CardTest {
 protected:
  void SetUp() override {
    MakeCard();
    SelectApp();
  }

  // The protected form of a plain command with data (CLA 00) under the card
  // challenge. tamper flips a MAC bit.
  Bytes Protect(const std::string& header4, const Bytes& data, bool tamper = false, bool fetchChallenge = true) {
    Bytes uid = Data(Tx("00 CA 01 81 60"));
    Bytes key = TestCbc3(kMaster, Bytes(uid.begin(), uid.begin() + 16));  // K1 K2
    Bytes key24 = key;
    key24.insert(key24.end(), key.begin(), key.begin() + 8);
    if (fetchChallenge) challenge_ = Data(Tx("00 84 00 00 08"));
    Bytes padded = data;
    padded.push_back(0x80);
    while (padded.size() % 8) padded.push_back(0);
    Bytes crypt = TestCbc3(key24, padded);
    Bytes obj{0x87, static_cast<uint8_t>(crypt.size() + 1), 0x01};
    obj.insert(obj.end(), crypt.begin(), crypt.end());
    Bytes h = H(header4);
    h[0] |= 0x0C;
    Bytes macIn = challenge_;
    macIn.insert(macIn.end(), h.begin(), h.end());
    macIn.insert(macIn.end(), 4, 0x00);
    macIn.insert(macIn.end(), obj.begin(), obj.end());
    while (macIn.size() % 8) macIn.push_back(0);
    Bytes mac = TestMac3(key, macIn);
    if (tamper) mac[7] ^= 1;
    Bytes apdu = h;
    apdu.push_back(static_cast<uint8_t>(obj.size() + 10));
    apdu.insert(apdu.end(), obj.begin(), obj.end());
    apdu.push_back(0x8E);
    apdu.push_back(0x08);
    apdu.insert(apdu.end(), mac.begin(), mac.end());
    return apdu;
  }

  Bytes challenge_;
};

TEST_F(PinTest, RetryCounterCountsDownToBlockedAndPukUnblocks) {
  EXPECT_EQ(SwOf("00 20 00 90"), 0x63C3);  // no data: the tries left
  EXPECT_EQ(SwOf("00 20 00 90 04 31 31 31 31"), 0x63C2);
  EXPECT_EQ(SwOf("00 20 00 90 04 31 31 31 31"), 0x63C1);
  EXPECT_EQ(SwOf("00 20 00 90 04 31 31 31 31"), 0x6983);
  EXPECT_EQ(SwOf("00 20 00 90 08 31 32 33 34 35 36 37 38"), 0x6983);  // blocked, even with the right PIN
  // The counter survives a restart of the card.
  Reopen();
  SelectApp();
  EXPECT_EQ(SwOf("00 20 00 90"), 0x6983);
  // RESET RETRY COUNTER: administration phase and the PUK verified first.
  AdminPhase();
  EXPECT_EQ(SwOf("00 2C 03 90"), 0x6982);
  ASSERT_EQ(SwOf("00 20 00 92 08 38 37 36 35 34 33 32 31"), 0x9000);
  EXPECT_EQ(SwOf("00 2C 03 90"), 0x9000);
  EXPECT_EQ(SwOf("00 20 00 90 08 31 32 33 34 35 36 37 38"), 0x9000);
  EXPECT_EQ(SwOf("00 20 00 90"), 0x9000);  // already verified
}

TEST_F(PinTest, ResetRetryCounterNeedsTheAdministrationPhase) {
  ASSERT_EQ(SwOf("00 20 00 92 08 38 37 36 35 34 33 32 31"), 0x9000);
  EXPECT_EQ(SwOf("00 2C 03 90"), 0x6985);
  EXPECT_EQ(SwOf("00 2C 03 91"), 0x6985);  // the directory PIN has no unblocking PIN
  EXPECT_EQ(SwOf("00 2C 03 95"), 0x6A88);  // no such PIN
}

TEST_F(PinTest, ChangeReferenceData) {
  // New value only: refused until the PIN (or its PUK) is verified.
  EXPECT_EQ(SwOf("00 24 01 90 04 39 39 39 39"), 0x6982);
  VerifyUser();
  EXPECT_EQ(SwOf("00 24 01 90 04 39 39 39 39"), 0x9000);
  EXPECT_EQ(SwOf("00 20 00 90 08 31 32 33 34 35 36 37 38"), 0x63C2);
  // The engine pads short PINs of reference 10 with FF: the same PIN.
  EXPECT_EQ(SwOf("00 20 00 90 08 39 39 39 39 FF FF FF FF"), 0x9000);
  // Old and new value together.
  EXPECT_EQ(SwOf("00 24 00 90 08 39 39 39 39 31 32 33 34"), 0x9000);
  EXPECT_EQ(SwOf("00 20 00 90 04 31 32 33 34"), 0x9000);
  EXPECT_EQ(SwOf("00 24 00 90 06 30 30 30 30 35 35"), 0x63C2);  // wrong old value counts
}

TEST_F(PinTest, PinFromTheCreationTemplateAndChainedVerify) {
  AdminPhase();
  // Init_PINex: 83 02 20 05 | 85 08 23 0F 00 4F FF FF FF 07 | 86 07 ... | 8B 10 ... | 8F L PIN (250 bytes).
  std::string pin;
  for (int i = 0; i < 250; ++i) pin += "5A";
  Bytes apdu = H("00 DA 01 6E 00 00 00");  // extended length
  Bytes body = H("83 02 20 05 85 08 23 0F 00 4F FF FF FF 07 86 07 00 00 00 00 00 00 00 8B 10");
  body.insert(body.end(), 16, 0xFF);
  body.push_back(0x8F);
  body.push_back(250);  // one-byte length, Lc = 250 + 43
  Bytes pinBytes = H(pin);
  body.insert(body.end(), pinBytes.begin(), pinBytes.end());
  apdu[5] = static_cast<uint8_t>(body.size() >> 8);
  apdu[6] = static_cast<uint8_t>(body.size());
  apdu.insert(apdu.end(), body.begin(), body.end());
  ASSERT_EQ(body.size(), 293u);
  ASSERT_EQ(Sw(Tx(apdu)), 0x9000);
  // 250 bytes: 100 (CLA 10), 100 (CLA 10), 50 (CLA 00).
  auto part = [&](const char* cla, size_t off, size_t n) {
    Bytes a = H(std::string(cla) + " 20 00 85");
    a.push_back(static_cast<uint8_t>(n));
    a.insert(a.end(), pinBytes.begin() + static_cast<long>(off), pinBytes.begin() + static_cast<long>(off + n));
    return Sw(Tx(a));
  };
  EXPECT_EQ(part("10", 0, 100), 0x9000);
  EXPECT_EQ(part("10", 100, 100), 0x9000);
  EXPECT_EQ(part("00", 200, 50), 0x9000);
  // A wrong last part counts a failure (15 tries from the template).
  EXPECT_EQ(part("10", 0, 100), 0x9000);
  EXPECT_EQ(part("00", 0, 100), 0x63CE);
  // A chain broken by another command starts afresh.
  EXPECT_EQ(part("10", 0, 100), 0x9000);
  EXPECT_EQ(SwOf("00 CA 01 83 01"), 0x9000);
  EXPECT_EQ(part("00", 200, 50), 0x63CD);
  // Chaining is refused for other instructions.
  EXPECT_EQ(SwOf("10 B0 00 00 04"), 0x6884);
}

TEST_F(PinTest, InitPinTemplateSetsTriesAndUnblockingPin) {
  AdminPhase();
  // Init_PIN: 83 02 00 07 | 85 08 02 X 87 X FF FF 00 Y (X = 2 tries, Y = PUK 12) | 86 07 | 8B 10 | 8F 04 PIN
  ASSERT_EQ(SwOf("00 DA 01 6E 2F 83 02 00 07 85 08 02 02 87 02 FF FF 00 12 86 07 00 00 00 00 00 00 00 8B 10 "
                 "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 8F 04 31 31 31 31"),
            0x9000);
  EXPECT_EQ(SwOf("00 DA 01 6E 2F 83 02 00 07 85 08 02 02 87 02 FF FF 00 12 86 07 00 00 00 00 00 00 00 8B 10 "
                 "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF 8F 04 31 31 31 31"),
            0x6A89);
  EXPECT_EQ(SwOf("00 20 00 87 01 30"), 0x63C1);
  EXPECT_EQ(SwOf("00 20 00 87 01 30"), 0x6983);
  ASSERT_EQ(SwOf("00 20 00 92 08 38 37 36 35 34 33 32 31"), 0x9000);
  // P1 00: unblocking code and new value in one command.
  EXPECT_EQ(SwOf("00 2C 00 87 0A 38 37 36 35 34 33 32 31 32 32"), 0x9000);
  EXPECT_EQ(SwOf("00 20 00 87 02 32 32"), 0x9000);
}

TEST_F(PinTest, InitPinWithoutValueChangesTheAccessRecords) {
  AdminPhase();
  // M4.10 form without a PIN: 83 02 00 ref, 86 09 BSAC410, CB 10 BSSM410 (33 bytes).
  EXPECT_EQ(SwOf("00 DA 01 6E 21 83 02 00 10 86 09 00 00 00 00 00 00 00 00 00 CB 10 01 FF FF FF FF FF FF FF FF FF FF "
                 "FF FF FF FF FF"),
            0x9000);
  // The SM record now asks for secure messaging.
  EXPECT_EQ(SwOf("00 20 00 90 08 31 32 33 34 35 36 37 38"), 0x6982);
  EXPECT_EQ(SwOf("00 DA 01 6E 21 83 02 00 16 86 09 00 00 00 00 00 00 00 00 00 CB 10 01 FF FF FF FF FF FF FF FF FF FF "
                 "FF FF FF FF FF"),
            0x6A88);
}

TEST_F(PinTest, ProtectedVerifyChecksMacChallengeAndPin) {
  const Bytes pin = H("31 32 33 34 35 36 37 38");
  Bytes ok = Protect("00 20 00 90", pin);
  ASSERT_EQ(ok[4], 0x1D);  // 87 11 01 + 16 cryptogram bytes + 8E 08 + MAC
  EXPECT_EQ(Sw(Tx(ok)), 0x9000);
  // The challenge was used up: the same command again is refused.
  EXPECT_EQ(Sw(Tx(ok)), 0x6985);
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", H("39 39 39 39")))), 0x63C2);
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", pin, true))), 0x6988);
  // A challenge followed by another command is stale.
  challenge_ = Data(Tx("00 84 00 00 08"));
  ASSERT_EQ(SwOf("00 CA 01 83 01"), 0x9000);
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", pin, false, false))), 0x6985);
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", H("39 39 39 39")))), 0x63C1);
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", H("39 39 39 39")))), 0x6983);
  // Protected unblock with the PUK, then a protected change.
  AdminPhase();
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 92", H("38 37 36 35 34 33 32 31")))), 0x9000);
  EXPECT_EQ(Sw(Tx(Protect("00 2C 03 90", {}))), 0x9000);
  EXPECT_EQ(Sw(Tx(Protect("00 24 01 90", H("34 34 34 34")))), 0x9000);
  EXPECT_EQ(SwOf("00 20 00 90 04 34 34 34 34"), 0x9000);
}

TEST_F(PinTest, PinThatAsksForSecureMessagingRefusesPlainCommands) {
  PersoOptions o;
  o.userPin.smRequired = true;
  MakeCard(o);
  SelectApp();
  EXPECT_EQ(SwOf("00 20 00 90 08 31 32 33 34 35 36 37 38"), 0x6982);
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", H("31 32 33 34 35 36 37 38")))), 0x9000);
}

TEST_F(PinTest, SecureMessagingNeedsSixteenBytesOfUid) {
  PersoOptions o;
  o.uidRecord = H("3B 00 00 00 00 00 00 00 00 00 11 22 33 44 55 66");
  MakeCard(o);
  SelectApp();
  EXPECT_EQ(Sw(Tx(Protect("00 20 00 90", H("31 32 33 34 35 36 37 38")))), 0x9000);
  // Objects missing or malformed.
  Tx("00 84 00 00 08");
  EXPECT_EQ(SwOf("0C 20 00 90 0A 8E 08 00 00 00 00 00 00 00 00"), 0x6987);
  Tx("00 84 00 00 08");
  EXPECT_EQ(SwOf("0C 20 00 90 05 87 03 01 00 00"), 0x6987);
  EXPECT_EQ(SwOf("04 20 00 90 02 00 00"), 0x6882);
}

}  // namespace
}  // namespace vexa::vcard::test
