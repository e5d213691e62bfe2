// Card monitoring against the real pcscd with virtual readers and cards:
// removal and insertion events (also while a session holds the card, and in
// polling mode), and stopping with no card and while a card is being inserted.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "support/event_recorder.h"
#include "vexa/card/card_session.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;

namespace {

vexa::card::test::Recorder g_rec(10000);
void OnEvent(const char* reader, int ev) { g_rec.Add(reader, ev); }

class CardMonitorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_bed = std::make_unique<PcscTestbed>(2);
    s_readers = s_bed->ReaderNames();
    s_image = s_bed->Dir() + "/card.img";
    vexa::vcard::CreateCardImage(s_image, vexa::vcard::PersoOptions{});
  }
  static void TearDownTestSuite() { s_bed.reset(); }
  void SetUp() override { g_rec.Clear(); }
  void TearDown() override { CCardSession::StopCardMonitoring(); }
  const std::string& Reader(int i) const { return s_readers.at(static_cast<std::size_t>(i)); }

  static std::unique_ptr<PcscTestbed> s_bed;
  static std::vector<std::string> s_readers;
  static std::string s_image;
};
std::unique_ptr<PcscTestbed> CardMonitorTest::s_bed;
std::vector<std::string> CardMonitorTest::s_readers;
std::string CardMonitorTest::s_image;

TEST_F(CardMonitorTest, RemovalGivesEventThreeAndReinsertionEventTwo) {
  for (BOOL blocking : {TRUE, FALSE}) {
    g_rec.Clear();
    VirtualCard card(*s_bed, Reader(0), s_image);
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(Reader(0).c_str(), &OnEvent, TRUE, blocking), 0);
    ASSERT_TRUE(g_rec.WaitFor(Reader(0), CARD_EVENT_PRESENT));
    card.Remove();
    EXPECT_TRUE(g_rec.WaitFor(Reader(0), CARD_EVENT_REMOVED)) << "blocking " << blocking;
    card.Insert();
    EXPECT_TRUE(g_rec.WaitFor(Reader(0), CARD_EVENT_INSERTED)) << "blocking " << blocking;
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(g_rec.Events().size(), 3u) << "blocking " << blocking;
  }
}

TEST_F(CardMonitorTest, EventsArriveWhileASessionHoldsTheCard) {
  // The engine keeps its session connected: the reader is "in use" throughout.
  VirtualCard card(*s_bed, Reader(1), s_image);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx(Reader(1).c_str(), &OnEvent, TRUE, TRUE), 0);
  ASSERT_TRUE(g_rec.WaitFor(Reader(1), CARD_EVENT_PRESENT));
  for (int round = 0; round < 2; ++round) {
    CCardSession s;
    ASSERT_TRUE(s.InitRM());
    ASSERT_EQ(s.Connect(Reader(1).c_str()), SCARD_S_SUCCESS);
    card.Remove();
    EXPECT_TRUE(g_rec.WaitFor(Reader(1), CARD_EVENT_REMOVED)) << round;
    card.Insert();
    EXPECT_TRUE(g_rec.WaitFor(Reader(1), CARD_EVENT_INSERTED)) << round;
    EXPECT_EQ(s.Connect(Reader(1).c_str()), SCARD_S_SUCCESS);
  }
  // Only the card's own comings and goings were reported.
  EXPECT_EQ(g_rec.Events().size(), 5u);
}

TEST_F(CardMonitorTest, EachReaderIsWatchedOnItsOwn) {
  VirtualCard a(*s_bed, Reader(0), s_image);
  const std::string imageB = s_bed->Dir() + "/b.img";
  vexa::vcard::CreateCardImage(imageB, vexa::vcard::PersoOptions{});
  VirtualCard b(*s_bed, Reader(2), imageB);
  b.Remove();
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(Reader(i).c_str(), &OnEvent, TRUE, TRUE), 0);
  }
  ASSERT_TRUE(g_rec.WaitFor(Reader(0), CARD_EVENT_PRESENT));
  // A change in one reader is reported while the others keep waiting.
  b.Insert();
  EXPECT_TRUE(g_rec.WaitFor(Reader(2), CARD_EVENT_INSERTED));
  b.Remove();
  EXPECT_TRUE(g_rec.WaitFor(Reader(2), CARD_EVENT_REMOVED));
  a.Remove();
  EXPECT_TRUE(g_rec.WaitFor(Reader(0), CARD_EVENT_REMOVED));
}

TEST_F(CardMonitorTest, StopEndsEveryThreadWithNoCardAndWhileACardIsInserted) {
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(Reader(i).c_str(), &OnEvent, TRUE, TRUE), 0);
  }
  const auto t0 = std::chrono::steady_clock::now();
  CCardSession::StopCardMonitoring();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  CCardSession::StopCardMonitoring();  // harmless

  // Monitoring can start again, and stop while a card goes in.
  VirtualCard card(*s_bed, Reader(0), s_image);
  card.Remove();
  ASSERT_EQ(CCardSession::StartCardMonitoringEx(Reader(0).c_str(), &OnEvent, TRUE, TRUE), 0);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx(Reader(1).c_str(), &OnEvent, TRUE, FALSE), 0);
  std::thread stopper([] { CCardSession::StopCardMonitoring(); });
  card.Insert();  // on the main thread: the card program is its child
  stopper.join();
  // After the stop nothing is reported any more.
  const std::size_t seen = g_rec.Events().size();
  card.Remove();
  card.Insert();
  EXPECT_EQ(g_rec.Events().size(), seen);
}

}  // namespace
