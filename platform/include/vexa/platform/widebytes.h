// Wide byte buffers: byte strings carried through the engine's interfaces as
// 16-bit units, one unit per byte, and the text conversions the programs need.
//
// Bytes to units: byte b becomes unit b (0x00..0xFF), so every byte string goes
// through unchanged.
// Units to bytes: a unit 0x00..0xFF becomes that byte; a unit that is the
// Windows-1252 character of a byte 0x80..0x9F (U+20AC for 0x80, U+201A for 0x82,
// ...) becomes that byte, so buffers made with that code page still come back
// whole; any other unit above 0xFF cannot be a byte and fails the conversion
// (never a silent '?').
// Results that are system strings are freed by the caller with SysFreeString
// (or held in a vexa::UniqueBstr).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vexa/platform/secure.h"
#include "vexa/platform/sysstring.h"
#include "vexa/platform/wintypes.h"

namespace vexa {

// A BSTR of bytes.size() units, one per byte. Null only when out of memory.
BSTR BytesToBstr(std::span<const BYTE> bytes) noexcept;

// The bytes of a wide byte buffer of len units. nullopt when a unit is no byte
// (see above), len is negative, or units is null with len > 0.
std::optional<std::vector<BYTE>> WideToBytes(const WCHAR* units, long len);
// The same into a wiping container, for PINs and keys.
std::optional<SecureBytes> WideToSecureBytes(const WCHAR* units, long len);
// The bytes of a whole BSTR (SysStringLen units); a null BSTR gives no bytes.
std::optional<std::vector<BYTE>> BstrToBytes(BSTR s);

// The byte that a unit stands for, or nullopt (see above).
std::optional<BYTE> UnitToByte(WCHAR unit) noexcept;

// UTF-8 text to UTF-16. nullopt for text that is not valid UTF-8 (bad or
// truncated sequences, overlong forms, encoded surrogates, above U+10FFFF).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8 text. nullopt when a surrogate is unpaired.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// UTF-8 text as a BSTR. Null for invalid UTF-8 or when out of memory.
BSTR Utf8ToBstr(std::string_view text) noexcept;
// A BSTR's text as UTF-8 (a null BSTR is empty). nullopt when a surrogate is
// unpaired.
std::optional<std::string> BstrToUtf8(BSTR s);

}  // namespace vexa
