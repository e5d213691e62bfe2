// The persistent state of a virtual card: its file tree with the security
// objects kept in each DF, and the card-wide data (version, life cycle, UID
// record, system keys, installed packages). The image file is this state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "vexa/platform/secure.h"
#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

// A PIN object (also the logical PINs): value, retry counter and the access
// conditions it satisfies once verified.
struct PinObject {
  uint8_t ref = 0;               // reference as used in P2 (without the 80 bit)
  uint8_t objClass = 0;          // class byte of the creation template
  Bytes options;                 // the eight option bytes of the template
  Bytes ac;                      // access record (86)
  Bytes sm;                      // secure-messaging record (8B / CB)
  SecureBytes value;             // the PIN itself
  uint8_t maxTries = 3;          // 0: no retry counter
  uint8_t triesLeft = 3;
  uint8_t unblockRef = 0;        // PIN that must be verified before RESET RETRY COUNTER
  Bytes grants;                  // access-condition values satisfied besides ref
};

// A key object: RSA private key (components by class 20..24), 3DES key
// (class 20) or a public-key test object (classes 00/01).
struct KeyComponent {
  SecureBytes value;             // without the 2-byte length header
  bool loaded = false;           // false while it holds the FF placeholder
};

struct KeyObject {
  uint8_t ref = 0;
  uint8_t algo = 0;              // t_ALGO byte of the template
  Bytes options;                 // option bytes of the class-20 template
  Bytes ac;
  Bytes sm;
  uint16_t size = 0;             // key length in bytes from the template
  std::map<uint8_t, KeyComponent> comps;  // class byte -> component
  Bytes publicExponent;          // set by GENERATE KEY PAIR
};

enum class FileKind : uint8_t { DF, Transparent, Record };

// Limits of a record EF, shared by the record commands and the image parser so
// that every file the card writes can be read back.
constexpr size_t kMaxRecordLength = 1024;
constexpr size_t kMaxRecords = 254;

struct FileNode {
  uint16_t fid = 0;
  FileKind kind = FileKind::Transparent;
  uint8_t descriptor = 0x01;     // file-descriptor byte (38 for a DF)
  Bytes name;                    // DF name (AID), DFs only
  uint32_t size = 0;             // EF size in bytes, DF quota
  Bytes ac;                      // access record as created (86)
  Bytes sm;                      // secure-messaging record as created
  Bytes data;                    // transparent EF contents (size bytes)
  std::vector<Bytes> records;    // record EF contents
  std::vector<FileNode> children;
  std::vector<PinObject> pins;   // objects kept in this DF
  std::vector<KeyObject> keys;
};

struct Package {
  uint8_t id = 0;
  uint8_t version = 0;
};

struct CardState {
  std::string version;           // "M3", "M4.0", ..., "M4.40"
  Bytes versionBytes;            // answer to GET DATA 01 82 (2 bytes)
  Bytes atr;
  uint8_t lifeCycle = 0x10;
  Bytes uidRecord;               // answer to GET DATA 01 81
  uint16_t memoryKb = 64;        // M4.20 family: GET DATA 01 89
  uint32_t counter = 0;          // INCREASE
  std::map<uint8_t, SecureBytes> systemKeys;  // key number -> 16 bytes (K1 K2)
  SecureBytes masterKey;         // secure-messaging master key (24 bytes)
  Bytes digestInfoPrefix;        // PUT DATA 02 C2: put before 20-byte hashes
  std::vector<Package> packages;
  std::optional<FileNode> mf;    // absent after ERASE until FORMAT
};

}  // namespace vexa::vcard
