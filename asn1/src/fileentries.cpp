// Certificate, data-object and 3DES-key entries of the card directory: one
// layout, AID?, path?, usage or access class, two-octet file ID, attributes.
#include "composite.h"
#include "entry_tags.h"
#include "vexa/asn1/gdoentries.h"

using namespace vexa_asn1_detail;

namespace {
constexpr std::size_t FIELDS = 5;
constexpr FieldSpec kSpecs[FIELDS] = {
    {T_PRINTABLE, false},  // AID
    {T_OCTETS, false},     // path
    {T_INTEGER, true},     // usage / access class
    {T_OCTETS, true},      // ID: two octets
    {T_ENTRIES, true},     // attributes
};
constexpr DWORD ORDER = ASN1_ERR_ORDER;
constexpr DWORD ABSENT = ASN1_ERR_WRONG_TAG;
constexpr std::size_t FILE_ID_OCTETS = 2;

DWORD SetFileID(CAsn1Obj& o, Fields f, std::size_t i, const BYTE* pbID) noexcept {
  if (pbID == nullptr) return ASN1_ERR_INVALID_INPUT;
  return AddField(o, f, kSpecs, i, T_OCTETS, Bytes(pbID, FILE_ID_OCTETS), ORDER, ORDER);
}

DWORD GetFileID(const CAsn1Obj& o, const CAsn1Field& f, BYTE* pbID) noexcept {
  if (pbID == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!o.IsComplete() || !IsValueField(f)) return ABSENT;
  Bytes c = FieldContent(o, f);
  if (c.size() != FILE_ID_OCTETS) return ABSENT;
  pbID[0] = c[0];
  pbID[1] = c[1];
  return 0;
}
}  // namespace

#define VEXA_ASN1_FILE_ENTRY_IMPL(Name, UsageSetter, UsageGetter)                                                          \
  static_assert(Name::fCount == FIELDS);                                                                                \
  Name::Name() noexcept { m_bTag = TAG_SEQUENCE; }                                                                      \
  Name::Name(const BYTE* pbContent, DWORD dwLength) noexcept {                                                          \
    m_bTag = TAG_SEQUENCE;                                                                                              \
    ParseContentInto(*this, m_Fields, kSpecs, pbContent, dwLength);                                                     \
  }                                                                                                                     \
  Name& Name::operator=(const Name& other) noexcept {                                                                   \
    Access::CopyComposite(*this, other);                                                                                \
    return *this;                                                                                                       \
  }                                                                                                                     \
  DWORD Name::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {                                          \
    return ParseElementInto(*this, m_Fields, kSpecs, pbData, dwSize);                                                   \
  }                                                                                                                     \
  DWORD Name::SetAID(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fAID, pb, cb, ORDER, ORDER); } \
  DWORD Name::SetPath(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fPath, pb, cb, ORDER, ORDER); } \
  DWORD Name::UsageSetter(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fUsage, b, ORDER, ORDER); }  \
  DWORD Name::SetID(const BYTE* pbID) noexcept { return SetFileID(*this, m_Fields, fID, pbID); }                      \
  DWORD Name::SetAttributes(const BYTE* pb, DWORD cb) noexcept {                                                        \
    return AddBytesField(*this, m_Fields, kSpecs, fAttributes, pb, cb, ORDER, ORDER);                                  \
  }                                                                                                                     \
  DWORD Name::GetAID(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fAID], pb, pcb, ABSENT); } \
  DWORD Name::GetPath(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fPath], pb, pcb, ABSENT); } \
  DWORD Name::UsageGetter(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fUsage], pb, ABSENT); }      \
  DWORD Name::GetID(BYTE* pbID) const noexcept { return GetFileID(*this, m_Fields[fID], pbID); }                      \
  DWORD Name::GetAttributes(BYTE* pb, DWORD* pcb) const noexcept {                                                      \
    return GetBytesField(*this, m_Fields[fAttributes], pb, pcb, ABSENT);                                               \
  }                                                                                                                     \
  DWORD Name::GetAttributes(CSet* pSet) const noexcept { return GetSetField(*this, m_Fields[fAttributes], pSet, ABSENT); }

VEXA_ASN1_FILE_ENTRY_IMPL(CCertObject, SetUsage, GetUsage)
VEXA_ASN1_FILE_ENTRY_IMPL(CDataObject, SetAccess, GetAccess)
VEXA_ASN1_FILE_ENTRY_IMPL(CDes3Object, SetUsage, GetUsage)

#undef VEXA_ASN1_FILE_ENTRY_IMPL
