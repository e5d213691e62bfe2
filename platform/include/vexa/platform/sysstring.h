// System strings (BSTR), as COM has them: a 32-bit byte length, then the
// char16_t units, then a terminating zero unit. A BSTR points at the first unit,
// just after the length, so it can be read as a NUL-terminated string too.
// Every function accepts a null BSTR (as an empty string where that makes sense).
// Freed strings are wiped first: they may carry a PIN.
#pragma once

#include <memory>

#include "vexa/platform/wintypes.h"

// A string of len units copied from s (zero-filled when s is null), terminated.
// Null when the memory cannot be had or the length is too large.
BSTR SysAllocStringLen(const OLECHAR* s, UINT len) noexcept;
// A copy of the NUL-terminated s; null for a null s.
BSTR SysAllocString(const OLECHAR* s) noexcept;
// A string of len bytes copied from s (zero-filled when s is null), followed by
// a zero unit; its length in units is len / 2.
BSTR SysAllocStringByteLen(const char* s, UINT len) noexcept;
// Replaces *pbstr by a new string of len units copied from s (s may point into
// *pbstr). TRUE; FALSE (and *pbstr unchanged) when pbstr is null or out of memory.
INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* s, UINT len) noexcept;
// As SysReAllocStringLen with the NUL-terminated s.
INT SysReAllocString(BSTR* pbstr, const OLECHAR* s) noexcept;
// Length in units (0 for null).
UINT SysStringLen(BSTR s) noexcept;
// Length in bytes (0 for null).
UINT SysStringByteLen(BSTR s) noexcept;
// Wipes and frees s; null is ignored.
void SysFreeString(BSTR s) noexcept;

namespace vexa {

struct BstrDeleter {
  void operator()(OLECHAR* s) const noexcept { SysFreeString(s); }
};
// Owns a BSTR: freed with SysFreeString when it goes out of scope.
using UniqueBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

}  // namespace vexa
