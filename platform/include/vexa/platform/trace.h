// The trace routine. Every module that links the platform layer has its own
// trace state and its own file (the platform layer is linked statically into each
// shared library, with hidden symbols). A module traces only when the registry
// value named after it exists under HKLM "Software\VEXA_API_10".
#pragma once

#include <cstddef>
#include <string>

#include "vexa/platform/wintypes.h"

// Opens the trace. path: the trace file; valueName: the registry value holding
// the level; highestLevel: the module's highest level (the level is clamped to it).
// 0 when tracing is on; -1 when path or name is missing, the value is absent or
// the file cannot be opened (tracing then stays off).
int TraceOpen(const char* path, const char* valueName, unsigned short highestLevel);
// Writes one line at level (1..4). 0; -1 when tracing is on but the file is not open.
int Trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// As Trace, but only when "Timelog" is set; the time stamp stands on its own line.
int TraceTime(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void TraceClose();

namespace vexa {

// The full path of a module's trace file: baseName (e.g. "pkcs11.log") inside the
// folder named by the registry value "TraceDir" (default /tmp).
std::string TraceFilePath(const std::string& baseName);

// Traces label, then the bytes as hexadecimal.
void TraceBytes(int level, const char* label, const BYTE* data, std::size_t len);

// Traces label and the length of a secret, never its value: "<label> [n bytes masked]".
void TraceSecret(int level, const char* label, const BYTE* data, std::size_t len);

// The current trace level of this module (0 when tracing is off).
int TraceLevel();

}  // namespace vexa
