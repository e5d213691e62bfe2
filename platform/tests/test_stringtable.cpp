// String tables: language from the environment, per-module tables, fallback to
// English, concurrent use.
#include "vexa/platform/stringtable.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>
#include <vector>

using vexa::Language;
using vexa::LoadString;
using vexa::RegisterStringTable;
using vexa::StringEntry;

namespace {

// Sets the three locale variables for one test and puts them back after.
class LocaleEnv {
 public:
  LocaleEnv(const char* lcAll, const char* lcMessages, const char* lang) {
    for (int i = 0; i < 3; ++i) {
      const char* v = getenv(kNames[i]);
      m_saved[i] = v ? std::optional<std::string>(v) : std::nullopt;
    }
    Put(0, lcAll);
    Put(1, lcMessages);
    Put(2, lang);
  }
  ~LocaleEnv() {
    for (int i = 0; i < 3; ++i) Put(i, m_saved[i] ? m_saved[i]->c_str() : nullptr);
  }

 private:
  static void Put(int i, const char* v) {
    if (v) setenv(kNames[i], v, 1);
    else unsetenv(kNames[i]);
  }
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> m_saved[3];
};

const StringEntry kEnglish[] = {
    {27015, "The smartcard inserted is not the same as before!"},
    {27018, "The smart card is not present. Please insert your smart card to complete operation."},
    {27023, "High Encryption Pack is not installed!"},
};
const StringEntry kItalian[] = {
    {27015, "La smartcard inserita non \xc3\xa8 la stessa di prima!"},
    {27023, "High Encryption Pack non \xc3\xa8 installato!"},
};

}  // namespace

TEST(StringTable, LanguageComesFromTheFirstSetLocaleVariable) {
  struct Case {
    const char *lcAll, *lcMessages, *lang;
    Language expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, Language::English},
      {nullptr, nullptr, "it_IT.UTF-8", Language::Italian},
      {nullptr, nullptr, "it", Language::Italian},
      {nullptr, nullptr, "it_CH", Language::Italian},
      {nullptr, nullptr, "en_US.UTF-8", Language::English},
      {nullptr, nullptr, "C", Language::English},
      {nullptr, nullptr, "ita", Language::English},           // not an "it" locale
      {nullptr, "it_IT", "en_GB", Language::Italian},         // LC_MESSAGES before LANG
      {"en_US", "it_IT", "it_IT", Language::English},         // LC_ALL first
      {"", "it_IT.UTF-8", "en_US", Language::Italian},        // empty means unset
      {"it_IT@euro", nullptr, nullptr, Language::Italian},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.lcAll ? c.lcAll : "-") << " / "
                                    << (c.lcMessages ? c.lcMessages : "-") << " / "
                                    << (c.lang ? c.lang : "-"));
    LocaleEnv env(c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(vexa::UiLanguage(), c.expected);
  }
}

TEST(StringTable, LooksUpInTheUsersLanguageAndFallsBackToEnglish) {
  ASSERT_TRUE(RegisterStringTable("vexakernel", kEnglish, kItalian));
  {
    LocaleEnv env(nullptr, nullptr, "it_IT.UTF-8");
    EXPECT_EQ(LoadString("vexakernel", 27015), "La smartcard inserita non \xc3\xa8 la stessa di prima!");
    // No Italian text for 27018: the English one.
    EXPECT_EQ(LoadString("vexakernel", 27018), kEnglish[1].text);
    EXPECT_EQ(LoadString("vexakernel", 1), std::nullopt);
  }
  {
    LocaleEnv env(nullptr, nullptr, "en_US.UTF-8");
    EXPECT_EQ(LoadString("vexakernel", 27015), kEnglish[0].text);
  }
  EXPECT_EQ(LoadString("vexakernel", 27023, Language::Italian), kItalian[1].text);
  EXPECT_EQ(LoadString("nosuchmodule", 27015, Language::English), std::nullopt);
  vexa::UnregisterStringTable("vexakernel");
  EXPECT_EQ(LoadString("vexakernel", 27015, Language::English), std::nullopt);
}

TEST(StringTable, EachModuleHasItsOwnIds) {
  // The same id means different texts in different modules.
  const StringEntry monitor[] = {{102, "Error"}, {103, "Attention"}};
  const StringEntry viewer[] = {{102, "Value"}};
  ASSERT_TRUE(RegisterStringTable("vexamon", monitor, {}));
  ASSERT_TRUE(RegisterStringTable("vexacertview", viewer, {}));
  EXPECT_EQ(LoadString("vexamon", 102, Language::English), "Error");
  EXPECT_EQ(LoadString("vexacertview", 102, Language::English), "Value");
  EXPECT_EQ(LoadString("vexacertview", 103, Language::Italian), std::nullopt);
  // Registering again replaces the module's table.
  const StringEntry again[] = {{104, "The application is busy. Retry when the icon stops."}};
  ASSERT_TRUE(RegisterStringTable("vexamon", again, {}));
  EXPECT_EQ(LoadString("vexamon", 102, Language::English), std::nullopt);
  EXPECT_TRUE(LoadString("vexamon", 104, Language::English));
}

TEST(StringTable, BadTablesAreRefusedWhole) {
  const StringEntry dup[] = {{1, "one"}, {1, "uno"}};
  const StringEntry nullText[] = {{1, "one"}, {2, nullptr}};
  const StringEntry good[] = {{1, "one"}};
  EXPECT_FALSE(RegisterStringTable("", good, {}));
  EXPECT_FALSE(RegisterStringTable("bad", dup, {}));
  EXPECT_FALSE(RegisterStringTable("bad", good, nullText));
  EXPECT_EQ(LoadString("bad", 1, Language::English), std::nullopt);
}

TEST(StringTable, BufferFormCutsAtACharacterBoundary) {
  const StringEntry it[] = {{5, "\xc3\xa8\xc3\xa8\xc3\xa8"}};  // three 2-byte characters
  ASSERT_TRUE(RegisterStringTable("buffers", it, {}));
  LocaleEnv env(nullptr, nullptr, "C");
  char buf[16];
  EXPECT_EQ(LoadString("buffers", 5, buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "\xc3\xa8\xc3\xa8\xc3\xa8");
  EXPECT_EQ(LoadString("buffers", 5, buf, 5), 4);  // room for 4 bytes: two whole characters
  EXPECT_STREQ(buf, "\xc3\xa8\xc3\xa8");
  EXPECT_EQ(LoadString("buffers", 5, buf, 2), 0);  // not even one character fits
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(LoadString("buffers", 6, buf, sizeof buf), 0);
  EXPECT_EQ(LoadString("buffers", 5, nullptr, 10), 0);
  EXPECT_EQ(LoadString("buffers", 5, buf, 0), 0);
}

TEST(StringTable, RegistrationAndLookupFromManyThreads) {
  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &wrong] {
      const std::string module = "threaded" + std::to_string(t % 2);
      const std::string text = "text of " + module;
      const StringEntry e[] = {{7, text.c_str()}};
      for (int i = 0; i < 2000; ++i) {
        if (!RegisterStringTable(module, e, {})) wrong = true;
        auto s = LoadString(module, 7, Language::Italian);
        if (!s || *s != text) wrong = true;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_FALSE(wrong.load());
}
