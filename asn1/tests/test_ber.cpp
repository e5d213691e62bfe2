// BER elements: length forms, parsing rules, the result codes, ownership.
#include <gtest/gtest.h>

#include "hex.h"

TEST(Ber, LengthFormsAreMinimal) {
  struct Case {
    DWORD length;
    std::string header;
  } cases[] = {
      {0, "04 00"},
      {1, "04 01"},
      {127, "04 7F"},
      {128, "04 81 80"},
      {255, "04 81 FF"},
      {256, "04 82 01 00"},
      {65535, "04 82 FF FF"},
      {65536, "04 83 01 00 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    Octets content(c.length, 0x5A);
    COctetString s;
    ASSERT_EQ(0u, s.SetValue(content.data(), c.length));
    Octets expected = Hex(c.header) + content;
    DWORD size = 0;
    ASSERT_EQ(0u, s.EncodeObjectToData(nullptr, &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(expected, Encode(s));
    // And back.
    COctetString back;
    ASSERT_EQ(0u, back.CreateByEncodedData(expected.data(), Len(expected)));
    EXPECT_EQ(content, ValueOf(back));
  }
}

TEST(Ber, ReadsEveryLengthFormWithinTheInput) {
  struct Case {
    std::string in;
    std::string content;
  } cases[] = {
      {"04 80 05 01 02 03 04 05", "01 02 03 04 05"},  // 0x80 read as one length octet
      {"04 81 02 AA BB", "AA BB"},                    // non-minimal long form
      {"04 84 00 00 00 01 CC", "CC"},                 // four length octets
      {"04 02 AA BB FF FF", "AA BB"},                 // trailing octets ignored
      {"04 00", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Octets in = Hex(c.in);
    COctetString s;
    ASSERT_EQ(0u, s.CreateByEncodedData(in.data(), Len(in)));
    EXPECT_EQ(Hex(c.content), ValueOf(s));
    EXPECT_TRUE(s.IsComplete());
  }
}

TEST(Ber, RejectsInputThatEndsEarlyOrHasTooManyLengthOctets) {
  struct Case {
    std::string in;
    DWORD result;
  } cases[] = {
      {"", ASN1_ERR_INVALID_INPUT},
      {"04", ASN1_ERR_INVALID_INPUT},
      {"04 03 01 02", ASN1_ERR_INVALID_INPUT},              // content past the end
      {"04 80", ASN1_ERR_INVALID_INPUT},                    // length octet missing
      {"04 80 05 01", ASN1_ERR_INVALID_INPUT},
      {"04 82 01", ASN1_ERR_INVALID_INPUT},                 // length field cut
      {"04 84 FF FF FF FF 00", ASN1_ERR_INVALID_INPUT},     // 4 GB declared
      {"04 85 00 00 00 00 01 00", ASN1_ERR_INVALID_INPUT},  // five length octets
      {"04 FF 00", ASN1_ERR_INVALID_INPUT},
      {"05", ASN1_ERR_INVALID_INPUT},                       // NULL without its octet
      {"02 01 00", ASN1_ERR_WRONG_TAG},
      {"24 01 00", ASN1_ERR_WRONG_TAG},                     // constructed form of 04
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Octets in = Hex(c.in);
    COctetString s(Hex("77").data(), 1);
    EXPECT_EQ(c.result, s.CreateByEncodedData(in.empty() ? nullptr : in.data(), Len(in)));
    EXPECT_EQ(Hex("77"), ValueOf(s));  // unchanged
    EXPECT_EQ(0x04, s.GetTag());
  }
}

TEST(Ber, NullParsesIntoAnyObject) {
  Octets in = Hex("05 00");
  CPrintableString s;
  ASSERT_EQ(0u, s.CreateByEncodedData(in.data(), Len(in)));
  EXPECT_EQ(0x05, s.GetTag());
  EXPECT_EQ(1u, s.GetLength());
  EXPECT_EQ(Hex("00"), ValueOf(s));
  EXPECT_EQ(in, Encode(s));
  CNull n;
  EXPECT_TRUE(n.IsComplete());
  EXPECT_EQ(in, Encode(n));
}

TEST(Ber, TagsOfTheTypedElements) {
  Octets one = Hex("01");
  EXPECT_EQ(Hex("02 01 01"), Encode(CInteger(one.data(), 1)));
  EXPECT_EQ(Hex("03 01 01"), Encode(CBitString(one.data(), 1)));
  EXPECT_EQ(Hex("04 01 01"), Encode(COctetString(one.data(), 1)));
  EXPECT_EQ(Hex("06 01 01"), Encode(COid(one.data(), 1)));
  EXPECT_EQ(Hex("12 01 01"), Encode(CNumericString(one.data(), 1)));
  EXPECT_EQ(Hex("13 01 01"), Encode(CPrintableString(one.data(), 1)));
  // Integers are stored as given: no sign octet, no trimming.
  Octets le = Hex("00 04 00 00");
  EXPECT_EQ(Hex("02 04 00 04 00 00"), Encode(CInteger(le.data(), 4)));
  Octets neg = Hex("80");
  EXPECT_EQ(Hex("02 01 80"), Encode(CInteger(neg.data(), 1)));
}

TEST(Ber, BooleanContent) {
  EXPECT_EQ(Hex("01 01 FF"), Encode(CBoolean(1)));
  EXPECT_EQ(Hex("01 01 FF"), Encode(CBoolean(-7)));
  EXPECT_EQ(Hex("01 01 00"), Encode(CBoolean(0)));
  Octets zero = Hex("00"), other = Hex("01");
  EXPECT_EQ(Hex("01 01 00"), Encode(CBoolean(zero.data(), 1)));
  EXPECT_EQ(Hex("01 01 FF"), Encode(CBoolean(other.data(), 1)));
  CBoolean b;
  EXPECT_FALSE(b.IsComplete());
  EXPECT_EQ(0u, b.SetValue(0));
  EXPECT_EQ(0u, b.SetValue(1));  // the flag setter replaces
  EXPECT_EQ(Hex("01 01 FF"), Encode(b));
  // A parsed BOOLEAN keeps its content as found.
  Octets raw = Hex("01 01 01");
  CBoolean parsed;
  ASSERT_EQ(0u, parsed.CreateByEncodedData(raw.data(), Len(raw)));
  EXPECT_EQ(raw, Encode(parsed));
}

TEST(Ber, SequenceAndSetTags) {
  Octets one = Hex("01");
  CSequence seq;
  EXPECT_EQ(0x10, seq.GetTag());
  ASSERT_EQ(0u, seq.AddAsn1Obj(&static_cast<const CAsn1Obj&>(CInteger(one.data(), 1))));
  EXPECT_EQ(Hex("10 03 02 01 01"), Encode(seq));
  seq.SetTag(seq.GetTag() | 0x20);
  EXPECT_EQ(Hex("30 03 02 01 01"), Encode(seq));
  CSet set;
  EXPECT_EQ(0x11, set.GetTag());
  set.SetTag(set.GetTag() | 0x20);
  ASSERT_EQ(0u, set.AddAsn1Obj(one.data(), 1));
  EXPECT_EQ(Hex("31 01 01"), Encode(set));
  // From an element: the content is its encoding.
  CSequence wrap(CNull{});
  EXPECT_EQ(Hex("10 02 05 00"), Encode(wrap));
  // Appending an object to itself appends its encoding as it was.
  ASSERT_EQ(0u, wrap.AddAsn1Obj(&wrap));
  EXPECT_EQ(Hex("10 06 05 00 10 02 05 00"), Encode(wrap));
}

TEST(Ber, ResultCodesOnTheInputsThatCauseThem) {
  Octets one = Hex("01");
  DWORD size = 1234;
  // Incomplete: nothing to encode, size untouched.
  COctetString empty;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, empty.EncodeObjectToData(nullptr, &size));
  EXPECT_EQ(1234u, size);
  CSequence seq;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, seq.AddAsn1Obj(&empty));
  EXPECT_FALSE(seq.IsComplete());
  // Value present: the second SetValue fails and keeps the first value.
  COctetString s;
  ASSERT_EQ(0u, s.SetValue(one.data(), 1));
  Octets two = Hex("02 02");
  EXPECT_EQ(ASN1_ERR_VALUE_PRESENT, s.SetValue(two.data(), 2));
  EXPECT_EQ(one, ValueOf(s));
  // Invalid input: null or empty.
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, s.CreateByEncodedData(nullptr, 4));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, s.CreateByEncodedData(one.data(), 0));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, empty.SetValue(nullptr, 3));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, s.EncodeObjectToData(nullptr, nullptr));
  // Wrong tag: the object is unchanged.
  Octets integer = Hex("02 01 05");
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, s.CreateByEncodedData(integer.data(), Len(integer)));
  EXPECT_EQ(one, ValueOf(s));
  // Memory: a buffer one octet short gets nothing and learns the size.
  BYTE buffer[3] = {0xEE, 0xEE, 0xEE};
  size = 2;
  EXPECT_EQ(ASN1_ERR_MEMORY, s.EncodeObjectToData(buffer, &size));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(0xEE, buffer[0]);
  EXPECT_EQ(0u, s.EncodeObjectToData(buffer, &size));
  EXPECT_EQ(Hex("04 01 01"), Octets(buffer, buffer + 3));
  // A length member set beyond the content cannot be written.
  s.SetLength(10);
  EXPECT_EQ(ASN1_ERR_MEMORY, s.EncodeObjectToData(nullptr, &size));
}

TEST(Ber, ConstructorsNeverThrowAndEmptyInputGivesNoValue) {
  Octets one = Hex("01");
  COctetString zero(one.data(), 0);
  EXPECT_FALSE(zero.IsComplete());
  EXPECT_EQ(nullptr, zero.GetValue());
  CAsn1Obj none(nullptr, 5);
  EXPECT_FALSE(none.IsComplete());
  CAsn1Obj generic;
  EXPECT_EQ(0, generic.GetTag());
  EXPECT_EQ(0u, generic.GetLength());
  EXPECT_EQ(0u, generic.WriteLog("%s"));
}

TEST(Ber, AssignmentCopiesOnlyBetweenEqualTags) {
  Octets a = Hex("41"), b = Hex("42");
  CPrintableString member(a.data(), 1);
  COctetString other(b.data(), 1);
  member = other;
  EXPECT_EQ(a, ValueOf(member));
  CPrintableString same(b.data(), 1);
  member = same;
  EXPECT_EQ(b, ValueOf(member));
  // A generic object takes anything, tag included.
  CAsn1Obj any;
  any = other;
  EXPECT_EQ(0x04, any.GetTag());
  EXPECT_EQ(b, ValueOf(any));
}

TEST(Ber, CopiesOwnTheirBuffers) {
  Octets a = Hex("01 02 03");
  COctetString s(a.data(), 3);
  COctetString copy(s);
  EXPECT_NE(s.GetValue(), copy.GetValue());
  EXPECT_EQ(a, ValueOf(copy));
  s.Reset();
  EXPECT_FALSE(s.IsComplete());
  EXPECT_EQ(a, ValueOf(copy));
  // Parsing from the object's own buffer is safe.
  Octets enc = Encode(copy);
  CSequence seq(enc.data(), Len(enc));
  CAsn1Obj gen;
  gen.SetTag(0x04);
  ASSERT_EQ(0u, gen.CreateByEncodedData(seq.GetValue(), seq.GetLength()));
  ASSERT_EQ(0u, gen.CreateByEncodedData(enc.data(), Len(enc)));
  Octets self = Encode(gen);
  ASSERT_EQ(0u, gen.CreateByEncodedData(self.data(), Len(self)));
  EXPECT_EQ(a, ValueOf(gen));
}
