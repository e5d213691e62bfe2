// Version, UID and life-cycle answers, and SELECT by DF name, for every version.
#include "card_fixture.h"

namespace vexa::vcard::test {
namespace {

struct VersionCase {
  const char* version;
  const char* answer;
};

class VersionTest : public CardTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, GetDataAnswersVersionUidAndLifeCycle) {
  PersoOptions o;
  o.version = GetParam().version;
  MakeCard(o);
  EXPECT_EQ(Hs(Tx("00 CA 01 82 02")), std::string(GetParam().answer) + "9000");
  Bytes uid = Tx("00 CA 01 81 60");
  ASSERT_EQ(Sw(uid), 0x9000);
  ASSERT_GE(Data(uid).size(), 16u);
  // Bytes 11..16 are the card serial number.
  EXPECT_EQ(Hs(Bytes(uid.begin() + 10, uid.begin() + 16)), "112233445566");
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "109000");
  EXPECT_FALSE(card_->Atr().empty());
}

INSTANTIATE_TEST_SUITE_P(AllVersions, VersionTest,
                         ::testing::Values(VersionCase{"M3", "C801"}, VersionCase{"M4.0", "C802"},
                                           VersionCase{"M4.01", "C803"}, VersionCase{"M4.01a", "C804"},
                                           VersionCase{"M4.10", "C805"}, VersionCase{"M4.20", "C806"},
                                           VersionCase{"M4.2b", "C809"}, VersionCase{"M4.2b-0A", "C80A"},
                                           VersionCase{"M4.40", "C80D"}));

class SelectTest : public CardTest {};

TEST_F(SelectTest, ByDfNameFindsTheApplicationOnly) {
  MakeCard();
  EXPECT_EQ(SwOf("00 A4 04 00 09 A0 00 00 07 56 45 58 41 01"), 0x9000);
  EXPECT_EQ(SwOf("00 A4 04 00 09 A0 00 00 07 56 45 58 41 02"), 0x6A82);
  // No data: the MF.
  EXPECT_EQ(SwOf("00 A4 04 00"), 0x9000);
  // With Le the card answers the control parameters.
  Bytes r = Tx("00 A4 04 00 09 A0 00 00 07 56 45 58 41 01 10");
  ASSERT_EQ(Sw(r), 0x9000);
  EXPECT_EQ(r[0], 0x6F);
}

TEST_F(SelectTest, AtrsOfTheRegisteredCardTypes) {
  PersoOptions o;
  o.version = "M4.0";
  MakeCard(o);
  EXPECT_EQ(Hs(card_->Atr()), "3BE200FFC11031FE55C8029C");
  o.version = "M4.01";
  o.atrProfile = "Velmoranta";
  MakeCard(o);
  EXPECT_EQ(Hs(card_->Atr()), "3BFC9800FFC11031FE55C803" "56656C6D6F72616E7461" "2E");
  o.version = "M4.2b";
  o.atrProfile = "";
  MakeCard(o);
  EXPECT_EQ(Hs(card_->Atr()), "3BF2180002C10A31FE58C80975");
}

TEST_F(SelectTest, UnknownInstructionAndMalformedApdus) {
  MakeCard();
  EXPECT_EQ(SwOf("00 FE 00 00"), 0x6D00);
  EXPECT_EQ(SwOf("00 A4"), 0x6700);
  EXPECT_EQ(SwOf("00 A4 04 00 05 A0 00"), 0x6700);  // Lc longer than the data
  EXPECT_EQ(SwOf("F0 A4 04 00"), 0x6E00);
}

}  // namespace
}  // namespace vexa::vcard::test
