#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "vexa/vcard/reader/apdu_log.h"

namespace fs = std::filesystem;
using namespace vexa::vcard::reader;

TEST(ApduLogLine, FormatsCommandAndResponseInUpperCaseHex) {
  EXPECT_EQ(FormatExchangeLine({0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, {0x90, 0x00}),
            "00A40000023F00 9000\n");
  EXPECT_EQ(FormatExchangeLine({0x80, 0xca, 0x01, 0x82}, {0xc8, 0x0a, 0x90, 0x00}), "80CA0182 C80A9000\n");
}

TEST(ApduLogLine, ParsesExchangesAndRejectsEverythingElse) {
  struct Case {
    const char* line;
    bool ok;
  } cases[] = {
      {"00A40000023F00 9000\n", true},
      {"00a40000023f00 9000", true},  // lower case, no newline
      {"00A40000023F00 9000\r\n", true},
      {"# power on\n", false},
      {"", false},
      {"00A4000 9000", false},    // odd number of digits
      {"00A4 90G0", false},       // not hex
      {"00A40000", false},        // no response field
      {"00A40000 90", false},     // response without a status word
      {" 9000", false},           // empty command
      {"00A4 9000 9000", false},  // a third field
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ParseExchangeLine(c.line).has_value(), c.ok);
  }
  auto e = ParseExchangeLine("80CA0182 C80A9000");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->command, (Bytes{0x80, 0xCA, 0x01, 0x82}));
  EXPECT_EQ(e->response, (Bytes{0xC8, 0x0A, 0x90, 0x00}));
}

TEST(ApduLog, ParsesEveryCompleteLineInOrderAndSkipsNotes) {
  const std::string text =
      "# power on\n"
      "00A4040008A000000001020304 6F038401019000\n"
      "garbage\n"
      "80CA0182 C80A9000\n"
      "80CA0181 9000";  // still being written
  auto log = ParseApduLog(text);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].response, (Bytes{0x6F, 0x03, 0x84, 0x01, 0x01, 0x90, 0x00}));
  EXPECT_EQ(log[1].command, (Bytes{0x80, 0xCA, 0x01, 0x82}));
}

class ApduLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa-apdulog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path m_dir;
};

TEST_F(ApduLogFile, AppendsPrivateLinesVisibleAtOnce) {
  const fs::path path = m_dir / "card.log";
  {
    ApduLogWriter log(path.string());
    log.Note("power on");
    log.Exchange({0x00, 0x84, 0x00, 0x00, 0x08}, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x90, 0x00});
    // Read while the writer is still open: nothing is buffered.
    EXPECT_EQ(Read(path), "# power on\n0084000008 01020304050607089000\n");
  }
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ApduLogWriter again(path.string());  // a reinserted card appends
  again.Exchange({0x00, 0xB0, 0x00, 0x00, 0x00}, {0x6B, 0x00});
  EXPECT_EQ(ParseApduLog(Read(path)).size(), 2u);
}

TEST_F(ApduLogFile, RefusesASymbolicLink) {
  const fs::path target = m_dir / "target";
  std::ofstream(target) << "";
  fs::create_symlink(target, m_dir / "link");
  EXPECT_THROW(ApduLogWriter((m_dir / "link").string()), std::runtime_error);
  EXPECT_THROW(ApduLogWriter((m_dir / "no-such-dir" / "x").string()), std::runtime_error);
}
