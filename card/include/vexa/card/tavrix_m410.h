// CTavrixM410: the M4 command set with the object-creating variants of card OS
// M4.10 and later (M4.20, M4.2b, M4.40). The token engine holds one object of
// this class per card and picks the M4 command or the M4.10 variant by version.
#pragma once

#include "vexa/card/tavrix_m4.h"

class VEXA_API CTavrixM410 : public CTavrixM4 {
 public:
  CTavrixM410();
  CTavrixM410(const CTavrixM410& other);
  CTavrixM410& operator=(const CTavrixM410& other);
  ~CTavrixM410() override;

  using CTavrixM4::cmdFORMAT;
  using CTavrixM4::cmdPUT_DATA_FCI;
  using CTavrixM4::Create_DF;
  using CTavrixM4::Create_EF;
  using CTavrixM4::Create_Kpri;
  using CTavrixM4::Create_Kpub;
  using CTavrixM4::Init_Logical;
  using CTavrixM4::Init_PIN;

  // 62 36 | 81 02 SS | 82 01 38 | 83 02 FID | 85 03 00 SS | 86 0A DFAC410 | CB 18 DFSM410.
  LONG Create_DF(WORD wSize, const BYTE* pbFid, const DFAC410* pAC, const DFSM410* pSMC,
                 const SMFLAGS* pSM = nullptr);
  // 62 33 | 80 02 SS | 82 01 TT | 83 02 FID | 85 01 00 | 86 09 EFAC410 | CB 18 EFSM410.
  LONG Create_EF(WORD wSize, const BYTE* pbFid, t_FILE type, const EFAC410* pAC,
                 const EFSM410* pSMC, const SMFLAGS* pSM = nullptr);
  // The M4.10 creation forms with no records (the card's defaults).
  LONG Create_DF_410(WORD wSize, const BYTE* pbFid, const DFAC* pAC = nullptr);
  LONG Create_EF_410_BIN(WORD wSize, const BYTE* pbFid, t_FILE type, const EFAC* pAC = nullptr);
  // 90 24 class (ref OR mech2); mech1 is not used.
  LONG cmdCHANGE_KEY_DATA(BYTE bRef, t_OBJCLASS cls, const BYTE* pbData, DWORD dwLen,
                          BYTE bMech1, BYTE bMech2, const SMFLAGS* pSM = nullptr);
  LONG Create_Kpri(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, BOOL bFlag, const BSAC410* pAC,
                   const BSSM410* pSMC, const SMFLAGS* pSM = nullptr);
  // Five CRT component objects (classes 20..24) with FF placeholders.
  LONG Create_KpriRSA2(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, BOOL bFlag,
                       const BSAC410* pAC = nullptr, const BSSM410* pSMC = nullptr,
                       const SMFLAGS* pSM = nullptr);
  // Five CRT component objects with the given values, in argument order.
  LONG Create_KpriRSA2Full(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, const BYTE* pbC1,
                           DWORD dwC1, const BYTE* pbC2, DWORD dwC2, const BYTE* pbC3, DWORD dwC3,
                           const BYTE* pbC4, DWORD dwC4, const BYTE* pbC5, DWORD dwC5,
                           BOOL bFlag, const BSAC410* pAC = nullptr,
                           const BSSM410* pSMC = nullptr, const SMFLAGS* pSM = nullptr);
  // 23 bytes: 62 15, 81 02 04 00, 85 01 01, 86 0A ten 00, CB 00; SM4; life cycle 0x34.
  LONG cmdFORMAT(const BYTE* pbSize, const BYTE* pbKey1, const BYTE* pbKey2, const MFAC* pMFAC,
                 const MFSM* pMFSM, const SMFLAGS* pSM);
  // System keys: the same commands as cmdCHANGE_KEY; and the 32-byte plain form
  // 84 24 00 00 (life cycle 0x34). Each returns the status word itself.
  LONG cmdCHANGE_SYSTEM_KEY(const BYTE* pbKey1, const BYTE* pbKey2, const BYTE* pbNewA,
                            const BYTE* pbNewB, t_CHANGEKEYID id);
  LONG cmdCHANGE_SYSTEM_KEY(const BYTE* pbData, DWORD dwLen, t_CHANGEKEYID id);
  LONG cmdCHANGE_SYSTEM_KEY(const BYTE* pbData32);
  LONG cmdPUT_DATA_FCI(const DFAC410* pAC, const SMFLAGS* pSM);
  LONG Init_Logical(BYTE bRef, const BYTE* pbValue, DWORD dwLen, const BSAC410* pAC,
                    const BSSM410* pSMC, const SMFLAGS* pSM);
  LONG Init_PIN(BYTE bRef, const BYTE* pbPin, DWORD dwLen, BYTE bX, BYTE bY,
                const BSAC410* pAC, const BSSM410* pSMC, const SMFLAGS* pSM);
  LONG Create_Kpub(const BYTE* pbFid, DWORD dwKeyLen, const EFAC410* pAC);
};
