// The card image file: contents survive a restart, bad files are refused with a
// clear message, writes leave no temporary files, a failed write is reported.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "card_fixture.h"

namespace vexa::vcard::test {
namespace {

std::string ReadFile(const std::string& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& p, const std::string& text) {
  std::ofstream out(p, std::ios::trunc);
  out << text;
}

class ImageTest : public CardTest {};

TEST_F(ImageTest, FilesPinsAndCountersSurviveARestart) {
  MakeCard();
  SelectApp();
  AdminPhase();
  ASSERT_EQ(SwOf("00 E0 00 00 35 62 33 80 02 00 04 82 01 01 83 02 00 10 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF "
                 "CB 18 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"),
            0x9000);
  ASSERT_EQ(SwOf("00 D6 00 00 04 CA FE BA BE"), 0x9000);
  ASSERT_EQ(SwOf("00 20 00 90 01 30"), 0x63C2);
  ASSERT_EQ(SwOf("80 32 00 00 04 07 00 00 00"), 0x9000);
  Reopen();
  SelectApp();
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
  EXPECT_EQ(SwOf("00 A4 02 00 02 00 10"), 0x9000);
  EXPECT_EQ(Hs(Tx("00 B0 00 00 04")), "CAFEBABE9000");
  EXPECT_EQ(SwOf("00 20 00 90"), 0x63C2);
  EXPECT_NE(ReadFile(image_).find("counter 7"), std::string::npos);
  // Only the image itself is in the folder: every write went through a renamed temporary file.
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path())) {
    (void)e;
    ++n;
  }
  EXPECT_EQ(n, 1u);
  struct stat s {};
  ASSERT_EQ(stat(image_.c_str(), &s), 0);
  EXPECT_EQ(s.st_mode & 0777, 0600u);
}

TEST_F(ImageTest, ChangesOfAnotherSimulatorAreSeenAtPowerOn) {
  MakeCard();
  auto other = OpenCardImage(image_);
  other->PowerOn();
  ASSERT_EQ(Sw(other->Process(H("80 10 00 00"))), 0x9000);
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "109000");  // not before the next power-on
  card_->PowerOn();
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
}

TEST_F(ImageTest, MissingOrMalformedImagesAreRefusedClearly) {
  MakeCard();
  const std::string good = ReadFile(image_);
  const std::string bad = dir_.Path() + "/bad.img";
  auto expectRefused = [&](const std::string& text, const std::string& words) {
    WriteFile(bad, text);
    try {
      OpenCardImage(bad);
      ADD_FAILURE() << "accepted: " << words;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
  };
  EXPECT_THROW(OpenCardImage(dir_.Path() + "/none.img"), std::runtime_error);
  expectRefused("", "not a card image");
  expectRefused("hello\n", "not a card image");
  expectRefused(good + "frobnicate 1\n", "unknown keyword");
  expectRefused(good + "file path=3F00 kind=df desc=38 size=1 name=- ac=- sm=-\n", "second MF");
  expectRefused(good + "file path=3F0099990001 kind=bin desc=01 size=1 name=- ac=- sm=- data=00\n", "parent DF missing");
  expectRefused(good + "file path=3F000002 kind=bin desc=01 size=2 name=- ac=- sm=- data=00\n", "file size");
  expectRefused(good + "record path=3F00 data=00\n", "record file");
  expectRefused(good + "pin df=3F00 ref=10 class=00 opt=- ac=- sm=- value=31 max=3 left=9 unblock=00 grants=-\n",
                "tries");
  expectRefused(good + "lifecycle 1G\n", "hexadecimal");
  expectRefused(good + "counter 99999999999\n", "number");
  // The good text opens.
  WriteFile(bad, good);
  EXPECT_NO_THROW(OpenCardImage(bad));
}

TEST_F(ImageTest, RecordsLongerThanAShortApduSurviveARestart) {
  MakeCard();
  // A record file of 400 bytes holding one record of 300 bytes, as an extended
  // APPEND RECORD writes it: the saved image must open again.
  const std::string text = ReadFile(image_) + "file path=3F000077 kind=rec desc=05 size=400 name=- ac=- sm=-\n" +
                           "record path=3F000077 data=" + Rep("5A", 300) + "\n";
  const std::string img = dir_.Path() + "/long.img";
  WriteFile(img, text);
  EXPECT_NO_THROW(OpenCardImage(img));
}

TEST_F(ImageTest, KeyLengthsBeyondAComponentAreReadBack) {
  MakeCard();
  // CRT key of a long first template: its length is twice that template's.
  const std::string img = dir_.Path() + "/key.img";
  WriteFile(img, ReadFile(image_) + "key df=3F00 ref=7E algo=00 opt=- ac=- sm=- size=2044 pubexp=-\n");
  EXPECT_NO_THROW(OpenCardImage(img));
}

TEST_F(ImageTest, AFailedWriteIsReportedAndKeepsTheOldContents) {
  MakeCard();
  SelectApp();
  AdminPhase();
  // Put a folder where the image file was: the rename fails.
  const std::string saved = ReadFile(image_);
  std::filesystem::remove(image_);
  std::filesystem::create_directory(image_);
  EXPECT_EQ(SwOf("80 10 00 00"), 0x6581);
  std::filesystem::remove(image_);
  WriteFile(image_, saved);
  // No temporary file is left behind.
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path())) {
    (void)e;
    ++n;
  }
  EXPECT_EQ(n, 1u);
  Reopen();
  EXPECT_EQ(Hs(Tx("00 CA 01 83 01")), "209000");
}

}  // namespace
}  // namespace vexa::vcard::test
