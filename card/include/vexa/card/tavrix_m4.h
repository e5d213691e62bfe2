// CTavrixM4: the command set of the Tavrix M4 card OS family: files, PINs,
// keys, cryptography, card administration, code packages and logical channels.
//
// Every command returns 0 when the card answered 9000, else the status word
// (SW1*256+SW2, positive), a PC/SC error (negative) or a library code of
// card_sm.h. Commands taking a SMFLAGS pointer send the plain command when it is
// null and the protected command (Evaluate_SM) when it is given; the response
// data of a protected command are not unwrapped.
// Lengths passed as pointers are capacities on entry and lengths on return,
// unless noted.
#pragma once

#include "vexa/card/access_records.h"
#include "vexa/card/card_sm.h"
#include "vexa/platform/export.h"

namespace vexa::card {
class Command;
}

class VEXA_API CTavrixM4 : public CCardSM {
 public:
  CTavrixM4();
  CTavrixM4(const CTavrixM4& other);
  CTavrixM4& operator=(const CTavrixM4& other);
  ~CTavrixM4() override;

  // ---- virtual operations, in slot order (after those of CCardSession) ----

  // A 00 byte is put before the data, then the ISO form is called.
  virtual LONG cmdPSO_DEC(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                          WORD* pwOut, const SMFLAGS* pSM = nullptr);
  virtual LONG cmdPSO_ENC(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                          DWORD* pdwOut);
  // MSE restore, MSE set B8, PSO DECIPHER 00 2A 80 86: data over 255 bytes as an
  // extended command (Lc 00 hi lo, Le 01 00), else short with Le 90. pSM is not used.
  virtual LONG cmdPSO_DEC_ISO(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen,
                              BYTE* pbOut, WORD* pwOut, const SMFLAGS* pSM = nullptr);
  // MSE restore, MSE set B8, PSO ENCIPHER 00 2A 86 80, Le 90.
  virtual LONG cmdPSO_ENC_ISO(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen,
                              BYTE* pbOut, DWORD* pdwOut);
  // VERIFY 00 20 00 (ref OR 80) with the PIN; dwLen 0: up to the terminating zero.
  virtual LONG cmdVERIFY(BYTE bRef, const BYTE* pbPin, DWORD dwLen, const SMFLAGS* pSM = nullptr);
  // VERIFY in chained 100-byte parts (CLA 10, the last CLA 00).
  virtual LONG cmdVERIFYex(BYTE bRef, const BYTE* pbData, DWORD dwLen,
                           const SMFLAGS* pSM = nullptr);
  // VERIFY through the reader's PIN pad: -1 when the PIN-pad library is missing.
  virtual LONG cmdVERIFYPinPadOn(BYTE bRef);

  // ---- secure messaging ----

  // Derives the card's secure-messaging key from GET DATA 00 CA 01 81 and the
  // master key; CARD_ERR_SHORT_UID when the answer has fewer than 16 bytes.
  LONG GetSMKey();
  // Protects a plain command: derives the key when needed, installs it as
  // (K1, K2, K1) and builds the command with SM_ENC_SIG_C. -1 for a flag of 0.
  LONG Evaluate_SM(const APDU& plain, APDU& out, const SMFLAGS* pSM);

  // ---- life cycle and files ----

  // GET DATA 00 CA 01 83: the life-cycle byte when the card answers 9000.
  LONG GetLifeCycle();
  LONG cmdPHASE_CONTROL();
  LONG cmdSELECT_FILE(t_PARAM mode, const BYTE* pbId, DWORD dwLen, const SMFLAGS* pSM = nullptr);
  LONG cmdGET_FILE_SIZE(t_PARAM mode, const BYTE* pbId, DWORD dwLen, DWORD* pdwSize,
                        const SMFLAGS* pSM = nullptr);
  // Reads the first *pdwLen bytes of the selected EF in 112-byte steps.
  LONG cmdREAD_BINARY(BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM = nullptr);
  LONG cmdUPDATE_BINARY(const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM = nullptr);
  LONG cmdAPPEND_RECORD(const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM = nullptr);
  LONG cmdUPDATE_RECORD(BYTE bRec, const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM = nullptr);
  LONG cmdREAD_RECORD(BYTE bRec, BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM = nullptr);
  LONG cmdDELETE_FILE(const BYTE* pbFid, const SMFLAGS* pSM = nullptr);
  LONG Create_DF(WORD wSize, const BYTE* pbFid, const DFAC* pAC = nullptr,
                 const DFSM* pSMC = nullptr, const SMFLAGS* pSM = nullptr);
  LONG Create_EF(WORD wSize, const BYTE* pbFid, t_FILE type, const EFAC* pAC = nullptr,
                 const EFSM* pSMC = nullptr, const SMFLAGS* pSM = nullptr);
  // New access conditions of the selected file: 00 DA 01 6F, 86 09 EFAC.
  LONG cmdPUT_DATA_FCI(const EFAC* pAC, const SMFLAGS* pSM = nullptr);
  // Accepted for compatibility: send nothing and return 0.
  LONG cmdPUT_DATA_FCI(const EFSM* pSMC, const SMFLAGS* pSM);
  LONG cmdPUT_DATA_FCI(const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM);

  // ---- PINs ----

  // Match-on-card VERIFY of the 720-byte biometric record (chained, 100-byte
  // parts at 0..600 then 20 bytes at 700). CARD_ERR_ARGUMENT for a shorter record.
  LONG cmdVERIFYSMOC(BYTE bRef, std::span<const BYTE> record);
  LONG ChangePin(BYTE bRef, const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM = nullptr);
  // 00 24 (mech1 OR class*2) (ref OR mech2).
  LONG cmdCHANGE_REFERENCE_DATA(BYTE bRef, t_OBJCLASS cls, const BYTE* pbData, DWORD dwLen,
                                BYTE bMech1, BYTE bMech2, const SMFLAGS* pSM = nullptr);
  // 00 2C 03 (ref OR 80), PHASE CONTROL first when the life cycle is not 0x20.
  LONG cmdRESET_RETRY_COUNTER(BYTE bRef, const SMFLAGS* pSM = nullptr);
  // 00 2C P1 (ref OR 80) with data.
  LONG cmdRESET_RETRY_COUNTER(BYTE bP1, BYTE bRef, const BYTE* pbData, DWORD dwLen,
                              const SMFLAGS* pSM = nullptr);
  LONG Init_PINex(BYTE bRef, const BYTE* pbPin, DWORD dwLen, t_DEVICE device, t_OBJCLASS cls,
                  BOOL bFlag, const BSAC* pAC = nullptr, const BSSM* pSMC = nullptr,
                  const SMFLAGS* pSM = nullptr);

  // ---- keys and cryptography ----

  // Restores security environment bNr: 00 22 F3 nr.
  LONG cmdMSE(BYTE bNr);
  // Sets the template: 00 22 F1 tag, 83 01 key reference.
  LONG cmdMSE(t_MSE_CSETAG tag, BYTE bKeyRef);
  // MSE restore, MSE set B6, PSO COMPUTE DIGITAL SIGNATURE 00 2A 9E 9A, Le 90.
  // An output capacity over 253 bytes (a key over 2024 bits) asks for the
  // signature with an extended command (Le 01 00) so that it fits the answer.
  LONG cmdPSO_CDS(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                  DWORD* pdwOut);
  // MSE restore, MSE set B8, the card's signature command 80 24 00 00.
  LONG cmdPSO_CDS_ALGO08(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                         DWORD* pdwOut);
  // 00 46 00 00: 20 KR F1 F2 00 00 00 18 [(len+1) 00 exponent]. An exponent of
  // 1 or 2 bytes gives 0x6984 without sending.
  LONG cmdGENERATE_KEY_PAIR(const BYTE* pbFid, BYTE bKeyRef, const BYTE* pbExp = nullptr,
                            DWORD dwExpLen = 0);
  // Random bytes, at most 248 per command; *plLen <= 0 gives 0 with length 0.
  LONG cmdGETCHALLENGE(BYTE* pbBuf, long* plLen);
  // 7-byte card identifier: 05 and bytes 11-16 of GET DATA 01 81. A buffer of
  // fewer than 7 bytes (or none) only sets the length to 7 and returns 1.
  LONG GetUID(BYTE* pbBuf, DWORD* pdwLen);
  LONG cmdPUT_DATA_OCI(BYTE bKeyRef, t_OBJCLASS cls, t_ALGO algo, const BYTE* pbValue,
                       DWORD dwLen, const BSAC* pAC = nullptr, const BSSM* pSMC = nullptr,
                       const SMFLAGS* pSM = nullptr);
  // Private-key object: two templates (class 20, then 21).
  LONG Create_Kpri(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, BOOL bFlag,
                   const BSAC* pAC = nullptr, const BSSM* pSMC = nullptr,
                   const SMFLAGS* pSM = nullptr);
  // 00 DA 02 C2; mode 1: the SHA-1 DigestInfo prefix. *pdwLen = 17.
  LONG cmdPUT_DATA_DSI(DWORD* pdwLen, BYTE bMode);

  // ---- card administration ----

  LONG cmdFORMAT(const BYTE* pbSize, const BYTE* pbKey1, const BYTE* pbKey2, const MFAC* pMFAC,
                 const MFSM* pMFSM, const SMFLAGS* pSM);
  LONG cmdFORMAT();
  LONG cmdERASE_FILE(const BYTE* pbKey1, const BYTE* pbKey2);
  LONG cmdERASE_FILE();
  LONG EraseFilesM4_2();
  // The status word itself (0x9000 on success) or the PC/SC error.
  LONG cmdCHANGE_KEY(const BYTE* pbKey1, const BYTE* pbKey2, const BYTE* pbNewA,
                     const BYTE* pbNewB, t_CHANGEKEYID id);
  LONG cmdCHANGE_KEY(const BYTE* pbNewA, const BYTE* pbNewB, t_CHANGEKEYID id);
  LONG cmdCHANGE_KEY(const BYTE* pbData, DWORD dwLen, t_CHANGEKEYID id);
  LONG cmdEXTERNAL_AUTHENTICATE(BYTE bKeyRef, const BYTE* pbData, DWORD dwLen);
  LONG cmdINCREASE(DWORD dwValue);
  LONG Change_AC(const MFAC* pAC, const MFSM* pSMC, const SMFLAGS* pSM);
  LONG Change_AC(const DFAC* pAC, const DFSM* pSMC, const BYTE* pbName, DWORD dwNameLen,
                 const SMFLAGS* pSM);
  LONG Change_DFName(const BYTE* pbName, DWORD dwLen, const SMFLAGS* pSM);
  LONG Init_Logical(BYTE bRef, const BYTE* pbValue, DWORD dwLen, const BSAC* pAC,
                    const BSSM* pSMC, const SMFLAGS* pSM);
  LONG Init_PIN(BYTE bRef, const BYTE* pbPin, DWORD dwLen, BYTE bX, BYTE bY, const BSAC* pAC,
                const BSSM* pSMC, const SMFLAGS* pSM);
  LONG cmdPUT_DATA_SECI(BYTE bNr, const SEAC* pAC, const SMFLAGS* pSM);
  // Public-key EF: Create_EF of 2 * length + 16 bytes, file type 5.
  LONG Create_Kpub(const BYTE* pbFid, DWORD dwKeyLen, const EFAC* pAC);
  LONG Create_Kpub_TestObj(BYTE bRef, const BYTE* pbMod, DWORD dwModLen, const BYTE* pbExp,
                           DWORD dwExpLen, const BSAC* pAC, const BSSM* pSMC,
                           const SMFLAGS* pSM);
  LONG cmdRESET_SECURITY_STATUS(const SMFLAGS* pSM);
  // GET DATA 00 CA 01 P2: at most *pdwLen bytes copied; *pdwLen = the answer's length.
  LONG cmdGETDATA(BYTE bP2, BYTE* pbBuf, DWORD* pdwLen);
  // 1 when a byte of GET DATA 01 84 equals b, 0 when none does.
  LONG Is_AccessGranted(BYTE b);
  LONG ReadBinaryEx(BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM);
  // Length-prefixed transparent file: 2 bytes big-endian, then the data.
  LONG WriteBinaryFile(const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM);
  LONG ReadBinaryFile(BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM);

  // ---- code packages and logical channels ----

  // GET DATA 00 CA 01 88, Le 80: *pdwCount = answer length / 6; records written
  // when pPkgs is given (*pdwCount on entry: its capacity in records).
  LONG GetPackages(PACKAGE* pPkgs, DWORD* pdwCount);
  // 1 when the package (identifier and version) is installed, else 0.
  LONG IsPackagePresent(PACKAGE pkg);
  // CLA 80 on M4.0, 84 on later M4 versions, INS 20; -200 on other cards.
  LONG cmdLOAD_EXECUTABLE(const BYTE* pbData, DWORD dwLen, BYTE bP1, BYTE bP2);
  LONG LoadGenKey();
  LONG ManageChannelPackage();
  // MANAGE CHANNEL 00 70 00 n; the opened channel becomes the session's.
  LONG OpenChannel(BYTE* pbChannel);
  LONG CloseChannel(BYTE bChannel);

 protected:
  // Sends a short command, plain or protected. pbResp/pbLen as Send.
  LONG Transmit(const APDU& apdu, const SMFLAGS* pSM, BYTE* pbResp = nullptr,
                BYTE* pbLen = nullptr);
  // The same for a built command; CARD_ERR_TOO_LONG when its data do not fit.
  LONG Transmit(const vexa::card::Command& cmd, const SMFLAGS* pSM, BYTE* pbResp = nullptr,
                BYTE* pbLen = nullptr);
  // PHASE CONTROL when the life-cycle byte is 0x10 (object creation).
  LONG PhaseIfCreation();
  // PHASE CONTROL when the life-cycle byte is not 0x20 (deletion, unblocking).
  LONG PhaseIfNotOperational();
  // The life-cycle rule of formatting and system keys: 0 when it is 0x34,
  // else the byte itself (or the error of the query).
  LONG RequireLifeCycle34();
  // Protects with SM_ENC_SIG_4 under (k1, k2, k1) and sends.
  LONG SendSM4(const APDU& plain, const BYTE* pbKey1, const BYTE* pbKey2, BYTE* pbResp = nullptr,
               BYTE* pbLen = nullptr);
  // SM_ENC_SIG_4 with the keys already installed, and send.
  LONG SendSM4Installed(const APDU& plain, BYTE* pbResp = nullptr, BYTE* pbLen = nullptr);
  // Sends the security-operation command after MSE restore and MSE set.
  LONG PrepareKey(BYTE bEnv, t_MSE_CSETAG tag, BYTE bKeyRef);
  LONG SignCommand(BYTE cla, BYTE ins, BYTE p1, BYTE p2, t_MSE_CSETAG tag, BYTE bEnv,
                   BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut, DWORD* pdwOut);
  // Sends object-creation templates (PUT DATA 00 DA 01 6E).
  LONG PutOCI(std::span<const BYTE> tmpl, const SMFLAGS* pSM);
  // The package sequence steps.
  LONG CreateAndLoadPackage(std::span<const BYTE> createTemplate, std::span<const BYTE> image,
                            DWORD partSize, std::span<const BYTE> params, bool stopOnStatus);
};
