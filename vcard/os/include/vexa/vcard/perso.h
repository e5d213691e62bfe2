// Personalisation of virtual cards: writes a fresh card image file that
// OpenCardImage (card_os.h) and the vexa-vcard reader program load.
//
// A fresh card holds:
//   MF 3F00
//   └─ application DF (fid appFid, DF name aid)
//        ├─ directory file: transparent EF directoryFid, directorySize bytes,
//        │  contents directoryContent (zero-filled behind it); readable by all,
//        │  written only after VERIFY of the directory PIN
//        ├─ user PIN   (default reference 10, "12345678", 3 tries, unblocked by the PUK)
//        ├─ PUK        (default reference 12, "87654321", 3 tries)
//        └─ directory PIN (default reference 11, "ravelo.90876", no retry counter)
//
// Life cycle: 10 (user phase) by default. The card moves between 10 and 20 with
// PHASE CONTROL; creating and deleting files and objects, GENERATE KEY PAIR and
// RESET RETRY COUNTER need 20; FORMAT needs 34 (after ERASE) and leads to 20.
//
// Access-condition bytes (86 records of files and objects): 00 always, FF
// never, any other value is satisfied by a verified PIN with that reference or
// one that grants the value. The user PIN grants 03, the value that private keys
// and protected files carry. EF records: byte 1 read, byte 2 update, byte 3
// delete. Key and PIN records: byte 1 use, byte 2 change/generate.
//
// PIN values are compared without trailing FF bytes, so "1234" and
// "1234" FF FF FF FF verify the same PIN.
//
// Secure messaging: the card derives its session key from the first 16 bytes of
// the UID record (GET DATA 01 81) under the master key (default below, the same
// as the card access library's default). A challenge (GET CHALLENGE) is good
// for the next command only; a reused or missing one gives 6985, a wrong MAC or
// padding 6988, missing objects 6987. Responses are not wrapped.
//
// What else a card of this simulator answers (beyond the command tables):
//   SELECT returns the control parameters (6F .. 80/81 02 size, 82 descriptor,
//     83 fid, 84 name, 86 access) only when the command has an Le, cut to it.
//   READ BINARY at or past the end of the file: 6A86; a read that runs over the
//     end returns the bytes up to it with 9000. Writes past the end: 6A84.
//   Results of computations (signatures, deciphered blocks) come whole, whatever
//     the short Le; GET DATA answers are cut to the Le.
//   VERIFY: 63Cx with x tries left; the attempt that uses the last try and every
//     later one answer 6983. VERIFY without data answers the counter (or 9000
//     once verified). CHANGE REFERENCE DATA P1 01 needs the PIN or its
//     unblocking PIN verified; P1 00 takes old and new value (old = stored length).
//   Package list (GET DATA 01 88): six bytes per package, 00 00 id version 00 00.
//     LOAD EXECUTABLE (CLA 80, or 84 from M4.01 on) installs the package named
//     by the low byte of the current code file's identifier (descriptor 21),
//     version 08 for package 07 on M4.0, 02 on later versions, 01 otherwise.
//   Memory (GET DATA 01 89, M4.20 family): 01 04 KB-high KB-low 00 00.
//   Access check (GET DATA 01 84): the access-condition values satisfied now.
//   GENERATE KEY PAIR writes the public key into the EF: records
//     10 (n+2) (n+1) 00 modulus and 11 (e+2) (e+1) 00 exponent in a record file
//     (lengths over 255 as 82 HH LL), or 7F 49 82 LL LL 81 82 NN NN modulus
//     82 EL exponent, zero-filled, in a transparent file.
//   FORMAT (84 40 00 01, life cycle 34) takes its template in the enciphered
//     "4" form or unenciphered as template ‖ MAC (FormatCommandData); it makes
//     an empty MF and life cycle 20. ERASE (84 06, life cycle 20) removes the
//     whole file system and leads to 34. CHANGE KEY n (84 24 00 n) takes the new
//     16-byte key in the "4" form under the current key n, or unprotected as
//     current key ‖ new key (32 bytes); an M4.0 card needs life cycle 34 for it.
//   A failed write of the image file answers 6581 and the card keeps the old image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/platform/secure.h"
#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

struct PinSpec {
  uint8_t ref = 0x10;            // reference (P2 of VERIFY without the 80 bit)
  std::string value;             // PIN bytes as text
  uint8_t maxTries = 3;          // 0 = no retry counter, at most 15
  uint8_t unblockRef = 0;        // PIN whose verification allows RESET RETRY COUNTER (0 = none)
  std::vector<uint8_t> grants;   // access-condition values satisfied once verified
  bool smRequired = false;       // VERIFY/CHANGE/RESET accepted only under secure messaging
};

struct PackageSpec {
  uint8_t id = 0;
  uint8_t version = 0;
};

struct PersoOptions {
  // "M3", "M4.0", "M4.01", "M4.01a", "M4.10", "M4.20", "M4.2b" (answers C8 09),
  // "M4.2b-0A" (answers C8 0A), "M4.40" (answers C8 0D).
  std::string version = "M4.10";
  // "" (the version's own ATR), "Velmoranta" (M4.01, M4.01a), "VEZ" or "VEZ2" (M4.20).
  std::string atrProfile;
  Bytes atr;                     // when not empty, replaces the ATR
  uint8_t lifeCycle = 0x10;
  Bytes aid = {0xA0, 0x00, 0x00, 0x07, 0x56, 0x45, 0x58, 0x41, 0x01};  // application DF name
  uint16_t appFid = 0x5000;
  uint16_t appQuota = 0xFFFF;    // bytes of EFs directly inside the application DF
  uint16_t directoryFid = 0x0001;
  uint16_t directorySize = 8192;
  Bytes directoryContent;        // hook for the directory (GDO) bytes
  PinSpec userPin{0x10, "12345678", 3, 0x12, {0x03}, false};
  PinSpec puk{0x12, "87654321", 3, 0, {}, false};
  PinSpec directoryPin{0x11, "ravelo.90876", 0, 0, {}, false};
  bool withPins = true;          // false: no PIN objects (and an unguarded directory file)
  // Six bytes of card serial number; the UID record (24 bytes) is
  // 3B 00 00 00 00 00 00 00 00 00 | serial | 00 ... (GetUID gives 05 ‖ serial).
  Bytes serial = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  Bytes uidRecord;               // when not empty, replaces the whole UID record
  uint16_t memoryKb = 64;        // card memory (EF bytes); reported by the M4.20 family
  std::vector<PackageSpec> packages;
  SecureBytes masterKey;         // 24 bytes; empty = kDefaultMasterKey
  SecureBytes formatKey;         // 16 bytes, system key 00; empty = kDefaultFormatKey
  SecureBytes eraseKey;          // 16 bytes, system key 01; empty = kDefaultEraseKey
  SecureBytes authKey;           // 16 bytes, system key 02 (EXTERNAL AUTHENTICATE 82); empty = kDefaultAuthKey
};

// Secure-messaging master key K1 K2 K3.
inline constexpr uint8_t kDefaultMasterKey[24] = {
    0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6, 0xAB, 0xF7, 0x15, 0x88,
    0x09, 0xCF, 0x4F, 0x3C, 0x76, 0x2E, 0x71, 0x60, 0xF3, 0x8B, 0x4D, 0xA5};
// System keys (K1 K2) of the administration commands, protected in the "4" form
// (FORMAT with key 00, ERASE with key 01, CHANGE KEY n with the current key n),
// and the key of EXTERNAL AUTHENTICATE with reference 02 (P2 82): the card
// expects the 3DES (K1 K2 K1) encipherment of its last 8-byte challenge.
inline constexpr uint8_t kDefaultFormatKey[16] = {0x46, 0x4F, 0x52, 0x4D, 0x41, 0x54, 0x4B, 0x31,
                                                  0x46, 0x4F, 0x52, 0x4D, 0x41, 0x54, 0x4B, 0x32};  // "FORMATK1FORMATK2"
inline constexpr uint8_t kDefaultEraseKey[16] = {0x45, 0x52, 0x41, 0x53, 0x45, 0x4B, 0x45, 0x31,
                                                 0x45, 0x52, 0x41, 0x53, 0x45, 0x4B, 0x45, 0x32};   // "ERASEKE1ERASEKE2"
inline constexpr uint8_t kDefaultAuthKey[16] = {0x41, 0x55, 0x54, 0x48, 0x4B, 0x45, 0x59, 0x31,
                                                0x41, 0x55, 0x54, 0x48, 0x4B, 0x45, 0x59, 0x32};    // "AUTHKEY1AUTHKEY2"

// Writes a fresh card image to path (atomically, mode 0600). Throws
// std::invalid_argument for bad options (unknown version or profile, PIN
// references clashing or out of 01..7F, sizes that do not fit) and
// std::runtime_error when the file cannot be written.
void CreateCardImage(const std::string& path, const PersoOptions& options);

// The built-in 48-byte data field of an unprotected FORMAT command
// (84 40 00 01): the 40-byte creation template of an MF of mfSize bytes followed
// by its "4"-form MAC under the format key.
Bytes FormatCommandData(uint16_t mfSize, const SecureBytes& formatKey);

}  // namespace vexa::vcard
