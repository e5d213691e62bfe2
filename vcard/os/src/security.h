// Security status and PIN objects: access-condition checks, VERIFY (plain and
// chained), CHANGE REFERENCE DATA for PINs, RESET RETRY COUNTER, RESET
// SECURITY STATUS, and the object-creation templates (PUT DATA 01 6E).
//
// An access-condition byte is 00 (always), FF (never) or a value that a
// verified PIN satisfies: its own reference or one of its granted values.
#pragma once

#include "context.h"

namespace vexa::vcard {

bool ConditionMet(const Context& ctx, uint8_t condition);
// Checks byte `index` of an access record (a missing byte counts as 00).
void RequireAccess(const Context& ctx, const Bytes& record, size_t index);
// The life-cycle byte must be 20 (administration phase) for commands that
// create or delete objects.
void RequireAdminPhase(const Context& ctx);

// Finds a PIN by reference in the current DF, then in its parents.
PinObject* FindPin(Context& ctx, uint8_t ref);

Bytes CmdVerify(Context& ctx, const Command& c);
// mode: P1 of CHANGE REFERENCE DATA (00: old and new value, 01: new value only).
Bytes CmdChangePin(Context& ctx, const Command& c, uint8_t mode);
Bytes CmdResetRetryCounter(Context& ctx, const Command& c);
Bytes CmdResetSecurityStatus(Context& ctx, const Command& c);
Bytes CmdPutDataOci(Context& ctx, const Command& c);

// PIN comparison ignores trailing FF padding on both sides.
bool PinMatches(const SecureBytes& stored, std::span<const uint8_t> given);

}  // namespace vexa::vcard
