#include <gtest/gtest.h>

#include "vexa/vcard/reader/program.h"

using vexa::vcard::reader::ParseProgramOptions;

TEST(ProgramOptions, ReadsEveryOption) {
  std::string error;
  auto o = ParseProgramOptions({"--port", "35963", "--image", "/tmp/c.img", "--log", "/tmp/c.log",
                                "--connect-timeout", "2.5"},
                               error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->port, 35963);
  EXPECT_EQ(o->imagePath, "/tmp/c.img");
  EXPECT_EQ(o->logPath, "/tmp/c.log");
  EXPECT_DOUBLE_EQ(o->connectTimeoutSeconds, 2.5);
  EXPECT_FALSE(o->pullOnIns);
  o = ParseProgramOptions({"--port", "1", "--image", "i", "--pull-on-ins", "b0"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->pullOnIns, 0xB0);
}

TEST(ProgramOptions, RefusesBadArgumentsWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--image", "x"},                           // no port
      {"--port", "35963"},                        // no image
      {"--port", "0", "--image", "x"},
      {"--port", "65536", "--image", "x"},
      {"--port", "12ab", "--image", "x"},
      {"--port", "-1", "--image", "x"},
      {"--port", "1000", "--image"},              // missing value
      {"--port", "1000", "--image", "x", "--bogus", "1"},
      {"--port", "1000", "--image", "x", "--connect-timeout", "nan"},
      {"--port", "1000", "--image", "x", "--connect-timeout", "-3"},
      {"--port", "1000", "--image", "x", "--pull-on-ins", "1B0"},
      {"--port", "1000", "--image", "x", "--pull-on-ins", "zz"},
      {"--port", "1000", "--image", "x", "--pull-on-ins", ""},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(ParseProgramOptions(args, error));
    EXPECT_FALSE(error.empty());
  }
}
