// The two COM-style entry points of the engine, as plain C functions.
#pragma once

#include "vexa/platform/export.h"
#include "vexa/platform/wintypes.h"

// Hands out no class object: *ppv is set to null when ppv is given. S_OK, or
// E_FAIL when the engine did not start.
VEXA_EXTERN_C HRESULT DllGetClassObject(const void* rclsid, const void* riid, void** ppv);
// S_OK: the engine can always be unloaded.
VEXA_EXTERN_C HRESULT DllCanUnloadNow(void);
