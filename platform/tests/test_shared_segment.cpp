// Naming of shared-memory objects, and the life of a per-user shared block:
// kept while any process holds it, gone after the last holder, never taken from
// another user.
#include "vexa/platform/shared_segment.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <set>

#include "shm_test_util.h"

using vexa::detail::PosixObjectName;
using vexa::detail::SharedSegment;
using vexa::test::UniqueName;

namespace {

bool NameExists(const std::string& posixName) {
  int fd = shm_open(posixName.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

TEST(PosixObjectName, IsOneSafeBoundedComponentWithTheUser) {
  const std::string longName(1000, 'x');
  for (const std::string& name :
       {std::string("API24_Virtual PCD 00 00"), std::string("API24_a/b/../c"), longName,
        std::string("API24_\xc3\xa8 \t\n*?"), std::string("..")}) {
    SCOPED_TRACE(name.substr(0, 40));
    const std::string n = PosixObjectName(name, 1234);
    ASSERT_GE(n.size(), 2u);
    EXPECT_EQ(n[0], '/');
    EXPECT_LE(n.size(), 255u);  // NAME_MAX
    EXPECT_EQ(n.find('/', 1), std::string::npos);
    EXPECT_TRUE(n.ends_with(".u1234"));
    for (char c : n.substr(1))
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
                  c == '~')
          << "character " << int(c);
  }
  EXPECT_EQ(PosixObjectName("API24_Reader1", 0), "/API24_Reader1.u0");
}

TEST(PosixObjectName, DifferentNamesAndUsersNeverShareAnObject) {
  // Names that differ only in replaced characters, or beyond the cut, stay apart.
  const std::string longA = std::string(300, 'r') + "A";
  const std::string longB = std::string(300, 'r') + "B";
  std::set<std::string> seen;
  for (const std::string& name : {std::string("API24_a b"), std::string("API24_a_b"),
                                  std::string("API24_a*b"), std::string("API24_a/b"), longA, longB})
    EXPECT_TRUE(seen.insert(PosixObjectName(name, 1000)).second) << name.substr(0, 20);
  EXPECT_NE(PosixObjectName("API24_x", 1000), PosixObjectName("API24_x", 1001));
}

TEST(SharedSegment, NewBlockIsZeroPrivateAndSetUpOnce) {
  const std::string name = PosixObjectName(UniqueName("segtest new"), geteuid());
  SharedSegment a;
  int setUps = 0;
  ASSERT_EQ(a.Open(name, 100, [&](std::span<BYTE> b) {
    ++setUps;
    EXPECT_EQ(b.size(), 100u);
    for (BYTE x : b) ASSERT_EQ(x, 0);
    b[0] = 7;
  }), SharedSegment::OpenResult::Created);
  EXPECT_EQ(setUps, 1);

  struct stat st;
  ASSERT_EQ(fstat(a.Fd(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, geteuid());

  // A second holder shares the bytes and does not set the block up again.
  SharedSegment b;
  ASSERT_EQ(b.Open(name, 100, [&](std::span<BYTE>) { ++setUps; }), SharedSegment::OpenResult::Opened);
  EXPECT_EQ(setUps, 1);
  EXPECT_EQ(b.Bytes()[0], 7);
  a.Bytes()[1] = 9;
  EXPECT_EQ(b.Bytes()[1], 9);
}

TEST(SharedSegment, LastHolderRemovesTheName) {
  const std::string name = PosixObjectName(UniqueName("segtest last"), geteuid());
  SharedSegment a, b;
  ASSERT_EQ(a.Open(name, 64, nullptr), SharedSegment::OpenResult::Created);
  ASSERT_EQ(b.Open(name, 64, nullptr), SharedSegment::OpenResult::Opened);
  a.Bytes()[0] = 1;
  a.Close();
  EXPECT_TRUE(NameExists(name)) << "b still holds it";
  EXPECT_EQ(b.Bytes()[0], 1);
  b.Close();
  EXPECT_FALSE(NameExists(name));
  b.Close();  // twice is harmless
}

TEST(SharedSegment, BlockLeftByDeadProcessesIsNotServed) {
  const std::string name = PosixObjectName(UniqueName("segtest stale"), geteuid());
  // A child makes the block, writes into it and is killed without closing.
  auto child = vexa::test::StartChild([&](const std::function<void()>& ready) {
    static SharedSegment s;  // stays mapped until the kill
    if (s.Open(name, 64, nullptr) != SharedSegment::OpenResult::Created) _exit(1);
    s.Bytes()[0] = 0x5A;
    ready();
  });
  ASSERT_TRUE(vexa::test::WaitReady(child));

  // While it lives, its bytes are shared.
  {
    SharedSegment live;
    ASSERT_EQ(live.Open(name, 64, nullptr), SharedSegment::OpenResult::Opened);
    EXPECT_EQ(live.Bytes()[0], 0x5A);
  }
  EXPECT_TRUE(NameExists(name));
  vexa::test::KillChild(child);
  EXPECT_TRUE(NameExists(name)) << "a killed process removes nothing";

  // Nobody holds it now: the next holder starts afresh.
  SharedSegment fresh;
  int setUps = 0;
  ASSERT_EQ(fresh.Open(name, 64, [&](std::span<BYTE>) { ++setUps; }),
            SharedSegment::OpenResult::Created);
  EXPECT_EQ(setUps, 1);
  EXPECT_EQ(fresh.Bytes()[0], 0);
}

TEST(SharedSegment, RefusesAnObjectOthersMayReadOrWrite) {
  const std::string name = PosixObjectName(UniqueName("segtest mode"), geteuid());
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  ASSERT_EQ(ftruncate(fd, 64), 0);
  SharedSegment s;
  EXPECT_EQ(s.Open(name, 64, nullptr), SharedSegment::OpenResult::OpenFailed);
  close(fd);
  shm_unlink(name.c_str());
}

TEST(SharedSegment, RefusesAnObjectPlantedByAnotherUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string name = PosixObjectName(UniqueName("segtest forged"), geteuid());
  // Another user plants an object under our name, readable and writable by all.
  int rc = vexa::test::RunInChild([&] {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 2;
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return 3;
    if (fchmod(fd, 0666) != 0 || ftruncate(fd, 64) != 0) return 4;
    return 0;
  });
  ASSERT_EQ(rc, 0);
  SharedSegment s;
  EXPECT_EQ(s.Open(name, 64, nullptr), SharedSegment::OpenResult::OpenFailed);
  // Even with the group and other bits off, another owner is refused.
  std::string path = "/dev/shm" + name;
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(s.Open(name, 64, nullptr), SharedSegment::OpenResult::OpenFailed);
  shm_unlink(name.c_str());
}

TEST(SharedSegment, SmallerRequestSeesTheWholeExistingBlockAndNothingShrinks) {
  const std::string name = PosixObjectName(UniqueName("segtest size"), geteuid());
  SharedSegment big, small;
  ASSERT_EQ(big.Open(name, 8192, nullptr), SharedSegment::OpenResult::Created);
  ASSERT_EQ(small.Open(name, 100, nullptr), SharedSegment::OpenResult::Opened);
  EXPECT_EQ(small.Bytes().size(), 8192u);
  big.Bytes()[8191] = 3;  // would fault if the object had shrunk
  EXPECT_EQ(small.Bytes()[8191], 3);
}
