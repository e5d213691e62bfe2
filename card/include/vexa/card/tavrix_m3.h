// CTavrixM3: the command class of the older Tavrix M3 card OS. Results as in
// the M4 classes: 0 for 9000, the status word, a PC/SC error or a library code.
#pragma once

#include "vexa/card/card_session.h"
#include "vexa/platform/export.h"

class VEXA_API CTavrixM3 : public CCardSession {
 public:
  CTavrixM3();
  CTavrixM3(const CTavrixM3& other);
  CTavrixM3& operator=(const CTavrixM3& other);
  ~CTavrixM3() override;

  // ---- virtual operations, in slot order (after those of CCardSession) ----
  // 00 20 00 (ref OR 80) with the PIN.
  virtual LONG VerifyPIN(BYTE bRef, const BYTE* pbPin, DWORD dwLen);
  // 00 24 01 (ref OR 80) with the data.
  virtual LONG ChangePin(BYTE bRef, const BYTE* pbData, DWORD dwLen);
  // ChangeReferenceData(ref OR 80, 21, key, length).
  virtual LONG Change3DES(BYTE bRef, const BYTE* pbKey, DWORD dwLen);
  // 00 24 P1 P2 with the data.
  virtual LONG ChangeReferenceData(BYTE bP2, BYTE bP1, const BYTE* pbData, DWORD dwLen);
  // Mode 1: 00 A4 00 00 with 2 bytes; mode 2: 00 A4 08 00 with the path; else -105.
  virtual LONG Select(BYTE bMode, const BYTE* pbId, DWORD dwLen);
  // The first *pdwLen bytes of the selected EF, read in parts with the running offset.
  virtual LONG ReadBinary(BYTE* pbBuf, DWORD* pdwLen);
  // As ReadBinary until the length is read, a short answer or 6A86 after a part.
  virtual LONG ReadBinaryEx(BYTE* pbBuf, DWORD* pdwLen);
  virtual LONG AppendRecord(const BYTE* pbData, DWORD dwLen);
  // 00 B2 nr 04; *pdwLen: capacity in, record length out.
  virtual LONG ReadRecord(BYTE bRec, BYTE* pbBuf, DWORD* pdwLen);
  // 00 D6 in parts of 255 bytes with the running offset.
  virtual LONG UpdateBinary(const BYTE* pbData, DWORD dwLen);
  virtual LONG UpdateRecord(BYTE bRec, const BYTE* pbData, DWORD dwLen);
  virtual LONG WriteBinaryFile(const BYTE* pbData, DWORD dwLen);
  virtual LONG ReadBinaryFile(BYTE* pbBuf, DWORD* pdwLen);
  // PHASE CONTROL when the life cycle is not 0x20, DELETE FILE, PHASE CONTROL.
  virtual LONG DeleteFileA(const BYTE* pbFid);
  // PHASE CONTROL when the life cycle is not 0x20, CREATE FILE with the 33-byte
  // template 6F 1F | 81 02 size | 82 03 type 00 00 | 83 02 FID | 85 03 01 size |
  // 86 0B access conditions (default 00 00 00 FF FF 00 00 FF FF 00 00), PHASE CONTROL.
  virtual LONG CreateFileA(WORD wSize, const BYTE* pbFid, BYTE bType, const BYTE* pbAC11 = nullptr);
  // 00 CA 01 83: the life-cycle byte when the card answers 9000.
  virtual LONG GetData_Stato();
  // B0 10 00 00.
  virtual LONG PhaseControl();
  // 00 EA 00 00.
  virtual LONG ResetSecurityState();
  // PHASE CONTROL when the life cycle is not 0x20, 00 2C 03 (ref OR 80), PHASE CONTROL.
  virtual LONG ResetRetryCounter(BYTE bRef);

  // MSE 00 22 41 B8 (83 02 00 key reference), then PSO 00 2A 86 80 (mode 0,
  // encipher) or 00 2A 80 86 (mode 1, decipher); other modes -104.
  // *pdwOut: capacity in, length out.
  LONG Apply3Des(BYTE bMode, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                 DWORD* pdwOut);
};
