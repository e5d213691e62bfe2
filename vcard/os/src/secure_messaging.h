// Secure messaging as the card checks it.
//
// Card-challenge form (CLA with 0C): the data are 87 L 01 cryptogram ‖ 8E 08 MAC.
// The session key K1 K2 is the 3DES-CBC (zero IV) encipherment of the first 16
// bytes of the UID record under the master key; the MAC (algorithm 3 with K1 K2
// K1) covers challenge ‖ CLA INS P1 P2 00 00 00 00 ‖ the 87 object zero-padded,
// where the challenge is the last GET CHALLENGE answer, good for one command.
//
// "4" form of the administration commands: the data are the 3DES-CBC
// cryptogram of ISO-padded (plain ‖ MAC), the MAC covering INS P1 P2 (Lc+8)
// plain, zero-padded, under the command's system key; or, unenciphered, plain ‖ MAC.
#pragma once

#include <optional>

#include "context.h"

namespace vexa::vcard {

// The session key (16 bytes) of a card with this UID record and master key.
// Throws CardStatus 6985 when the UID record is shorter than 16 bytes.
SecureBytes DeriveSessionKey(const Bytes& uidRecord, std::span<const uint8_t> masterKey);

// Checks and deciphers a command protected with the card challenge; returns the
// plain command (CLA without the SM bits). Throws CardStatus on refusal:
// 6985 no fresh challenge, 6987 data objects missing, 6988 wrong MAC or padding.
Command UnwrapProtected(Context& ctx, const Command& c);

// The plain data of a "4"-form command under the 16-byte key, or nothing when
// neither the enciphered nor the unenciphered form checks out.
std::optional<Bytes> UnwrapForm4(const Command& c, std::span<const uint8_t> key16);

// The master key compiled into the card (24 bytes K1 K2 K3).
SecureBytes DefaultMasterKey();

}  // namespace vexa::vcard
