// Result codes and common types of the ASN.1 object library.
//
// Every operation of the library returns 0 on success or one of the codes
// below; no exception leaves the library.
#pragma once

#include "vexa/platform/export.h"
#include "vexa/platform/wintypes.h"

// Allocation failed, or a caller's output buffer is smaller than the result
// (the needed size is then returned through the size argument).
#define ASN1_ERR_MEMORY ((DWORD)0xFA000011)
// Null or empty input, an input whose declared lengths run past its end or use
// more than four length octets, or a directory-entry field that is absent.
#define ASN1_ERR_INVALID_INPUT ((DWORD)0xFA000012)
// The object, or a member it needs, holds no value yet.
#define ASN1_ERR_INCOMPLETE ((DWORD)0xFA000020)
// SetValue on an object that already holds a value.
#define ASN1_ERR_VALUE_PRESENT ((DWORD)0xFA000021)
// The input's first octet is not the object's tag, a prerequisite member is
// missing, a field is absent, or a copy failed.
#define ASN1_ERR_WRONG_TAG ((DWORD)0xFA000022)
// A field was set out of its fixed order, or set twice.
#define ASN1_ERR_ORDER ((DWORD)0xFA000024)

namespace vexa_asn1_detail {
struct Access;  // the library's internal codec helpers (not exported)
}
