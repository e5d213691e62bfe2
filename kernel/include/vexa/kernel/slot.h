// CSlot: one card reader in the process-wide slot table, with the token of the
// card in it.
//
// Slot handle: the slot index (1..255) in the low 8 bits, the generation above.
// The generation grows by one each time the slot's token is closed (the card
// left), so a handle taken before a removal stops working.
//
// Locks, in the order they are taken (never the other way round):
//   1. CSlots::m_CS          - the slot table (look-up, insertion, removal, walks)
//   2. CSlot::Lock()         - this slot's token work and its event handling
//   3. the global slot mutex - opening, closing, attaching, state changes and
//                              state queries of every slot
//   4. the card transaction  - LockSC / UnlockSC, innermost
// All three engine locks are recursive.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vexa/kernel/token.h"
#include "vexa/platform/export.h"
#include "vexa/platform/wintypes.h"

class VEXA_API CSlot {
 public:
  // Token states (bits: 8 is the open token, the only state in which the token
  // counts as present).
  enum tTOKEN_STATE : DWORD {
    TOKEN_INSERTED = 1,   // a card was inserted; the token is being opened
    TOKEN_REMOVED = 4,    // the card was removed
    TOKEN_INITIAL = 6,    // created, no card seen yet
    TOKEN_OPEN = 8,       // the token is open
    TOKEN_NO_READER = 16, // the reader disappeared
  };

  static constexpr DWORD MakeHandle(BYTE index, DWORD generation) noexcept {
    return static_cast<DWORD>(index) | (generation << 8);
  }
  static constexpr BYTE IndexOf(DWORD handle) noexcept { return static_cast<BYTE>(handle & 0xFF); }

  CSlot(BYTE index, std::string readerName);
  // Closes the token.
  virtual ~CSlot();
  CSlot(const CSlot&) = delete;
  CSlot& operator=(const CSlot&) = delete;

  // Opens the token under the global slot mutex, unless it is open already:
  // connect, card OS version, application; starts card monitoring for the
  // reader once. 0 (state 8), or the failure (SCARD_W_REMOVED_CARD: no card).
  long OpenToken();
  // Closes the token under the global slot mutex: new generation and handle,
  // the open bit cleared, the UID forgotten.
  long CloseToken();
  // Applies a monitoring event's state (1, 4 or 16) and signals slot-event
  // waiters. Called with this slot's lock held. Returns true when the reader
  // went away (state 16).
  bool StateChange(DWORD newState);

  // The token state, read under the global slot mutex.
  DWORD TokenState() const;
  // True when the token is open (state 8).
  bool TokenOpen() const;
  // The current handle (index | generation << 8).
  DWORD SlotHandle() const;
  BYTE Index() const noexcept { return m_bIndex; }
  const std::string& SlotName() const noexcept { return m_szSlotName; }

  // This slot's lock: held around token work (UID, attributes, random bytes,
  // attach) and around the handling of a monitoring event.
  std::recursive_mutex& Lock() const noexcept { return m_Lock; }

  // The open token, or null. Use it only with Lock() held.
  CToken* Token() noexcept { return m_pToken.get(); }
  // The token when it is open (state 8), else null; both read under the global
  // slot mutex. Use it only with Lock() held.
  CToken* OpenedToken();
  // The UID read when the token was opened (empty when unknown). Lock() held.
  const std::vector<BYTE>& UID() const noexcept { return m_pbsUID; }
  void SetUID(std::vector<BYTE> uid) { m_pbsUID = std::move(uid); }
  bool IsFresh() const noexcept { return m_bFresh; }

 private:
  long OpenTokenLocked();
  long CloseTokenLocked();
  // The card left: clears the token's shared directory block, restarts the
  // refresh mark and closes the token (global slot mutex held).
  void DropTokenLocked();

  std::string m_szSlotName;           // reader name
  DWORD m_hSlot;                      // current handle (global slot mutex)
  std::vector<BYTE> m_pbsUID;         // the token's UID, empty until read (slot lock)
  std::unique_ptr<CToken> m_pToken;   // the token, absent while no card is open (global mutex)
  mutable std::recursive_mutex m_Lock;  // this slot's lock, see above
  bool m_bFresh = true;               // set at creation, cleared by the first state change
  DWORD m_dwGeneration = 0;           // grows when the token is closed
  DWORD m_dwTokenState = TOKEN_INITIAL;  // token state (global mutex)
  BYTE m_bIndex;                      // index in the table (low byte of the handle)
  bool m_bMonitoring = false;         // card monitoring was started for the reader
};
