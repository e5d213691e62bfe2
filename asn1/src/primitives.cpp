// The typed elements: each sets its tag, and assignment between them copies
// only from a source that carries the same tag.
#include "codec.h"

using namespace vexa_asn1_detail;

namespace {
constexpr BYTE TAG_BOOLEAN = 0x01;
constexpr BYTE TAG_INTEGER = 0x02;
constexpr BYTE TAG_BIT_STRING = 0x03;
constexpr BYTE TAG_OCTET_STRING = 0x04;
constexpr BYTE TAG_OID = 0x06;
constexpr BYTE TAG_SEQUENCE_BARE = 0x10;
constexpr BYTE TAG_SET_BARE = 0x11;
constexpr BYTE TAG_NUMERIC_STRING = 0x12;
constexpr BYTE TAG_PRINTABLE_STRING = 0x13;
constexpr BYTE TRUE_OCTET = 0xFF;
constexpr BYTE FALSE_OCTET = 0x00;
}  // namespace

#define VEXA_ASN1_SIMPLE_IMPL(Name, Tag)                                                 \
  Name::Name() noexcept { m_bTag = Tag; }                                                \
  Name::Name(const BYTE* pbData, DWORD dwLength) noexcept : CAsn1Obj(pbData, dwLength) { \
    m_bTag = Tag;                                                                        \
  }                                                                                      \
  Name& Name::operator=(const Name& other) noexcept {                                    \
    AssignSameTag(other);                                                                \
    return *this;                                                                        \
  }                                                                                      \
  Name& Name::operator=(const CAsn1Obj& other) noexcept {                                \
    AssignSameTag(other);                                                                \
    return *this;                                                                        \
  }

VEXA_ASN1_SIMPLE_IMPL(CInteger, TAG_INTEGER)
VEXA_ASN1_SIMPLE_IMPL(CBitString, TAG_BIT_STRING)
VEXA_ASN1_SIMPLE_IMPL(COctetString, TAG_OCTET_STRING)
VEXA_ASN1_SIMPLE_IMPL(COid, TAG_OID)
VEXA_ASN1_SIMPLE_IMPL(CNumericString, TAG_NUMERIC_STRING)
VEXA_ASN1_SIMPLE_IMPL(CPrintableString, TAG_PRINTABLE_STRING)

#undef VEXA_ASN1_SIMPLE_IMPL

// ---- CBoolean

CBoolean::CBoolean() noexcept { m_bTag = TAG_BOOLEAN; }

CBoolean::CBoolean(int bFlag) noexcept {
  m_bTag = TAG_BOOLEAN;
  SetValue(bFlag);
}

CBoolean::CBoolean(const BYTE* pbData, DWORD dwLength) noexcept {
  m_bTag = TAG_BOOLEAN;
  // Only the first octet counts; a longer input is read the same way.
  if (pbData != nullptr && dwLength != 0) SetValue(pbData[0] != FALSE_OCTET ? 1 : 0);
}

CBoolean& CBoolean::operator=(const CBoolean& other) noexcept {
  AssignSameTag(other);
  return *this;
}

CBoolean& CBoolean::operator=(const CAsn1Obj& other) noexcept {
  AssignSameTag(other);
  return *this;
}

DWORD CBoolean::SetValue(int bFlag) noexcept {
  return Guard([&] {
    const BYTE octet = bFlag ? TRUE_OCTET : FALSE_OCTET;
    Access::Replace(*this, Bytes(&octet, 1));
    m_bComplete = 1;
    return DWORD{0};
  });
}

// ---- CNull

CNull::CNull() noexcept {
  m_bTag = TAG_NULL;
  const BYTE zero = 0;
  Guard([&] {
    Access::Replace(*this, Bytes(&zero, 1));
    m_bComplete = 1;
    return DWORD{0};
  });
}

CNull::CNull(const BYTE* pbData, DWORD dwLength) noexcept : CAsn1Obj(pbData, dwLength) { m_bTag = TAG_NULL; }

CNull& CNull::operator=(const CNull& other) noexcept {
  AssignSameTag(other);
  return *this;
}

CNull& CNull::operator=(const CAsn1Obj& other) noexcept {
  AssignSameTag(other);
  return *this;
}

// ---- CSequence / CSet

CSequence::CSequence() noexcept { m_bTag = TAG_SEQUENCE_BARE; }

CSequence::CSequence(const BYTE* pbContent, DWORD dwLength) noexcept : CAsn1Obj(pbContent, dwLength) {
  m_bTag = TAG_SEQUENCE_BARE;
}

CSequence::CSequence(const CAsn1Obj& element) noexcept {
  m_bTag = TAG_SEQUENCE_BARE;
  AddAsn1Obj(&element);
}

CSequence& CSequence::operator=(const CSequence& other) noexcept {
  AssignSameTag(other);
  return *this;
}

CSequence& CSequence::operator=(const CAsn1Obj& other) noexcept {
  AssignSameTag(other);
  return *this;
}

DWORD CSequence::AddAsn1Obj(const CAsn1Obj* pObj) noexcept {
  if (pObj == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!pObj->IsComplete()) return ASN1_ERR_INCOMPLETE;
  if (pObj == this) {
    // Appending an object to itself: encode from a copy, the buffer moves.
    CAsn1Obj copy(*this);
    return AddAsn1Obj(&copy);
  }
  DWORD size = 0;
  if (DWORD r = pObj->EncodeObjectToData(nullptr, &size)) return r;
  return Guard([&] {
    // Shrink the buffer to the length member first, so that appends always
    // extend exactly what GetValue/GetLength describe.
    if (m_pbValue.size() > m_dwLength) m_pbValue.resize(m_dwLength);
    std::size_t at = m_pbValue.size();
    BYTE* p = Extend(m_pbValue, size);
    DWORD written = size;
    DWORD r = pObj->EncodeObjectToData(p, &written);
    if (r) {
      m_pbValue.resize(at);
      return r;
    }
    Access::SyncLength(*this);
    m_bComplete = 1;
    return DWORD{0};
  });
}

DWORD CSequence::AddAsn1Obj(const BYTE* pbData, DWORD dwLength) noexcept {
  if (!ValidInput(pbData, dwLength)) return ASN1_ERR_INVALID_INPUT;
  return Guard([&] {
    if (m_pbValue.size() > m_dwLength) m_pbValue.resize(m_dwLength);
    BYTE* p = Extend(m_pbValue, dwLength);
    if (dwLength) std::memcpy(p, pbData, dwLength);
    Access::SyncLength(*this);
    m_bComplete = 1;
    return DWORD{0};
  });
}

CSet::CSet() noexcept { m_bTag = TAG_SET_BARE; }

CSet::CSet(const BYTE* pbContent, DWORD dwLength) noexcept : CSequence(pbContent, dwLength) { m_bTag = TAG_SET_BARE; }

CSet::CSet(const CAsn1Obj& element) noexcept {
  m_bTag = TAG_SET_BARE;
  AddAsn1Obj(&element);
}

CSet& CSet::operator=(const CSet& other) noexcept {
  AssignSameTag(other);
  return *this;
}

CSet& CSet::operator=(const CAsn1Obj& other) noexcept {
  AssignSameTag(other);
  return *this;
}
