// Building command bytes from APDU records and reading responses: pure functions,
// shared by the session's Send forms and tested and fuzzed on their own.
#pragma once

#include <PCSC/winscard.h>

#include <cstddef>
#include <span>
#include <vector>

#include "vexa/card/apdu.h"

namespace vexa::card {

// Which Send form builds the command: they differ only in the Le bytes of an
// extended command with data.
enum class SendForm { kSend, kSendExt };

// Receive buffer sizes: a short command gets at most 253 data bytes and the
// status, an extended one up to 65533 data bytes and the status.
inline constexpr DWORD kShortReceive = 255;
inline constexpr DWORD kExtendedReceive = 65535;

// The class byte that goes out: the channel byte for a CLA 00 command on a
// session with a channel, else the record's own.
BYTE EffectiveCla(BYTE cla, BYTE channel) noexcept;

// Appends the command bytes to out (which is cleared first). 0, or
// SCARD_E_INVALID_PARAMETER when the record announces data but has no pointer.
LONG EncodeCommand(const APDU& apdu, BYTE channel, SendForm form, std::vector<BYTE>& out);

// The number of data bytes the record announces (Lc, or the extended Lc).
std::size_t DataLength(const APDU& apdu) noexcept;

// Splits a response into data and status bytes. false when it is shorter than
// the two status bytes (a card pulled in the middle of a command).
struct Response {
  std::span<const BYTE> data;
  BYTE sw1 = 0;
  BYTE sw2 = 0;
};
bool SplitResponse(std::span<const BYTE> raw, Response& out) noexcept;

// Commands whose data are secrets (PINs, keys, authentication cryptograms) and
// whose data are traced masked.
bool IsSecretCommand(const APDU& apdu) noexcept;
// Commands whose response data are secrets (deciphered plaintext).
bool IsSecretResponse(const APDU& apdu) noexcept;

}  // namespace vexa::card
