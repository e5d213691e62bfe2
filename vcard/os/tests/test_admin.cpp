// Card-wide commands: life cycle, random numbers, logical channels, packages,
// the administration commands in the "4" protection (computed here from the
// algorithm), EXTERNAL AUTHENTICATE, INCREASE, GET DATA answers.
#include "card_fixture.h"

namespace vexa::vcard::test {
namespace {

Bytes K(const uint8_t* k, size_t n) { return Bytes(k, k + n); }
Bytes K24(const Bytes& k16) {
  Bytes k = k16;
  k.insert(k.end(), k16.begin(), k16.begin() + 8);
  return k;
}

// The "4" form: MAC over INS P1 P2 (Lc + 8) data zero-padded, then (enciphered)
// data ‖ MAC ISO-padded. CLA 84.
Bytes Form4(uint8_t ins, uint8_t p1, uint8_t p2, const Bytes& data, const Bytes& key16, bool encipher = true) {
  Bytes macIn{ins, p1, p2, static_cast<uint8_t>(data.size() + 8)};
  macIn.insert(macIn.end(), data.begin(), data.end());
  while (macIn.size() % 8) macIn.push_back(0);
  Bytes body = data;
  Bytes mac = TestMac3(key16, macIn);
  body.insert(body.end(), mac.begin(), mac.end());
  if (encipher) {
    body.push_back(0x80);
    while (body.size() % 8) body.push_back(0);
    body = TestCbc3(K24(key16), body);
  }
  Bytes a{0x84, ins, p1, p2, static_cast<uint8_t>(body.size())};
  a.insert(a.end(), body.begin(), body.end());
  return a;
}

class AdminTest : public CardTest {};

TEST_F(AdminTest, PhaseControlTogglesByVersion) {
  MakeCard();
  EXPECT_EQ(SwOf("80 10 00 00"), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
  EXPECT_EQ(SwOf("80 10 00 00"), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "109000");
  EXPECT_EQ(SwOf("B0 10 00 00"), 0x6E00);
  PersoOptions o;
  o.version = "M3";
  MakeCard(o);
  EXPECT_EQ(SwOf("80 10 00 00"), 0x6E00);
  EXPECT_EQ(SwOf("B0 10 00 00"), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
  // The phase is kept in the image.
  Reopen();
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
}

TEST_F(AdminTest, ChallengeAndRandom) {
  MakeCard();
  Bytes a = Tx("00 84 00 00 08"), b = Tx("00 84 00 00 08");
  EXPECT_EQ(Data(a).size(), 8u);
  EXPECT_NE(Data(a), Data(b));
  EXPECT_EQ(Data(Tx("00 84 00 00 F8")).size(), 248u);
  EXPECT_EQ(SwOf("00 84 00 00"), 0x6700);
  EXPECT_EQ(SwOf("A0 86 00 00 08 01 02 03 04 05 06 07 08"), 0x9000);
  EXPECT_EQ(SwOf("A0 86 00 00"), 0x6700);
}

TEST_F(AdminTest, LogicalChannelsKeepTheirOwnCurrentFile) {
  MakeCard();
  EXPECT_EQ(Hs(Tx("00 70 00 00 01")), "019000");  // the card chooses channel 1
  // Channel 1 selects the directory file; the basic channel has no current EF.
  EXPECT_EQ(SwOf("01 A4 04 00 09 A0 00 00 07 56 45 58 41 01"), 0x9000);
  EXPECT_EQ(SwOf("01 A4 02 00 02 00 01"), 0x9000);
  EXPECT_EQ(SwOf("01 B0 00 00 04"), 0x9000);
  EXPECT_EQ(SwOf("00 B0 00 00 04"), 0x6986);
  EXPECT_EQ(SwOf("00 70 00 02"), 0x9000);
  EXPECT_EQ(SwOf("00 70 00 02"), 0x6985);   // already open
  EXPECT_EQ(SwOf("00 70 00 04"), 0x6A86);
  EXPECT_EQ(Hs(Tx("00 70 00 00 01")), "039000");
  EXPECT_EQ(SwOf("00 70 00 00 01"), 0x6A81);  // none left
  EXPECT_EQ(SwOf("01 70 80 01"), 0x9000);
  EXPECT_EQ(SwOf("01 B0 00 00 04"), 0x6881);  // closed
  EXPECT_EQ(SwOf("02 CA 01 83 01"), 0x9000);
  // Power-on closes them all.
  card_->PowerOn();
  EXPECT_EQ(SwOf("02 CA 01 83 01"), 0x6881);
}

TEST_F(AdminTest, LoadExecutableRecordsThePackage) {
  PersoOptions o;
  o.version = "M4.0";
  o.packages = {{0x01, 0x01}};
  MakeCard(o);
  AdminPhase();
  // The key-generation package file: 6F 1A, 81 02 11 07, 82 03 21 00 00, 83 02 CF 07, 85 03 00 00 00, 86 06 FF 00 00 00 00 00.
  ASSERT_EQ(SwOf("00 E0 00 00 1C 6F 1A 81 02 11 07 82 03 21 00 00 83 02 CF 07 85 03 00 00 00 86 06 FF 00 00 00 00 00"),
            0x9000);
  ASSERT_EQ(SwOf("00 D6 00 00 04 DE AD BE EF"), 0x9000);
  EXPECT_EQ(SwOf("00 B0 00 00 04"), 0x6982);  // code files are not readable
  EXPECT_EQ(SwOf("84 20 00 00 08 00 00 00 00 00 00 00 00"), 0x6E00);  // M4.0 takes CLA 80
  EXPECT_EQ(SwOf("80 20 00 00 08 00 00 00 00 00 00 00 00"), 0x9000);
  // Package records: the identifier in the third byte, the version in the fourth.
  EXPECT_EQ(Hs(Tx("00 CA 01 88 80")), "000001010000" "000007080000" "9000");
  o.version = "M4.10";
  o.packages = {};
  MakeCard(o);
  AdminPhase();
  ASSERT_EQ(SwOf("00 E0 00 00 1C 6F 1A 81 02 11 07 82 03 21 00 00 83 02 CF 07 85 03 00 00 00 86 06 FF 00 00 00 00 00"),
            0x9000);
  EXPECT_EQ(SwOf("84 20 00 00 08 00 00 00 00 00 00 00 00"), 0x9000);
  EXPECT_EQ(SwOf("80 20 00 00 08 00 00 00 00 00 00 00 00"), 0x9000);  // the package sequences' class
  EXPECT_EQ(Hs(Tx("00 CA 01 88 80")), "000007020000" "9000");
  // Not a code file.
  EXPECT_EQ(SwOf("00 A4 08 00 04 50 00 00 01"), 0x9000);
  EXPECT_EQ(SwOf("84 20 00 00 08 00 00 00 00 00 00 00 00"), 0x6981);
}

TEST_F(AdminTest, EraseFormatAndChangeKey) {
  MakeCard();
  const Bytes erase = K(kDefaultEraseKey, 16), format = K(kDefaultFormatKey, 16);
  EXPECT_EQ(Sw(Tx(Form4(0x40, 0x00, 0x01, H("6F 26 85 03 01 10 00 86 09" + Rep("00", 9) + "8B 14" + Rep("FF", 20)), format))),
            0x6985);  // FORMAT needs life cycle 34
  AdminPhase();
  Bytes wrongKey = erase;
  wrongKey[0] ^= 0x10;  // not a parity bit
  EXPECT_EQ(Sw(Tx(Form4(0x06, 0x00, 0x00, {}, wrongKey))), 0x6988);
  Bytes eraseCmd = Form4(0x06, 0x00, 0x00, {}, erase);
  EXPECT_EQ(eraseCmd[4], 0x10);  // Lc 16 after protection
  EXPECT_EQ(Sw(Tx(eraseCmd)), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "349000");
  EXPECT_EQ(SwOf("00 A4 04 00 09 A0 00 00 07 56 45 58 41 01"), 0x6A82);
  // The unenciphered 48-byte form of FORMAT: the 40-byte template and its MAC.
  Bytes fmt = Form4(0x40, 0x00, 0x01, H("6F 26 85 03 01 20 00 86 09" + Rep("00", 9) + "8B 14" + Rep("FF", 20)), format,
                    false);
  ASSERT_EQ(fmt[4], 48);
  EXPECT_EQ(Hs(Bytes(fmt.begin() + 5, fmt.end())), Hs(FormatCommandData(0x2000, SecureBytes(format.begin(), format.end()))));
  EXPECT_EQ(Sw(Tx(fmt)), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
  Bytes r = Tx("00 A4 00 00 02 3F 00 10");
  ASSERT_EQ(Sw(r), 0x9000);
  EXPECT_EQ(r[4] << 8 | r[5], 0x2000);
  // CHANGE KEY 01 under the current key 01: the new key is the 16 data bytes.
  const Bytes newKey = H("00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(Sw(Tx(Form4(0x24, 0x00, 0x01, newKey, erase))), 0x9000);
  EXPECT_EQ(Sw(Tx(Form4(0x06, 0x00, 0x00, {}, erase))), 0x6988);
  EXPECT_EQ(Sw(Tx(Form4(0x06, 0x00, 0x00, {}, newKey))), 0x9000);
  // The M4.10 form of FORMAT, enciphered.
  PersoOptions o;
  o.version = "M4.10";
  o.lifeCycle = 0x34;
  MakeCard(o);
  EXPECT_EQ(Sw(Tx(Form4(0x40, 0x00, 0x01, H("62 15 81 02 04 00 85 01 01 86 0A" + Rep("00", 10) + "CB 00"), format))),
            0x9000);
  r = Tx("00 A4 00 00 02 3F 00 10");
  EXPECT_EQ(r[4] << 8 | r[5], 0x0400);
}

TEST_F(AdminTest, ChangeKeyOnM40NeedsTheInitialisationPhase) {
  PersoOptions o;
  o.version = "M4.0";
  MakeCard(o);
  EXPECT_EQ(Sw(Tx(Form4(0x24, 0x00, 0x01, H("00112233445566778899AABBCCDDEEFF"), K(kDefaultEraseKey, 16)))), 0x6985);
}

TEST_F(AdminTest, ExternalAuthenticate) {
  MakeCard();
  const Bytes key = K(kDefaultAuthKey, 16);
  EXPECT_EQ(SwOf("00 82 00 82 08 00 00 00 00 00 00 00 00"), 0x6985);  // no challenge
  Bytes ch = Data(Tx("00 84 00 00 08"));
  Bytes a = H("00 82 00 82 08");
  Bytes crypt = TestCbc3(K24(key), ch);
  a.insert(a.end(), crypt.begin(), crypt.end());
  EXPECT_EQ(Sw(Tx(a)), 0x9000);
  EXPECT_EQ(Sw(Tx(a)), 0x6985);  // the challenge is used up
  Tx("00 84 00 00 08");
  EXPECT_EQ(Sw(Tx(a)), 0x6300);
  EXPECT_EQ(SwOf("00 82 00 85 08 00 00 00 00 00 00 00 00"), 0x6A88);
}

TEST_F(AdminTest, IncreaseAndGetData) {
  MakeCard();
  EXPECT_EQ(SwOf("80 32 00 00 04 05 00 00 00"), 0x9000);
  EXPECT_EQ(SwOf("80 32 00 00 04 FF FF FF FF"), 0x6A80);  // would wrap around
  EXPECT_EQ(SwOf("80 32 00 00 02 01 00"), 0x6700);
  // Access check: nothing granted, then the user PIN and its granted value 03.
  EXPECT_EQ(Hs(Tx("00 CA 01 84 40")), "9000");
  SelectApp();
  VerifyUser();
  EXPECT_EQ(Hs(Tx("00 CA 01 84 40")), "03109000");
  EXPECT_EQ(SwOf("00 CA 01 89 06"), 0x6A88);  // M4.10 does not report its memory
  EXPECT_EQ(SwOf("00 CA 01 99 06"), 0x6A88);
  PersoOptions o;
  o.version = "M4.20";
  MakeCard(o);
  EXPECT_EQ(Hs(Tx("00 CA 01 89 06")), "0104004000009000");
  EXPECT_EQ(Hs(Tx("00 CA 01 88 80")), "9000");  // no packages
}

TEST_F(AdminTest, SecurityEnvironmentObject) {
  MakeCard();
  EXPECT_EQ(SwOf("00 DA 01 6D 0F 83 01 01 86 02 00 00 8F 06 00 00 00 00 00 00"), 0x9000);
  EXPECT_EQ(SwOf("00 DA 01 6D 02 01 01"), 0x6A80);
}

}  // namespace
}  // namespace vexa::vcard::test
