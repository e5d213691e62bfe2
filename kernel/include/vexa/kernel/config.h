// The engine's process-wide configuration, read once by the start hook from
// HKEY_LOCAL_MACHINE "Software\VEXA_API_10" and never changed afterwards.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "vexa/platform/export.h"
#include "vexa/platform/wintypes.h"

namespace vexa::kernel {

struct KernelConfig {
  std::vector<BYTE> aid;          // "AID": DF name of the card application (1..255 bytes)
  DWORD slotTimeOutSec = 5;       // "TokenTimeOut" (trace only)
  DWORD serializeTimerMs = 15000; // "SerializeGDO" x 1000: delay before a changed directory is saved
  bool compressCerts = false;     // "Compress Certs": certificates stored compressed
  bool compressData = false;      // "Compress Data" (trace only)
  bool softKeyGen = false;        // "SoftKeyGen": key pairs generated in software
  bool citrixTS = false;          // "CitrixTS": terminal-server mode
  bool findCertByID = false;      // "FindCertByID": find by label compares CKA_ID
  DWORD gdoLog = 0;               // "GDO_log": nonzero writes each encoded directory to a file
};

// Reads the configuration, tracing each value at level 4. 0, or -1 when "AID"
// cannot be read or is unusable; cause then says why and names the registry file.
VEXA_API int ReadKernelConfig(KernelConfig& config, std::string& cause);

// The configuration the start hook read (defaults and an empty AID before that).
VEXA_API const KernelConfig& Config() noexcept;
// Start hook and tests only: installs the configuration.
VEXA_API void SetConfig(const KernelConfig& config);

VEXA_API std::span<const BYTE> DefaultAID() noexcept;
VEXA_API DWORD SlotTimeOutSec() noexcept;
VEXA_API DWORD SerializeTimerMs() noexcept;
VEXA_API bool CompressCerts() noexcept;
VEXA_API bool CompressData() noexcept;
VEXA_API bool SoftKeyGen() noexcept;
VEXA_API bool CitrixTS() noexcept;
VEXA_API bool FindCertByID() noexcept;
VEXA_API DWORD GdoLog() noexcept;

// The process-wide refresh mark: raised by each directory save of the process,
// set to 0 on card removal, read by the token's attach. The start hook sets it
// to 1 when it is 0.
VEXA_API long RefreshMark() noexcept;
VEXA_API void SetRefreshMark(long mark) noexcept;
VEXA_API long RaiseRefreshMark() noexcept;  // returns the new mark

// The path of the loaded engine library ("" before start).
VEXA_API std::string ModulePath();

}  // namespace vexa::kernel
