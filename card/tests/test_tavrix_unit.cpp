// The M4 / M4.10 / M3 command bytes over a scripted card, against fixtures
// written out from the command tables: stepping of READ/UPDATE BINARY, chained
// VERIFY, selection modes, creation templates, key objects, key-pair
// generation, signing and deciphering, packages, channels and the life-cycle
// rules.
#include <gtest/gtest.h>

#include "test_tavrix_fake.h"
#include "vexa/card/tavrix_m3.h"
#include "vexa/card/tavrix_m410.h"

using namespace vexa::card::test;

namespace {

using CardM4Test = FakeCardFixture<CTavrixM410>;
using CardM3Test = FakeCardFixture<CTavrixM3>;
using Cmds = std::vector<Bytes>;

const Bytes kLifeCycle = Hex("00 CA 01 83 01");
const Bytes kVersion = Hex("00 CA 01 82 02");
const Bytes kPhase = Hex("80 10 00 00");

TEST_F(CardM4Test, ReadBinaryOf250BytesInThreeSteps) {
  const Bytes file = Seq(250, 1);
  m_card.handler = [&](const Bytes& c) {
    if (c[1] != 0xB0) return Bytes{};
    const std::size_t off = (c[2] << 8) | c[3];
    Bytes r(file.begin() + static_cast<long>(off), file.begin() + static_cast<long>(off + c[4]));
    r.push_back(0x90);
    r.push_back(0x00);
    return r;
  };
  BYTE buf[250];
  DWORD len = sizeof buf;
  ASSERT_EQ(m_obj.cmdREAD_BINARY(buf, &len), 0);
  EXPECT_EQ(len, 250u);
  EXPECT_EQ(Bytes(buf, buf + 250), file);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 B0 00 00 70"), Hex("00 B0 00 70 70"), Hex("00 B0 00 E0 1A")}));
  len = 0;
  ASSERT_EQ(m_obj.cmdREAD_BINARY(buf, &len), 0);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CardM4Test, ReadBinaryStopsAtTheFirstFailureAndAShortAnswer) {
  m_card.answers = {Cat({Seq(112), Hex("90 00")}), Hex("6B 00")};
  BYTE buf[300];
  DWORD len = sizeof buf;
  EXPECT_EQ(m_obj.cmdREAD_BINARY(buf, &len), 0x6B00);
  EXPECT_EQ(len, 112u);
  EXPECT_EQ(Sent().size(), 2u);
  m_card.answers = {Cat({Seq(10), Hex("90 00")})};  // less than asked for
  len = 50;
  EXPECT_EQ(m_obj.cmdREAD_BINARY(buf, &len), CARD_ERR_RESPONSE);
  EXPECT_EQ(len, 10u);
}

TEST_F(CardM4Test, UpdateBinarySteps) {
  const Bytes data = Seq(230);
  ASSERT_EQ(m_obj.cmdUPDATE_BINARY(data.data(), 230), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 5), Hex("00 D6 00 00 70"));
  EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 5), Hex("00 D6 00 70 70"));
  EXPECT_EQ(sent[2], Cat({Hex("00 D6 00 E0 06"), Bytes(data.begin() + 224, data.end())}));
}

TEST_F(CardM4Test, ChainedVerify) {
  struct {
    DWORD len;
    std::vector<std::pair<BYTE, BYTE>> parts;  // CLA, Lc
  } cases[] = {{250, {{0x10, 100}, {0x10, 100}, {0x00, 50}}},
               {200, {{0x10, 100}, {0x00, 100}}},
               {100, {{0x00, 100}}},
               {8, {{0x00, 8}}}};
  const Bytes data = Seq(250, 0x30);
  for (const auto& c : cases) {
    ASSERT_EQ(m_obj.cmdVERIFYex(0x10, data.data(), c.len), 0) << c.len;
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), c.parts.size()) << c.len;
    DWORD off = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      const auto [cla, lc] = c.parts[i];
      EXPECT_EQ(sent[i], Cat({Bytes{cla, 0x20, 0x00, 0x90, lc},
                              Bytes(data.begin() + off, data.begin() + off + lc)}))
          << c.len << " part " << i;
      off += lc;
    }
  }
  // A failing part ends the chain with its status.
  m_card.answers = {Hex("90 00"), Hex("63 C2")};
  EXPECT_EQ(m_obj.cmdVERIFYex(0x10, data.data(), 250), 0x63C2);
  EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(CardM4Test, VerifyPlainAndUpToTheTerminatingZero) {
  const BYTE pin[] = "1234";
  ASSERT_EQ(m_obj.cmdVERIFY(0x10, pin, 0), 0);
  ASSERT_EQ(m_obj.cmdVERIFY(0x12, pin, 2), 0);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 20 00 90 04 31 32 33 34"), Hex("00 20 00 92 02 31 32")}));
}

TEST_F(CardM4Test, SelectModes) {
  const BYTE mf[] = {0x3F, 0x00};
  const BYTE fid[] = {0x50, 0x15};
  const BYTE path[] = {0x50, 0x00, 0x00, 0x01};
  struct {
    t_PARAM mode;
    const BYTE* id;
    DWORD len;
    const char* expected;
  } cases[] = {
      {SEL_FID, fid, 2, "00 A4 00 00 02 50 15"},
      {SEL_CHILD_DF, fid, 2, "00 A4 01 00 02 50 15"},
      {SEL_EF, path, 4, "00 A4 02 00 02 50 00"},  // exactly two bytes
      {SEL_PARENT, fid, 2, "00 A4 03 00"},
      {SEL_DF_NAME, mf, 2, "00 A4 04 00"},
      {SEL_DF_NAME, path, 4, "00 A4 04 00 04 50 00 00 01"},
      {SEL_PATH_MF, mf, 2, "00 A4 08 00"},
      {SEL_PATH_MF, path, 4, "00 A4 08 00 04 50 00 00 01"},
      {SEL_PATH_DF, mf, 2, "00 A4 09 00 02 3F 00"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(m_obj.cmdSELECT_FILE(c.mode, c.id, c.len), 0) << c.expected;
    EXPECT_EQ(Sent(), (Cmds{Hex(c.expected)}));
  }
  EXPECT_EQ(m_obj.cmdSELECT_FILE(static_cast<t_PARAM>(5), fid, 2), CARD_ERR_SELECT_MODE);
  DWORD size = 0;
  EXPECT_EQ(m_obj.cmdGET_FILE_SIZE(static_cast<t_PARAM>(7), fid, 2, &size), CARD_ERR_SELECT_MODE);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CardM4Test, FileSizeFromTheControlInformation) {
  const BYTE fid[] = {0x00, 0x01};
  struct {
    const char* answer;
    LONG rc;
    DWORD size;
  } cases[] = {
      {"62 0A 80 02 20 00 82 01 01 90 00", 0, 0x2000},
      {"62 0A 80 01 20 82 01 01 90 00", 0, 0x20},
      {"62 0A 80 04 00 00 20 00 90 00", 0, 0},  // four bytes or more: size 0
      {"62 0A 80 90 00", CARD_ERR_RESPONSE, 0},
      {"6A 82", 0x6A82, 0},
  };
  for (const auto& c : cases) {
    m_card.answers = {Hex(c.answer)};
    DWORD size = 0xFFFF;
    EXPECT_EQ(m_obj.cmdGET_FILE_SIZE(SEL_EF, fid, 2, &size), c.rc) << c.answer;
    if (c.rc == 0) {
      EXPECT_EQ(size, c.size) << c.answer;
    }
    EXPECT_EQ(Sent(), (Cmds{Hex("00 A4 02 00 02 00 01 10")}));
  }
}

TEST_F(CardM4Test, CreationTemplates) {
  const BYTE fid[] = {0x10, 0x02};
  const DFAC dfac{{0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x03, 0x00, 0x00}};
  m_card.lifeCycle = 0x10;  // user phase: PHASE CONTROL before creation
  ASSERT_EQ(m_obj.CTavrixM4::Create_DF(0x0140, fid, &dfac, nullptr), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, kPhase,
                          Hex("00 E0 00 00 39 6F 37 81 02 FF FF 82 03 38 00 00 83 02 10 02"
                              " 85 03 01 01 40 86 09 00 03 00 00 00 03 03 00 00 8B 18"
                              " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"
                              " FF FF FF FF")}));
  m_card.lifeCycle = 0x20;
  ASSERT_EQ(m_obj.CTavrixM4::Create_EF(0x0118, fid, FILE_RECORD), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle,
                          Hex("00 E0 00 00 39 6F 37 81 02 01 18 82 03 05 00 00 83 02 10 02"
                              " 85 03 01 01 18 86 09 00 00 00 FF FF 00 00 FF FF 8B 18"
                              " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"
                              " FF FF FF FF")}));
  ASSERT_EQ(m_obj.Create_DF(0x0200, fid, static_cast<const DFAC410*>(nullptr), nullptr), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle,
                          Hex("00 E0 00 00 38 62 36 81 02 02 00 82 01 38 83 02 10 02"
                              " 85 03 00 02 00 86 0A 00 00 00 00 00 00 00 00 00 00 CB 18"
                              " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"
                              " FF FF FF FF")}));
  ASSERT_EQ(m_obj.Create_EF(0x0800, fid, FILE_TRANSPARENT, static_cast<const EFAC410*>(nullptr),
                            nullptr),
            0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle,
                          Hex("00 E0 00 00 35 62 33 80 02 08 00 82 01 01 83 02 10 02"
                              " 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF CB 18"
                              " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"
                              " FF FF FF FF")}));
}

TEST_F(CardM4Test, DeleteFileTogglesThePhaseAroundIt) {
  const BYTE fid[] = {0x00, 0x05};
  m_card.lifeCycle = 0x10;
  ASSERT_EQ(m_obj.cmdDELETE_FILE(fid), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, kPhase, Hex("00 E4 00 00 02 00 05"), kPhase}));
  m_card.lifeCycle = 0x20;
  m_card.answers = {Hex("6A 82")};
  EXPECT_EQ(m_obj.cmdDELETE_FILE(fid), 0x6A82);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, Hex("00 E4 00 00 02 00 05")}));
}

TEST_F(CardM4Test, PrivateKeyObjects) {
  const BSAC bsac{{3, 3, 3, 3, 3, 3, 3}};
  m_card.lifeCycle = 0x20;
  ASSERT_EQ(m_obj.CTavrixM4::Create_Kpri(0x02, 0x12, 4, FALSE, &bsac, nullptr), 0);
  const Bytes tail = Hex("86 07 03 03 03 03 03 03 03 8B 10 FF FF FF FF FF FF FF FF FF FF FF FF"
                         " FF FF FF FF 8F 06 FF FF FF FF FF FF");
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle,
                          Cat({Hex("00 DA 01 6E 31 83 02 20 02 85 08 22 00 12 0F FF FF 00 00"), tail}),
                          Cat({Hex("00 DA 01 6E 31 83 02 21 02 85 08 02 00 12 0F FF FF 00 00"), tail})}));
  // The first refused: the second is not sent.
  m_card.answers = {Hex("6A 80")};
  EXPECT_EQ(m_obj.CTavrixM4::Create_Kpri(0x02, 0x12, 4, TRUE, &bsac, nullptr), 0x6A80);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Bytes(sent[1].begin() + 9, sent[1].begin() + 19), Hex("85 08 62 23 12 4F FF FF 00 00"));
  // A 256-byte key cannot be described in one short command of the M4 form.
  EXPECT_EQ(m_obj.CTavrixM4::Create_Kpri(0x02, 0x10, 256, FALSE, &bsac, nullptr), CARD_ERR_TOO_LONG);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CardM4Test, CrtKeyObjectsOfM410) {
  ASSERT_EQ(m_obj.Create_KpriRSA2(0x03, 0x10, 256, FALSE), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 6u);  // life cycle, five components
  const BYTE lengths[5] = {130, 126, 130, 126, 130};
  for (int i = 0; i < 5; ++i) {
    const Bytes& c = sent[1 + i];
    ASSERT_EQ(c.size(), 5u + lengths[i] + 45) << i;
    EXPECT_EQ(c[4], lengths[i] + 45) << i;
    EXPECT_EQ(Bytes(c.begin() + 5, c.begin() + 9), (Bytes{0x83, 0x02, BYTE(0x20 + i), 0x03}));
    EXPECT_EQ(Bytes(c.begin() + 19, c.begin() + 21), Hex("86 09"));
    EXPECT_EQ(Bytes(c.begin() + 30, c.begin() + 32), Hex("CB 10"));
    EXPECT_EQ(Bytes(c.begin() + 48, c.begin() + 50), (Bytes{0x8F, lengths[i]}));
  }
}

TEST_F(CardM4Test, KeyPairGeneration) {
  const BYTE fid[] = {0x00, 0x02};
  const BYTE e2[] = {0x01, 0x01};
  EXPECT_EQ(m_obj.cmdGENERATE_KEY_PAIR(fid, 0x02, e2, 2), 0x6984);
  EXPECT_TRUE(Sent().empty());
  const BYTE e3[] = {0x01, 0x00, 0x01};
  ASSERT_EQ(m_obj.cmdGENERATE_KEY_PAIR(fid, 0x02, e3, 3), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, Hex("00 46 00 00 0D 20 02 00 02 00 00 00 18 04 00 01 00 01")}));
  ASSERT_EQ(m_obj.cmdGENERATE_KEY_PAIR(fid, 0x02), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, Hex("00 46 00 00 08 20 02 00 02 00 00 00 18")}));
}

TEST_F(CardM4Test, SignatureAndDecipherSequences) {
  const Bytes hash = Seq(35);
  BYTE out[512];
  DWORD n = 200;  // a short answer fits
  m_card.answers = {Hex("90 00"), Hex("90 00"), Cat({Seq(128), Hex("90 00")})};
  ASSERT_EQ(m_obj.cmdPSO_CDS(0x01, 0x02, hash.data(), 35, out, &n), 0);
  EXPECT_EQ(n, 128u);
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], Hex("00 22 F3 01"));
  EXPECT_EQ(sent[1], Hex("00 22 F1 B6 03 83 01 02"));
  EXPECT_EQ(sent[2], Cat({Hex("00 2A 9E 9A 23"), hash, Hex("90")}));

  // 257 bytes (00 and a 2048-bit block) go as an extended command.
  const Bytes block = Seq(256, 3);
  m_card.answers = {Hex("90 00"), Hex("90 00"), Cat({Seq(256), Hex("90 00")})};
  WORD wn = 512;
  ASSERT_EQ(m_obj.cmdPSO_DEC(0x01, 0x02, block.data(), 256, out, &wn), 0);
  EXPECT_EQ(wn, 256);
  sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], Hex("00 22 F1 B8 03 83 01 02"));
  EXPECT_EQ(sent[2], Cat({Hex("00 2A 80 86 00 01 01 00"), block, Hex("01 00")}));

  // A short cryptogram: short command, Le 90.
  m_card.answers = {Hex("90 00"), Hex("90 00"), Cat({Seq(24), Hex("90 00")})};
  wn = 512;
  ASSERT_EQ(m_obj.cmdPSO_DEC_ISO(0x40, 0x01, hash.data(), 24, out, &wn), 0);
  EXPECT_EQ(Sent().back(), Cat({Hex("00 2A 80 86 18"), Seq(24), Hex("90")}));

  // An MSE refused stops the sequence.
  m_card.answers = {Hex("6A 88")};
  n = 200;
  EXPECT_EQ(m_obj.cmdPSO_CDS_ALGO08(0x01, 0x02, hash.data(), 35, out, &n), 0x6A88);
  EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(CardM4Test, LargeSignatureIsAskedForWithAnExtendedCommand) {
  const Bytes hash = Seq(35);
  m_card.answers = {Hex("90 00"), Hex("90 00"), Cat({Seq(256), Hex("90 00")})};
  BYTE out[256];
  DWORD n = sizeof out;
  ASSERT_EQ(m_obj.cmdPSO_CDS(0x01, 0x02, hash.data(), 35, out, &n), 0);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(Sent().back(), Cat({Hex("00 2A 9E 9A 00 00 23"), hash, Hex("01 00")}));
}

TEST_F(CardM4Test, ChallengeIdentifierAndDigestInfo) {
  BYTE buf[300];
  long len = 300;
  ASSERT_EQ(m_obj.cmdGETCHALLENGE(buf, &len), 0);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 84 00 00 F8"), Hex("00 84 00 00 34")}));
  len = 0;
  EXPECT_EQ(m_obj.cmdGETCHALLENGE(buf, &len), 0);
  len = -3;
  EXPECT_EQ(m_obj.cmdGETCHALLENGE(buf, &len), 0);
  EXPECT_EQ(len, 0);
  EXPECT_TRUE(Sent().empty());

  DWORD n = 3;
  EXPECT_EQ(m_obj.GetUID(buf, &n), 1);
  EXPECT_EQ(n, 7u);
  EXPECT_TRUE(Sent().empty());
  ASSERT_EQ(m_obj.GetUID(buf, &n), 0);
  EXPECT_EQ(Bytes(buf, buf + 7), Hex("05 11 22 33 44 55 66"));
  EXPECT_EQ(Sent(), (Cmds{Hex("00 CA 01 81 60")}));
  m_card.uid = Seq(12);
  n = 7;
  EXPECT_EQ(m_obj.GetUID(buf, &n), CARD_ERR_RESPONSE);

  ASSERT_EQ(m_obj.cmdPUT_DATA_DSI(&n, 1), 0);
  EXPECT_EQ(n, 17u);
  EXPECT_EQ(Sent().back(), Hex("00 DA 02 C2 0F 30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14"));
}

TEST_F(CardM4Test, ObjectCreationInformation) {
  const BYTE value[] = {0xAA, 0xBB};
  ASSERT_EQ(m_obj.cmdPUT_DATA_OCI(0x01, OBJ_PRIVATE, 0x03, value, 2), 0);
  ASSERT_EQ(m_obj.cmdPUT_DATA_OCI(0x01, OBJ_PRIVATE, 0x03, nullptr, 0), 0);
  const BYTE pin[] = {'1', '2', '3', '4'};
  ASSERT_EQ(m_obj.Init_PINex(0x10, pin, 4, 0x01, OBJ_PRIVATE, FALSE), 0);
  const Bytes sm16 = Hex("FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
  EXPECT_EQ(Sent(),
            (Cmds{Cat({Hex("00 DA 01 6E 2D 83 02 20 01 85 08 83 00 03 0F FF FF 00 08"
                           " 86 07 00 00 FF FF FF FF 00 8B 10"),
                       sm16, Hex("8F 02 AA BB")}),
                  Cat({Hex("00 DA 01 6E 29 83 02 20 01 85 08 83 00 03 0F FF FF 00 08"
                           " 86 07 00 00 FF FF FF FF 00 8B 10"),
                       sm16}),
                  Cat({Hex("00 DA 01 6E 2F 83 02 20 10 85 08 23 0F 01 4F FF FF FF 07"
                           " 86 07 00 00 00 00 00 00 00 8B 10"),
                       sm16, Hex("8F 04 31 32 33 34")})}));
}

TEST_F(CardM4Test, ChangeReferenceDataAndKeyData) {
  const BYTE data[] = {0x81, 0x00, 0x11};
  ASSERT_EQ(m_obj.cmdCHANGE_REFERENCE_DATA(0x02, OBJ_PRIVATE, data, 3, 0x01, 0x80), 0);
  ASSERT_EQ(m_obj.cmdCHANGE_KEY_DATA(0x02, OBJ_SECOND, data, 3, 0x01, 0x80), 0);
  ASSERT_EQ(m_obj.ChangePin(0x10, data, 3), 0);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 24 41 82 03 81 00 11"), Hex("90 24 21 82 03 81 00 11"),
                          Hex("00 24 01 90 03 81 00 11")}));
  m_card.lifeCycle = 0x10;
  ASSERT_EQ(m_obj.cmdRESET_RETRY_COUNTER(0x10), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, kPhase, Hex("00 2C 03 90")}));
}

TEST_F(CardM4Test, PackagesAreReadFromTheThirdAndFourthByte) {
  m_card.answers = {Hex("00 00 07 08 00 00 00 00 03 01 00 00 55 90 00")};  // 13 bytes
  PACKAGE p[4];
  DWORD n = 4;
  ASSERT_EQ(m_obj.GetPackages(p, &n), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(p[0].id, 7);
  EXPECT_EQ(p[0].version, 8);
  EXPECT_EQ(p[1].id, 3);
  EXPECT_EQ(p[1].version, 1);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 CA 01 88 80")}));
  n = 1;  // room for one record only: the count is still the card's
  m_card.answers = {Hex("00 00 07 08 00 00 00 00 03 01 00 00 90 00")};
  ASSERT_EQ(m_obj.GetPackages(p, &n), 0);
  EXPECT_EQ(n, 2u);
  m_card.handler = [](const Bytes& c) {
    return c[3] == 0x88 ? Hex("AA BB 07 08 00 00 90 00") : Bytes{};
  };
  EXPECT_EQ(m_obj.IsPackagePresent({7, 8}), 1);
  EXPECT_EQ(m_obj.IsPackagePresent({7, 2}), 0);
  m_card.handler = [](const Bytes& c) { return c[3] == 0x88 ? Hex("6A 88") : Bytes{}; };
  EXPECT_EQ(m_obj.IsPackagePresent({7, 8}), 0);
}

TEST_F(CardM4Test, ChannelsBecomeTheSessionsClassByte) {
  m_card.answers = {Hex("02 90 00")};
  BYTE ch = 0;
  ASSERT_EQ(m_obj.OpenChannel(&ch), 0);
  EXPECT_EQ(ch, 2);
  ASSERT_EQ(m_obj.cmdPHASE_CONTROL(), 0);
  const BYTE fid[] = {0x3F, 0x00};
  ASSERT_EQ(m_obj.cmdSELECT_FILE(SEL_FID, fid, 2), 0);
  ASSERT_EQ(m_obj.CloseChannel(2), 0);
  ASSERT_EQ(m_obj.cmdSELECT_FILE(SEL_FID, fid, 2), 0);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 70 00 00"), kPhase, Hex("02 A4 00 00 02 3F 00"), Hex("02 70 80 02"),
                          Hex("00 A4 00 00 02 3F 00")}));
  BYTE used = 9;
  m_obj.Get_ChannelUsed(&used);
  EXPECT_EQ(used, 0);
}

TEST_F(CardM4Test, CommandDataThatCannotBeSentIsRefusedWithoutTraffic) {
  const Bytes big(256, 0x11);
  EXPECT_EQ(m_obj.cmdAPPEND_RECORD(big.data(), 256), CARD_ERR_TOO_LONG);
  EXPECT_EQ(m_obj.cmdVERIFY(0x10, big.data(), 256), CARD_ERR_TOO_LONG);
  EXPECT_EQ(m_obj.Init_PINex(0x10, big.data(), 213, 0x01, OBJ_PRIVATE, FALSE), CARD_ERR_TOO_LONG);
  EXPECT_EQ(m_obj.cmdPUT_DATA_OCI(0x01, OBJ_PRIVATE, 0x03, big.data(), 213), CARD_ERR_TOO_LONG);
  const Bytes unterminated(300, '1');  // no terminating zero within what a command can carry
  EXPECT_EQ(m_obj.cmdVERIFY(0x10, unterminated.data(), 0), CARD_ERR_TOO_LONG);
  EXPECT_TRUE(Sent().empty());
  ASSERT_EQ(m_obj.Init_PINex(0x10, big.data(), 212, 0x01, OBJ_PRIVATE, FALSE), 0);
  EXPECT_EQ(Sent().back().size(), 5u + 255u);
}

TEST_F(CardM4Test, DecipherAndEncipherDataTooLongForTheLeadingZeroAreRefused) {
  const Bytes data(1, 0x11);
  BYTE out[300];
  WORD wn = sizeof out;
  DWORD dn = sizeof out;
  EXPECT_EQ(m_obj.cmdPSO_DEC(0x01, 0x02, data.data(), 0xFFFFFFFFu, out, &wn), CARD_ERR_TOO_LONG);
  EXPECT_EQ(m_obj.cmdPSO_DEC(0x01, 0x02, data.data(), 0xFFFFu, out, &wn), CARD_ERR_TOO_LONG);
  EXPECT_EQ(m_obj.cmdPSO_ENC(0x01, 0x02, data.data(), 0xFFFFFFFFu, out, &dn), CARD_ERR_TOO_LONG);
  EXPECT_EQ(m_obj.cmdPSO_ENC(0x01, 0x02, data.data(), 255, out, &dn), CARD_ERR_TOO_LONG);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CardM4Test, LengthPrefixedFileLargerThanTheBufferIsRefused) {
  m_card.answers = {Hex("01 00 90 00")};  // a 256-byte file
  BYTE buf[16];
  DWORD n = sizeof buf;
  EXPECT_EQ(m_obj.ReadBinaryFile(buf, &n, nullptr), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 B0 00 00 02")}));
  m_card.answers = {Hex("00 03 90 00"), Hex("00 03 0A 0B 0C 90 00")};
  n = sizeof buf;
  ASSERT_EQ(m_obj.ReadBinaryFile(buf, &n, nullptr), 0);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Bytes(buf, buf + 3), Hex("0A 0B 0C"));
  const BYTE data[] = {0x0A, 0x0B, 0x0C};
  Forget();
  ASSERT_EQ(m_obj.WriteBinaryFile(data, 3, nullptr), 0);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 D6 00 00 05 00 03 0A 0B 0C")}));
}

TEST_F(CardM4Test, ReadBinaryExEndsAtTheEndOfTheFile) {
  m_card.answers = {Cat({Seq(112), Hex("90 00")}), Hex("6A 86")};
  BYTE buf[400];
  DWORD n = sizeof buf;
  ASSERT_EQ(m_obj.ReadBinaryEx(buf, &n, nullptr), 0);
  EXPECT_EQ(n, 112u);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 B0 00 00 70"), Hex("00 B0 00 70 70")}));
  m_card.answers = {Hex("6A 86")};
  n = sizeof buf;
  EXPECT_EQ(m_obj.ReadBinaryEx(buf, &n, nullptr), 0x6A86);  // nothing read at all
  m_card.answers = {Cat({Seq(112), Hex("90 00")}), Cat({Seq(40), Hex("90 00")})};
  n = sizeof buf;
  ASSERT_EQ(m_obj.ReadBinaryEx(buf, &n, nullptr), 0);
  EXPECT_EQ(n, 152u);
}

TEST_F(CardM4Test, GetDataAndAccessCheck) {
  m_card.answers = {Hex("01 03 05 90 00"), Hex("01 03 05 90 00"), Hex("0A 0B 0C 0D 90 00")};
  EXPECT_EQ(m_obj.Is_AccessGranted(0x03), 1);
  EXPECT_EQ(m_obj.Is_AccessGranted(0x04), 0);
  BYTE buf[2];
  DWORD n = sizeof buf;
  ASSERT_EQ(m_obj.cmdGETDATA(0x8A, buf, &n), 0);
  EXPECT_EQ(n, 4u);  // the answer's length; two bytes copied
  EXPECT_EQ(Bytes(buf, buf + 2), Hex("0A 0B"));
  EXPECT_EQ(Sent(), (Cmds{Hex("00 CA 01 84"), Hex("00 CA 01 84"), Hex("00 CA 01 8A")}));
}

TEST(CardM4Versions, LoadExecutableClassByteByVersion) {
  struct {
    const char* version;
    LONG rc;
    BYTE cla;
  } cases[] = {{"C8 02", 0, 0x80}, {"C8 03", 0, 0x84}, {"C8 05", 0, 0x84},
               {"C8 0D", 0, 0x84}, {"C8 01", CARD_ERR_VERSION, 0}};
  for (const auto& c : cases) {
    FakePcsc pcsc;
    ScriptedCard card;
    card.version = Hex(c.version);
    pcsc.AddReader("R 00 00", true);
    pcsc.SetCardFn([&](const Bytes& cmd) { return card.Answer(cmd); });
    CTavrixM410 obj;
    ASSERT_TRUE(obj.InitRM());
    ASSERT_EQ(obj.Connect("R 00 00"), SCARD_S_SUCCESS);
    const BYTE data[] = {1, 2};
    EXPECT_EQ(obj.cmdLOAD_EXECUTABLE(data, 2, 0x00, 0x00), c.rc) << c.version;
    const auto sent = pcsc.Sent();
    ASSERT_EQ(sent.front(), kVersion) << "one version query per connection";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), kVersion), 1);
    if (c.rc == 0) {
      EXPECT_EQ(sent.back(), (Bytes{c.cla, 0x20, 0x00, 0x00, 0x02, 0x01, 0x02})) << c.version;
    } else {
      EXPECT_EQ(sent.size(), 1u);
    }
  }
}

TEST_F(CardM3Test, CommandBytes) {
  const BYTE pin[] = {'1', '2', '3', '4'};
  const BYTE fid[] = {0x00, 0x07};
  ASSERT_EQ(m_obj.VerifyPIN(0x01, pin, 4), 0);
  ASSERT_EQ(m_obj.Change3DES(0x02, pin, 4), 0);
  ASSERT_EQ(m_obj.Select(1, fid, 2), 0);
  ASSERT_EQ(m_obj.Select(2, pin, 4), 0);
  EXPECT_EQ(m_obj.Select(3, fid, 2), CARD_ERR_SELECT_MODE);
  ASSERT_EQ(m_obj.PhaseControl(), 0);
  BYTE out[16];
  DWORD n = sizeof out;
  EXPECT_EQ(m_obj.Apply3Des(2, 0x01, pin, 4, out, &n), CARD_ERR_BAD_MODE);
  ASSERT_EQ(m_obj.Apply3Des(1, 0x05, pin, 4, out, &n), 0);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 20 00 81 04 31 32 33 34"), Hex("00 24 21 82 04 31 32 33 34"),
                          Hex("00 A4 00 00 02 00 07"), Hex("00 A4 08 00 04 31 32 33 34"),
                          Hex("B0 10 00 00"), Hex("00 22 41 B8 04 83 02 00 05"),
                          Hex("00 2A 80 86 04 31 32 33 34")}));
  m_card.lifeCycle = 0x10;
  ASSERT_EQ(m_obj.DeleteFileA(fid), 0);
  EXPECT_EQ(Sent(), (Cmds{kLifeCycle, Hex("B0 10 00 00"), Hex("00 E4 00 00 02 00 07"),
                          Hex("B0 10 00 00")}));
  ASSERT_EQ(m_obj.CreateFileA(0x0100, fid, 0x01), 0);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[2].size(), 5u + 33u);
  EXPECT_EQ(Bytes(sent[2].begin(), sent[2].begin() + 7), Hex("00 E0 00 00 21 6F 1F"));
}

TEST_F(CardM3Test, ReadBinaryPartsFitAShortAnswer) {
  m_card.handler = [](const Bytes& c) {
    if (c[1] != 0xB0) return Bytes{};
    Bytes r(c[4], 0x5A);
    r.push_back(0x90);
    r.push_back(0x00);
    return r;
  };
  BYTE buf[600];
  DWORD n = 600;
  ASSERT_EQ(m_obj.ReadBinary(buf, &n), 0);
  EXPECT_EQ(n, 600u);
  EXPECT_EQ(Sent(), (Cmds{Hex("00 B0 00 00 FD"), Hex("00 B0 00 FD FD"), Hex("00 B0 01 FA 5E")}));
}

}  // namespace
