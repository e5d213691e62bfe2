// CSlots: the exported slot interface. Every client makes its own instance; the
// slot table behind it is process-wide. The first LoadSlots of a process builds
// the table from the PC/SC reader list, opens a token in every reader that holds
// a card and watches every reader; card insertion and removal reach the table
// from the monitoring threads and wake get_SlotEvent waiters. The last
// UnloadSlots (and the engine's stop) removes all slots and stops monitoring.
//
// Results: 0 or a kernel status code (status.h) unless said otherwise. Byte
// strings cross the interface as wide byte buffers (one 16-bit unit per byte,
// the length counts units); results are system strings the caller frees with
// SysFreeString. Every method traces "IN  -> CSlots::<name>" and
// "OUT -> CSlots::<name>" and lets no exception out (ERR_MEMORY).
//
// Locks: see slot.h for the order. m_CS guards the slot table.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vexa/kernel/slot.h"
#include "vexa/kernel/status.h"
#include "vexa/platform/export.h"
#include "vexa/platform/wintypes.h"

class VEXA_API CSlots {
 public:
  // Find criteria (put_FindCriteria): every set bit must hold.
  enum tFIND : DWORD {
    FIND_BY_READER = 0x01,       // reader name equals the slot name (put_SlotName)
    FIND_BY_APPLICATION = 0x02,  // open token whose attach to the AID (put_AID) succeeds
    FIND_BY_TOKEN = 0x04,        // open token
    FIND_ANY_SLOT = 0x08,        // always
  };
  // Attach criteria (put_AttachCriteria).
  enum tATTACH : DWORD {
    ATTACH_BY_AID = 0x02,        // attach to the application named by put_AID
    ATTACH_BY_GDO = 0x04,        // use the directory identifier of put_GDO
    ATTACH_TOKEN_PRESENT = 0x08, // a token must be present
  };

  CSlots();
  ~CSlots();
  CSlots(const CSlots&) = delete;
  CSlots& operator=(const CSlots&) = delete;

  // The slot-table critical section: guards the table (look-up, insertion,
  // removal, walks). Taken before a slot's lock and the global slot mutex.
  static std::recursive_mutex& m_CS;

  // ---- the slot table ----
  // First call of the process: builds the table and watches the readers; later
  // calls only count. 0.
  long LoadSlots(int bWinLogon);
  // The call that finds the count at 1 removes all slots and stops monitoring;
  // every call with a count above 0 lowers it. 0.
  long UnloadSlots();
  // True while LoadSlots calls outnumber UnloadSlots calls.
  static BOOL AlreadyLoaded();

  // ---- criteria and the current slot ----
  long put_FindCriteria(DWORD dwCriteria);
  long get_FindCriteria(DWORD* pdwCriteria);
  long put_AttachCriteria(DWORD dwCriteria);
  long get_AttachCriteria(DWORD* pdwCriteria);
  // The reader name for FIND_BY_READER. ERR_INVALID_PARAMETER for none or a name
  // that is not text.
  long put_SlotName(BSTR bsName);
  long put_SlotHandle(DWORD hSlot);
  long get_SlotHandle(DWORD* phSlot);
  // AID, directory identifier and UID: ERR_INVALID_PARAMETER for none or a
  // length <= 0; ERR_MEMORY when a unit is no byte.
  long put_AID(const WCHAR* pAID, long lLen);
  long get_AID(BSTR* pbsAID, long* plLen);
  long put_GDO(const WCHAR* pGDO, long lLen);
  long put_UID(long lLen, const WCHAR* pUID);

  // The next slot after position *plIndex (0 = from the start) that meets the
  // find criteria: its position and handle (the handle becomes current).
  // -1 when no further slot matches; ERR_INVALID_CRITERIA.
  long Find(long* plIndex, DWORD* phSlot);
  // Checks the current slot against the attach criteria and attaches its token
  // to the application. ERR_INVALID_CRITERIA, -1 (stale handle), ERR_NO_TOKEN,
  // or the token's failure.
  long Attach();

  // ---- the current slot ----
  // Reader name. ERR_NO_SLOT_ATTAHED; ERR_NO_TOKEN for a stale handle.
  long get_SlotName(BSTR* pbsName);
  // Token state (CSlot::tTOKEN_STATE). ERR_NO_SLOT_ATTAHED; ERR_NO_TOKEN.
  long get_TokenState(DWORD* pdwState);
  // *pbPresent 1 when the token is open, else 0; 0 (flag unchanged for an
  // unknown slot).
  long IsTokenPresent(BOOL* pbPresent);
  // *pbSame 1 when *phSlot is still the slot's handle (and, with a UID taken by
  // get_UID, the card's UID is that one); a different current handle is written
  // to *phSlot. 0; outputs unchanged when no slot has that index.
  long IsSameToken(DWORD* phSlot, BOOL* pbSame);
  // The token's UID (7 bytes). ERR_NO_SLOT_ATTAHED, -1 (unknown slot),
  // ERR_NO_TOKEN, a card error.
  long get_UID(long* plLen, BSTR* pbsUID);
  // The token attribute store. 0 without effect when the slot is unknown;
  // ERR_NO_TOKEN; ERR_NO_ATTRIBUTE_FOUND.
  long GetAttribute(const WCHAR* pKey, long lKeyLen, BSTR* pbsValue, long* plValueLen);
  long SetAttribute(const WCHAR* pKey, long lKeyLen, const WCHAR* pValue, long lValueLen);
  // Card OS version (3,0) M3, (4,0) M4.0, (4,1) M4.01, (4,2) M4.01a, (4,10),
  // (4,20), (4,43) M4.2b, (4,40). ERR_NO_SLOT_ATTAHED, ERR_NO_TOKEN, ERR_GENERIC.
  long get_TokenVersion(long* plMajor, long* plMinor);
  // *plLen random bytes from the card (in: asked, out: received). ERR_NO_TOKEN,
  // ERR_INVALID_PARAMETER, ERR_GENERIC.
  long get_Random(BSTR* pbsRandom, long* plLen);

  // ---- token flags, label and free memory: need the card directory ----
  // ERR_NOT_SUPPORTED until the directory layer provides them.
  long GetInitTokenState(BOOL* pbInit);
  long SetInitTokenState();
  long Get_Flags(DWORD* pdwFlags);
  long Set_Flags(DWORD dwFlags);
  long Set_TokenFlags(DWORD dwFlags, BOOL bAdd);
  long get_GDOversion(DWORD hSlot, long* plVersion);
  long get_Label(DWORD hSlot, BSTR* pbsLabel, long* plLen);
  long set_Label(DWORD hSlot, const WCHAR* pLabel, long lLen);
  long get_FreeMemory(DWORD hSlot, DWORD* pdwBytes);

  // ---- queries by handle ----
  // With no current slot hSlot becomes current; a different handle gives
  // ERR_INVALID_PARAMETER. M4.20 family: kilobytes x 1000; otherwise *pdwBytes
  // unchanged. ERR_NO_SLOT_FOUND.
  long get_TotalMemory(DWORD hSlot, DWORD* pdwBytes);
  // 1 when the token's keys need a second authentication. ERR_NO_SLOT_FOUND.
  long IsSecAuthProtected(DWORD hSlot, BOOL* pbProtected);
  // 1 when the open token's ATR equals the bytes, else 0.
  long IsSameATR(DWORD hSlot, const WCHAR* pATR, long lLen);
  // *pbOn: the PIN-pad library check for "OMNIKEY CardMan 3821" readers, else 0.
  // 1 when the current slot exists, else 0.
  long IsPinPadOn(BOOL* pbOn);
  // *pbOn: the token's match-on-card capability. 0.
  long IsFingerEnabled(BOOL* pbOn);

  // ---- slot events ----
  // Waits for the next insertion or removal: *plIndex = the slot index of the
  // latest event. Blocking: no time limit. Non-blocking: at most 200 ms, then
  // *plIndex = -1 with result 0. -1 when the wait fails or the table is released
  // while waiting.
  long get_SlotEvent(long* plIndex, BOOL bBlocking);

  // ---- table operations for the other engine classes ----
  // The slot whose index is the handle's low byte and whose current handle is
  // hSlot, or null; with bLock the look-up holds m_CS.
  static std::shared_ptr<CSlot> FindSlot(DWORD hSlot, BOOL bLock = TRUE);
  // Adds a slot under m_CS. 0, or ERR_INVALID_PARAMETER when its index is taken.
  static long AddSlot(std::shared_ptr<CSlot> slot);
  // Removes the slot with that handle. 0 or ERR_NO_SLOT_FOUND.
  static long RemoveSlot(DWORD hSlot);
  // Removes every slot (clearing its shared directory block) and restarts the
  // index counter. The objects of the slots join with the object collections.
  static long RemoveAllSlots();

 private:
  // Looks up the current slot: ERR_NO_SLOT_ATTAHED without a current handle.
  long CurrentSlot(std::shared_ptr<CSlot>& slot) const;
  // The handle rule of the by-handle queries.
  long AdoptHandle(DWORD hSlot);

  DWORD m_dwSpare = 0;                // unused
  std::string m_szSlotName;           // reader name for FIND_BY_READER; set by Attach
  DWORD m_dwFindCriteria = 0;         // tFIND bits
  DWORD m_dwAttachCriteria = 0;       // tATTACH bits
  std::vector<BYTE> m_pbsGDO;         // directory identifier for Attach
  std::vector<BYTE> m_pbsAID;         // AID for Attach and Find
  std::vector<BYTE> m_pbsUID;         // UID given by put_UID
  std::vector<BYTE> m_pbsOldUID;      // UID remembered by get_UID for IsSameToken
  DWORD m_hSlot = 0;                  // current slot handle (0 = none)
  DWORD m_dwTokenState = 0;           // state seen by the last Attach or state query
};
