// A small stand-in for the card OS simulator, for the reader program's and the
// test bed's own tests: they check the transport, not the card's behaviour.
//
// Image file: text lines "key=value"; keys "atr" (hex, default
// 3B8880010000000000000000F0) and "aid" (hex, default A000000001020304).
// Commands:
//   00 A4 04 xx Lc AID  SELECT by name: 6F 03 84 01 01 90 00 for the image's
//                       AID, else 6A 82
//   80 01 00 00 Lc data ECHO: data 90 00
//   80 02 00 00 Le      Le bytes 00 01 02 ... then 90 00 (Le 0 = 256)
//   80 EE ...           the card OS throws (an internal failure)
//   80 EF ...           a 1-byte response (no status word)
//   shorter than 4 bytes: 67 00; anything else: 6D 00
#pragma once

#include "vexa/vcard/card_os.h"

namespace vexa::vcard::testing {

class FakeCardOs : public ICardOs {
 public:
  FakeCardOs(Bytes atr, Bytes aid) : m_atr(std::move(atr)), m_aid(std::move(aid)) {}
  Bytes Atr() const override { return m_atr; }
  void PowerOn() override {
    m_powered = true;
    ++m_powerOns;
  }
  void PowerOff() override { m_powered = false; }
  Bytes Process(const Bytes& apdu) override;

  bool Powered() const { return m_powered; }
  int PowerOns() const { return m_powerOns; }
  static Bytes DefaultAtr();
  static Bytes DefaultAid();

 private:
  Bytes m_atr;
  Bytes m_aid;
  bool m_powered = false;
  int m_powerOns = 0;
};

}  // namespace vexa::vcard::testing
