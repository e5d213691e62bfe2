// The PC/SC functions the card access library calls, gathered in one table so
// that unit tests can put a fake service in place of libpcsclite (to produce
// what a real pcscd and virtual reader cannot: a reader that disappears, a
// missing service, a card that answers one byte).
#pragma once

#include <PCSC/winscard.h>

#include "vexa/platform/export.h"

namespace vexa::card {

struct PcscFunctions {
  LONG (*EstablishContext)(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2,
                           LPSCARDCONTEXT phContext);
  LONG (*ReleaseContext)(SCARDCONTEXT hContext);
  LONG (*ListReaders)(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                      LPDWORD pcchReaders);
  LONG (*Connect)(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                  DWORD dwPreferredProtocols, LPSCARDHANDLE phCard,
                  LPDWORD pdwActiveProtocol);
  LONG (*Reconnect)(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                    DWORD dwInitialization, LPDWORD pdwActiveProtocol);
  LONG (*Disconnect)(SCARDHANDLE hCard, DWORD dwDisposition);
  LONG (*BeginTransaction)(SCARDHANDLE hCard);
  LONG (*EndTransaction)(SCARDHANDLE hCard, DWORD dwDisposition);
  LONG (*Transmit)(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci,
                   LPCBYTE pbSendBuffer, DWORD cbSendLength, SCARD_IO_REQUEST* pioRecvPci,
                   LPBYTE pbRecvBuffer, LPDWORD pcbRecvLength);
  LONG (*GetAttrib)(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen);
  LONG (*GetStatusChange)(SCARDCONTEXT hContext, DWORD dwTimeout,
                          SCARD_READERSTATE* rgReaderStates, DWORD cReaders);
  LONG (*Cancel)(SCARDCONTEXT hContext);
  LONG (*FreeMemory)(SCARDCONTEXT hContext, LPCVOID pvMem);
  // May be null in a test's table (the ATR then comes from GetAttrib only).
  LONG (*Status)(SCARDHANDLE hCard, LPSTR szReaderName, LPDWORD pcchReaderLen, LPDWORD pdwState,
                 LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen);
};

// The table of libpcsclite's own functions.
VEXA_API const PcscFunctions& DefaultPcscFunctions() noexcept;

// The table in use (libpcsclite's unless replaced).
VEXA_API const PcscFunctions& Pcsc() noexcept;

// Puts another table in place (nullptr: back to libpcsclite). The table is not
// copied: it must outlive its use. Swap tables only while no session is connected
// and no monitoring thread runs.
VEXA_API void SetPcscFunctions(const PcscFunctions* table) noexcept;

}  // namespace vexa::card
