#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "fake_card_os.h"
#include "vexa/vcard/reader/card_session.h"

using namespace vexa::vcard::reader;
using vexa::vcard::testing::FakeCardOs;
using Action = FrameResult::Action;

class CardSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa-session-XXXXXX";
    const int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    m_logPath = tmpl;
    std::remove(m_logPath.c_str());
    m_log = ApduLogWriter(m_logPath);
  }
  void TearDown() override { std::remove(m_logPath.c_str()); }
  std::vector<LoggedExchange> Logged() {
    std::ifstream in(m_logPath);
    std::stringstream s;
    s << in.rdbuf();
    return ParseApduLog(s.str());
  }

  FakeCardOs m_card{{0x3B, 0x02, 0x14, 0x50}, {0xA0, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04}};
  std::string m_logPath;
  ApduLogWriter m_log;
  CardSession m_session{m_card, m_log};
};

TEST_F(CardSessionTest, ControlCodesDrivePowerAndOnlyGetAtrIsAnswered) {
  // The ATR is answered also while the card is powered off (presence poll).
  FrameResult atr = m_session.HandlePayload({0x04});
  EXPECT_EQ(atr.action, Action::kReply);
  EXPECT_EQ(atr.reply, (Bytes{0x3B, 0x02, 0x14, 0x50}));
  EXPECT_FALSE(m_card.Powered());

  EXPECT_EQ(m_session.HandlePayload({0x01}).action, Action::kNone);
  EXPECT_TRUE(m_card.Powered());
  EXPECT_EQ(m_session.HandlePayload({0x00}).action, Action::kNone);
  EXPECT_FALSE(m_card.Powered());
  EXPECT_EQ(m_session.HandlePayload({0x02}).action, Action::kNone);  // reset powers on afresh
  EXPECT_TRUE(m_card.Powered());
  EXPECT_EQ(m_card.PowerOns(), 2);
  EXPECT_TRUE(Logged().empty());  // control codes are not exchanges
}

TEST_F(CardSessionTest, AnEmptyFrameClosesTheConnection) {
  FrameResult r = m_session.HandlePayload({});
  EXPECT_EQ(r.action, Action::kClose);
  EXPECT_FALSE(r.reason.empty());
}

TEST_F(CardSessionTest, OneByteOtherThanAControlCodeIsAShortCommandAnsweredByTheCardOs) {
  for (uint8_t b : {0x03, 0x05, 0xFF}) {
    FrameResult r = m_session.HandlePayload({b});
    EXPECT_EQ(r.action, Action::kReply);
    EXPECT_EQ(r.reply, (Bytes{0x67, 0x00}));
  }
  auto log = Logged();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].command, Bytes{0x03});
}

TEST_F(CardSessionTest, CommandsAreAnsweredAndLoggedWithTheirResponses) {
  const Bytes select = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};
  FrameResult r = m_session.HandlePayload(select);
  EXPECT_EQ(r.action, Action::kReply);
  EXPECT_EQ(r.reply, (Bytes{0x6F, 0x03, 0x84, 0x01, 0x01, 0x90, 0x00}));

  // A two-byte command is no frame error: the card OS answers it.
  r = m_session.HandlePayload({0x00, 0xA4});
  EXPECT_EQ(r.reply, (Bytes{0x67, 0x00}));

  auto log = Logged();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].command, select);
  EXPECT_EQ(log[0].response, (Bytes{0x6F, 0x03, 0x84, 0x01, 0x01, 0x90, 0x00}));
  EXPECT_EQ(log[1].command, (Bytes{0x00, 0xA4}));
}

TEST_F(CardSessionTest, ACardPulledOnAnInstructionLeavesThatCommandUnanswered) {
  m_session.PullOutOnInstruction(0xB0);
  EXPECT_EQ(m_session.HandlePayload({0x80, 0x01, 0x00, 0x00, 0x01, 0x42}).action, Action::kReply);
  FrameResult r = m_session.HandlePayload({0x00, 0xB0, 0x00, 0x00, 0x10});
  EXPECT_EQ(r.action, Action::kPull);
  EXPECT_TRUE(r.reply.empty());
  EXPECT_EQ(Logged().size(), 1u);  // the unanswered command is no exchange
}

TEST_F(CardSessionTest, ACardOsFailureOrAResponseWithoutStatusWordGives6F00) {
  for (const Bytes& cmd : {Bytes{0x80, 0xEE, 0x00, 0x00}, Bytes{0x80, 0xEF, 0x00, 0x00}}) {
    FrameResult r = m_session.HandlePayload(cmd);
    EXPECT_EQ(r.action, Action::kReply);
    EXPECT_EQ(r.reply, (Bytes{0x6F, 0x00}));
  }
  auto log = Logged();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].response, (Bytes{0x6F, 0x00}));
  // The session goes on answering.
  EXPECT_EQ(m_session.HandlePayload({0x80, 0x01, 0x00, 0x00, 0x01, 0x42}).reply, (Bytes{0x42, 0x90, 0x00}));
}
