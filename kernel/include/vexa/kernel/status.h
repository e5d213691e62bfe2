// Status codes of the token engine. Every exported kernel method returns 0 for
// success or one of these negative codes; a card status word other than 9000
// arrives negated (-0x6982), a PC/SC error unchanged (0x801000xx as a 32-bit value).
// The three scopes hold the same values, so that each class family names them in
// its own scope.
#pragma once

#include <cstdint>

#include "vexa/platform/export.h"

#define VEXA_KERNEL_STATUS_LIST(X)                                                   \
  X(ERR_NO_OBJ_FOUND, -1)       /* handle not in the collection, or stale slot */  \
  X(ERR_NO_SLOT_ATTAHED, -2)    /* the CSlots instance has no current slot */       \
  X(ERR_INVALID_PARAMETER, -3)  /* bad argument */                                  \
  X(ERR_MEMORY, -4)             /* allocation failed, or an exception was caught */ \
  X(ERR_INVALID_CRITERIA, -5)   /* find or attach criteria missing or inconsistent */ \
  X(ERR_NO_SLOT_FOUND, -6)      /* slot handle not in the slot table */             \
  X(ERR_NO_TOKEN, -7)           /* no card in the slot */                           \
  X(ERR_NO_ATTRIBUTE_FOUND, -8) /* attribute key not present */                     \
  X(ERR_GENERIC, -9)            /* other failure; also: the engine did not start */ \
  X(ERR_SERIALIZE, -10)         /* encoding or decoding of the card directory */    \
  X(ERR_STATE, -11)             /* object in the wrong state for the request */     \
  X(ERR_GENERATE, -12)          /* key-pair generation failed */                    \
  X(ERR_KEY_TYPE, -14)          /* neither public- nor private-key type */          \
  X(ERR_PADDING, -15)           /* block does not fit the key / bad padding */      \
  X(ERR_CREATE_DF, -16)         /* key folder could not be created */               \
  X(ERR_NOT_SUPPORTED, -18)     /* key type, usage or action not supported */       \
  X(ERR_FILE_EXISTS, -19)       /* public-key file already exists */                \
  X(ERR_KEY_USAGE, -20)         /* use not permitted, or unknown usage type */      \
  X(ERR_SAVE_THREAD, -21)       /* periodic directory save could not start */       \
  X(ERR_BUSY, -22)              /* background key generation still running */       \
  X(ERR_PIN_WRONG, -23)         /* PIN dialog / fingerprint: wrong PIN, no match */ \
  X(ERR_TIMEOUT, -24)           /* PIN dialog / fingerprint: time-out */            \
  X(ERR_CANCELLED, -25)         /* PIN dialog / fingerprint: cancelled */           \
  X(ERR_VERIFY_FAILED, -26)     /* PIN dialog / fingerprint: other failure */

#define VEXA_KERNEL_STATUS_ENUM(name, value) name = (value),

struct CObjDefs {
  enum t_ERRORS : int32_t { VEXA_KERNEL_STATUS_LIST(VEXA_KERNEL_STATUS_ENUM) };
};
struct CSlotsDefs {
  enum t_ERRORS : int32_t { VEXA_KERNEL_STATUS_LIST(VEXA_KERNEL_STATUS_ENUM) };
};
struct CSecurityObjsDefs {
  enum t_ERRORS : int32_t { VEXA_KERNEL_STATUS_LIST(VEXA_KERNEL_STATUS_ENUM) };
};

#undef VEXA_KERNEL_STATUS_ENUM

// Joins the codes of the lower layers into the engine's: the card access library
// returns 0, a PC/SC error or a positive card status word. v <= 0 stays as it is,
// a positive v becomes -v. The value is taken as 32 bits first, so a PC/SC code
// held in a 64-bit LONG (0x80100069, positive there) stays the 32-bit 0x80100069.
constexpr int32_t ToKernelStatus(long v) noexcept {
  const auto s = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(v)));
  return s <= 0 ? s : -s;
}

// The ERR_ name of a kernel code ("ERR_MEMORY"), "SW_6982" for a negated status
// word, "SCARD_0x80100069" for a PC/SC code, "OK" for 0: for trace lines.
VEXA_API const char* KernelStatusName(int32_t status) noexcept;
