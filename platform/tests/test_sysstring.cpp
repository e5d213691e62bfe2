// System strings: layout (32-bit byte length before the units, zero unit after),
// null handling, reallocation from a part of the old string.
#include "vexa/platform/sysstring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

uint32_t PrefixOf(BSTR b) {
  uint32_t len;
  std::memcpy(&len, reinterpret_cast<const unsigned char*>(b) - 4, 4);
  return len;
}

}  // namespace

TEST(SysString, AllocStringLenLaysOutPrefixUnitsAndTerminator) {
  const char16_t text[] = u"PIN\u00e8\u20ac";
  struct Case {
    const char16_t* s;
    UINT len;
  } cases[] = {{text, 5}, {text, 2}, {text, 0}, {u"a\0b", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.len);
    vexa::UniqueBstr b(SysAllocStringLen(c.s, c.len));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b.get()), c.len);
    EXPECT_EQ(SysStringByteLen(b.get()), c.len * 2);
    EXPECT_EQ(PrefixOf(b.get()), c.len * 2);
    EXPECT_EQ(std::memcmp(b.get(), c.s, c.len * 2), 0);
    EXPECT_EQ(b.get()[c.len], u'\0');
  }
  // No source: zero-filled units.
  vexa::UniqueBstr z(SysAllocStringLen(nullptr, 4));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(z.get()[i], 0);
  // A length the 32-bit prefix cannot hold.
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

TEST(SysString, AllocStringAndByteLen) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  vexa::UniqueBstr s(SysAllocString(u"Tavrix"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s.get()), 6u);
  EXPECT_EQ(std::u16string(s.get()), u"Tavrix");

  const char bytes[] = {'\x01', '\x00', '\xff', '\x7f', '\x33'};
  for (UINT len : {0u, 4u, 5u}) {
    SCOPED_TRACE(len);
    vexa::UniqueBstr b(SysAllocStringByteLen(bytes, len));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b.get()), len);
    EXPECT_EQ(SysStringLen(b.get()), len / 2);
    EXPECT_EQ(std::memcmp(b.get(), bytes, len), 0);
    const auto* raw = reinterpret_cast<const unsigned char*>(b.get());
    EXPECT_EQ(raw[len], 0);  // the bytes are terminated too
    EXPECT_EQ(b.get()[(len + 1) / 2], 0);
  }
}

TEST(SysString, NullIsEmptyEverywhere) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysReAllocStringLen(nullptr, u"x", 1), FALSE);
  EXPECT_EQ(SysReAllocString(nullptr, u"x"), FALSE);
}

TEST(SysString, ReAllocReplacesAlsoFromInsideTheOldString) {
  BSTR b = SysAllocString(u"0123456789");
  ASSERT_NE(b, nullptr);
  // The new contents come from the middle of the old string.
  ASSERT_EQ(SysReAllocStringLen(&b, b + 3, 4), TRUE);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(std::u16string(b), u"3456");
  ASSERT_EQ(SysReAllocString(&b, u"longer than before"), TRUE);
  EXPECT_EQ(std::u16string(b), u"longer than before");
  ASSERT_EQ(SysReAllocString(&b, nullptr), TRUE);
  EXPECT_EQ(SysStringLen(b), 0u);
  // From null: a plain allocation.
  BSTR n = nullptr;
  ASSERT_EQ(SysReAllocStringLen(&n, u"ab", 2), TRUE);
  EXPECT_EQ(std::u16string(n), u"ab");
  // Out of range: FALSE, the old string stays.
  EXPECT_EQ(SysReAllocStringLen(&n, nullptr, 0x80000000u), FALSE);
  EXPECT_EQ(std::u16string(n), u"ab");
  SysFreeString(n);
  SysFreeString(b);
}
