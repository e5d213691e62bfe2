// CTavrixM4: construction, sending plain or protected commands, the card's
// secure-messaging key, and the life-cycle rules shared by many commands.
#include <cstring>

#include "command_builder.h"
#include "sm_master_key.h"
#include "vexa/card/tavrix_m4.h"

using vexa::card::Command;
using vexa::card::Guarded;
using vexa::card::Run;

CTavrixM4::CTavrixM4() = default;
CTavrixM4::CTavrixM4(const CTavrixM4& other) = default;
CTavrixM4& CTavrixM4::operator=(const CTavrixM4& other) = default;
CTavrixM4::~CTavrixM4() = default;

LONG CTavrixM4::Transmit(const APDU& apdu, const SMFLAGS* pSM, BYTE* pbResp, BYTE* pbLen) {
  if (pSM == nullptr) return Send(apdu, pbResp, pbLen);
  APDU prot;
  const LONG rc = Evaluate_SM(apdu, prot, pSM);
  if (rc != 0) return rc;
  return Send(prot, pbResp, pbLen);
}

LONG CTavrixM4::Transmit(const Command& cmd, const SMFLAGS* pSM, BYTE* pbResp, BYTE* pbLen) {
  if (!cmd.Fits()) return CARD_ERR_TOO_LONG;
  return Transmit(cmd.Apdu(), pSM, pbResp, pbLen);
}

LONG CTavrixM4::GetSMKey() {
  return Run("CTavrixM4::GetSMKey", [&]() -> LONG {
    APDU a;
    a.INS = 0xCA;
    a.P1 = 0x01;
    a.P2 = 0x81;
    a.Le = 0x60;
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Send(a, resp, &len);
    if (rc != 0) return rc;
    // The key is derived from the first 16 bytes of the card data; a shorter
    // answer cannot give a key.
    if (len < 16) return CARD_ERR_SHORT_UID;
    vexa::SecureBytes master = vexa::card::LoadSMMasterKey();
    C3Des_Mac des;
    des.Set_Mechanism(5);
    des.initializeKeys(master.data(), master.data() + 8, master.data() + 16);
    BYTE iv[8] = {};
    des.setIV(iv);
    vexa::SecureBytes key(16);
    // Two blocks, the second chained to the first.
    des.setIn(resp, 8);
    LONG drc = des.cifra(key.data());
    if (drc == 0) {
      des.setIn(resp + 8, 8);
      drc = des.cifra(key.data() + 8);
    }
    vexa::SecureWipe(resp, sizeof resp);
    if (drc != 0) return drc;
    SetSMKey(key);
    return 0;
  });
}

LONG CTavrixM4::Evaluate_SM(const APDU& plain, APDU& out, const SMFLAGS* pSM) {
  return Guarded([&]() -> LONG {
    // The only protection is enciphered data with a MAC: refuse anything else
    // before the card sees a command.
    if (pSM == nullptr || pSM->dwEnc == 0 || pSM->dwMac == 0) return SM_ERR_FLAGS;
    if (plain.bExtended != 0 || plain.Lc > kMaxProtectedData) return CARD_ERR_TOO_LONG;
    if (!HasSMKey()) {
      const LONG rc = GetSMKey();
      if (rc != 0) return rc;
    }
    const vexa::SecureBytes& k = SMKey();
    initializeKeysSM(k.data(), k.data() + 8, k.data());
    out = APDU{};
    return SM_ENC_SIG_C(plain, out);
  });
}

LONG CTavrixM4::GetLifeCycle() {
  return Run("CTavrixM4::GetLifeCycle", [&]() -> LONG {
    APDU a;
    a.INS = 0xCA;
    a.P1 = 0x01;
    a.P2 = 0x83;
    a.Le = 0x01;
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Send(a, resp, &len);
    if (rc != 0) return rc;
    if (len < 1) return CARD_ERR_RESPONSE;
    return resp[0];
  });
}

LONG CTavrixM4::cmdPHASE_CONTROL() {
  return Run("CTavrixM4::cmdPHASE_CONTROL", [&]() -> LONG {
    APDU a;
    a.CLA = 0x80;
    a.INS = 0x10;
    return Send(a, nullptr, nullptr);
  });
}

LONG CTavrixM4::PhaseIfCreation() {
  const LONG lc = GetLifeCycle();
  if (lc < 0 || lc > 0xFF) return lc;  // the query failed
  if (lc == 0x10) return cmdPHASE_CONTROL();
  return 0;
}

LONG CTavrixM4::PhaseIfNotOperational() {
  const LONG lc = GetLifeCycle();
  if (lc < 0 || lc > 0xFF) return lc;
  if (lc != 0x20) return cmdPHASE_CONTROL();
  return 0;
}

LONG CTavrixM4::RequireLifeCycle34() {
  const LONG lc = GetLifeCycle();
  if (lc == 0x34) return 0;
  return lc;  // another life-cycle byte, or the error of the query
}

LONG CTavrixM4::SendSM4(const APDU& plain, const BYTE* pbKey1, const BYTE* pbKey2, BYTE* pbResp,
                        BYTE* pbLen) {
  if (!pbKey1 || !pbKey2) return CARD_ERR_ARGUMENT;
  initializeKeysSM(pbKey1, pbKey2, pbKey1);
  return SendSM4Installed(plain, pbResp, pbLen);
}

LONG CTavrixM4::SendSM4Installed(const APDU& plain, BYTE* pbResp, BYTE* pbLen) {
  APDU prot;
  const LONG rc = SM_ENC_SIG_4(plain, prot);
  if (rc != 0) return rc;
  return Send(prot, pbResp, pbLen);
}
