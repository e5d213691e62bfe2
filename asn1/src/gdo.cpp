// The card directory, version-2 layout.
#include "composite.h"
#include "entry_tags.h"
#include "gdo_internal.h"
#include "vexa/asn1/gdo.h"

using namespace vexa_asn1_detail;

namespace {
using F = CGDO;
constexpr FieldSpec kSpecs[F::fCount] = {
    {T_INTEGER, true},                               // version
    {T_PRINTABLE, true},                             // AID of the card application
    {T_PRINTABLE, true},                             // token label
    {T_LIST, true, false, ValidateObjectList},       // security objects
    {T_LIST, true, false, ValidateObjectList},       // RSA keys
    {T_LIST, true, false, ValidateObjectList},       // certificates
    {T_LIST, true, false, ValidateObjectList},       // data objects
    {T_LIST, true, false, ValidateObjectList},       // 3DES keys
};
// Directory members set out of order (or missing a predecessor) report a wrong tag.
constexpr DWORD ORDER = ASN1_ERR_WRONG_TAG;
constexpr DWORD ABSENT = ASN1_ERR_WRONG_TAG;

DWORD GetList(const CGDO& gdo, const CAsn1Field& f, CGDOObjects* pList) noexcept {
  if (pList == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!gdo.IsComplete() || !IsValueField(f)) return ABSENT;
  Bytes element = FieldElement(gdo, f);
  return pList->CreateByEncodedData(element.data(), static_cast<DWORD>(element.size()));
}
}  // namespace

CGDO::CGDO() noexcept { m_bTag = TAG_SEQUENCE; }

CGDO& CGDO::operator=(const CGDO& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CGDO::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kSpecs, pbData, dwSize);
}

int CGDO::IsVersion2(const BYTE* pbData, DWORD dwSize) noexcept {
  if (pbData == nullptr || dwSize == 0) return 0;
  Bytes in(pbData, dwSize);
  CAsn1Field fields[fCount];
  if (ValidateElement(in, TAG_SEQUENCE, fields, kSpecs)) return 0;
  Element e;
  ReadHeader(in, e);
  const CAsn1Field& v = fields[fVersion];
  if (v.bTag != T_INTEGER || v.dwLength == 0) return 0;
  return in[e.content + v.dwContent] == VERSION_2;
}

DWORD CGDO::SetVersion(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fVersion, b, ORDER, ORDER); }
DWORD CGDO::SetAID(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fAID, pb, cb, ORDER, ORDER); }
DWORD CGDO::SetLabel(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fLabel, pb, cb, ORDER, ORDER); }

#define VEXA_GDO_LIST(Setter, Getter, Field)                                             \
  DWORD CGDO::Setter(const CGDOObjects* pList) noexcept {                                \
    if (pList == nullptr) return ASN1_ERR_INVALID_INPUT;                                 \
    return AddObjectField(*this, m_Fields, kSpecs, Field, *pList, ORDER, ORDER);         \
  }                                                                                      \
  DWORD CGDO::Getter(CGDOObjects* pList) const noexcept { return GetList(*this, m_Fields[Field], pList); }

VEXA_GDO_LIST(SetSecurityObject, GetSecurityObject, fSecurity)
VEXA_GDO_LIST(SetRSAObject, GetRSAObject, fRSA)
VEXA_GDO_LIST(SetCertificateObject, GetCertificateObject, fCertificate)
VEXA_GDO_LIST(SetDataObject, GetDataObject, fData)
VEXA_GDO_LIST(SetDes3Object, GetDes3Object, fDes3)

#undef VEXA_GDO_LIST

DWORD CGDO::GetVersion(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fVersion], pb, ABSENT); }
DWORD CGDO::GetAID(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fAID], pb, pcb, ABSENT); }
DWORD CGDO::GetLabel(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fLabel], pb, pcb, ABSENT); }
DWORD CGDO::WriteLog(const char*) const noexcept { return 0; }
