// End-to-end fixture: one private pcscd for the test program, and for each test
// a fresh virtual card of a chosen card OS version in the first reader, with a
// CTavrixM410 connected to it. The card's own APDU log tells what went out.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vexa/card/tavrix_m410.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

namespace vexa::card::test {

using Bytes = std::vector<BYTE>;

class BedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_bed = std::make_unique<vexa::testbed::PcscTestbed>(1); }
  static void TearDownTestSuite() { s_bed.reset(); }

  // A fresh card image with these options in the first reader, and m_card connected.
  // The PIN objects live in the application DF: it is selected (that command
  // is not in the log).
  void StartCard(vexa::vcard::PersoOptions opts) {
    m_image = s_bed->Dir() + "/" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img";
    vexa::vcard::CreateCardImage(m_image, opts);
    m_vcard = std::make_unique<vexa::testbed::VirtualCard>(*s_bed, Reader(), m_image);
    ASSERT_TRUE(m_card.InitRM());
    ASSERT_EQ(m_card.Connect(Reader().c_str()), SCARD_S_SUCCESS);
    ASSERT_EQ(SelectApp(), 0);
    m_vcard->ClearLog();
  }
  void StartCard(const std::string& version) {
    vexa::vcard::PersoOptions opts;
    opts.version = version;
    StartCard(opts);
  }
  void TearDown() override {
    m_card.Disconnect();
    m_vcard.reset();
  }
  static std::string Reader() { return s_bed->ReaderNames().at(0); }

  // Commands the card received since the last call.
  std::vector<Bytes> Commands() {
    std::vector<Bytes> out;
    for (const auto& e : m_vcard->Log()) out.push_back(e.command);
    m_vcard->ClearLog();
    return out;
  }
  // Selects the application DF of the fresh card.
  LONG SelectApp() {
    const vexa::vcard::PersoOptions defaults;
    return m_card.cmdSELECT_FILE(SEL_DF_NAME, defaults.aid.data(),
                                 static_cast<DWORD>(defaults.aid.size()));
  }

  static std::unique_ptr<vexa::testbed::PcscTestbed> s_bed;
  std::string m_image;
  std::unique_ptr<vexa::testbed::VirtualCard> m_vcard;
  CTavrixM410 m_card;
};

inline std::unique_ptr<vexa::testbed::PcscTestbed> BedTest::s_bed;

inline Bytes HexBytes(const std::string& s) {
  Bytes out;
  std::string d;
  for (char ch : s)
    if (std::isxdigit(static_cast<unsigned char>(ch))) d += ch;
  for (std::size_t i = 0; i + 1 < d.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoi(d.substr(i, 2), nullptr, 16)));
  return out;
}

}  // namespace vexa::card::test
