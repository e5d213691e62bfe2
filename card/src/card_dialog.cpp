// Reader selection: the reader whose card is one of the card types this
// provider serves. No window is shown while such a card is in a reader (as the
// minimal-interface selection does); when none is, no reader is chosen.
#include <PCSC/winscard.h>

#include <algorithm>
#include <cstring>

#include "card_trace.h"
#include "card_types.h"
#include "reader_list.h"
#include "vexa/card/card_session.h"
#include "vexa/card/pcsc_table.h"


using vexa::card::Pcsc;

namespace {

thread_local LONG t_lastDialogError = 0;

// Releases a context when it goes.
class ScopedContext {
 public:
  ScopedContext() = default;
  ~ScopedContext() {
    if (m_h != 0) Pcsc().ReleaseContext(m_h);
  }
  ScopedContext(const ScopedContext&) = delete;
  ScopedContext& operator=(const ScopedContext&) = delete;
  LONG Establish() { return Pcsc().EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_h); }
  SCARDCONTEXT get() const { return m_h; }

 private:
  SCARDCONTEXT m_h = 0;
};

// The first reader holding a card of one of the offered types; every card
// qualifies when no type is offered. 0 or the error.
LONG ChooseReader(std::string& chosen) {
  ScopedContext ctx;
  LONG rc = ctx.Establish();
  if (rc != SCARD_S_SUCCESS) return rc;

  std::vector<vexa::card::CardType> offered;
  for (vexa::card::CardType& t : vexa::card::RegisteredCardTypes()) {
    if (t.provider == vexa::card::kOwnProvider) offered.push_back(std::move(t));
  }
  std::vector<std::string> readers;
  rc = vexa::card::ListReaderNames(ctx.get(), readers);
  if (rc != SCARD_S_SUCCESS) return SCARD_E_NO_SMARTCARD;
  for (const std::string& reader : readers) {
    SCARD_READERSTATE rs{};
    rs.szReader = reader.c_str();
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    if (Pcsc().GetStatusChange(ctx.get(), 0, &rs, 1) != SCARD_S_SUCCESS) continue;
    if ((rs.dwEventState & SCARD_STATE_PRESENT) == 0) continue;
    const std::span<const BYTE> atr(rs.rgbAtr, std::min<DWORD>(rs.cbAtr, sizeof rs.rgbAtr));
    const bool fits = offered.empty() ||
                      std::any_of(offered.begin(), offered.end(),
                                  [&](const vexa::card::CardType& t) { return vexa::card::AtrMatches(t, atr); });
    if (fits) {
      chosen = reader;
      return SCARD_S_SUCCESS;
    }
  }
  return SCARD_E_NO_SMARTCARD;
}

}  // namespace

int CCardSession::SmartCardDialog(std::string& reader, BOOL bSilent) noexcept {
  LONG rc = SCARD_E_NO_SMARTCARD;
  try {
    vexa::card::TraceIn("CCardSession::SmartCardDialog");
    reader.clear();
    rc = ChooseReader(reader);
    Trace(1, "\t%s selection: %s\n", bSilent ? "silent" : "minimal",
          rc == SCARD_S_SUCCESS ? reader.c_str() : "no reader chosen");
  } catch (...) {
    rc = SCARD_E_NO_SMARTCARD;
  }
  if (rc != SCARD_S_SUCCESS) reader.clear();
  t_lastDialogError = rc;
  vexa::card::TraceOut("CCardSession::SmartCardDialog", rc);
  return rc == SCARD_S_SUCCESS ? 1 : 0;
}

int CCardSession::SmartCardDialog(char* szReader, DWORD* pcchReader, BOOL bSilent) noexcept {
  try {
    std::string reader;
    if (pcchReader == nullptr) {
      t_lastDialogError = SCARD_E_INVALID_PARAMETER;
      return 0;
    }
    if (SmartCardDialog(reader, bSilent) == 0) {
      *pcchReader = 0;
      return 0;
    }
    const DWORD need = static_cast<DWORD>(reader.size() + 1);
    if (szReader == nullptr || *pcchReader < need) {
      *pcchReader = need;
      t_lastDialogError = SCARD_E_INSUFFICIENT_BUFFER;
      return 0;
    }
    std::memcpy(szReader, reader.c_str(), need);
    *pcchReader = need;
    return 1;
  } catch (...) {
    t_lastDialogError = SCARD_E_NO_SMARTCARD;
    return 0;
  }
}

LONG CCardSession::GetLastDialogError() noexcept { return t_lastDialogError; }
