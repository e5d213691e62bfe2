// CCardSession: one connection to a card reader over PC/SC. It owns a
// resource-manager context and a card handle, turns APDU records into command
// bytes, exchanges them with the card (T=1) and returns response data and status
// bytes. Class-wide services sit beside it: the reader-selection dialog, PIN-pad
// detection and the card-monitoring threads.
//
// Result codes of this library: 0 success; a PC/SC error (negative as a signed
// 32-bit value, e.g. SCARD_W_REMOVED_CARD); a card status word SW1*256+SW2 as a
// positive number (two-argument Send and the card commands built on it).
#pragma once

#include <PCSC/winscard.h>

#include <span>
#include <string>
#include <vector>

#include "vexa/card/apdu.h"
#include "vexa/card/card_monitor.h"
#include "vexa/platform/export.h"
#include "vexa/platform/secure.h"
#include "vexa/platform/wintypes.h"

class VEXA_API CCardSession {
 public:
  // Members zero, not connected.
  CCardSession() noexcept;
  // A copy shares the context and card handle of the original; only the session
  // that established the context releases it.
  CCardSession(const CCardSession& other);
  CCardSession& operator=(const CCardSession& other);
  // Releases the context (ExitRM) and wipes the secure-messaging key.
  virtual ~CCardSession();

  // ---- virtual operations (command classes build on these) ----

  // Two-argument form: 0 when the card answered 9000, the status word otherwise,
  // or a PC/SC error. pbResp may be null; see the four-argument form for pbLen.
  virtual LONG Send(APDU apdu, BYTE* pbResp, BYTE* pbLen);
  // Sends a short or extended command and returns 0 or a PC/SC error; SW1/SW2 are
  // the card's status bytes (61xx and 6Cxx reach the caller like any other).
  // pbResp: response buffer or null. pbLen: when pbResp is given, on entry the
  // capacity of pbResp, on return the number of data bytes copied (0 for a
  // response of status bytes only). Response data beyond the capacity give
  // SCARD_E_INSUFFICIENT_BUFFER and copy nothing. A response of fewer than two
  // bytes is an error: SCARD_W_REMOVED_CARD when the card is gone, else
  // SCARD_F_COMM_ERROR. Without a card handle (never connected, disconnected,
  // or connected to an empty reader): SCARD_E_INVALID_HANDLE, nothing is sent.
  // A failed transmission is repeated once (after a reconnection when the card
  // was reset). A record that announces data without a data pointer gives
  // SCARD_E_INVALID_PARAMETER.
  // Note: LONG is 64 bits here, so a PC/SC error such as 0x80100069 is a
  // positive LONG; it is negative as a 32-bit value (static_cast<int32_t>),
  // while status words are 0x0001..0xFFFF.
  virtual LONG Send(APDU apdu, BYTE* pbResp, BYTE* pbLen, BYTE* pSW1, BYTE* pSW2);
  // As the four-argument Send, with a 16-bit length (in: capacity, out: data
  // bytes). An extended command with data and Le sends the Le bytes 01, LeExtHi
  // (so LeExtHi 00 asks for 0x0100 = 256 bytes). For data over 255 bytes.
  virtual LONG SendExt(APDU apdu, BYTE* pbResp, WORD* pwLen, BYTE* pSW1, BYTE* pSW2);

  // ---- context and connection ----

  // True when the session has a context (established now or already there).
  // Tries user scope, then system scope up to 200 times 250 ms apart; stops at
  // once on SCARD_E_NO_SERVICE.
  bool InitRM();
  // 1, or the PC/SC error of the release.
  LONG ExitRM();
  // Shared mode, T=0 or T=1. 0 and SCARD_W_REMOVED_CARD (empty reader) keep the
  // reader name. Without a name: the first reader that accepts.
  LONG Connect(const char* szReader = nullptr);
  LONG ReConnect();
  // Leaves the card as it is; clears the handle and the secure-messaging key
  // whether or not the call succeeds.
  LONG Disconnect();
  // The connected reader's name ("" when none).
  const char* GetReaderName() const noexcept;
  SCARDCONTEXT GetContext() const noexcept { return m_hContext; }
  // The card handle (0 = not connected), for exchanges that bypass Send.
  SCARDHANDLE GetCardHandle() const noexcept { return m_hCard; }
  // Commands sent on this session.
  DWORD GetCommandCount() const noexcept { return m_dwCommands; }

  // ---- card and reader information ----

  // ATR into pbAtr; *pcbAtr in: capacity, out: length.
  LONG GetATR(BYTE* pbAtr, DWORD* pcbAtr);
  // Reader vendor name; 1 when the buffer is missing or too small.
  LONG GetManufacturer(BYTE* pbBuf, DWORD* pcbBuf);
  // Always 0xFFFF.
  LONG GetReaderInfo() const noexcept { return 0xFFFF; }
  // Readers that accept a shared connection; with bCardsOnly 0 also empty readers
  // (connection fails with SCARD_W_REMOVED_CARD), never readers that refuse with
  // another error (e.g. held exclusively by another process). Returns the PC/SC
  // code of the last connection attempt (or of the listing when it fails).
  LONG GetReaderList(BOOL bCardsOnly, std::vector<std::string>& readers);
  // The same list as consecutive zero-terminated names (ending with an empty one)
  // and their count.
  LONG GetReaderList(BOOL bCardsOnly, std::string& mszReaders, DWORD* pdwCount);

  // ---- transactions and channel ----

  // Begin / end a card transaction (card left as it is). Errors are not returned.
  void LockSC() noexcept;
  void UnlockSC() noexcept;
  // The logical channel (1-3, 0 = basic) that Send puts into CLA 00 commands.
  LONG Get_ChannelUsed(BYTE* pbChannel) const noexcept;
  LONG Set_ChannelUsed(BYTE bChannel) noexcept;

  // ---- PIN pad ----

  // 1 when the PIN-pad library (libscardspen.so, or the path in HKLM value
  // "PinPadLibrary") can be loaded, else 0.
  static int isPinPadEnabled() noexcept;
  // VERIFY through the PIN pad's SCardSPEVerifyPin for PIN reference bPinRef:
  // -1 when the library or its function is missing; the library's nonzero
  // result as it is; else 0 for 9000 or the status word.
  LONG PinPadVerify(BYTE bPinRef) noexcept;

  // ---- class-wide services ----

  // Reader selection. Silent: the first reader whose card's ATR matches a
  // registered card type of this provider; non-silent: "no reader chosen" for
  // now. szReader: caller's buffer, *pcchReader in: its capacity, out: name
  // length + 1. 1 on success, 0 on failure; the failure's code (usually
  // SCARD_E_NO_SMARTCARD) is then this thread's GetLastDialogError().
  static int SmartCardDialog(char* szReader, DWORD* pcchReader, BOOL bSilent) noexcept;
  static int SmartCardDialog(std::string& reader, BOOL bSilent) noexcept;
  // The error of the last failed SmartCardDialog on this thread (0 after success).
  static LONG GetLastDialogError() noexcept;

  // Starts a monitoring thread for a reader (see card_monitor.h). 0 or an error:
  // the PC/SC error of the monitoring context, SCARD_E_NO_MEMORY when all
  // VEXA_MAX_MONITORED_READERS entries are in use, the system error when the
  // thread cannot be started, SCARD_E_INVALID_PARAMETER for a missing name or a
  // name of more than 259 characters, SCARD_E_CANCELLED while a
  // StopCardMonitoring is in progress. Each thread waits on a PC/SC context of
  // its own (pcsc-lite serialises the calls made on one context).
  static LONG StartCardMonitoringEx(const char* szReader, PFN_CARD_EVENT pfnCallback,
                                    BOOL bSkipIfWatched, BOOL bBlocking) noexcept;
  // Stops every monitoring thread and returns after all have ended; harmless when
  // nothing runs.
  static void StopCardMonitoring() noexcept;

 protected:
  // The card's secure-messaging key (16 bytes, K1 then K2), derived on the first
  // protected command of a connection and released on disconnect, on a failed
  // connect and on destruction.
  bool HasSMKey() const noexcept { return m_SMKey.size() == 16; }
  const vexa::SecureBytes& SMKey() const noexcept { return m_SMKey; }
  void SetSMKey(std::span<const BYTE> key);
  void ReleaseSMKey() noexcept;

 private:
  LONG Exchange(const APDU& apdu, bool bExt, BYTE* pbResp, DWORD cbCapacity,
                DWORD* pcbData, BYTE* pSW1, BYTE* pSW2);

  bool m_bContextOwner = false;   // this session established m_hContext
  SCARDCONTEXT m_hContext = 0;    // resource-manager context (0 = none)
  SCARDHANDLE m_hCard = 0;        // card handle (0 = not connected)
  vexa::SecureBytes m_SMKey;      // secure-messaging key, empty until derived
  std::string m_szReader;         // reader name of the connection
  BYTE m_bChannel = 0;            // logical channel put into CLA 00
  DWORD m_dwCommands = 0;         // commands sent on this session
};
