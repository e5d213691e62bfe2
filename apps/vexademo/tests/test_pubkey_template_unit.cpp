// The parser of the card's public-key template: the card's own layout (long
// lengths, zero fill behind it) and malformed answers that must give an error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pubkey_template.h"

using vexademo::ParsePublicKeyTemplate;

namespace {

std::vector<uint8_t> H(const std::string& s) {
  std::vector<uint8_t> out;
  std::string d;
  for (char c : s)
    if (std::isxdigit(static_cast<unsigned char>(c))) d += c;
  for (std::size_t i = 0; i + 1 < d.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(d.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(VexaDemoPublicKeyTemplate, CardLayoutWithLongLengthsAndZeroFill) {
  // 7F 49 82 01 09 | 81 82 01 00 modulus(256) | 82 03 01 00 01 | zero fill
  std::vector<uint8_t> t = H("7F 49 82 01 09 81 82 01 00");
  for (int i = 0; i < 256; ++i) t.push_back(static_cast<uint8_t>(i == 0 ? 0xC1 : (i == 255 ? 0x5B : 0xA5)));
  const auto tail = H("82 03 01 00 01 00 00 00 00");
  t.insert(t.end(), tail.begin(), tail.end());
  const auto r = ParsePublicKeyTemplate(t);
  ASSERT_TRUE(r.key) << r.error;
  EXPECT_EQ(r.key->modulus.size(), 256u);
  EXPECT_EQ(r.key->modulus.front(), 0xC1);
  EXPECT_EQ(r.key->exponent, H("01 00 01"));
  EXPECT_EQ(vexademo::PublicKeyTemplateSize(256), 5u + 4 + 256 + 2 + 4);
}

TEST(VexaDemoPublicKeyTemplate, ShortFormsAndLeadingZeros) {
  const auto r = ParsePublicKeyTemplate(H("7F 49 0A 81 04 00 C3 D5 E7 82 02 00 03"));
  ASSERT_TRUE(r.key) << r.error;
  EXPECT_EQ(r.key->modulus, H("C3 D5 E7"));
  EXPECT_EQ(r.key->exponent, H("03"));
}

TEST(VexaDemoPublicKeyTemplate, MalformedAnswersAreErrors) {
  const char* cases[] = {
      "",                                             // nothing
      "7F",                                           // tag cut
      "7F 48 06 81 01 C3 82 01 03",                   // another tag
      "7F 49 82 01",                                  // length cut
      "7F 49 07 81 01 C3 82 01 03",                   // template longer than the data
      "7F 49 06 81 05 C3 82 01 03",                   // element longer than the template
      "7F 49 03 81 01 C3",                            // no exponent
      "7F 49 03 82 01 03",                            // no modulus
      "7F 49 06 81 01 00 82 01 03",                   // zero modulus
      "7F 49 06 81 01 C2 82 01 03",                   // even modulus
      "7F 49 09 81 01 C3 82 01 03 81 01 C5",          // repeated modulus
      "7F 49 06 83 01 C3 82 01 03",                   // unknown element
      "7F 49 06 81 83 00 00 01 C3",                   // three-byte length form
      "7F 49 84 FF FF FF FF",                         // four-byte length form
      "7F 49 82 FF FF 81 82 FF F0",                   // huge lengths, few bytes
  };
  for (const char* c : cases) {
    const auto r = ParsePublicKeyTemplate(H(c));
    EXPECT_FALSE(r.key) << c;
    EXPECT_FALSE(r.error.empty()) << c;
  }
}

}  // namespace
