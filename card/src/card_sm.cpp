// Secure messaging: keys, cipher steps, the protected command forms and the
// checks of protected responses.
#include "vexa/card/card_sm.h"

#include <algorithm>
#include <cstring>

#include "card_guard.h"

using vexa::card::Guarded;

namespace {


// A short command's data, or an empty span when it carries none.
std::span<const BYTE> DataOf(const APDU& a) {
  if (a.Lc == 0 || a.pData == nullptr) return {};
  return {a.pData, a.Lc};
}

bool BadInput(const APDU& a) {
  return a.bExtended != 0 || (a.Lc != 0 && a.pData == nullptr);
}

}  // namespace

CCardSM::CCardSM() = default;
CCardSM::CCardSM(const CCardSM& other) = default;
CCardSM& CCardSM::operator=(const CCardSM& other) = default;
CCardSM::~CCardSM() {
  vexa::SecureWipe(m_pbSMData.data(), m_pbSMData.size());
}

// ---------------------------------------------------------------- keys

long CCardSM::initializeKeysSM(const BYTE* k1, const BYTE* k2, const BYTE* k3) {
  return initializeKeysSM(k1, k2, k3, k1, k2, k3);
}

long CCardSM::initializeKeysSM(const BYTE* k1, const BYTE* k2, const BYTE* k3, const BYTE* m1,
                               const BYTE* m2, const BYTE* m3) {
  return Guarded([&]() -> long {
    if (!k1 || !k2 || !k3 || !m1 || !m2 || !m3) return CARD_ERR_ARGUMENT;
    vexa::SecureBytes enc(24), mac(24);
    std::memcpy(enc.data(), k1, 8);
    std::memcpy(enc.data() + 8, k2, 8);
    std::memcpy(enc.data() + 16, k3, 8);
    std::memcpy(mac.data(), m1, 8);
    std::memcpy(mac.data() + 8, m2, 8);
    std::memcpy(mac.data() + 16, m3, 8);
    m_EncKey.swap(enc);
    m_MacKey.swap(mac);
    return 0;
  });
}

// ---------------------------------------------------------------- cipher steps

long CCardSM::Cipher(const vexa::SecureBytes& key, bool encrypt, const BYTE* in, BYTE* out,
                     DWORD n) {
  if (key.size() != 24) return DES_ERR_NO_KEYS;
  vexa::SecureBytes k(key);
  m_3des.initializeKeys(k.data(), k.data() + 8, k.data() + 16);
  BYTE iv[8] = {};
  m_3des.setIV(iv);
  m_3des.setIn(const_cast<BYTE*>(in), static_cast<long>(n));
  return encrypt ? m_3des.cifra(out) : m_3des.decifra(out);
}

long CCardSM::mkDESEnc(const BYTE* data, BYTE* out, DWORD n) {
  return Guarded([&]() -> long {
    if ((!data || !out) && n) return CARD_ERR_ARGUMENT;
    return Cipher(m_EncKey, true, data, out, n);
  });
}

long CCardSM::mkDESDec(const BYTE* data, BYTE* out, DWORD n) {
  return Guarded([&]() -> long {
    if ((!data || !out) && n) return CARD_ERR_ARGUMENT;
    return Cipher(m_EncKey, false, data, out, n);
  });
}

long CCardSM::mkMAC3(const BYTE* data, BYTE* out, DWORD n) {
  return Guarded([&]() -> long {
    if (!data || !out || n < 8 || n % 8) return CARD_ERR_ARGUMENT;
    if (m_MacKey.size() != 24) return DES_ERR_NO_KEYS;
    vexa::SecureBytes k(m_MacKey);
    m_3des.initializeKeys(k.data(), k.data() + 8, k.data() + 16);
    BYTE iv[8] = {};
    m_3des.setIV(iv);
    m_3des.setIn(const_cast<BYTE*>(data), static_cast<long>(n));
    return m_3des.mac(out);
  });
}

long CCardSM::mkEnc(const BYTE* data, DWORD n, BYTE* out, DWORD* pdwCap) {
  return Guarded([&]() -> long {
    if (!out || !pdwCap || (n && !data)) return CARD_ERR_ARGUMENT;
    const DWORD padded = LenPadISO(n);
    if (*pdwCap < padded) return -1;
    vexa::SecureBytes buf(padded);
    MKPadISO({data, n}, buf);
    const long rc = Cipher(m_EncKey, true, buf.data(), out, padded);
    if (rc == 0) *pdwCap = padded;
    return rc;
  });
}

long CCardSM::mkDec(const BYTE* data, DWORD n, BYTE* out, DWORD* pdwOut) {
  return Guarded([&]() -> long {
    if (!data || !out || !pdwOut || n == 0 || n % 8) return CARD_ERR_ARGUMENT;
    vexa::SecureBytes buf(n);
    const long rc = Cipher(m_EncKey, false, data, buf.data(), n);
    if (rc != 0) return rc;
    const long len = RMPadISO(buf);
    if (len < 0 || static_cast<DWORD>(len) > *pdwOut) return -1;
    std::memcpy(out, buf.data(), static_cast<std::size_t>(len));
    *pdwOut = static_cast<DWORD>(len);
    return 0;
  });
}

long CCardSM::mkMAC(const BYTE* data, DWORD n, BYTE* out) {
  return Guarded([&]() -> long {
    if (!out || (n && !data)) return CARD_ERR_ARGUMENT;
    vexa::SecureBytes buf(std::max<DWORD>(LenPadANSI(n), 8), 0);
    if (n) std::memcpy(buf.data(), data, n);
    return mkMAC3(buf.data(), out, static_cast<DWORD>(buf.size()));
  });
}

// ---------------------------------------------------------------- blocks and objects

long CCardSM::SM_MK_Header_Block(const APDU& in, std::span<const BYTE> challenge,
                                 vexa::SecureBytes& out) {
  if (challenge.empty() || challenge.size() % 8) return -1;
  out.insert(out.end(), challenge.begin(), challenge.end());
  const BYTE hdr[8] = {static_cast<BYTE>(in.CLA | 0x0C), in.INS, in.P1, in.P2, 0, 0, 0, 0};
  out.insert(out.end(), hdr, hdr + 8);
  return 0;
}

long CCardSM::SM_MK_Cipher_Text_Block(const APDU& in, vexa::SecureBytes& out) {
  const auto data = DataOf(in);
  const DWORD c = LenPadISO(static_cast<DWORD>(data.size()));
  if (c + 1 > 0xFF) return CARD_ERR_TOO_LONG;
  vexa::SecureBytes padded(c);
  MKPadISO(data, padded);
  vexa::SecureBytes crypt(c);
  const long rc = mkDESEnc(padded.data(), crypt.data(), c);
  if (rc != 0) return rc;
  out.push_back(0x87);
  out.push_back(static_cast<BYTE>(c + 1));
  out.push_back(0x01);
  out.insert(out.end(), crypt.begin(), crypt.end());
  return 0;
}

long CCardSM::SM_MK_Plain_Text_Block(const APDU& in, vexa::SecureBytes& out) {
  const auto data = DataOf(in);
  out.push_back(0x81);
  out.push_back(static_cast<BYTE>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return 0;
}

long CCardSM::SM_MK_MAC_Object(std::span<const BYTE> header, std::span<const BYTE> objects,
                               vexa::SecureBytes& out) {
  vexa::SecureBytes input(header.begin(), header.end());
  input.insert(input.end(), objects.begin(), objects.end());
  input.resize(LenPadANSI(static_cast<DWORD>(input.size())), 0);
  BYTE mac[8];
  const long rc = mkMAC3(input.data(), mac, static_cast<DWORD>(input.size()));
  if (rc != 0) return rc;
  out.push_back(0x8E);
  out.push_back(0x08);
  out.insert(out.end(), mac, mac + 8);
  return 0;
}

long CCardSM::SM_MK_Net_LE_Object(BYTE le, vexa::SecureBytes& out) {
  out.push_back(0x96);
  out.push_back(0x01);
  out.push_back(le);
  return 0;
}

long CCardSM::SM_MK_Net_LE_MAC_Block(BYTE le, vexa::SecureBytes& out) {
  const BYTE block[8] = {0x97, 0x01, le, 0, 0, 0, 0, 0};
  out.insert(out.end(), block, block + 8);
  return 0;
}

long CCardSM::SetProtectedOut(const APDU& in, std::span<const BYTE> data, APDU& out) {
  // The protected data field lives in the 1024-byte member buffer; a short
  // command carries at most 255 bytes of it.
  if (data.size() > 0xFF || data.size() > m_pbSMData.size()) return CARD_ERR_TOO_LONG;
  std::copy(data.begin(), data.end(), m_pbSMData.begin());
  out = APDU{};
  out.CLA = static_cast<BYTE>(in.CLA | 0x0C);
  out.INS = in.INS;
  out.P1 = in.P1;
  out.P2 = in.P2;
  out.Lc = static_cast<BYTE>(data.size());
  out.pData = data.empty() ? nullptr : m_pbSMData.data();
  return 0;
}

long CCardSM::SetMacProtectedOut(const APDU& in, std::span<const BYTE> objects, APDU& out) {
  BYTE challenge[8];
  long rc = GetChallenge(challenge, sizeof challenge);
  if (rc != 0) return rc;
  vexa::SecureBytes header;
  rc = SM_MK_Header_Block(in, challenge, header);
  if (rc != 0) return rc;
  vexa::SecureBytes data(objects.begin(), objects.end());
  rc = SM_MK_MAC_Object(header, objects, data);
  if (rc != 0) return rc;
  return SetProtectedOut(in, data, out);
}

// ---------------------------------------------------------------- protected forms

long CCardSM::SM_ENC_SIG_C(const APDU& in, APDU& out) {
  return Guarded([&]() -> long {
    if (BadInput(in)) return CARD_ERR_ARGUMENT;
    if (in.Lc > kMaxProtectedData) return CARD_ERR_TOO_LONG;
    vexa::SecureBytes objects;
    const long rc = SM_MK_Cipher_Text_Block(in, objects);
    if (rc != 0) return rc;
    return SetMacProtectedOut(in, objects, out);
  });
}

long CCardSM::SM_SIG_C(const APDU& in, APDU& out) {
  return Guarded([&]() -> long {
    if (BadInput(in)) return CARD_ERR_ARGUMENT;
    vexa::SecureBytes objects;
    SM_MK_Plain_Text_Block(in, objects);
    if (in.Le) SM_MK_Net_LE_Object(in.Le, objects);
    return SetMacProtectedOut(in, objects, out);
  });
}

long CCardSM::SM_ENC_C(const APDU& in, APDU& out) {
  return Guarded([&]() -> long {
    if (BadInput(in)) return CARD_ERR_ARGUMENT;
    vexa::SecureBytes data;
    const long rc = SM_MK_Cipher_Text_Block(in, data);
    if (rc != 0) return rc;
    if (in.Le) SM_MK_Net_LE_Object(in.Le, data);
    return SetProtectedOut(in, data, out);
  });
}

long CCardSM::SM_SIG_4(const APDU& in, APDU& out) {
  return Guarded([&]() -> long {
    if (BadInput(in)) return CARD_ERR_ARGUMENT;
    if (in.Lc + 8u > 0xFF) return CARD_ERR_TOO_LONG;
    const auto data = DataOf(in);
    // MAC over INS P1 P2 (Lc + 8) data, zero-padded; the class byte stays out.
    vexa::SecureBytes input = {in.INS, in.P1, in.P2, static_cast<BYTE>(in.Lc + 8)};
    input.insert(input.end(), data.begin(), data.end());
    input.resize(LenPadANSI(static_cast<DWORD>(input.size())), 0);
    BYTE mac[8];
    const long rc = mkMAC3(input.data(), mac, static_cast<DWORD>(input.size()));
    if (rc != 0) return rc;
    vexa::SecureBytes result(data.begin(), data.end());
    result.insert(result.end(), mac, mac + 8);
    m_sm4Data.swap(result);
    out = APDU{};
    out.CLA = static_cast<BYTE>(in.CLA | 0x04);
    out.INS = in.INS;
    out.P1 = in.P1;
    out.P2 = in.P2;
    out.Lc = static_cast<BYTE>(m_sm4Data.size());
    out.pData = m_sm4Data.data();
    out.Le = in.Le;
    return 0;
  });
}

long CCardSM::SM_ENC_4(const APDU& in, APDU& out) {
  return Guarded([&]() -> long {
    if (BadInput(in)) return CARD_ERR_ARGUMENT;
    const DWORD c = LenPadISO(in.Lc);
    if (c > 0xFF) return CARD_ERR_TOO_LONG;
    vexa::SecureBytes padded(c);
    MKPadISO(DataOf(in), padded);
    vexa::SecureBytes crypt(c);
    const long rc = mkDESEnc(padded.data(), crypt.data(), c);
    if (rc != 0) return rc;
    const APDU plain = in;  // in may point into m_sm4Data
    m_sm4Data.swap(crypt);
    out = APDU{};
    out.CLA = static_cast<BYTE>(plain.CLA | 0x04);
    out.INS = plain.INS;
    out.P1 = plain.P1;
    out.P2 = plain.P2;
    out.Lc = static_cast<BYTE>(c);
    out.pData = m_sm4Data.data();
    out.Le = plain.Le;
    return 0;
  });
}

long CCardSM::SM_ENC_SIG_4(const APDU& in, APDU& out) {
  return Guarded([&]() -> long {
    if (BadInput(in)) return CARD_ERR_ARGUMENT;
    if (LenPadISO(in.Lc + 8u) > 0xFF) return CARD_ERR_TOO_LONG;
    APDU sig;
    const long rc = SM_SIG_4(in, sig);
    if (rc != 0) return rc;
    // The intermediate (data and MAC) is copied out before SM_ENC_4 replaces it.
    vexa::SecureBytes signedData(sig.pData, sig.pData + sig.Lc);
    sig.pData = signedData.data();
    sig.CLA = in.CLA;
    return SM_ENC_4(sig, out);
  });
}

// ---------------------------------------------------------------- response checks

long CCardSM::Response_SM_ENC(std::span<const BYTE> resp, BYTE* out, DWORD* pdwOut) {
  return Guarded([&]() -> long {
    if (!out || !pdwOut) return -1;
    if (resp.size() < 3 || resp[0] != 0x87 || resp[2] != 0x01) return -1;
    const std::size_t len = resp[1];
    if (len < 9 || (len - 1) % 8 || 2 + len > resp.size()) return -1;
    DWORD cap = *pdwOut;
    if (mkDec(resp.data() + 3, static_cast<DWORD>(len - 1), out, &cap) != 0) return -1;
    *pdwOut = cap;
    return 0;
  });
}

long CCardSM::Response_SM_SIG(std::span<const BYTE> resp, std::span<const BYTE> header) {
  return Guarded([&]() -> long {
    if (resp.size() < 12 || resp[0] != 0x81) return -1;
    const std::size_t macAt = resp.size() - 10;
    if (resp[macAt] != 0x8E || resp[macAt + 1] != 0x08) return -1;
    vexa::SecureBytes computed;
    if (SM_MK_MAC_Object(header, resp.first(macAt), computed) != 0) return -1;
    return std::equal(computed.begin() + 2, computed.end(), resp.begin() + macAt + 2) ? 0 : -1;
  });
}

long CCardSM::Response_SM_ENC_SIG(std::span<const BYTE> resp, std::span<const BYTE> header,
                                  BYTE* out, DWORD* pdwOut) {
  return Guarded([&]() -> long {
    // 87 L 01 cryptogram, then 8E 08 MAC over the header block and the 87 object.
    if (resp.size() < 13 || resp[0] != 0x87) return -1;
    const std::size_t macAt = resp.size() - 10;
    if (resp[macAt] != 0x8E || resp[macAt + 1] != 0x08) return -1;
    vexa::SecureBytes computed;
    if (SM_MK_MAC_Object(header, resp.first(macAt), computed) != 0) return -1;
    if (!std::equal(computed.begin() + 2, computed.end(), resp.begin() + macAt + 2)) return -1;
    return Response_SM_ENC(resp.first(macAt), out, pdwOut);
  });
}

long CCardSM::Response_SM_Suppressed(std::span<const BYTE> resp, BYTE* out, DWORD* pdwOut) {
  return Guarded([&]() -> long {
    if (!out || !pdwOut) return -1;
    if (resp.size() < 2 || resp[0] != 0x81 || resp[1] + 2u != resp.size()) return -1;
    if (*pdwOut < resp[1]) return -1;
    std::copy(resp.begin() + 2, resp.end(), out);
    *pdwOut = resp[1];
    return 0;
  });
}

void CCardSM::InitSM(BYTE* pbCmdIn, DWORD dwCmdIn, BYTE* pbCmdOut, DWORD dwCmdOut,
                     BYTE* pbRespIn, DWORD dwRespIn, BYTE* pbRespOut, DWORD dwRespOut) {
  m_pbCmdIn = pbCmdIn;
  m_dwCmdIn = dwCmdIn;
  m_pbCmdOut = pbCmdOut;
  m_dwCmdOut = dwCmdOut;
  m_pbRespIn = pbRespIn;
  m_dwRespIn = dwRespIn;
  m_pbRespOut = pbRespOut;
  m_dwRespOut = dwRespOut;
}

void CCardSM::RemoveSM() { InitSM(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }

// ---------------------------------------------------------------- challenge and random

LONG CCardSM::GetChallenge(BYTE* buf, DWORD n) {
  return Guarded([&]() -> LONG {
    if (!buf || n == 0 || n > 0xFF) return CARD_ERR_ARGUMENT;
    APDU a;
    a.INS = 0x84;
    a.Le = static_cast<BYTE>(n);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Send(a, resp, &len);
    if (rc != 0) return rc;
    if (len != n) return CARD_ERR_RESPONSE;
    std::memcpy(buf, resp, n);
    return 0;
  });
}

LONG CCardSM::GiveRandom(const BYTE* buf, DWORD n) {
  return Guarded([&]() -> LONG {
    if (!buf || n == 0 || n > 0xFF) return CARD_ERR_ARGUMENT;
    APDU a;
    a.CLA = 0xA0;
    a.INS = 0x86;
    a.Lc = static_cast<BYTE>(n);
    a.pData = buf;
    return Send(a, nullptr, nullptr);
  });
}
