// Module start/stop bookkeeping.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "vexa/platform/module.h"

namespace {

int g_stops = 0;
bool g_startedDuringStop = false;
bool g_succeededDuringStop = false;

int StartOk() { return 0; }
int StartFails() {
  vexa::ModuleSetFailure("the value \"X\" is missing");
  return -1;
}
int StartThrows() { throw std::runtime_error("boom"); }
void Stop() {
  ++g_stops;
  g_startedDuringStop = vexa::ModuleStarted();
  g_succeededDuringStop = vexa::ModuleStartSucceeded();
}

class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    vexa::ModuleResetForTest();
    g_stops = 0;
  }
};

}  // namespace

TEST_F(Module, SuccessfulStartThenStop) {
  EXPECT_EQ(vexa::GetModuleState(), vexa::ModuleState::kNotStarted);
  EXPECT_FALSE(vexa::ModuleStarted());
  vexa::ModuleRunStart("testmod", StartOk);
  EXPECT_TRUE(vexa::ModuleStarted());
  EXPECT_STREQ(vexa::ModuleName(), "testmod");
  vexa::ModuleRunStop(Stop);
  vexa::ModuleRunStop(Stop);
  EXPECT_EQ(g_stops, 1) << "the stop runs once";
  EXPECT_FALSE(g_startedDuringStop) << "entry points refuse once the stop has begun";
  EXPECT_TRUE(g_succeededDuringStop);
  EXPECT_EQ(vexa::GetModuleState(), vexa::ModuleState::kStopped);
}

TEST_F(Module, FailedStartLeavesTheModuleUnstartedAndSaysWhy) {
  struct Case {
    vexa::ModuleStartFn start;
    const char* cause;
  };
  const Case cases[] = {{StartFails, "the value \"X\" is missing"},
                        {StartThrows, "exception in the start hook: boom"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cause);
    vexa::ModuleResetForTest();
    testing::internal::CaptureStderr();
    vexa::ModuleRunStart("testmod", c.start);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(vexa::ModuleStarted());
    EXPECT_EQ(vexa::GetModuleState(), vexa::ModuleState::kFailed);
    EXPECT_EQ(vexa::ModuleFailure(), c.cause);
    EXPECT_EQ(err, std::string("testmod: not started: ") + c.cause + "\n");
    g_stops = 0;
    vexa::ModuleRunStop(Stop);
    EXPECT_EQ(g_stops, 1) << "the stop still runs (it closes what the start opened)";
    EXPECT_FALSE(g_succeededDuringStop);
  }
}

TEST(NoDestructor, HoldsAndNeverDestroys) {
  static int destroyed = 0;
  struct Counted {
    int v = 7;
    ~Counted() { ++destroyed; }
  };
  {
    vexa::NoDestructor<Counted> c;
    EXPECT_EQ(c->v, 7);
    (*c).v = 8;
    EXPECT_EQ(c->v, 8);
  }
  EXPECT_EQ(destroyed, 0);
}
