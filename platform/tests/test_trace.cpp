// The trace routine: open/close, levels, line format, Multilog and Timelog, whole
// lines of any length from several threads, and safe file handling.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vexa/platform/registry.h"
#include "vexa/platform/trace.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

const std::regex kPrefix(R"(^\[0x[0-9a-f]{8}\] - \d\d\\\d\d\\\d{4} - \[\d\d:\d\d:\d\d\.\d{3}\] )");
const std::regex kInit(R"(^\*{13} INIT LOG \d+ logLevel (\d+) g_bTimeLog (\d)$)");

class TraceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa_trace_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    reg = dir / "registry.reg";
    setenv("VEXA_REGISTRY", reg.c_str(), 1);
    path = (dir / "t.log").string();
  }
  void TearDown() override {
    TraceClose();
    unsetenv("VEXA_REGISTRY");
    fs::remove_all(dir);
  }
  void Registry(const std::string& values) {
    std::ofstream f(reg);
    f << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n" << values;
  }
  fs::path dir, reg;
  std::string path;
};

}  // namespace

TEST_F(TraceFile, LevelIsTheValueClampedToTheHighest) {
  struct Case {
    const char* value;
    unsigned short highest;
    int level;
  };
  const Case cases[] = {{"dword:00000009", 4, 4}, {"dword:00000002", 4, 2}, {"dword:00000103", 4, 3},
                        {"hex:05", 3, 3},         {"dword:00000000", 4, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Registry(std::string("\"mod\"=") + c.value + "\n");
    ASSERT_EQ(TraceOpen(path.c_str(), "mod", c.highest), 0);
    EXPECT_EQ(vexa::TraceLevel(), c.level);
    TraceClose();
    EXPECT_EQ(vexa::TraceLevel(), 0);
    std::smatch m;
    std::string first = Lines(ReadText(path)).at(0);
    fs::remove(path);
    ASSERT_TRUE(std::regex_match(first, m, kInit)) << first;
    EXPECT_EQ(std::stoi(m[1]), c.level);
  }
}

TEST_F(TraceFile, OpenFailsWithoutPathNameOrValue) {
  Registry("\"mod\"=dword:4\n");
  EXPECT_EQ(TraceOpen(nullptr, "mod", 4), -1);
  EXPECT_EQ(TraceOpen(path.c_str(), nullptr, 4), -1);
  EXPECT_EQ(TraceOpen("", "mod", 4), -1);
  EXPECT_EQ(TraceOpen(path.c_str(), "other", 4), -1);
  EXPECT_FALSE(fs::exists(path)) << "no file while the value is absent";
  EXPECT_EQ(TraceOpen((dir / "no/such/dir/t.log").c_str(), "mod", 4), -1);
  EXPECT_EQ(vexa::TraceLevel(), 0);
  EXPECT_EQ(Trace(1, "dropped\n"), 0) << "tracing off: no effect, no failure";
}

TEST_F(TraceFile, LinesHaveThePrefixAndPassByLevel) {
  Registry("\"mod\"=dword:2\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  EXPECT_EQ(Trace(1, "one %d\n", 1), 0);
  EXPECT_EQ(Trace(2, "two %s\n", "x"), 0);
  EXPECT_EQ(Trace(3, "three\n"), 0);
  EXPECT_EQ(TraceTime(1, "no time log\n"), 0);
  EXPECT_EQ(Trace(1, nullptr), 0);
  TraceClose();
  EXPECT_EQ(Trace(1, "after close\n"), 0);
  std::string text = ReadText(path);
  auto lines = Lines(text);
  ASSERT_GE(lines.size(), 4u) << text;
  EXPECT_TRUE(std::regex_match(lines[0], kInit)) << lines[0];
  EXPECT_TRUE(std::regex_search(lines[1], kPrefix)) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 7), "] one 1");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 7), "] two x");
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(^\[0x[0-9a-f]{8}\] - .*\] $)"))) << "empty format";
  EXPECT_EQ(text.find("three"), std::string::npos);
  EXPECT_EQ(text.find("no time log"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 23), "\n\n### Closing Log ###\n\n");
}

TEST_F(TraceFile, LevelZeroWritesOnlyTheInitLine) {
  Registry("\"mod\"=dword:0\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  for (int l = 0; l <= 4; ++l) Trace(l, "level %d\n", l);
  std::string text = ReadText(path);
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 1u) << text;
  EXPECT_TRUE(std::regex_match(lines[0], kInit));
}

TEST_F(TraceFile, MultilogNumbersTheFilesOfAProcess) {
  Registry("\"mod\"=dword:1\n\"Multilog\"=dword:1\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  Trace(1, "first\n");
  TraceClose();
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  Trace(1, "second\n");
  TraceClose();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_NE(ReadText(path + "01").find("first"), std::string::npos);
  EXPECT_NE(ReadText(path + "02").find("second"), std::string::npos);
}

TEST_F(TraceFile, TimelogPutsTheTimeStampOnItsOwnLine) {
  Registry("\"mod\"=dword:4\n\"Timelog\"=dword:1\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  EXPECT_EQ(TraceTime(2, "took %d ms\n", 12), 0);
  auto lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[0], kInit));
  EXPECT_NE(lines[0].find("g_bTimeLog 1"), std::string::npos);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(^\[0x[0-9a-f]{8}\] - \d\d\\\d\d\\\d{4} - \[\d\d:\d\d:\d\d\.\d{3}\]$)")))
      << lines[1];
  EXPECT_EQ(lines[2], "took 12 ms");
}

// A caller's format far beyond any fixed buffer comes out whole, with its arguments.
TEST_F(TraceFile, LongFormatsAreWrittenWhole) {
  Registry("\"mod\"=dword:4\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  std::string fmt(1000, 'f');
  fmt += " %d %s\n";
  std::string arg(5000, 'a');
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  EXPECT_EQ(Trace(1, fmt.c_str(), 42, arg.c_str()), 0);
#pragma GCC diagnostic pop
  auto lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_search(lines[1], kPrefix));
  EXPECT_NE(lines[1].find(std::string(1000, 'f') + " 42 " + arg), std::string::npos);
}

TEST_F(TraceFile, LinesFromManyThreadsStayWhole) {
  Registry("\"mod\"=dword:4\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  constexpr int kThreads = 4, kLines = 300;
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back([t] {
      std::string pad(100 + t * 300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) Trace(1, "T%d L%d %s END\n", t, i, pad.c_str());
    });
  for (auto& t : ts) t.join();
  auto lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(1 + kThreads * kLines));
  const std::regex whole(R"(^\[0x[0-9a-f]{8}\] - [^\]]*\] T(\d) L\d+ ([a-d]+) END$)");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, whole)) << lines[i].substr(0, 80);
    EXPECT_EQ(m[2].length(), 100 + std::stoi(m[1]) * 300);
  }
}

TEST_F(TraceFile, FileIsPrivateAndNeverReachedThroughALink) {
  Registry("\"mod\"=dword:4\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  TraceClose();
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A wider mode left on an existing file of ours is narrowed.
  chmod(path.c_str(), 0644);
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  TraceClose();
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  fs::path target = dir / "victim";
  { std::ofstream(target) << "keep\n"; }
  fs::path link = dir / "link.log";
  fs::create_symlink(target, link);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TraceOpen(link.c_str(), "mod", 4), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("symbolic link"), std::string::npos) << err;
  EXPECT_EQ(Trace(1, "secret\n"), 0);
  EXPECT_EQ(ReadText(target), "keep\n");

  fs::create_directory(dir / "adir");
  EXPECT_EQ(TraceOpen((dir / "adir").c_str(), "mod", 4), -1) << "not a regular file";
}

TEST_F(TraceFile, FileOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
  Registry("\"mod\"=dword:4\n");
  { std::ofstream(path) << "theirs\n"; }
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TraceOpen(path.c_str(), "mod", 4), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadText(path), "theirs\n");
}

TEST_F(TraceFile, SecretsAreMaskedAndBytesAreHex) {
  Registry("\"mod\"=dword:4\n");
  ASSERT_EQ(TraceOpen(path.c_str(), "mod", 4), 0);
  const BYTE pin[] = {'1', '2', '3', '4', '5', '6'};
  const BYTE apdu[] = {0x00, 0xA4, 0x04, 0x0C};
  vexa::TraceSecret(1, "VERIFY data", pin, sizeof pin);
  vexa::TraceBytes(1, "APDU", apdu, sizeof apdu);
  vexa::TraceBytes(1, "none", nullptr, 0);
  std::string text = ReadText(path);
  EXPECT_NE(text.find("] VERIFY data [6 bytes masked]\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("123456"), std::string::npos);
  EXPECT_EQ(text.find("31 32 33"), std::string::npos);
  EXPECT_NE(text.find("] APDU [4 bytes] 00 A4 04 0C\n"), std::string::npos) << text;
  EXPECT_NE(text.find("] none [0 bytes] \n"), std::string::npos) << text;
}

TEST_F(TraceFile, FilePathFollowsTraceDir) {
  Registry("");
  EXPECT_EQ(vexa::TraceFilePath("pkcs11.log"), "/tmp/pkcs11.log");
  Registry("\"TraceDir\"=\"" + dir.string() + "/logs/\"\n");
  EXPECT_EQ(vexa::TraceFilePath("pkcs11.log"), dir.string() + "/logs/pkcs11.log");
  Registry("\"TraceDir\"=\"\"\n");
  EXPECT_EQ(vexa::TraceFilePath("x"), "/tmp/x");
}
