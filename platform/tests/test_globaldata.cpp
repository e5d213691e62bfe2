// CGlobalData: the shared directory block of a reader, between processes of one
// user.
#include "vexa/platform/globaldata.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "shm_test_util.h"
#include "vexa/platform/trace.h"

using vexa::test::RunInChild;
using vexa::test::UniqueName;

namespace {

constexpr uint32_t kBlock = 6000;

std::vector<BYTE> Pattern(std::size_t n, BYTE seed) {
  std::vector<BYTE> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>(seed + i * 7);
  return v;
}

// Overwrites the stored length word directly, as a faulty or hostile writer of
// the same user could.
void ForgeLength(const std::string& objectName, uint32_t length) {
  int fd = shm_open(objectName.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  void* p = mmap(nullptr, 4, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(p, MAP_FAILED);
  std::memcpy(p, &length, 4);
  munmap(p, 4);
  close(fd);
}

}  // namespace

TEST(CGlobalData, NothingWorksBeforeCreate) {
  CGlobalData g;
  BYTE b[4] = {1, 2, 3, 4};
  DWORD n = sizeof b;
  EXPECT_EQ(g.Write(b, 4), -1);
  EXPECT_EQ(g.Read(b, &n), -1);
  EXPECT_EQ(g.Reset(), -1);
  EXPECT_TRUE(g.IsEmpty());
}

TEST(CGlobalData, CreateRefusesBadArguments) {
  CGlobalData g;
  EXPECT_EQ(g.Create(nullptr, kBlock), -3);
  EXPECT_EQ(g.Create("", kBlock), -3);
  EXPECT_EQ(g.Create(UniqueName("API24_gd args").c_str(), 4), -3);  // no room for a payload
}

TEST(CGlobalData, WriteReadResetInOneProcess) {
  CGlobalData g;
  ASSERT_EQ(g.Create(UniqueName("API24_gd basic").c_str(), kBlock), 0);
  EXPECT_FALSE(g.Existed());
  EXPECT_EQ(g.Size(), kBlock);

  // Empty block: Read and Reset both answer -1.
  DWORD n = 123;
  EXPECT_TRUE(g.IsEmpty());
  EXPECT_EQ(g.Read(nullptr, &n), -1);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(g.Reset(), -1);

  const auto data = Pattern(1500, 3);
  ASSERT_EQ(g.Write(data.data(), static_cast<DWORD>(data.size())), 0);
  EXPECT_FALSE(g.IsEmpty());
  EXPECT_EQ(g.Read(nullptr, &n), 0);  // length only
  EXPECT_EQ(n, 1500u);
  std::vector<BYTE> out;
  ASSERT_EQ(g.Read(out), 0);
  EXPECT_EQ(out, data);

  // A shorter write replaces the payload whole.
  const BYTE small[3] = {0xA, 0xB, 0xC};
  ASSERT_EQ(g.Write(small, 3), 0);
  ASSERT_EQ(g.Read(out), 0);
  EXPECT_EQ(out, std::vector<BYTE>(small, small + 3));

  EXPECT_EQ(g.Reset(), 0);
  EXPECT_TRUE(g.IsEmpty());
  EXPECT_EQ(g.Read(out), -1);
  EXPECT_EQ(g.Reset(), -1);
}

TEST(CGlobalData, WriteLargerThanTheBlockIsRefusedAndChangesNothing) {
  CGlobalData g;
  ASSERT_EQ(g.Create(UniqueName("API24_gd big").c_str(), kBlock), 0);
  const auto before = Pattern(10, 1);
  ASSERT_EQ(g.Write(before.data(), 10), 0);

  const auto huge = Pattern(kBlock * 2, 5);
  struct Case {
    DWORD n;
    int rc;
  } cases[] = {{kBlock - 4, 0}, {kBlock - 3, -2}, {kBlock, -2}, {kBlock * 2, -2}, {0xFFFFFFFFu, -2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    ASSERT_EQ(g.Write(before.data(), 10), 0);
    EXPECT_EQ(g.Write(huge.data(), c.n), c.rc);
    std::vector<BYTE> out;
    ASSERT_EQ(g.Read(out), 0);
    if (c.rc == 0) EXPECT_EQ(out, std::vector<BYTE>(huge.begin(), huge.begin() + c.n));
    else EXPECT_EQ(out, before);
  }
  EXPECT_EQ(g.Write(nullptr, 5), -2);
}

TEST(CGlobalData, ReadNeverCopiesMoreThanTheCallerHasOrTheBlockHolds) {
  CGlobalData g;
  ASSERT_EQ(g.Create(UniqueName("API24_gd read").c_str(), kBlock), 0);
  const auto data = Pattern(100, 9);
  ASSERT_EQ(g.Write(data.data(), 100), 0);

  // The caller's buffer is too small: nothing copied, the length needed returned.
  std::vector<BYTE> buf(50, 0xEE);
  DWORD n = 50;
  EXPECT_EQ(g.Read(buf.data(), &n), -2);
  EXPECT_EQ(n, 100u);
  EXPECT_EQ(buf, std::vector<BYTE>(50, 0xEE));
  EXPECT_EQ(g.Read(buf.data(), nullptr), -1);

  // A stored length beyond the block (written by someone else) is refused.
  for (uint32_t forged : {uint32_t{kBlock - 3}, uint32_t{kBlock}, uint32_t{0xFFFFFFFFu}}) {
    SCOPED_TRACE(forged);
    ForgeLength(g.ObjectName(), forged);
    std::vector<BYTE> out;
    EXPECT_EQ(g.Read(out), -1);
    EXPECT_TRUE(out.empty());
    n = 0;
    EXPECT_EQ(g.Read(nullptr, &n), -1);
  }
}

TEST(CGlobalData, TwoProcessesShareABlockByName) {
  const std::string name = UniqueName("API24_Virtual PCD 00 00");
  const auto data = Pattern(6000 - 4, 42);
  CGlobalData first;
  ASSERT_EQ(first.Create(name.c_str(), kBlock), 0);
  EXPECT_FALSE(first.Existed());
  ASSERT_EQ(first.Write(data.data(), static_cast<DWORD>(data.size())), 0);

  // Another process opens the same name, finds the first one's bytes, and
  // writes its own.
  const auto reply = Pattern(777, 17);
  int rc = RunInChild([&] {
    CGlobalData second;
    if (second.Create(name.c_str(), kBlock) != 0) return 1;
    if (!second.Existed()) return 2;
    std::vector<BYTE> seen;
    if (second.Read(seen) != 0 || seen != data) return 3;
    if (second.Write(reply.data(), static_cast<DWORD>(reply.size())) != 0) return 4;
    return 0;  // _exit: the block is not closed, as in a crash
  });
  ASSERT_EQ(rc, 0);

  // The second process's bytes outlive it while the first still holds the block.
  std::vector<BYTE> out;
  ASSERT_EQ(first.Read(out), 0);
  EXPECT_EQ(out, reply);

  // Once the last holder closes it, the next one starts with an empty block.
  first.Close();
  CGlobalData later;
  ASSERT_EQ(later.Create(name.c_str(), kBlock), 0);
  EXPECT_FALSE(later.Existed());
  EXPECT_TRUE(later.IsEmpty());
}

TEST(CGlobalData, ContentsOutliveTheWriterWhileAnotherHoldsTheBlock) {
  const std::string name = UniqueName("API24_gd outlive");
  CGlobalData holder;
  ASSERT_EQ(holder.Create(name.c_str(), kBlock), 0);
  const auto data = Pattern(300, 1);
  // A writer process opens, writes and closes the block properly.
  ASSERT_EQ(RunInChild([&] {
              CGlobalData writer;
              if (writer.Create(name.c_str(), kBlock) != 0 || !writer.Existed()) return 1;
              if (writer.Write(data.data(), 300) != 0) return 2;
              writer.Close();
              return 0;
            }),
            0);
  // A third process still finds the bytes.
  EXPECT_EQ(RunInChild([&] {
              CGlobalData reader;
              std::vector<BYTE> seen;
              if (reader.Create(name.c_str(), kBlock) != 0 || !reader.Existed()) return 1;
              return reader.Read(seen) == 0 && seen == data ? 0 : 2;
            }),
            0);
}

// The trace lines of Create, in a second process that finds the block.
TEST(CGlobalData, TracesWhetherTheBlockExisted) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gdtrace." + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path reg = dir / "registry.reg";
  {
    std::ofstream r(reg);
    r << "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
         "\"gdtest\"=dword:00000004\n";
  }
  setenv("VEXA_REGISTRY", reg.c_str(), 1);
  const fs::path firstLog = dir / "first.log";
  const fs::path secondLog = dir / "second.log";
  const std::string name = UniqueName("API24_gd trace");

  ASSERT_EQ(TraceOpen(firstLog.c_str(), "gdtest", 4), 0);
  {
    CGlobalData first;
    ASSERT_EQ(first.Create(name.c_str(), kBlock), 0);
    ASSERT_EQ(RunInChild([&] {
                TraceClose();
                if (TraceOpen(secondLog.c_str(), "gdtest", 4) != 0) return 1;
                CGlobalData second;
                int rc = second.Create(name.c_str(), kBlock);
                TraceClose();
                return rc == 0 ? 0 : 2;
              }),
              0);
  }
  TraceClose();
  unsetenv("VEXA_REGISTRY");

  auto slurp = [](const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  };
  const std::string a = slurp(firstLog), b = slurp(secondLog);
  EXPECT_NE(a.find("] \tCGlobalData::CGlobalData\n"), std::string::npos) << a;
  EXPECT_NE(a.find("] not exists\n"), std::string::npos) << a;
  EXPECT_EQ(a.find("already exists"), std::string::npos) << a;
  EXPECT_NE(a.find("] m_strFileName: " + name + "\r\n"), std::string::npos) << a;
  EXPECT_NE(a.find("] \tCGlobalData::Create\n"), std::string::npos) << a;
  EXPECT_NE(b.find("] already exists\n"), std::string::npos) << b;
  EXPECT_EQ(b.find("not exists"), std::string::npos) << b;
  fs::remove_all(dir);
}
