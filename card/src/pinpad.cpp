// PIN-pad detection and PIN-pad verification through the PIN-pad library,
// loaded only for the length of each call.
#include "vexa/card/pinpad.h"

#include <array>
#include <cstring>
#include <vector>

#include "card_trace.h"
#include "shared_library.h"
#include "vexa/card/card_session.h"
#include "vexa/platform/registry.h"

namespace {

// The library file: HKLM "PinPadLibrary" when present and not empty, else the default.
std::string PinPadLibraryPath() {
  std::vector<BYTE> data;
  DWORD type = REG_NONE;
  if (RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, VEXA_PINPAD_REG_VALUE, data, &type) == 0 &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::string path(data.begin(), data.end());
    path.resize(strnlen(path.c_str(), path.size()));
    if (!path.empty()) return path;
  }
  return VEXA_PINPAD_LIBRARY;
}

// Request block of SCardSPEVerifyPin: the VERIFY header 00 20 00 R (R = PIN
// reference with bit 0x80) inside the block layout the PIN-pad library reads;
// the bytes after the first eleven are zero.
std::array<BYTE, 32> PinPadRequest(BYTE bPinRef) {
  std::array<BYTE, 32> req{};
  const BYTE head[] = {0x52, 0x06, 0x01, 0x06, 0x00, 0x20, 0x00,
                       static_cast<BYTE>(bPinRef | 0x80), 0x80, 0x01, 0x20};
  std::copy(std::begin(head), std::end(head), req.begin());
  return req;
}

}  // namespace

int CCardSession::isPinPadEnabled() noexcept {
  try {
    vexa::card::SharedLibrary lib(PinPadLibraryPath());
    return lib.Loaded() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

LONG CCardSession::PinPadVerify(BYTE bPinRef) noexcept {
  LONG rc = -1;
  try {
    vexa::card::TraceIn("CCardSession::PinPadVerify");
    const std::string path = PinPadLibraryPath();
    vexa::card::SharedLibrary lib(path);
    auto* verify = reinterpret_cast<PFN_SCardSPEVerifyPin>(lib.Symbol(VEXA_PINPAD_VERIFY_FUNCTION));
    if (!lib.Loaded() || verify == nullptr) {
      Trace(1, "\tPIN-pad library %s %s\n", path.c_str(),
            lib.Loaded() ? "has no " VEXA_PINPAD_VERIFY_FUNCTION : "cannot be loaded");
      rc = -1;
    } else if (m_hCard == 0) {
      rc = SCARD_E_INVALID_HANDLE;
    } else {
      const std::array<BYTE, 32> req = PinPadRequest(bPinRef);
      std::array<BYTE, 2> sw{};
      rc = verify(m_hCard, req.data(), static_cast<DWORD>(req.size()), sw.data(),
                  static_cast<DWORD>(sw.size()));
      if (rc == 0) {
        const LONG word = (LONG{sw[0]} << 8) | sw[1];
        rc = word == 0x9000 ? 0 : word;
      }
    }
  } catch (...) {
    rc = SCARD_E_NO_MEMORY;
  }
  vexa::card::TraceOut("CCardSession::PinPadVerify", rc);
  return rc;
}
