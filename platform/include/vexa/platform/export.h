// Symbol export for the shared libraries: everything is hidden by default and
// only declarations marked VEXA_API are part of a library's interface.
#pragma once

#define VEXA_API __attribute__((visibility("default")))
#define VEXA_EXTERN_C extern "C" VEXA_API
