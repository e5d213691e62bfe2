// Registry files: the .reg text format, the read/write results, locked atomic
// writes from several processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vexa/platform/registry.h"

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

namespace {

const char* kKey = "HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10";

std::string ReadText(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteText(const fs::path& p, const std::string& s) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << s;
}

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa_reg_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    hklm = dir / "hklm.reg";
    hkcu = dir / "hkcu.reg";
    setenv("VEXA_REGISTRY", hklm.c_str(), 1);
    setenv("VEXA_USER_REGISTRY", hkcu.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VEXA_REGISTRY");
    unsetenv("VEXA_USER_REGISTRY");
    fs::remove_all(dir);
  }
  fs::path dir, hklm, hkcu;
};

struct GoodCase {
  const char* what;
  const char* text;
  const char* value;
  DWORD type;
  Bytes data;
};

}  // namespace

TEST(RegistryText, ParsesEveryValueForm) {
  const std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\r\n";
  const GoodCase cases[] = {
      {"hex with continuation lines", "\"AID\"=hex:a0,00,00,\\\r\n  00,63,\\\n  4C\r\n", "AID", REG_BINARY,
       {0xA0, 0x00, 0x00, 0x00, 0x63, 0x4C}},
      {"dword little-endian", "\"SerializeGDO\"=dword:0000000f\n", "SerializeGDO", REG_DWORD, {0x0F, 0, 0, 0}},
      {"dword short form", "\"X\"=dword:1\n", "X", REG_DWORD, {1, 0, 0, 0}},
      {"string with escapes", "\"Path\"=\"C:\\\\dir\\\\a \\\"b\\\"\"\n", "Path", REG_SZ,
       {'C', ':', '\\', 'd', 'i', 'r', '\\', 'a', ' ', '"', 'b', '"', 0}},
      {"empty string", "\"E\"=\"\"\n", "E", REG_SZ, {0}},
      {"typed hex", "\"M\"=hex(7):61,00,00\n", "M", REG_MULTI_SZ, {0x61, 0, 0}},
      {"empty hex", "\"B\"=hex:\n", "B", REG_BINARY, {}},
      {"unnamed value", "@=\"dflt\"\n", "", REG_SZ, {'d', 'f', 'l', 't', 0}},
      {"name with spaces, case-insensitive lookup", "\"Compress Certs\"=dword:00000001\n", "compress certs",
       REG_DWORD, {1, 0, 0, 0}},
      {"trailing comment", "\"T\"=dword:00000002 ; two\n", "T", REG_DWORD, {2, 0, 0, 0}},
      {"later duplicate wins", "\"D\"=dword:1\n\"D\"=dword:2\n", "D", REG_DWORD, {2, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    vexa::RegDocument doc;
    vexa::RegParseError err;
    ASSERT_TRUE(doc.Parse(head + c.text, "f.reg", err)) << err.Text();
    const vexa::RegValue* v = doc.Find("hkey_local_machine\\software\\vexa_api_10", c.value);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, c.type);
    EXPECT_EQ(v->data, c.data);
  }
}

TEST(RegistryText, UTF8ByteOrderMarkIsSkipped) {
  vexa::RegDocument doc;
  vexa::RegParseError err;
  ASSERT_TRUE(doc.Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"b\"\n",
                        "f", err))
      << err.Text();
  EXPECT_NE(doc.Find("HKEY_CURRENT_USER\\K", "a"), nullptr);
}

TEST(RegistryText, MalformedTextNamesFileAndLine) {
  struct Bad {
    const char* text;
    int line;
    const char* says;
  };
  const Bad cases[] = {
      {"[HKEY_LOCAL_MACHINE\\K\n", 1, "']'"},
      {"\"a\"=dword:1\n", 1, "outside any key"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=-\n", 2, "deletions"},
      {"[-HKEY_LOCAL_MACHINE\\K]\n", 1, "deletions"},
      {"[HKEY_LOCAL_MACHINE\\K]\n; ok\n\"a\"=hex:a0,zz\n", 3, "hex"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:a0,\\\n  123\n", 3, "hex"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:a0,\\\n", 2, "end of the file"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:123456789\n", 2, "dword"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:\n", 2, "dword"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"open\n", 2, "closing quote"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"x\\q\"\n", 2, "escape"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"x\" y\n", 2, "after the quoted"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\" dword:1\n", 2, "'='"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=qword:1\n", 2, "unknown value type"},
      {"[Software\\K]\n", 1, "root key"},
      {"garbage\n", 1, "expected"},
      {"\xFF\xFE[\0H\0", 0, "UTF-16"},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex(zz):00\n", 2, "hex(N)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    vexa::RegDocument doc;
    vexa::RegParseError err;
    std::string text = c.text;
    if (text.rfind("\xFF\xFE", 0) == 0) text.assign("\xFF\xFE[\0H\0", 6);
    EXPECT_FALSE(doc.Parse(text, "/etc/x.reg", err));
    EXPECT_EQ(err.line, c.line);
    EXPECT_NE(err.message.find(c.says), std::string::npos) << err.message;
    EXPECT_EQ(err.Text().rfind("/etc/x.reg:", 0), 0u) << err.Text();
  }
}

TEST(RegistryText, FormattedValuesReadBackTheSame) {
  Bytes big(300);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  const vexa::RegValue values[] = {
      {"AID", REG_BINARY, {0xA0, 0, 0, 0, 0x63}},
      {"Long", REG_BINARY, big},
      {"N", REG_DWORD, {0x0F, 0, 0, 0}},
      {"Odd dword", REG_DWORD, {1, 2}},
      {"S", REG_SZ, {'a', '"', '\\', '\n', 'z', 0}},
      {"Unterminated text", REG_SZ, {'a', 'b'}},
      {"NUL inside", REG_SZ, {'a', 0, 'b', 0}},
      {"q\"uote", REG_MULTI_SZ, {'x', 0, 0}},
      {"", REG_SZ, {'d', 0}},
      {"Empty", REG_BINARY, {}},
  };
  vexa::RegDocument doc;
  vexa::RegParseError err;
  ASSERT_TRUE(doc.Parse("; keep me\n[HKEY_CURRENT_USER\\K]\n", "f", err));
  for (const auto& v : values) ASSERT_TRUE(doc.Set("HKEY_CURRENT_USER\\K", v));
  std::string text = doc.Text();
  EXPECT_EQ(text.rfind("; keep me\n", 0), 0u);
  std::istringstream lines(text);
  for (std::string l; std::getline(lines, l);) EXPECT_LE(l.size(), 80u) << l;

  vexa::RegDocument again;
  ASSERT_TRUE(again.Parse(text, "f", err)) << err.Text() << "\n" << text;
  for (const auto& v : values) {
    SCOPED_TRACE(v.name);
    const vexa::RegValue* r = again.Find("HKEY_CURRENT_USER\\K", v.name);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->type, v.type);
    EXPECT_EQ(r->data, v.data);
  }
}

TEST_F(RegistryFile, ReadResults) {
  std::string big = "\"Big\"=hex:";
  for (int i = 0; i < 4097; ++i) big += (i ? ",00" : "00");
  std::string max = "\"Max\"=hex:";
  for (int i = 0; i < 4096; ++i) max += (i ? ",01" : "01");
  WriteText(hklm, std::string("[") + kKey + "]\n\"AID\"=hex:a0,00\n" + big + "\n" + max + "\n");
  Bytes d;
  DWORD type = 0;
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "AID", d, &type), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(d, (Bytes{0xA0, 0x00}));
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "Nope", d), 2);
  EXPECT_TRUE(d.empty());
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "Big", d), 2) << "over 4096 bytes";
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "Max", d), 0);
  EXPECT_EQ(d.size(), 4096u);
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, "Software\\Other", "AID", d), 1) << "no such key";
  EXPECT_EQ(RegReadValue(HKEY_CURRENT_USER, VEXA_REG_KEY, "AID", d), 1) << "no file";
  EXPECT_EQ(RegReadValue(static_cast<HKEY>(0x80000003), VEXA_REG_KEY, "AID", d), 1) << "unknown root";
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, nullptr, "AID", d), 1);
}

TEST_F(RegistryFile, MalformedFileIsReportedWithFileAndLine) {
  WriteText(hklm, std::string("[") + kKey + "]\n\"AID\"=hex:a0,00\n\"Bad\"=hex:0g\n");
  Bytes d;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "AID", d), 1);
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "AID", d), 1);
  BYTE one = 1;
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "X", REG_BINARY, &one, 1), 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(hklm.string() + ":3: "), std::string::npos) << err;
  EXPECT_EQ(err.find(hklm.string() + ":3: "), err.rfind(hklm.string() + ":3: ")) << "reported once: " << err;
  EXPECT_NE(ReadText(hklm).find("0g"), std::string::npos) << "a malformed file is left as it was";
}

TEST_F(RegistryFile, WriteKeepsTheRestOfTheFile) {
  const std::string original = std::string("Windows Registry Editor Version 5.00\n\n; site settings\n[") + kKey +
                               "]\n\"AID\"=hex:a0,00,\\\n  00,63\n\"SerializeGDO\"=dword:0000000f\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"Z\"=\"z\"\n";
  WriteText(hklm, original);
  chmod(hklm.c_str(), 0640);
  const BYTE three[4] = {3, 0, 0, 0};
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "SerializeGDO", REG_DWORD, three, 4), 0);
  const BYTE txt[] = "on";
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "New", REG_SZ, txt, sizeof txt), 0);
  std::string expect = original;
  expect.replace(expect.find("dword:0000000f"), 14, "dword:00000003");
  expect.insert(expect.find("\n\n[HKEY_LOCAL_MACHINE\\Software\\Other]") + 1, "\"New\"=\"on\"\n");
  EXPECT_EQ(ReadText(hklm), expect);
  struct stat st {};
  ASSERT_EQ(stat(hklm.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "the file's mode is kept";
  if (geteuid() == 0) {  // root changing another user's file leaves it theirs
    ASSERT_EQ(chown(hklm.c_str(), 65534, 65534), 0);
    ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "New", REG_SZ, txt, sizeof txt), 0);
    ASSERT_EQ(stat(hklm.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(ReadText(hklm), expect);
  }
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << "temporary left: " << e.path();

  Bytes d;
  DWORD type = 0;
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "serializegdo", d, &type), 0);
  EXPECT_EQ(d, (Bytes{3, 0, 0, 0}));
}

TEST_F(RegistryFile, WriteResults) {
  const BYTE one[4] = {1, 0, 0, 0};
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A", REG_DWORD, one, 4), 1) << "no file";
  EXPECT_FALSE(fs::exists(hklm)) << "a write does not create the file";
  WriteText(hklm, std::string("[") + kKey + "]\n");
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, "Software\\Missing", "A", REG_DWORD, one, 4), 1) << "no key";
  Bytes big(4097, 0x55);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A", REG_BINARY, big.data(), 4097), 2);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A", REG_BINARY, nullptr, 3), 2);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A", REG_BINARY, big.data(), 4096), 0);
  EXPECT_EQ(vexa::RegDeleteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A"), 0);
  EXPECT_EQ(vexa::RegDeleteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A"), 2);
  Bytes d;
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A", d), 2);
}

TEST_F(RegistryFile, WriteThroughSymbolicLinkChangesTheTarget) {
  fs::path real = dir / "real.reg";
  WriteText(real, std::string("[") + kKey + "]\n");
  fs::create_symlink(real, hklm);
  const BYTE one[4] = {1, 0, 0, 0};
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "A", REG_DWORD, one, 4), 0);
  EXPECT_TRUE(fs::is_symlink(hklm));
  EXPECT_NE(ReadText(real).find("\"A\"=dword:00000001"), std::string::npos);
}

TEST_F(RegistryFile, UserFileDefaultsToHomeAndCanBeCreated) {
  unsetenv("VEXA_USER_REGISTRY");
  const char* oldHome = getenv("HOME");
  std::string saved = oldHome ? oldHome : "";
  setenv("HOME", dir.c_str(), 1);
  fs::path expected = dir / ".config/vexa/registry.reg";
  EXPECT_EQ(vexa::RegistryFilePath(HKEY_CURRENT_USER), expected.string());
  ASSERT_EQ(vexa::RegCreateKey(HKEY_CURRENT_USER, "Software\\VEXA_API_10\\Cards"), 0);
  const BYTE atr[] = {0x3B, 0xFF};
  EXPECT_EQ(RegWriteValue(HKEY_CURRENT_USER, "Software\\VEXA_API_10\\Cards", "ATR", REG_BINARY, atr, 2), 0);
  struct stat st {};
  ASSERT_EQ(stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  Bytes d;
  EXPECT_EQ(RegReadValue(HKEY_CURRENT_USER, "Software\\VEXA_API_10\\Cards", "ATR", d), 0);
  EXPECT_EQ(d, (Bytes{0x3B, 0xFF}));
  if (oldHome) setenv("HOME", saved.c_str(), 1);
  unsetenv("VEXA_REGISTRY");
  EXPECT_EQ(vexa::RegistryFilePath(HKEY_LOCAL_MACHINE), "/etc/vexa/registry.reg");
}

// Several processes write different values at the same moment: every value lands.
TEST_F(RegistryFile, ConcurrentWritersInSeveralProcessesLoseNothing) {
  WriteText(hklm, std::string("; shared\n[") + kKey + "]\n\"AID\"=hex:a0\n");
  constexpr int kProcs = 4, kValues = 40;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int bad = 0;
      for (int i = 0; i < kValues; ++i) {
        std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
        BYTE v[4] = {static_cast<BYTE>(p), static_cast<BYTE>(i), 0, 0};
        if (RegWriteValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, name.c_str(), REG_DWORD, v, 4) != 0) ++bad;
      }
      _exit(bad == 0 ? 0 : 1);
    }
    kids.push_back(pid);
  }
  for (pid_t k : kids) {
    int st = 0;
    ASSERT_EQ(waitpid(k, &st, 0), k);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  vexa::RegDocument doc;
  vexa::RegParseError err;
  ASSERT_TRUE(doc.Parse(ReadText(hklm), hklm.string(), err)) << err.Text();
  EXPECT_EQ(doc.Values(kKey).size(), static_cast<std::size_t>(kProcs * kValues + 1));
  for (int p = 0; p < kProcs; ++p)
    for (int i = 0; i < kValues; ++i) {
      const vexa::RegValue* v = doc.Find(kKey, "P" + std::to_string(p) + "_" + std::to_string(i));
      ASSERT_NE(v, nullptr) << p << "_" << i;
      EXPECT_EQ(v->data, (Bytes{static_cast<BYTE>(p), static_cast<BYTE>(i), 0, 0}));
    }
  EXPECT_EQ(ReadText(hklm).rfind("; shared\n", 0), 0u);
}
