// Wide byte buffers (one unit per byte) and UTF-8 / UTF-16 text conversions.
#include "vexa/platform/widebytes.h"

#include <gtest/gtest.h>

using vexa::BstrToBytes;
using vexa::BstrToUtf8;
using vexa::BytesToBstr;
using vexa::UniqueBstr;
using vexa::Utf16ToUtf8;
using vexa::Utf8ToBstr;
using vexa::Utf8ToUtf16;
using vexa::WideToBytes;
using vexa::WideToSecureBytes;

TEST(WideBytes, EveryByteTravelsAsItsOwnUnitAndBack) {
  std::vector<BYTE> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
  UniqueBstr b(BytesToBstr(all));
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(SysStringLen(b.get()), 256u);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(b.get()[i], static_cast<char16_t>(i)) << i;
  auto back = BstrToBytes(b.get());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, all);

  UniqueBstr empty(BytesToBstr({}));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty.get()), 0u);
  EXPECT_EQ(BstrToBytes(empty.get()), std::vector<BYTE>{});
  EXPECT_EQ(BstrToBytes(nullptr), std::vector<BYTE>{});
}

TEST(WideBytes, UnitsAboveFFOnlyForWindows1252Characters) {
  // A Windows-1252 converter gives these units for the bytes 0x80..0x9F.
  struct Case {
    char16_t unit;
    std::optional<BYTE> byte;
  } cases[] = {
      {0x0000, 0x00}, {0x00FF, 0xFF}, {0x0081, 0x81},  // units up to 0xFF: the byte itself
      {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x2122, 0x99},
      {0x0178, 0x9F}, {0x017E, 0x9E},                  // code page 1252 characters
      {0x0100, std::nullopt}, {0x4E2D, std::nullopt},  // no byte: the conversion fails
      {0xD800, std::nullopt}, {0xFFFF, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.unit));
    EXPECT_EQ(vexa::UnitToByte(c.unit), c.byte);
    const char16_t units[] = {u'A', c.unit, u'Z'};
    auto bytes = WideToBytes(units, 3);
    if (c.byte) {
      ASSERT_TRUE(bytes);
      EXPECT_EQ(*bytes, (std::vector<BYTE>{'A', *c.byte, 'Z'}));
    } else {
      EXPECT_FALSE(bytes) << "never a silent '?'";
    }
  }
}

TEST(WideBytes, BadBufferArgumentsFail) {
  EXPECT_FALSE(WideToBytes(nullptr, 3));
  EXPECT_FALSE(WideToBytes(u"abc", -1));
  EXPECT_EQ(WideToBytes(nullptr, 0), std::vector<BYTE>{});
  // The length counts units; a zero unit inside is a byte like any other.
  auto b = WideToBytes(u"a\0b", 3);
  ASSERT_TRUE(b);
  EXPECT_EQ(*b, (std::vector<BYTE>{'a', 0, 'b'}));
  auto pin = WideToSecureBytes(u"12345678", 8);
  ASSERT_TRUE(pin);
  EXPECT_EQ(vexa::SecureBytes(pin->begin(), pin->end()),
            vexa::SecureBytes({'1', '2', '3', '4', '5', '6', '7', '8'}));
}

TEST(TextConversion, ValidUtf8RoundTrips) {
  // Hand-written encodings: ASCII, 2-, 3- and 4-byte sequences.
  struct Case {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"PIN", u"PIN"},
      {"\xc3\xa8", u"\u00e8"},                   // è
      {"non \xc3\xa8 installato", u"non \u00e8 installato"},
      {"\xe2\x82\xac", u"\u20ac"},               // €
      {"\xef\xbf\xbd", u"\ufffd"},
      {"\xf0\x9f\x94\x91", u"\U0001F511"},       // a surrogate pair
      {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    UniqueBstr b(Utf8ToBstr(c.utf8));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::u16string(b.get(), SysStringLen(b.get())), c.utf16);
    EXPECT_EQ(BstrToUtf8(b.get()), c.utf8);
  }
  EXPECT_EQ(BstrToUtf8(nullptr), std::string());
}

TEST(TextConversion, InvalidInputIsRefused) {
  for (const std::string& bad : {
           std::string("\x80"),              // continuation first
           std::string("\xc3"),              // truncated
           std::string("\xe2\x82"),          // truncated
           std::string("\xc0\xaf"),          // overlong '/'
           std::string("\xe0\x80\xaf"),      // overlong
           std::string("\xf0\x80\x80\xaf"),  // overlong
           std::string("\xed\xa0\x80"),      // encoded surrogate
           std::string("\xf4\x90\x80\x80"),  // above U+10FFFF
           std::string("\xff"), std::string("ok\xc3(")}) {
    SCOPED_TRACE(testing::PrintToString(bad));
    EXPECT_FALSE(Utf8ToUtf16(bad));
    EXPECT_EQ(Utf8ToBstr(bad), nullptr);
  }
  for (const std::u16string& bad : {std::u16string(u"\xd800"), std::u16string(u"\xdc00"),
                                    std::u16string(u"a\xd800z"), std::u16string(u"\xdc00\xd800")}) {
    EXPECT_FALSE(Utf16ToUtf8(bad));
    UniqueBstr b(SysAllocStringLen(bad.data(), static_cast<UINT>(bad.size())));
    EXPECT_FALSE(BstrToUtf8(b.get()));
  }
}
