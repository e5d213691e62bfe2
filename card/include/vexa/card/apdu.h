// The command record handed to the card session. The session turns it into the
// bytes of a short or an extended command APDU:
//   short (bExtended 0):  header [Lc data] [Le]   (Lc 0: no data; Le 0: no Le byte)
//   extended, LcExt 0:    header 00 LeExtHi LeExtLo
//   extended with data:   header 00 LcExtHi LcExtLo data [Le1 Le2]
//     no Le bytes when Le and LeExtHi are both 0; otherwise Le1 Le2 are
//     Le, LeExtHi with Send and 01, LeExtHi with SendExt (so SendExt with
//     LeExtHi 00 asks for 0x0100 = 256 bytes).
// header = CLA INS P1 P2, where a CLA of 0 becomes the session's channel byte.
#pragma once

#include "vexa/platform/wintypes.h"

// Passed by value. The data are not owned: they stay with the caller for the
// length of the Send call.
struct APDU {
  BYTE CLA = 0;       // class byte (0 on a session with a channel byte: that channel)
  BYTE INS = 0;       // instruction
  BYTE P1 = 0;        // parameter 1
  BYTE P2 = 0;        // parameter 2
  BYTE Lc = 0;        // short command: number of data bytes, 0 = no data
  const BYTE* pData = nullptr;  // command data: Lc bytes, or LcExtHi:LcExtLo bytes
  BYTE Le = 0;        // short command: 0 = no Le byte is sent (256 cannot be asked
                      // for); extended command with data: first Le byte (Send)
  BYTE bExtended = 0; // nonzero = extended command
  BYTE LcExtHi = 0;   // extended Lc, high byte
  BYTE LcExtLo = 0;   // extended Lc, low byte
  BYTE LeExtHi = 0;   // extended Le, first byte
  BYTE LeExtLo = 0;   // extended Le, second byte
};
