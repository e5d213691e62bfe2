// The registry, kept in files in the text format of Windows .reg exports.
// HKEY_LOCAL_MACHINE: $VEXA_REGISTRY or /etc/vexa/registry.reg;
// HKEY_CURRENT_USER: $VEXA_USER_REGISTRY or ~/.config/vexa/registry.reg.
// Values are stored as bytes: REG_DWORD as 4 little-endian bytes, REG_SZ as the
// UTF-8 text with its terminating NUL, REG_BINARY as given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/platform/wintypes.h"

typedef uintptr_t HKEY;
#define HKEY_CURRENT_USER ((HKEY)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)0x80000002)

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

// The key under HKEY_LOCAL_MACHINE that holds the system's configuration.
#define VEXA_REG_KEY "Software\\VEXA_API_10"

// Reads a value. Results: 0 read (data and, when asked, type filled in);
// 1 the key cannot be opened for reading (no file, unreadable or malformed file,
// no such key); 2 the value is absent or larger than 4096 bytes.
int RegReadValue(HKEY root, const char* subKey, const char* valueName,
                 std::vector<BYTE>& data, DWORD* type = nullptr);

// Writes a value into an existing key. Results: 0 written; 1 the key cannot be
// opened (or the file is malformed); 2 the write failed.
int RegWriteValue(HKEY root, const char* subKey, const char* valueName, DWORD type,
                  const BYTE* data, DWORD size);

namespace vexa {

// The registry file that holds a root key (the environment variable or default).
std::string RegistryFilePath(HKEY root);

}  // namespace vexa
