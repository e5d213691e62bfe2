// Named events between processes of one user.
#include "vexa/platform/named_event.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <chrono>

#include "shm_test_util.h"

using vexa::kInfinite;
using vexa::NamedEvent;
using vexa::WaitResult;
using vexa::test::RunInChild;
using vexa::test::UniqueName;

namespace {

long long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
      .count();
}

}  // namespace

TEST(NamedEvent, RefusesUseBeforeCreateAndBadNames) {
  NamedEvent e;
  EXPECT_EQ(e.Set(), -1);
  EXPECT_EQ(e.Reset(), -1);
  EXPECT_EQ(e.Wait(0), WaitResult::Failed);
  EXPECT_EQ(e.Create(nullptr, true, false), -1);
  EXPECT_EQ(e.Create("", true, false), -1);
}

TEST(NamedEvent, IsPrivateToTheUser) {
  NamedEvent e;
  ASSERT_EQ(e.Create(UniqueName("PropCert").c_str(), true, true), 0);
  EXPECT_NE(e.ObjectName().find(".u" + std::to_string(geteuid())), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(("/dev/shm" + e.ObjectName()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A block of the event's name that others may write is not used.
  NamedEvent forged;
  const std::string name = UniqueName("NonBlocking");
  NamedEvent probe;
  ASSERT_EQ(probe.Create(name.c_str(), true, false), 0);
  const std::string path = "/dev/shm" + probe.ObjectName();
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  EXPECT_EQ(forged.Create(name.c_str(), true, false), -2);
}

TEST(NamedEvent, ManualResetAcrossProcesses) {
  const std::string name = UniqueName("PropCert");
  NamedEvent e;
  ASSERT_EQ(e.Create(name.c_str(), true, true), 0);
  EXPECT_FALSE(e.Existed());

  // The other process sees the state, and stays signalled after its own wait.
  EXPECT_EQ(RunInChild([&] {
              NamedEvent o;
              if (o.Create(name.c_str(), false, false) != 0 || !o.Existed()) return 1;
              if (o.Wait(0) != WaitResult::Signalled || o.Wait(0) != WaitResult::Signalled) return 2;
              return o.Reset() == 0 ? 0 : 3;
            }),
            0);
  EXPECT_FALSE(e.IsSignalled());

  // A child waits; the parent's Set releases it.
  auto child = vexa::test::StartChild([&](const std::function<void()>& ready) {
    NamedEvent o;
    if (o.Create(name.c_str(), true, false) != 0) _exit(1);
    ready();
    _exit(o.Wait(20000) == WaitResult::Signalled ? 0 : 2);
  });
  ASSERT_TRUE(vexa::test::WaitReady(child));
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(e.Set(), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
  child.pid = -1;
  vexa::test::KillChild(child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(ElapsedMs(t0), 10000);
  EXPECT_TRUE(e.IsSignalled());
}

TEST(NamedEvent, AutoResetReleasesOneWaiterPerSet) {
  const std::string name = UniqueName("NonBlocking");
  NamedEvent e;
  ASSERT_EQ(e.Create(name.c_str(), false, false), 0);
  // Two children wait up to 3 s; one Set releases exactly one of them.
  std::vector<vexa::test::Child> kids;
  for (int i = 0; i < 2; ++i) {
    kids.push_back(vexa::test::StartChild([&](const std::function<void()>& ready) {
      NamedEvent o;
      if (o.Create(name.c_str(), false, false) != 0) _exit(1);
      ready();
      _exit(o.Wait(3000) == WaitResult::Signalled ? 10 : 20);
    }));
    ASSERT_TRUE(vexa::test::WaitReady(kids.back()));
  }
  ASSERT_EQ(e.Set(), 0);
  int released = 0, timedOut = 0;
  for (auto& k : kids) {
    int status = 0;
    ASSERT_EQ(waitpid(k.pid, &status, 0), k.pid);
    k.pid = -1;
    vexa::test::KillChild(k);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) ++released;
    else if (WEXITSTATUS(status) == 20) ++timedOut;
  }
  EXPECT_EQ(released, 1);
  EXPECT_EQ(timedOut, 1);
  EXPECT_FALSE(e.IsSignalled()) << "the released wait reset it";
}

TEST(NamedEvent, WaitTimesOutAfterTheGivenTime) {
  NamedEvent e;
  ASSERT_EQ(e.Create(UniqueName("PropCert").c_str(), true, false), 0);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(e.Wait(150), WaitResult::Timeout);
  const auto ms = ElapsedMs(t0);
  EXPECT_GE(ms, 140);
  EXPECT_LT(ms, 5000);
}

TEST(NamedEvent, OwnerDeadLockIsTakenOver) {
  const std::string name = UniqueName("PropCert");
  NamedEvent e;
  ASSERT_EQ(e.Create(name.c_str(), true, false), 0);
  // A process dies holding the event's lock.
  ASSERT_EQ(RunInChild([&] {
              NamedEvent o;
              if (o.Create(name.c_str(), true, false) != 0) return 1;
              // Leave with the lock held and the event still mapped, as a crash does.
              _exit(vexa::NamedEventTestAccess::LockAndAbandon(o) ? 0 : 2);
            }),
            0);
  // The others carry on.
  EXPECT_EQ(e.Set(), 0);
  EXPECT_EQ(e.Wait(1000), WaitResult::Signalled);
  EXPECT_EQ(e.Reset(), 0);
  EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
}

TEST(NamedEvent, AFreshEventAfterEveryHolderHasGone) {
  const std::string name = UniqueName("PropCert");
  {
    NamedEvent e;
    ASSERT_EQ(e.Create(name.c_str(), true, true), 0);
  }
  // A holder killed without closing leaves no state behind either.
  auto child = vexa::test::StartChild([&](const std::function<void()>& ready) {
    static NamedEvent o;
    if (o.Create(name.c_str(), true, true) != 0) _exit(1);
    ready();
  });
  ASSERT_TRUE(vexa::test::WaitReady(child));
  vexa::test::KillChild(child);

  NamedEvent again;
  ASSERT_EQ(again.Create(name.c_str(), false, false), 0);
  EXPECT_FALSE(again.Existed());
  EXPECT_EQ(again.Wait(0), WaitResult::Timeout) << "initial state of the new creator";
}

TEST(NamedEvent, ALockThatCanNeverBeHadFailsInsteadOfHanging) {
  const std::string name = UniqueName("PropCert");
  NamedEvent e;
  ASSERT_EQ(e.Create(name.c_str(), true, false), 0);
  // A process takes the lock and unmaps the event before it dies, so the
  // system cannot hand the lock on.
  ASSERT_EQ(RunInChild([&] {
              NamedEvent o;
              if (o.Create(name.c_str(), true, false) != 0) return 1;
              if (!vexa::NamedEventTestAccess::LockAndAbandon(o)) return 2;
              o.Close();
              return 0;
            }),
            0);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(e.Set(), -1);
  EXPECT_EQ(e.Wait(kInfinite), WaitResult::Failed);
  EXPECT_LT(ElapsedMs(t0), 30000);
}
