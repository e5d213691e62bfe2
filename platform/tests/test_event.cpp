// In-process events: manual and auto reset, time-outs.
#include "vexa/platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using vexa::Event;
using vexa::kInfinite;
using vexa::WaitResult;

TEST(Event, StateAndTimeout) {
  struct Case {
    bool manual, initial;
    WaitResult first, second;  // two waits of 0 ms after construction
  } cases[] = {
      {true, false, WaitResult::Timeout, WaitResult::Timeout},
      {true, true, WaitResult::Signalled, WaitResult::Signalled},    // manual: stays signalled
      {false, true, WaitResult::Signalled, WaitResult::Timeout},     // auto: the wait resets it
      {false, false, WaitResult::Timeout, WaitResult::Timeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << c.manual << " initial " << c.initial);
    Event e(c.manual, c.initial);
    EXPECT_EQ(e.Wait(0), c.first);
    EXPECT_EQ(e.Wait(0), c.second);
    e.Set();
    EXPECT_TRUE(e.IsSignalled());
    e.Reset();
    EXPECT_FALSE(e.IsSignalled());
    EXPECT_EQ(e.Wait(20), WaitResult::Timeout);
  }
}

TEST(Event, ManualSetReleasesEveryWaiterAutoSetOnlyOne) {
  for (bool manual : {true, false}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    Event e(manual);
    std::atomic<int> released{0}, timedOut{0};
    std::vector<std::thread> waiters;
    std::atomic<int> started{0};
    for (int i = 0; i < 4; ++i)
      waiters.emplace_back([&] {
        ++started;
        if (e.Wait(manual ? kInfinite : 1500) == WaitResult::Signalled) ++released;
        else ++timedOut;
      });
    while (started.load() < 4) std::this_thread::yield();
    e.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), manual ? 4 : 1);
    EXPECT_EQ(timedOut.load(), manual ? 0 : 3);
    EXPECT_EQ(e.IsSignalled(), manual);
  }
}

TEST(Event, ManualSetThenResetStillReleasesTheWaiters) {
  Event e(true);
  std::atomic<bool> waiting{false};
  WaitResult r = WaitResult::Failed;
  std::thread t([&] {
    waiting = true;
    r = e.Wait(kInfinite);
  });
  while (!waiting.load()) std::this_thread::yield();
  // The waiter may not yet be inside the wait: Set once it is, by retrying with
  // a short gap until the thread is done.
  for (int i = 0; i < 500 && r == WaitResult::Failed; ++i) {
    e.Set();
    e.Reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  t.join();
  EXPECT_EQ(r, WaitResult::Signalled);
  EXPECT_FALSE(e.IsSignalled());
}
