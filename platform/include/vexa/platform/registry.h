// The registry, kept in files in the text format of Windows .reg exports.
// HKEY_LOCAL_MACHINE: $VEXA_REGISTRY or /etc/vexa/registry.reg;
// HKEY_CURRENT_USER: $VEXA_USER_REGISTRY or ~/.config/vexa/registry.reg.
// Values are stored as bytes: REG_DWORD as 4 little-endian bytes, REG_SZ as the
// UTF-8 text with its terminating NUL, REG_BINARY as given.
//
// File format (UTF-8, LF or CRLF line ends):
//   Windows Registry Editor Version 5.00        optional header (or REGEDIT4)
//   ; comment                                   whole-line comments
//   [HKEY_LOCAL_MACHINE\Software\VEXA_API_10]   a key
//   "Name"="text with \" and \\ escapes"        REG_SZ
//   "Name"=dword:0000000f                       REG_DWORD
//   "Name"=hex:a0,00,00,\                       REG_BINARY, '\' continues the line
//     00,63
//   "Name"=hex(7):...                           any other type, by its number
//   @="..."                                     the key's unnamed value
// Deletions ("Name"=- and [-KEY]) are refused with an error: a registry file
// here holds the state itself, not a patch to apply to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vexa/platform/wintypes.h"

typedef uintptr_t HKEY;
#define HKEY_CURRENT_USER ((HKEY)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)0x80000002)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

// The key under HKEY_LOCAL_MACHINE that holds the system's configuration.
#define VEXA_REG_KEY "Software\\VEXA_API_10"

// The largest value RegReadValue and RegWriteValue accept.
#define VEXA_REG_MAX_VALUE 4096

// Reads a value. Results: 0 read (data and, when asked, type filled in);
// 1 the key cannot be opened for reading (no file, unreadable or malformed file,
// no such key); 2 the value is absent or larger than 4096 bytes.
// A malformed file is reported once on standard error and on the trace, with
// the file name and line.
int RegReadValue(HKEY root, const char* subKey, const char* valueName,
                 std::vector<BYTE>& data, DWORD* type = nullptr);

// Writes a value into an existing key. Results: 0 written; 1 the key cannot be
// opened (or the file is malformed); 2 the write failed (including values larger
// than 4096 bytes). The file is rewritten through a temporary file renamed over
// it, under an exclusive lock on "<file>.lock", so concurrent writers in several
// processes never lose each other's values. Comments and the layout of the other
// lines are kept.
int RegWriteValue(HKEY root, const char* subKey, const char* valueName, DWORD type,
                  const BYTE* data, DWORD size);

namespace vexa {

// The registry file that holds a root key (the environment variable or default).
std::string RegistryFilePath(HKEY root);

// A value's data as a number: its first up to four bytes, little-endian (all of
// a dword value); 0 for no data.
DWORD RegValueNumber(const std::vector<BYTE>& data) noexcept;

// The section name of a root key ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"),
// empty for any other handle.
std::string_view RegistryRootName(HKEY root);

// Creates the key (and the registry file, mode 0600, when missing) so that
// RegWriteValue can write into it. 0 created or already there; 1 the file is
// malformed or the root unknown; 2 the write failed.
int RegCreateKey(HKEY root, const char* subKey);

// Removes a value. 0 removed; 1 the key cannot be opened; 2 no such value or the
// write failed.
int RegDeleteValue(HKEY root, const char* subKey, const char* valueName);

// ---- The text format, for tools and tests -------------------------------------

struct RegValue {
  std::string name;  // "" for the unnamed value (@)
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Where and why a registry text could not be read.
struct RegParseError {
  std::string file;
  int line = 0;  // 1-based; 0 when the error is about the whole file
  std::string message;
  // "<file>:<line>: <message>"
  std::string Text() const;
};

// A parsed registry file. It keeps every line as written, so that changing one
// value rewrites that value alone and comments survive.
class RegDocument {
 public:
  RegDocument() = default;
  RegDocument(const RegDocument&) = default;
  RegDocument(RegDocument&&) noexcept = default;
  RegDocument& operator=(const RegDocument&) = default;
  RegDocument& operator=(RegDocument&&) noexcept = default;
  // Wipes the lines and values (the file holds secrets) before releasing them.
  ~RegDocument();

  // Parses text. false with err filled in on the first malformed line.
  bool Parse(std::string_view text, const std::string& fileName, RegParseError& err);
  // The file's text: the lines as read, with changed values rewritten.
  std::string Text() const;

  // Full key paths as in the file, e.g. "HKEY_LOCAL_MACHINE\Software\VEXA_API_10";
  // names compare without regard to ASCII case.
  bool HasKey(std::string_view keyPath) const;
  const RegValue* Find(std::string_view keyPath, std::string_view valueName) const;
  std::vector<RegValue> Values(std::string_view keyPath) const;
  // Adds the key at the end when missing.
  void AddKey(std::string_view keyPath);
  // Sets a value of an existing key (false when the key is missing).
  bool Set(std::string_view keyPath, const RegValue& value);
  // Removes a value (false when the key or the value is missing).
  bool Remove(std::string_view keyPath, std::string_view valueName);

 private:
  struct Block {
    enum Kind { kText, kKey, kValue } kind = kText;
    std::string raw;      // the text of the line(s), without the final line end
    std::string keyPath;  // kKey
    RegValue value;       // kValue
  };
  std::vector<Block> m_blocks;

  std::size_t FindKey(std::string_view keyPath) const;  // npos when missing
  // Wipes and removes every block.
  void Clear() noexcept;
};

// The text of one value line ("Name"=...), with hex data wrapped as regedit does.
std::string FormatRegValue(const RegValue& value);

}  // namespace vexa
