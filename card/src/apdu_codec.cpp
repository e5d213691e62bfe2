#include "apdu_codec.h"

namespace vexa::card {

BYTE EffectiveCla(BYTE cla, BYTE channel) noexcept {
  return (channel != 0 && cla == 0) ? channel : cla;
}

std::size_t DataLength(const APDU& apdu) noexcept {
  if (apdu.bExtended != 0) return (std::size_t{apdu.LcExtHi} << 8) | apdu.LcExtLo;
  return apdu.Lc;
}

LONG EncodeCommand(const APDU& apdu, BYTE channel, SendForm form, std::vector<BYTE>& out) {
  out.clear();
  const std::size_t n = DataLength(apdu);
  if (n != 0 && apdu.pData == nullptr) return SCARD_E_INVALID_PARAMETER;
  out.reserve(4 + 3 + n + 2);
  out.push_back(EffectiveCla(apdu.CLA, channel));
  out.push_back(apdu.INS);
  out.push_back(apdu.P1);
  out.push_back(apdu.P2);
  const std::span<const BYTE> data(apdu.pData, n);
  if (apdu.bExtended == 0) {
    if (n != 0) {
      out.push_back(apdu.Lc);
      out.insert(out.end(), data.begin(), data.end());
    }
    if (apdu.Le != 0) out.push_back(apdu.Le);
    return 0;
  }
  out.push_back(0x00);
  if (n == 0) {
    out.push_back(apdu.LeExtHi);
    out.push_back(apdu.LeExtLo);
    return 0;
  }
  out.push_back(apdu.LcExtHi);
  out.push_back(apdu.LcExtLo);
  out.insert(out.end(), data.begin(), data.end());
  if (apdu.Le != 0 || apdu.LeExtHi != 0) {
    out.push_back(form == SendForm::kSendExt ? BYTE{0x01} : apdu.Le);
    out.push_back(apdu.LeExtHi);
  }
  return 0;
}

bool SplitResponse(std::span<const BYTE> raw, Response& out) noexcept {
  if (raw.size() < 2) return false;
  out.data = raw.first(raw.size() - 2);
  out.sw1 = raw[raw.size() - 2];
  out.sw2 = raw[raw.size() - 1];
  return true;
}

bool IsSecretCommand(const APDU& apdu) noexcept {
  switch (apdu.INS) {
    case 0x20:  // VERIFY (also chained parts and code loads, which share the INS)
    case 0x24:  // CHANGE REFERENCE DATA, key changes
    case 0x2C:  // RESET RETRY COUNTER
    case 0x40:  // FORMAT (protected system data)
    case 0x82:  // EXTERNAL AUTHENTICATE
      return true;
    case 0xDA:  // PUT DATA: object creation information carries key and PIN values
      return apdu.P1 == 0x01 && apdu.P2 == 0x6E;
    case 0x2A:  // PERFORM SECURITY OPERATION ENCIPHER: the plaintext
      return apdu.P1 == 0x86 && apdu.P2 == 0x80;
    default:
      return false;
  }
}

bool IsSecretResponse(const APDU& apdu) noexcept {
  // PERFORM SECURITY OPERATION DECIPHER returns the plaintext (often a key).
  return apdu.INS == 0x2A && apdu.P1 == 0x80 && apdu.P2 == 0x86;
}

}  // namespace vexa::card
