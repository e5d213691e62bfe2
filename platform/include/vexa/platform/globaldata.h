// CGlobalData: a named block of memory that the processes of one user share,
// used by the token to hand a card's directory bytes to the other processes
// that use the same reader.
//
// Layout of the block: a 32-bit length n (0 = empty), then n bytes of payload;
// the largest payload is the block size - 4.
//
// The block lives while any process holds it (Create without a matching
// Close / destruction): its contents outlive the process that wrote them as long
// as another process holds the block. When the last holder closes it the name
// is removed, so the next Create starts with an empty block ("not exists"); a
// block left behind by processes that all died is treated the same way.
//
// The block is private to the user: it is created with mode 0600 under a name
// that carries the user id, and an existing block is used only when it belongs
// to this user and nobody else may read or write it.
//
// There is no lock of its own: the token uses it under its slot lock, and
// processes sharing a reader are kept apart by the card transaction. Read never
// reads past the block, whatever length another process stored.
#pragma once

#include <string>
#include <vector>

#include "vexa/platform/shared_segment.h"
#include "vexa/platform/wintypes.h"

class CGlobalData {
 public:
  // All members zero. Traces "\tCGlobalData::CGlobalData\n".
  CGlobalData();
  // Closes the block.
  ~CGlobalData();
  CGlobalData(const CGlobalData&) = delete;
  CGlobalData& operator=(const CGlobalData&) = delete;

  // Creates the block named name (e.g. "API24_" + reader name) of dwSize bytes,
  // or opens it when another process of this user holds it ("already exists\n"
  // is traced; a new block traces "not exists\n" and is empty).
  // 0 created or opened; -1 the view could not be mapped; -3 the block could not
  // be created or opened (also: no name, a size below 5 bytes, or a block of
  // that name that is not this user's own).
  int Create(const char* name, DWORD dwSize);

  // Stores n, then the n bytes. 0; -1 not created; -2 the payload does not fit
  // (n > size - 4) or pbData is null with n > 0: nothing is written.
  int Write(const BYTE* pbData, DWORD n);

  // Copies the payload out. pdwLen: on entry the capacity of pbBuffer (ignored
  // when pbBuffer is null); on return the stored length. With pbBuffer null only
  // the length is returned. 0; -1 not created, empty, pdwLen null, or a stored
  // length that does not fit the block; -2 pbBuffer is smaller than the payload
  // (*pdwLen then holds the length needed, nothing is copied).
  int Read(BYTE* pbBuffer, DWORD* pdwLen);
  // As above, into a vector sized to the payload.
  int Read(std::vector<BYTE>& data);

  // Zeroes the whole block. 0 when it cleared a non-empty block; -1 when it was
  // empty or not created.
  int Reset();

  // True when the stored length is 0 (or the block is not created).
  bool IsEmpty() const;

  // Unmaps the block; the last holder removes its name. Safe to call twice.
  void Close();

  // True when Create found the block held by another process.
  bool Existed() const { return m_bExisted; }
  // The name of the shared-memory object (for traces and tests).
  const std::string& ObjectName() const { return m_strObjectName; }

  // The size of the block as mapped (0 when not created).
  DWORD Size() const { return m_dwSize; }

 private:
  DWORD StoredLength() const;

  DWORD m_dwSize;                         // block size in bytes
  BOOL m_bCreated;                        // Create succeeded and Close not yet called
  vexa::detail::SharedSegment m_hMapFile; // the shared-memory object and its mapping
  BYTE* m_pView;                          // the mapped block (owned by m_hMapFile)
  std::string m_strFileName;              // the name given to Create

  bool m_bExisted = false;
  std::string m_strObjectName;
};
