// Card monitoring over a fake PC/SC service: the meaning of state changes, the
// events of insertion, removal and a vanished reader, the ten-entry table,
// stopping (also racing with threads that are just starting) and callbacks that
// call back into the monitoring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "monitor_events.h"
#include "support/event_recorder.h"
#include "support/fake_pcsc.h"
#include "vexa/card/card_session.h"

using vexa::card::ClassifyChange;
using vexa::card::test::FakePcsc;

namespace {

// ---- state changes ----

constexpr DWORD kCount1 = 1u << 16;
constexpr DWORD kCount2 = 2u << 16;
constexpr DWORD kCount3 = 3u << 16;

struct ChangeCase {
  const char* name;
  DWORD prev, now;
  int ev0, ev1;
  bool external, internal;
};

TEST(MonitorEvents, StateChangesMapToEvents) {
  const ChangeCase cases[] = {
      {"removal", 0x20 | kCount1, 0x12 | kCount2, 3, 0, true, true},
      {"insertion", 0x10 | kCount2, 0x22 | kCount3, 2, 0, true, true},
      {"removal while another process holds the reader", 0x120 | kCount1, 0x112 | kCount2, 3, 0, true, true},
      {"insertion while in use", 0x10 | kCount2, 0x122 | kCount3, 2, 0, true, true},
      {"mute card inserted", 0x10, 0x222, 0, 0, false, false},
      {"unpowered card inserted", 0x10, 0x422, 0, 0, false, false},
      {"card exchanged between two waits", 0x20 | kCount1, 0x22 | kCount3, 3, 2, true, true},
      {"no card event, only in use", 0x20 | kCount1, 0x122 | kCount1, 0, 0, false, false},
      {"reader unavailable", 0x20, 0x0B, 4, 0, true, false},
      {"reader unknown to pcsc-lite", 0x10, 0x07, 4, 0, true, false},
      {"empty stays empty", 0x10, 0x12, 1, 0, false, true},
  };
  for (const ChangeCase& c : cases) {
    const vexa::card::MonitorReport r = ClassifyChange(c.prev, c.now);
    EXPECT_EQ(r.events[0], c.ev0) << c.name;
    EXPECT_EQ(r.events[1], c.ev1) << c.name;
    if (c.ev0 != 0) {
      EXPECT_EQ(r.toExternal, c.external) << c.name;
      EXPECT_EQ(r.toInternal, c.internal) << c.name;
    }
  }
  EXPECT_TRUE(ClassifyChange(0x20, 0x0B).readerGone);
  EXPECT_FALSE(ClassifyChange(0x20, 0x12).readerGone);
}

// ---- threads ----

vexa::card::test::Recorder g_rec(5000);
void OnEvent(const char* reader, int ev) { g_rec.Add(reader, ev); }

// Waits until cond holds (up to 5 s).
template <class F>
bool Eventually(F cond) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { g_rec.Clear(); }
  void TearDown() override {
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(fake.LiveContexts(), 0);
  }
  FakePcsc fake;
};

TEST_F(MonitorTest, CardPresentAtStartThenRemovalAndInsertion) {
  for (BOOL blocking : {TRUE, FALSE}) {
    g_rec.Clear();
    fake.AddReader("R 00 00", true);
    ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, blocking), 0);
    EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_PRESENT));
    if (blocking) {
      EXPECT_TRUE(fake.WaitForWaiters(1, 5000));
    }
    fake.SetCard("R 00 00", false);
    EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_REMOVED));
    fake.SetCard("R 00 00", true);
    EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_INSERTED));
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(fake.LiveContexts(), 0);
    fake.RemoveReader("R 00 00");
    EXPECT_EQ(g_rec.Events().size(), 3u) << "blocking " << blocking;
  }
}

TEST_F(MonitorTest, EmptyReaderReportsNothingUntilACardArrives) {
  fake.AddReader("R 00 00", false);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
  ASSERT_TRUE(fake.WaitForWaiters(1, 5000));
  EXPECT_TRUE(g_rec.Events().empty());
  fake.SetCard("R 00 00", true);
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_INSERTED));
}

TEST_F(MonitorTest, VanishedReaderGivesEventFourAndCanBeWatchedAgain) {
  fake.AddReader("R 00 00", true);
  fake.AddReader("S 00 00", false);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("S 00 00", &OnEvent, TRUE, TRUE), 0);
  ASSERT_TRUE(fake.WaitForWaiters(2, 5000));
  fake.RemoveReader("R 00 00");
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_READER_GONE));
  // The other reader is still watched.
  fake.SetCard("S 00 00", true);
  EXPECT_TRUE(g_rec.WaitFor("S 00 00", CARD_EVENT_INSERTED));
  // The ended thread's entry is free again: the reader can come back.
  fake.AddReader("R 00 00", true);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_PRESENT));
  fake.SetCard("R 00 00", false);
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_REMOVED));
}

TEST_F(MonitorTest, EleventhReaderGetsAClearErrorAndNoThread) {
  for (int i = 0; i < 11; ++i) fake.AddReader("R 00 " + std::to_string(i), false);
  for (int i = 0; i < VEXA_MAX_MONITORED_READERS; ++i) {
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(("R 00 " + std::to_string(i)).c_str(), &OnEvent, TRUE, TRUE), 0);
  }
  EXPECT_EQ(CCardSession::StartCardMonitoringEx("R 00 10", &OnEvent, TRUE, TRUE), SCARD_E_NO_MEMORY);
  EXPECT_EQ(fake.LiveContexts(), VEXA_MAX_MONITORED_READERS);
  ASSERT_TRUE(fake.WaitForWaiters(VEXA_MAX_MONITORED_READERS, 5000));
  fake.SetCard("R 00 9", true);
  EXPECT_TRUE(g_rec.WaitFor("R 00 9", CARD_EVENT_INSERTED));
  fake.SetCard("R 00 10", true);
  CCardSession::StopCardMonitoring();
  for (const auto& [reader, ev] : g_rec.Events()) EXPECT_NE(reader, "R 00 10");
  // After the stop the table is empty again.
  EXPECT_EQ(CCardSession::StartCardMonitoringEx("R 00 10", &OnEvent, TRUE, TRUE), 0);
}

TEST_F(MonitorTest, SkipIfWatchedComparesNamesExactly) {
  fake.AddReader("R 00 00", false);
  fake.AddReader("r 00 00", false);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
  EXPECT_EQ(fake.LiveContexts(), 1);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("r 00 00", &OnEvent, TRUE, TRUE), 0);
  EXPECT_EQ(fake.LiveContexts(), 2);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, FALSE, TRUE), 0);
  EXPECT_EQ(fake.LiveContexts(), 3);
}

TEST_F(MonitorTest, BadNamesAreRefused) {
  const std::string longName(VEXA_MAX_MONITORED_NAME + 1, 'x');
  EXPECT_EQ(CCardSession::StartCardMonitoringEx(nullptr, &OnEvent, TRUE, TRUE), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(CCardSession::StartCardMonitoringEx("", &OnEvent, TRUE, TRUE), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(CCardSession::StartCardMonitoringEx(longName.c_str(), &OnEvent, TRUE, TRUE), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(fake.LiveContexts(), 0);
}

TEST_F(MonitorTest, StopReturnsAfterEveryThreadEndedEvenRightAfterTheStart) {
  for (int i = 0; i < 4; ++i) fake.AddReader("R 00 " + std::to_string(i), i % 2 == 0);
  // Threads stopped before they reach their first wait: a cancellation sent
  // then is lost, and the stop must still end them.
  for (int round = 0; round < 25; ++round) {
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(CCardSession::StartCardMonitoringEx(("R 00 " + std::to_string(i)).c_str(), &OnEvent, TRUE,
                                                    round % 2 == 0), 0);
    }
    CCardSession::StopCardMonitoring();
    ASSERT_EQ(fake.LiveContexts(), 0) << round;
  }
  CCardSession::StopCardMonitoring();  // a second stop does nothing harmful
  EXPECT_EQ(fake.LiveContexts(), 0);
}

TEST_F(MonitorTest, ServiceGoingAwayEndsTheThreadsOnTheirOwn) {
  fake.AddReader("R 00 00", false);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
  ASSERT_TRUE(fake.WaitForWaiters(1, 5000));
  fake.FailStatusChange(SCARD_E_NO_SERVICE);
  ASSERT_TRUE(Eventually([&] { return fake.Waiting() == 0; }));
  fake.FailStatusChange(0);
  // Once the thread has ended, the next start reaps its entry and watches the
  // reader again.
  const int before = fake.EstablishCalls();
  ASSERT_TRUE(Eventually([&] {
    EXPECT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &OnEvent, TRUE, TRUE), 0);
    return fake.EstablishCalls() == before + 1;
  }));
  EXPECT_EQ(fake.LiveContexts(), 1);
  ASSERT_TRUE(fake.WaitForWaiters(1, 5000));
  fake.SetCard("R 00 00", true);
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_INSERTED));
}

// The engine's callback opens the token on insertion and asks for monitoring of
// the reader again (skip-if-watched); a misbehaving callback may even stop it.
void StartAgainOnInsertion(const char* reader, int ev) {
  if (ev == CARD_EVENT_INSERTED) {
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(reader, &StartAgainOnInsertion, TRUE, TRUE), 0);
  }
  g_rec.Add(reader, ev);
}
void StopOnRemoval(const char* reader, int ev) {
  if (ev == CARD_EVENT_REMOVED) CCardSession::StopCardMonitoring();
  g_rec.Add(reader, ev);
}

std::atomic<bool> g_inCallback{false};
void SignalThenStop(const char* reader, int ev) {
  if (ev == CARD_EVENT_REMOVED) {
    g_inCallback = true;
    CCardSession::StopCardMonitoring();
  }
  g_rec.Add(reader, ev);
}

TEST_F(MonitorTest, StopFromACallbackDuringAnotherStopReturns) {
  fake.AddReader("R 00 00", true);
  fake.AddReader("S 00 00", false);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &SignalThenStop, TRUE, TRUE), 0);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("S 00 00", &SignalThenStop, TRUE, FALSE), 0);
  ASSERT_TRUE(fake.WaitForWaiters(1, 5000));
  fake.SetCard("R 00 00", false);
  ASSERT_TRUE(Eventually([] { return g_inCallback.load(); }));
  CCardSession::StopCardMonitoring();  // races with the callback's own stop
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_REMOVED));
  EXPECT_TRUE(Eventually([&] { return fake.LiveContexts() == 0; }));
  EXPECT_TRUE(Eventually([&] { return fake.Waiting() == 0; }));
}

TEST_F(MonitorTest, CallbacksMayCallBackIntoMonitoring) {
  fake.AddReader("R 00 00", false);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("R 00 00", &StartAgainOnInsertion, TRUE, TRUE), 0);
  ASSERT_TRUE(fake.WaitForWaiters(1, 5000));
  fake.SetCard("R 00 00", true);
  EXPECT_TRUE(g_rec.WaitFor("R 00 00", CARD_EVENT_INSERTED));
  EXPECT_EQ(fake.LiveContexts(), 1);
  CCardSession::StopCardMonitoring();

  fake.AddReader("S 00 00", true);
  ASSERT_EQ(CCardSession::StartCardMonitoringEx("S 00 00", &StopOnRemoval, TRUE, TRUE), 0);
  ASSERT_TRUE(fake.WaitForWaiters(1, 5000));
  fake.SetCard("S 00 00", false);
  EXPECT_TRUE(g_rec.WaitFor("S 00 00", CARD_EVENT_REMOVED));
  EXPECT_TRUE(Eventually([&] { return fake.LiveContexts() == 0; }));
  EXPECT_TRUE(Eventually([&] { return fake.Waiting() == 0; }));
}

}  // namespace
