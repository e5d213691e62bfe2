// Card-wide commands: GET DATA, life cycle and PHASE CONTROL, random numbers,
// logical channels, code packages, and the administration commands protected
// with the system keys (FORMAT, ERASE, CHANGE KEY, EXTERNAL AUTHENTICATE,
// INCREASE).
//
// System keys (16 bytes each, by key number): 00 protects FORMAT, 01 protects
// ERASE; CHANGE KEY with key number n is protected with the current key n;
// EXTERNAL AUTHENTICATE with reference r checks the challenge enciphered under
// key r.
#pragma once

#include "context.h"

namespace vexa::vcard {

constexpr uint8_t kFormatKey = 0x00;
constexpr uint8_t kEraseKey = 0x01;

Bytes CmdGetData(Context& ctx, const Command& c);
Bytes CmdPutDataSeci(Context& ctx, const Command& c);
Bytes CmdPhaseControl(Context& ctx, const Command& c);
Bytes CmdGetChallenge(Context& ctx, const Command& c);
Bytes CmdGiveRandom(Context& ctx, const Command& c);
Bytes CmdManageChannel(Context& ctx, const Command& c);
Bytes CmdLoadExecutable(Context& ctx, const Command& c);
Bytes CmdFormat(Context& ctx, const Command& c);
Bytes CmdErase(Context& ctx, const Command& c);
Bytes CmdChangeSystemKey(Context& ctx, const Command& c);
Bytes CmdExternalAuthenticate(Context& ctx, const Command& c);
Bytes CmdIncrease(Context& ctx, const Command& c);

}  // namespace vexa::vcard
