// One object list of the card directory: AID?, path?, SET of entries.
#include "composite.h"
#include "entry_tags.h"
#include "gdo_internal.h"
#include "vexa/asn1/gdo.h"

using namespace vexa_asn1_detail;

namespace {
using F = CGDOObjects;
constexpr FieldSpec kSpecs[F::fCount] = {
    {T_PRINTABLE, false},  // AID
    {T_OCTETS, false},     // path
    {T_ENTRIES, false},    // the entries (a list read without it is empty)
};
constexpr DWORD ORDER = ASN1_ERR_ORDER;
constexpr DWORD ABSENT = ASN1_ERR_WRONG_TAG;

void Release(std::vector<BYTE>& v) noexcept { std::vector<BYTE>().swap(v); }
}  // namespace

namespace vexa_asn1_detail {
DWORD ValidateObjectList(Bytes element) noexcept {
  CAsn1Field scratch[F::fCount];
  return ValidateElement(element, T_LIST, scratch, kSpecs);
}
}  // namespace vexa_asn1_detail

CGDOObjects::CGDOObjects() noexcept { m_bTag = TAG_SEQUENCE; }

CGDOObjects::CGDOObjects(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SEQUENCE;
  ParseContentInto(*this, m_Fields, kSpecs, pbContent, dwLength);
}

CGDOObjects::CGDOObjects(const CGDOObjects& other) noexcept : CSequence(other), m_Fields(other.m_Fields) {
  try {
    m_pbPendingAID = other.m_pbPendingAID;
    m_pbPendingPath = other.m_pbPendingPath;
    m_pbPendingSet = other.m_pbPendingSet;
    m_bHasAID = other.m_bHasAID;
    m_bHasPath = other.m_bHasPath;
  } catch (...) {
    // No memory: an empty, unusable list rather than half a copy.
    Reset();
    m_Fields = {};
    Release(m_pbPendingAID);
    Release(m_pbPendingPath);
    Release(m_pbPendingSet);
  }
}

CGDOObjects& CGDOObjects::operator=(const CGDOObjects& other) noexcept {
  if (this == &other) return *this;
  try {
    std::vector<BYTE> aid(other.m_pbPendingAID), path(other.m_pbPendingPath), set(other.m_pbPendingSet);
    Access::CopyBase(*this, other);
    m_Fields = other.m_Fields;
    m_pbPendingAID.swap(aid);
    m_pbPendingPath.swap(path);
    m_pbPendingSet.swap(set);
    m_bHasAID = other.m_bHasAID;
    m_bHasPath = other.m_bHasPath;
  } catch (...) {
  }
  return *this;
}

DWORD CGDOObjects::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  DWORD r = ParseElementInto(*this, m_Fields, kSpecs, pbData, dwSize);
  if (r == 0) {
    Release(m_pbPendingAID);
    Release(m_pbPendingPath);
    Release(m_pbPendingSet);
    m_bHasAID = m_bHasPath = 0;
  }
  return r;
}

DWORD CGDOObjects::SetAID(const BYTE* pbAID, BYTE bLength) noexcept {
  if (!ValidInput(pbAID, bLength)) return ASN1_ERR_INVALID_INPUT;
  if (m_bComplete || m_bHasAID) return ORDER;
  return Guard([&] {
    m_pbPendingAID.assign(pbAID, pbAID + bLength);
    m_bHasAID = 1;
    return DWORD{0};
  });
}

DWORD CGDOObjects::SetPath(const BYTE* pbPath, BYTE bLength) noexcept {
  if (!ValidInput(pbPath, bLength)) return ASN1_ERR_INVALID_INPUT;
  if (m_bComplete || m_bHasPath) return ORDER;
  return Guard([&] {
    m_pbPendingPath.assign(pbPath, pbPath + bLength);
    m_bHasPath = 1;
    return DWORD{0};
  });
}

DWORD CGDOObjects::SetObject(const CAsn1Obj* pEntry, int bClose) noexcept {
  if (m_bComplete) return ORDER;
  if (pEntry != nullptr && !pEntry->IsComplete()) return ASN1_ERR_INCOMPLETE;
  return Guard([&] {
    if (pEntry != nullptr) {
      DWORD size = 0;
      if (DWORD r = pEntry->EncodeObjectToData(nullptr, &size)) return r;
      std::size_t at = m_pbPendingSet.size();
      BYTE* p = Extend(m_pbPendingSet, size);
      if (DWORD r = pEntry->EncodeObjectToData(p, &size)) {
        m_pbPendingSet.resize(at);
        return r;
      }
    }
    if (!bClose) return DWORD{0};
    // Close: the list's content is AID, path (when set) and the SET.
    std::vector<BYTE> content;
    content.reserve(m_pbPendingAID.size() + m_pbPendingPath.size() + m_pbPendingSet.size() + 24);
    if (m_bHasAID) AppendElement(content, T_PRINTABLE, m_pbPendingAID);
    if (m_bHasPath) AppendElement(content, T_OCTETS, m_pbPendingPath);
    AppendElement(content, T_ENTRIES, m_pbPendingSet);
    m_pbValue.swap(content);
    Access::SyncLength(*this);
    m_Fields = {};
    ParseFields(Bytes(m_pbValue), m_Fields, kSpecs);
    m_bComplete = 1;
    Release(m_pbPendingAID);
    Release(m_pbPendingPath);
    Release(m_pbPendingSet);
    m_bHasAID = m_bHasPath = 0;
    return DWORD{0};
  });
}

DWORD CGDOObjects::GetAID(BYTE* pb, DWORD* pcb) const noexcept {
  if (!m_bComplete && m_bHasAID) return CopyOut(m_pbPendingAID, pb, pcb);
  return GetBytesField(*this, m_Fields[fAID], pb, pcb, ABSENT);
}

DWORD CGDOObjects::GetPath(BYTE* pb, DWORD* pcb) const noexcept {
  if (!m_bComplete && m_bHasPath) return CopyOut(m_pbPendingPath, pb, pcb);
  return GetBytesField(*this, m_Fields[fPath], pb, pcb, ABSENT);
}

DWORD CGDOObjects::GetObjectA(CAsn1Obj* pArray, DWORD* pdwCount) const noexcept {
  if (pdwCount == nullptr) return ASN1_ERR_INVALID_INPUT;
  Bytes entries = m_bComplete ? FieldContent(*this, m_Fields[fSet]) : Bytes(m_pbPendingSet);
  // First pass: count and check every element before anything is copied.
  DWORD count = 0;
  for (std::size_t pos = 0; pos < entries.size();) {
    Bytes rest = entries.subspan(pos);
    if (rest[0] != TAG_SEQUENCE) return ASN1_ERR_WRONG_TAG;
    Element e;
    if (DWORD r = ReadHeader(rest, e)) return r;
    pos += e.size;
    ++count;
  }
  if (pArray == nullptr) {
    *pdwCount = count;
    return 0;
  }
  if (*pdwCount < count) {
    *pdwCount = count;
    return ASN1_ERR_MEMORY;
  }
  return Guard([&] {
    std::size_t pos = 0;
    for (DWORD i = 0; i < count; ++i) {
      Element e;
      ReadHeader(entries.subspan(pos), e);
      Access::SetTagValue(pArray[i], TAG_SEQUENCE, entries.subspan(pos + e.content, e.length));
      pos += e.size;
    }
    *pdwCount = count;
    return DWORD{0};
  });
}

DWORD CGDOObjects::WriteLog(const char*) const noexcept { return 0; }
