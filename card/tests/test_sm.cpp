// Protected PIN commands against the virtual card through the real pcscd: the
// card derives the same key, checks the MAC against its own challenge, and
// counts retries; what each protected command costs is read from its log.
#include <gtest/gtest.h>

#include "test_tavrix_bed.h"

using namespace vexa::card::test;

namespace {

const SMFLAGS kSM{1, 1};
const BYTE kUserPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
const BYTE kWrongPin[] = {'0', '0', '0', '0', '0', '0', '0', '0'};
const BYTE kPuk[] = {'8', '7', '6', '5', '4', '3', '2', '1'};

using CardSmBedTest = BedTest;

TEST_F(CardSmBedTest, ProtectedVerifyCostsOneUidReadPerConnectionAndOneChallenge) {
  StartCard("M4.10");
  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0);
  auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[0], HexBytes("00 CA 01 81 60"));
  EXPECT_EQ(cmds[1], HexBytes("00 84 00 00 08"));
  ASSERT_EQ(cmds[2].size(), 5u + 0x1D);
  EXPECT_EQ(Bytes(cmds[2].begin(), cmds[2].begin() + 8), HexBytes("0C 20 00 90 1D 87 11 01"));
  EXPECT_EQ(Bytes(cmds[2].begin() + 24, cmds[2].begin() + 26), HexBytes("8E 08"));

  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0);
  cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0], HexBytes("00 84 00 00 08"));
}

TEST_F(CardSmBedTest, WrongPinsCountDownAndBlock) {
  StartCard("M4.10");
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kWrongPin, 8, &kSM), 0x63C2);
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kWrongPin, 8, &kSM), 0x63C1);
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kWrongPin, 8, &kSM), 0x6983);
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0x6983);
}

TEST_F(CardSmBedTest, PukUnblocksThroughProtectedResetRetryCounter) {
  StartCard("M4.10");
  for (int i = 0; i < 3; ++i) m_card.cmdVERIFY(0x10, kWrongPin, 8, &kSM);
  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0x6983);
  ASSERT_EQ(m_card.cmdVERIFY(0x12, kPuk, 8, &kSM), 0);
  ASSERT_EQ(m_card.cmdRESET_RETRY_COUNTER(0x10, &kSM), 0);
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0);
}

TEST_F(CardSmBedTest, TamperedMacAndStaleChallengeAreRefused) {
  StartCard("M4.10");
  APDU plain;
  plain.INS = 0x20;
  plain.P2 = 0x90;
  plain.Lc = 8;
  plain.pData = kUserPin;
  APDU prot;
  ASSERT_EQ(m_card.Evaluate_SM(plain, prot, &kSM), 0);
  Bytes tampered(prot.pData, prot.pData + prot.Lc);
  tampered.back() ^= 0x01;
  prot.pData = tampered.data();
  const LONG rc = m_card.Send(prot, nullptr, nullptr);
  EXPECT_NE(rc, 0);
  EXPECT_GT(rc, 0x6000) << "a status word, not a transmission error";

  // Built on one challenge, sent after the card issued another.
  ASSERT_EQ(m_card.Evaluate_SM(plain, prot, &kSM), 0);
  const Bytes saved(prot.pData, prot.pData + prot.Lc);
  BYTE other[8];
  ASSERT_EQ(m_card.GetChallenge(other, 8), 0);
  prot.pData = saved.data();
  EXPECT_GT(m_card.Send(prot, nullptr, nullptr), 0x6000);
  // The right PIN itself is not spoiled: a fresh protected VERIFY works.
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0);
}

TEST_F(CardSmBedTest, ProtectedChangeOfThePin) {
  StartCard("M4.10");
  const BYTE newPin[] = {'2', '4', '6', '8', '1', '3', '5', '7'};
  // P1 01: the new PIN, once the current one is verified.
  EXPECT_EQ(m_card.ChangePin(0x10, newPin, 8, &kSM), 0x6982);
  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0);
  ASSERT_EQ(m_card.ChangePin(0x10, newPin, 8, &kSM), 0);
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0x63C2);
  EXPECT_EQ(m_card.cmdVERIFY(0x10, newPin, 8, &kSM), 0);
}

TEST_F(CardSmBedTest, KeyIsDerivedAgainAfterTheCardCameBack) {
  StartCard("M4.10");
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kWrongPin, 8, &kSM), 0x63C2);
  m_card.Disconnect();
  m_vcard->Remove();
  m_vcard->Insert();
  ASSERT_EQ(m_card.Connect(Reader().c_str()), SCARD_S_SUCCESS);
  ASSERT_EQ(SelectApp(), 0);
  Commands();
  // The retry counter survived; the new connection derives its key first.
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kWrongPin, 8, &kSM), 0x63C1);
  const auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[0], HexBytes("00 CA 01 81 60"));
  EXPECT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8, &kSM), 0);
}

}  // namespace
