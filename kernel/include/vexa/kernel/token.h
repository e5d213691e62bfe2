// CToken: the engine's model of one card in one reader. A slot creates it when
// a card is seen and deletes it when the card goes. It owns the card command
// object, connects to the card, keeps the card OS version for the connection
// and selects the card application.
//
// Results are 0, a kernel code, or a card / PC/SC code passed through
// ToKernelStatus (a status word arrives negated, a PC/SC error unchanged).
// A token is used under its slot's lock; multi-command card work runs inside a
// card transaction (LockSC / UnlockSC) so that other processes do not
// interleave commands.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "vexa/card/tavrix_m410.h"
#include "vexa/platform/export.h"
#include "vexa/platform/globaldata.h"
#include "vexa/platform/wintypes.h"

class VEXA_API CToken {
 public:
  // Card OS version codes kept by the version checks (0 = not yet known).
  enum tVERSION : int {
    V_UNKNOWN = 0,
    V_M40 = 1,
    V_M401 = 2,
    V_M401A = 3,
    V_M410 = 10,
    V_M420 = 20,
    V_M42B = 43,
    V_M440 = 64,
  };
  // Size of the per-reader shared block that carries the directory bytes.
  static constexpr DWORD kSharedBlockSize = 6000;

  // Creates the card object and the shared block "API24_" + reader name.
  CToken(DWORD hSlot, std::string readerName);
  // Disconnects when connected and releases the context.
  virtual ~CToken();
  CToken(const CToken&) = delete;
  CToken& operator=(const CToken&) = delete;

  // Establishes the context (-1 when none can be had) and connects to the reader
  // in shared mode. SCARD_W_REMOVED_CARD means the reader is empty.
  long OpenToken();
  // Drops the application records and the attribute store, disconnects and
  // releases the context. Directory write-back joins with the directory layer;
  // with none loaded there is nothing to write. uid: the UID the slot read.
  long CloseToken(std::span<const BYTE> uid, BOOL bFlag);

  // Finds the card OS version (the checks in the order M3, M4.0 ... M4.40);
  // ERR_GENERIC for a card that answers none of them or a failing query.
  long DetectVersion();
  // Remembers aid as the current AID (empty: the configured "AID") and selects
  // it by DF name.
  long SelectAID(std::span<const BYTE> aid = {});
  // Attaches to the application: selects the AID. A directory path needs the
  // directory layer: ERR_NOT_SUPPORTED until it is there.
  long AttachAID(std::span<const BYTE> aid, std::span<const BYTE> gdoPath);
  // The 7-byte card identifier (05 and six serial bytes).
  long GetUID(std::vector<BYTE>& uid);
  // 1 when the card's ATR has that length and those bytes, else 0.
  long IsSameATR(std::span<const BYTE> atr);
  // len random bytes from the card (GET CHALLENGE); ERR_GENERIC on failure.
  long GetRandom(BYTE* pbBuf, DWORD len);
  // M4.20 family memory size: kilobytes (32 or 64) into *pdwKB; ERR_GENERIC.
  long GetMemoryKB(DWORD* pdwKB);

  // The token attribute store: ordered keys, each with one value.
  // ERR_NO_ATTRIBUTE_FOUND for an absent key (or an empty key / value on set).
  long GetTokenAttribute(std::span<const BYTE> key, std::vector<BYTE>& value) const;
  long SetTokenAttribute(std::span<const BYTE> key, std::span<const BYTE> value);

  // Version checks: *pbIs 1 when the card has that version, else 0. A known
  // version is answered from the cache (IsM420 also says yes for M4.2b); an
  // unknown one asks the card and caches a match (never M3). A failing query:
  // ERR_GENERIC.
  long IsM3(BOOL* pbIs);
  long IsM4(BOOL* pbIs);
  long IsM401(BOOL* pbIs);
  long IsM401a(BOOL* pbIs);
  long IsM410(BOOL* pbIs);
  long IsM420(BOOL* pbIs);
  long IsM42b(BOOL* pbIs);
  long IsM440(BOOL* pbIs);
  // (major, minor) of the card OS, asked once and kept; ERR_GENERIC.
  long GetTokenVersion(long* plMajor, long* plMinor);

  bool IsConnected() const noexcept { return m_bConnected; }
  int TavrixVersion() const noexcept { return m_nTavrixVersion; }
  const std::string& ReaderName() const noexcept { return m_szReader; }
  DWORD SlotHandle() const noexcept { return m_hSlot; }
  // The secondary-authentication PIN reference (0 = none), set while the PIN
  // objects are loaded.
  BYTE SecAuthRef() const noexcept { return m_bSecAuthRef; }
  void SetSecAuthRef(BYTE ref) noexcept { m_bSecAuthRef = ref; }
  // The card's match-on-card capability.
  bool MocEnabled() const noexcept { return m_bMoc; }
  void SetMocEnabled(bool on) noexcept { m_bMoc = on; }
  // The card command object and the shared directory block.
  CTavrixM410& Card() noexcept { return *m_pCard; }
  CGlobalData& SharedData() noexcept { return m_shData; }
  const std::vector<BYTE>& CurrentAID() const noexcept { return m_CurrentAID; }

 private:
  using CardCheck = LONG (CCardSM::*)();
  long Check(int code, CardCheck check, bool cache, BOOL* pbIs);

  long m_lMajor = -1;                     // cached card OS version pair (-1: not asked)
  long m_lMinor = -1;
  CGlobalData m_shData;                   // "API24_" + reader name: directory bytes for other processes
  int m_nTavrixVersion = V_UNKNOWN;       // version code, 0 until a check matched
  BYTE m_bSecAuthRef = 0;                 // secondary-authentication PIN reference
  std::string m_szReader;                 // reader name
  bool m_bConnected = false;              // OpenToken connected
  bool m_bMoc = false;                    // match-on-card card
  DWORD m_hSlot;                          // the slot handle this token was made for
  std::unique_ptr<CTavrixM410> m_pCard;   // the card command object
  std::vector<BYTE> m_CurrentAID;         // current AID (empty until first selected)
  std::vector<BYTE> m_PreviousAID;        // AID selected before the current one
  std::vector<std::pair<std::vector<BYTE>, std::vector<BYTE>>> m_Attributes;  // token attribute store
};
