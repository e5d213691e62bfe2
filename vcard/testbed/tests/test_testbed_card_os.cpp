// The test bed with the real virtual card: vexa-vcard over the card OS
// simulator, with images written by the personalisation API. Checks what the
// reader program adds to the card OS (ATR, answers through pcscd, the log, the
// image reopened at each insertion), not the card OS's own behaviour.
#include <gtest/gtest.h>
#include <winscard.h>

#include <memory>

#include "vexa/testbed/testbed.h"
#include "vexa/vcard/card_os.h"
#include "vexa/vcard/perso.h"

using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;
using Bytes = std::vector<uint8_t>;

namespace {

class Session {
 public:
  explicit Session(const std::string& reader) {
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardConnect(m_ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_card,
                           &m_proto),
              SCARD_S_SUCCESS);
  }
  ~Session() {
    SCardDisconnect(m_card, SCARD_LEAVE_CARD);
    SCardReleaseContext(m_ctx);
  }
  Bytes Transmit(const Bytes& cmd) {
    BYTE rsp[1024];
    DWORD len = sizeof rsp;
    const SCARD_IO_REQUEST* pci = m_proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    EXPECT_EQ(SCardTransmit(m_card, pci, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr, rsp, &len),
              SCARD_S_SUCCESS);
    return Bytes(rsp, rsp + len);
  }
  Bytes Atr() {
    BYTE atr[MAX_ATR_SIZE];
    DWORD atrLen = sizeof atr, state = 0, proto = 0, nameLen = 0;
    EXPECT_EQ(SCardStatus(m_card, nullptr, &nameLen, &state, &proto, atr, &atrLen), SCARD_S_SUCCESS);
    return Bytes(atr, atr + atrLen);
  }

 private:
  SCARDCONTEXT m_ctx = 0;
  SCARDHANDLE m_card = 0;
  DWORD m_proto = 0;
};

Bytes Sw(const Bytes& r) { return r.size() >= 2 ? Bytes(r.end() - 2, r.end()) : Bytes{}; }

class CardOsInTestbed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    unsetenv("VEXA_VCARD_PROGRAM");  // the build's vexa-vcard
    s_bed = std::make_unique<PcscTestbed>(1);
  }
  static void TearDownTestSuite() { s_bed.reset(); }
  static std::unique_ptr<PcscTestbed> s_bed;
};
std::unique_ptr<PcscTestbed> CardOsInTestbed::s_bed;

TEST_F(CardOsInTestbed, APersonalisedCardAnswersThroughPcscdAndLogsWhatItAnswered) {
  const std::string image = s_bed->Dir() + "/m410.img";
  vexa::vcard::PersoOptions perso;
  perso.version = "M4.10";
  vexa::vcard::CreateCardImage(image, perso);
  const Bytes atr = vexa::vcard::OpenCardImage(image)->Atr();

  const std::string reader = s_bed->ReaderNames()[1];
  VirtualCard card(*s_bed, reader, image);
  Session s(reader);
  EXPECT_EQ(s.Atr(), atr);
  Bytes select = {0x00, 0xA4, 0x04, 0x00, static_cast<uint8_t>(perso.aid.size())};
  select.insert(select.end(), perso.aid.begin(), perso.aid.end());
  const Bytes selected = s.Transmit(select);
  EXPECT_EQ(selected.size() >= 2 ? selected[selected.size() - 2] : 0, 0x90);
  const Bytes version = s.Transmit({0x00, 0xCA, 0x01, 0x82, 0x00});
  EXPECT_EQ(Sw(version), (Bytes{0x90, 0x00}));

  auto log = card.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].command, select);
  EXPECT_EQ(log[0].response, selected);
  EXPECT_EQ(log[1].response, version);
}

TEST_F(CardOsInTestbed, TheImageKeepsItsStateAcrossRemovalAndReinsertion) {
  const std::string image = s_bed->Dir() + "/retry.img";
  vexa::vcard::PersoOptions perso;
  vexa::vcard::CreateCardImage(image, perso);
  const std::string reader = s_bed->ReaderNames()[0];
  VirtualCard card(*s_bed, reader, image);
  Bytes select = {0x00, 0xA4, 0x04, 0x00, static_cast<uint8_t>(perso.aid.size())};
  select.insert(select.end(), perso.aid.begin(), perso.aid.end());
  const Bytes wrongPin = {0x00, 0x20, 0x00, 0x90, 0x08, '0', '0', '0', '0', '0', '0', '0', '0'};
  Bytes first;
  {
    Session s(reader);
    s.Transmit(select);
    first = Sw(s.Transmit(wrongPin));
  }
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(first[0], 0x63) << "a wrong PIN should count down";
  card.Remove();
  card.Insert();  // a new card program reads the image the last one wrote
  Session s(reader);
  s.Transmit(select);
  const Bytes second = Sw(s.Transmit(wrongPin));
  EXPECT_EQ(second, (Bytes{0x63, static_cast<uint8_t>(first[1] - 1)}));
}

}  // namespace
