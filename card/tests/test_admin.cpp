// Card administration against the virtual card through the real pcscd:
// formatting and its life-cycle rule, erasing and system keys in the "4"
// protection, code packages (listing, checking, loading with the class byte of
// the card OS version) and PIN objects created with the administration
// templates.
#include <gtest/gtest.h>

#include "test_tavrix_bed.h"

using namespace vexa::card::test;

namespace {

using CardAdminBedTest = BedTest;

std::string Dump(const std::vector<Bytes>& cmds) {
  std::string s;
  char b[4];
  for (const auto& c : cmds) {
    for (BYTE x : c) {
      snprintf(b, sizeof b, "%02X ", x);
      s += b;
    }
    s += "\n";
  }
  return s;
}

TEST_F(CardAdminBedTest, FormatIsRefusedOutsideLifeCycle34WithoutSending) {
  vexa::vcard::PersoOptions opts;
  opts.lifeCycle = 0x20;
  StartCard(opts);
  EXPECT_EQ(m_card.cmdFORMAT(), 0x20);
  const BYTE size[2] = {0x40, 0x00};
  const BYTE k1[8] = {}, k2[8] = {};
  EXPECT_EQ(m_card.CTavrixM4::cmdFORMAT(size, k1, k2, nullptr, nullptr, nullptr), 0x20);
  EXPECT_EQ(m_card.cmdFORMAT(size, k1, k2, nullptr, nullptr, nullptr), 0x20);
  const auto cmds = Commands();
  EXPECT_EQ(cmds, (std::vector<Bytes>(3, HexBytes("00 CA 01 83 01")))) << Dump(cmds);
}

TEST_F(CardAdminBedTest, EraseThenFormatWithTheBuiltInKeys) {
  StartCard("M4.10");
  ASSERT_EQ(m_card.cmdERASE_FILE(), 0) << Dump(Commands());
  EXPECT_EQ(m_card.GetLifeCycle(), 0x34);
  Commands();
  ASSERT_EQ(m_card.cmdFORMAT(), 0) << Dump(Commands());
  EXPECT_EQ(m_card.GetLifeCycle(), 0x20);
}

TEST_F(CardAdminBedTest, EraseAndFormatWithGivenKeys) {
  StartCard("M4.10");
  const BYTE e1[8] = {'E', 'R', 'A', 'S', 'E', 'K', 'E', '1'};
  const BYTE e2[8] = {'E', 'R', 'A', 'S', 'E', 'K', 'E', '2'};
  const BYTE wrong[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const LONG bad = m_card.cmdERASE_FILE(wrong, e2);
  EXPECT_GT(bad, 0x6000) << "a wrong key is a refusal";
  ASSERT_EQ(m_card.cmdERASE_FILE(e1, e2), 0) << Dump(Commands());
  const BYTE f1[8] = {'F', 'O', 'R', 'M', 'A', 'T', 'K', '1'};
  const BYTE f2[8] = {'F', 'O', 'R', 'M', 'A', 'T', 'K', '2'};
  const BYTE size[2] = {0x40, 0x00};
  Commands();
  ASSERT_EQ(m_card.cmdFORMAT(size, f1, f2, nullptr, nullptr, nullptr), 0) << Dump(Commands());
}

TEST_F(CardAdminBedTest, ChangeKeyReportsTheStatusWordItself) {
  StartCard("M4.10");
  const BYTE f1[8] = {'F', 'O', 'R', 'M', 'A', 'T', 'K', '1'};
  const BYTE f2[8] = {'F', 'O', 'R', 'M', 'A', 'T', 'K', '2'};
  const BYTE n1[8] = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
  const BYTE n2[8] = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28};
  EXPECT_EQ(m_card.cmdCHANGE_KEY(f1, f2, n1, n2, 0x00), 0x9000) << Dump(Commands());
  // The old key no longer protects a change; the new one does.
  EXPECT_NE(m_card.cmdCHANGE_KEY(f1, f2, f1, f2, 0x00), 0x9000);
  EXPECT_EQ(m_card.cmdCHANGE_SYSTEM_KEY(n1, n2, f1, f2, 0x00), 0x9000) << Dump(Commands());
  // Back at the built-in key pair: the three-argument form changes from it.
  EXPECT_EQ(m_card.cmdCHANGE_KEY(n1, n2, 0x00), 0x9000) << Dump(Commands());
  EXPECT_EQ(m_card.cmdCHANGE_KEY(n1, n2, f1, f2, 0x00), 0x9000) << Dump(Commands());
}

TEST_F(CardAdminBedTest, PackagesListedAndChecked) {
  vexa::vcard::PersoOptions opts;
  opts.packages = {{0x07, 0x08}, {0x03, 0x01}};
  StartCard(opts);
  PACKAGE p[8];
  DWORD n = 8;
  ASSERT_EQ(m_card.GetPackages(p, &n), 0) << Dump(Commands());
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(p[0].id, 7);
  EXPECT_EQ(p[0].version, 8);
  EXPECT_EQ(m_card.IsPackagePresent({7, 8}), 1);
  EXPECT_EQ(m_card.IsPackagePresent({7, 2}), 0);
  EXPECT_EQ(m_card.IsPackagePresent({3, 1}), 1);
}

TEST_F(CardAdminBedTest, LoadExecutableClassByteFollowsTheVersion) {
  struct {
    const char* version;
    BYTE cla;
  } cases[] = {{"M4.0", 0x80}, {"M4.10", 0x84}, {"M4.40", 0x84}};
  for (const auto& c : cases) {
    StartCard(c.version);
    const BYTE params[8] = {0xCF, 0x07, 0x07, 0x02, 0x11, 0x07, 0x00, 0x00};
    m_card.cmdLOAD_EXECUTABLE(params, 8, 0x00, 0x00);
    const auto cmds = Commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back()[0], c.cla) << c.version << "\n" << Dump(cmds);
    EXPECT_EQ(cmds.back()[1], 0x20);
    m_card.Disconnect();
    m_vcard.reset();
  }
  StartCard("M3");
  const BYTE params[8] = {};
  EXPECT_EQ(m_card.cmdLOAD_EXECUTABLE(params, 8, 0x00, 0x00), CARD_ERR_VERSION);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{HexBytes("00 CA 01 82 02")}));
}

// The package sequence ends with LOAD EXECUTABLE 80 20 00 00 whatever the
// card version; the card then lists the key-generation package of its version
// (version 8 on M4.0 cards, 2 on later ones).
TEST_F(CardAdminBedTest, KeyGenerationPackageLoads) {
  for (const auto& [version, pkgVersion] : {std::pair<const char*, BYTE>{"M4.0", 8},
                                            std::pair<const char*, BYTE>{"M4.10", 2}}) {
    SCOPED_TRACE(version);
    StartCard(version);
    // Code files are created in the operational phase.
    ASSERT_EQ(m_card.cmdPHASE_CONTROL(), 0);
    ASSERT_EQ(m_card.GetLifeCycle(), 0x20);
    Commands();
    const LONG rc = m_card.LoadGenKey();
    const auto cmds = Commands();
    ASSERT_GE(cmds.size(), 1u);
    EXPECT_EQ(Bytes(cmds[0].begin(), cmds[0].begin() + 7), HexBytes("00 E0 00 00 1C 6F 1A"));
    ASSERT_EQ(rc, 0) << Dump(cmds);
    ASSERT_EQ(cmds.size(), 1u + 46u + 1u);
    EXPECT_EQ(Bytes(cmds[46].begin(), cmds[46].begin() + 5), HexBytes("00 D6 10 E0 27"));
    EXPECT_EQ(Bytes(cmds[47].begin(), cmds[47].begin() + 5), HexBytes("80 20 00 00 08"));
    EXPECT_EQ(m_card.IsPackagePresent({7, pkgVersion}), 1);
    m_card.Disconnect();
    m_vcard.reset();
  }
}

TEST_F(CardAdminBedTest, GetDataWithoutLeAndAccessCheck) {
  StartCard("M4.10");
  BYTE buf[8];
  DWORD n = sizeof buf;
  ASSERT_EQ(m_card.cmdGETDATA(0x83, buf, &n), 0) << Dump(Commands());
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(buf[0], 0x10);
  const BYTE userPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
  const LONG before = m_card.Is_AccessGranted(0x03);
  ASSERT_EQ(m_card.cmdVERIFY(0x10, userPin, 8), 0);
  const LONG after = m_card.Is_AccessGranted(0x03);
  EXPECT_EQ(before, 0) << Dump(Commands());
  EXPECT_EQ(after, 1) << Dump(Commands());
}

TEST_F(CardAdminBedTest, PinObjectFromTheAdministrationTemplate) {
  StartCard("M4.10");
  const BYTE userPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
  ASSERT_EQ(m_card.cmdVERIFY(0x10, userPin, 8), 0);
  ASSERT_EQ(m_card.cmdPHASE_CONTROL(), 0);
  Commands();
  const BYTE pin[] = {'4', '3', '2', '1'};
  const BYTE x = 0x33, y = 0x03;
  const LONG rc = m_card.Init_PIN(0x15, pin, 4, x, y, static_cast<const BSAC410*>(nullptr),
                                  nullptr, nullptr);
  const auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0][4], 4 + 45);
  EXPECT_EQ(rc, 0) << Dump(cmds);
  if (rc == 0) {
    EXPECT_EQ(m_card.cmdVERIFY(0x15, pin, 4), 0);
  }
}

}  // namespace
