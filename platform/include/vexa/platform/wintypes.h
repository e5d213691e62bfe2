// Windows-style scalar and string types used by every interface of the system.
// The PC/SC client library already defines the common ones (BYTE, DWORD, LONG,
// BOOL, ...) with the Linux sizes; this header adds the rest once, so that every
// subsystem sees one set of definitions.
#pragma once

#include <PCSC/wintypes.h>
#include <cstdint>

typedef int32_t HRESULT;
typedef unsigned int UINT;
typedef int INT;
typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HWND;
typedef uint64_t ULONGLONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef S_OK
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#endif
