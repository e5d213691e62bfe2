// File system commands with creation templates written out from the command
// tables: both template forms, SELECT modes, sizes, binary and record access,
// deletion, life-cycle and access-condition refusals.
#include "card_fixture.h"

namespace vexa::vcard::test {
namespace {

// M4 forms (57 bytes of control information).
std::string CreateEfM4(const std::string& size, const std::string& type, const std::string& fid,
                       const std::string& efac = "00 00 00 FF FF 00 00 FF FF") {
  return "00 E0 00 00 39 6F 37 81 02 " + size + " 82 03 " + type + " 00 00 83 02 " + fid + " 85 03 01 " + size +
         " 86 09 " + efac + " 8B 18 " + Rep("FF", 24);
}
std::string CreateDfM4(const std::string& size, const std::string& fid) {
  return "00 E0 00 00 39 6F 37 81 02 FF FF 82 03 38 00 00 83 02 " + fid + " 85 03 01 " + size +
         " 86 09 00 03 00 00 00 03 03 00 00 8B 18 " + Rep("FF", 24);
}
// M4.10 forms (56 and 53 bytes).
std::string CreateDfM410(const std::string& size, const std::string& fid) {
  return "00 E0 00 00 38 62 36 81 02 " + size + " 82 01 38 83 02 " + fid + " 85 03 00 " + size + " 86 0A " +
         Rep("00", 10) + " CB 18 " + Rep("FF", 24);
}
std::string CreateEfM410(const std::string& size, const std::string& type, const std::string& fid) {
  return "00 E0 00 00 35 62 33 80 02 " + size + " 82 01 " + type + " 83 02 " + fid +
         " 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF CB 18 " + Rep("FF", 24);
}

class FileSystemTest : public CardTest {
 protected:
  void SetUp() override {
    MakeCard();
    SelectApp();
    AdminPhase();
  }
};

TEST_F(FileSystemTest, CreatesBothTemplateFormsAndAnswersTheirSizes) {
  ASSERT_EQ(SwOf(CreateEfM4("00 FA", "01", "00 10")), 0x9000);
  ASSERT_EQ(SwOf(CreateEfM410("01 2C", "05", "00 11")), 0x9000);
  ASSERT_EQ(SwOf(CreateDfM410("01 C0", "02 01")), 0x9000);  // the new DF becomes current
  ASSERT_EQ(SwOf("00 A4 03 00"), 0x9000);                   // back to the application
  ASSERT_EQ(SwOf(CreateDfM4("01 00", "02 02")), 0x9000);
  SelectApp();
  // GET FILE SIZE: the size field has length 2 in response byte 4, the size in bytes 5-6.
  struct {
    const char* select;
    uint16_t size;
  } cases[] = {{"00 A4 02 00 02 00 10 10", 250}, {"00 A4 02 00 02 00 11 10", 300}, {"00 A4 01 00 02 02 01 10", 0x1C0}};
  for (const auto& k : cases) {
    SelectApp();
    Bytes r = Tx(k.select);
    ASSERT_EQ(Sw(r), 0x9000) << k.select;
    ASSERT_GE(r.size(), 8u);
    EXPECT_EQ(r[3], 0x02) << k.select;
    EXPECT_EQ(r[4] << 8 | r[5], k.size) << k.select;
  }
  SelectApp();
  EXPECT_EQ(SwOf(CreateEfM4("00 10", "01", "00 10")), 0x6A89);  // identifier taken
}

TEST_F(FileSystemTest, M410TemplatesAreRefusedByEarlierVersions) {
  PersoOptions o;
  o.version = "M4.01";
  MakeCard(o);
  SelectApp();
  AdminPhase();
  EXPECT_EQ(SwOf(CreateEfM410("00 20", "01", "00 10")), 0x6A80);
  EXPECT_EQ(SwOf(CreateEfM4("00 20", "01", "00 10")), 0x9000);
}

TEST_F(FileSystemTest, CreationAndDeletionNeedTheAdministrationPhase) {
  ASSERT_EQ(SwOf("80 10 00 00"), 0x9000);  // back to 10
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "109000");
  EXPECT_EQ(SwOf(CreateEfM4("00 20", "01", "00 10")), 0x6985);
  ASSERT_EQ(SwOf("80 10 00 00"), 0x9000);
  ASSERT_EQ(SwOf(CreateEfM4("00 20", "01", "00 10")), 0x9000);
  ASSERT_EQ(SwOf("80 10 00 00"), 0x9000);
  EXPECT_EQ(SwOf("00 E4 00 00 02 00 10"), 0x6985);
  ASSERT_EQ(SwOf("80 10 00 00"), 0x9000);
  EXPECT_EQ(SwOf("00 E4 00 00 02 00 10"), 0x9000);
  EXPECT_EQ(SwOf("00 A4 02 00 02 00 10"), 0x6A82);
  EXPECT_EQ(SwOf("00 E4 00 00 02 00 10"), 0x6A82);
}

TEST_F(FileSystemTest, SelectModes) {
  ASSERT_EQ(SwOf(CreateDfM410("01 00", "02 01")), 0x9000);
  ASSERT_EQ(SwOf(CreateEfM410("00 20", "01", "00 05")), 0x9000);
  // Mode 8: path from the MF (application 5000, DF 0201, EF 0005).
  EXPECT_EQ(SwOf("00 A4 08 00 06 50 00 02 01 00 05"), 0x9000);
  EXPECT_EQ(SwOf("00 B0 00 00 04"), 0x9000);  // the EF is current
  // Mode 9: path from the current DF.
  SelectApp();
  EXPECT_EQ(SwOf("00 A4 09 00 04 02 01 00 05"), 0x9000);
  // Mode 3: parent; mode 1: child DF; mode 2 does not select a DF, mode 1 not an EF.
  EXPECT_EQ(SwOf("00 A4 03 00"), 0x9000);
  EXPECT_EQ(SwOf("00 A4 02 00 02 02 01"), 0x6A82);
  EXPECT_EQ(SwOf("00 A4 01 00 02 02 01"), 0x9000);
  EXPECT_EQ(SwOf("00 A4 01 00 02 00 05"), 0x6A82);
  EXPECT_EQ(SwOf("00 A4 02 00 02 00 05"), 0x9000);
  // Mode 0 by identifier; MF by 3F00; no data selects the MF too.
  EXPECT_EQ(SwOf("00 A4 00 00 02 3F 00"), 0x9000);
  EXPECT_EQ(SwOf("00 A4 03 00"), 0x6A82);  // the MF has no parent
  EXPECT_EQ(SwOf("00 A4 00 00 02 50 00"), 0x9000);
  EXPECT_EQ(SwOf("00 A4 00 00"), 0x9000);
  // Refusals: unknown mode, wrong identifier length, unknown path.
  EXPECT_EQ(SwOf("00 A4 05 00 02 50 00"), 0x6A86);
  EXPECT_EQ(SwOf("00 A4 02 00 01 50"), 0x6700);
  EXPECT_EQ(SwOf("00 A4 08 00 04 50 00 99 99"), 0x6A82);
}

TEST_F(FileSystemTest, BinaryReadAndUpdateWithOffsets) {
  ASSERT_EQ(SwOf(CreateEfM4("00 FA", "01", "00 10")), 0x9000);
  // 250 bytes written in 112-byte steps at offsets 0000, 0070, 00E0.
  Bytes all;
  for (int i = 0; i < 250; ++i) all.push_back(static_cast<uint8_t>(i));
  for (size_t off = 0; off < all.size(); off += 112) {
    const size_t n = std::min<size_t>(112, all.size() - off);
    Bytes apdu{0x00, 0xD6, static_cast<uint8_t>(off >> 8), static_cast<uint8_t>(off), static_cast<uint8_t>(n)};
    apdu.insert(apdu.end(), all.begin() + static_cast<long>(off), all.begin() + static_cast<long>(off + n));
    ASSERT_EQ(Sw(Tx(apdu)), 0x9000);
  }
  Bytes r1 = Tx("00 B0 00 00 70"), r2 = Tx("00 B0 00 70 70"), r3 = Tx("00 B0 00 E0 1A");
  ASSERT_EQ(Sw(r1), 0x9000);
  ASSERT_EQ(Sw(r3), 0x9000);
  Bytes got = Data(r1);
  for (const Bytes* r : {&r2, &r3}) {
    Bytes d = Data(*r);
    got.insert(got.end(), d.begin(), d.end());
  }
  EXPECT_EQ(got, all);
  EXPECT_EQ(Data(Tx("00 B0 00 F0 70")).size(), 10u);  // short answer at the end
  EXPECT_EQ(SwOf("00 B0 00 FA 10"), 0x6A86);         // offset at the end
  EXPECT_EQ(SwOf("00 D6 00 F8 04 01 02 03 04"), 0x6A84);  // past the end
  EXPECT_EQ(SwOf("00 B2 01 04 00"), 0x6981);         // not a record file
}

TEST_F(FileSystemTest, Records) {
  ASSERT_EQ(SwOf(CreateEfM4("00 20", "05", "00 12")), 0x9000);
  EXPECT_EQ(SwOf("00 E2 00 00 04 10 02 01 00"), 0x9000);
  EXPECT_EQ(SwOf("00 E2 00 00 03 11 01 03"), 0x9000);
  EXPECT_EQ(Hs(Tx("00 B2 02 04 00")), "1101039000");
  EXPECT_EQ(SwOf("00 DC 01 04 02 AA BB"), 0x9000);
  EXPECT_EQ(Hs(Tx("00 B2 01 04 00")), "AABB9000");
  EXPECT_EQ(SwOf("00 B2 03 04 00"), 0x6A83);
  EXPECT_EQ(SwOf("00 B0 00 00 04"), 0x6981);  // not transparent
  // The file holds 32 bytes of records.
  EXPECT_EQ(SwOf("00 E2 00 00 1C " + Rep("01", 28)), 0x6A84);
}

TEST_F(FileSystemTest, ProtectedFileNeedsTheUserPin) {
  ASSERT_EQ(SwOf(CreateEfM4("00 08", "01", "00 13")), 0x9000);
  ASSERT_EQ(SwOf("00 D6 00 00 04 01 02 03 04"), 0x9000);
  // The access conditions the engine gives protected files after writing them.
  ASSERT_EQ(SwOf("00 DA 01 6F 0B 86 09 03 03 03 FF FF 03 03 FF FF"), 0x9000);
  EXPECT_EQ(SwOf("00 B0 00 00 04"), 0x6982);
  EXPECT_EQ(SwOf("00 D6 00 00 01 00"), 0x6982);
  EXPECT_EQ(SwOf("00 E4 00 00 02 00 13"), 0x6982);
  VerifyUser();
  EXPECT_EQ(Hs(Tx("00 B0 00 00 04")), "010203049000");
  // Reset of the security status locks it again.
  ASSERT_EQ(SwOf("00 EA 00 00"), 0x9000);
  EXPECT_EQ(SwOf("00 B0 00 00 04"), 0x6982);
}

TEST_F(FileSystemTest, DirectoryFileIsWrittenOnlyAfterTheDirectoryPin) {
  EXPECT_EQ(SwOf("00 A4 09 00 02 00 01"), 0x9000);
  EXPECT_EQ(SwOf("00 B0 00 00 14"), 0x9000);
  EXPECT_EQ(SwOf("00 D6 00 00 02 30 00"), 0x6982);
  ASSERT_EQ(SwOf("00 20 00 91 0C 72 61 76 65 6C 6F 2E 39 30 38 37 36"), 0x9000);  // "ravelo.90876"
  EXPECT_EQ(SwOf("00 D6 00 00 02 30 00"), 0x9000);
}

TEST_F(FileSystemTest, MemoryOfTheCardIsLimited) {
  PersoOptions o;
  o.version = "M4.20";
  o.memoryKb = 32;
  MakeCard(o);
  SelectApp();
  AdminPhase();
  // 8192 bytes of directory are in use; 24 KB more fit, 24 KB + 1 not.
  EXPECT_EQ(SwOf(CreateEfM410("60 01", "01", "00 20")), 0x6A84);
  EXPECT_EQ(SwOf(CreateEfM410("60 00", "01", "00 20")), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 89 06")), "0104002000009000");
}

}  // namespace
}  // namespace vexa::vcard::test
