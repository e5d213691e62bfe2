// The PIN-pad library: a shared library outside the system, loaded at run time
// only for the length of one PIN-pad verification. It is "libscardspen.so", or
// the file named by the HKLM "Software\VEXA_API_10" value "PinPadLibrary".
#pragma once

#include <PCSC/winscard.h>

// The default library and the registry value that may name another one.
#define VEXA_PINPAD_LIBRARY "libscardspen.so"
#define VEXA_PINPAD_REG_VALUE "PinPadLibrary"
// The function the library must export.
#define VEXA_PINPAD_VERIFY_FUNCTION "SCardSPEVerifyPin"

// Lets the reader's PIN pad collect a PIN and send VERIFY on hCard. pbRequest:
// the request block (cbRequest = 32 bytes; bytes 0-10 are
// 52 06 01 06 00 20 00 R 80 01 20 with R = PIN reference | 0x80, the rest 0).
// pbStatus receives SW1 SW2 (cbStatus = 2). 0 when the exchange took place (the
// status then tells the card's answer); any other value is the library's error.
extern "C" typedef LONG (*PFN_SCardSPEVerifyPin)(SCARDHANDLE hCard, const BYTE* pbRequest,
                                                 DWORD cbRequest, BYTE* pbStatus,
                                                 DWORD cbStatus);
