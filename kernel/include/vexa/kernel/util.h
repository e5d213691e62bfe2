// Small routines that every kernel class uses.
#pragma once

#include <cstddef>
#include <string>

#include "vexa/platform/export.h"
#include "vexa/platform/wintypes.h"

// Two upper-case hex digits per byte; with a separator, the separator after each
// byte (also the last); with reverse, the whole character string reversed
// ("0A1B" becomes "B1A0").
VEXA_API std::string HexText(const BYTE* bytes, std::size_t len, char separator = '\0',
                             bool reverse = false);

// Creates or truncates the file (with append: opens it, creating it when missing,
// and writes at its end) and writes the bytes. New files get mode 0600; a
// symbolic link is never followed. 0, or -1 on any failure.
VEXA_API int WriteFileBytes(const char* path, const BYTE* bytes, std::size_t len, bool append);
