// PIN entries of the card directory.
#include "composite.h"
#include "entry_tags.h"
#include "vexa/asn1/gdoentries.h"

using namespace vexa_asn1_detail;

namespace {
using F = CSecObject;
constexpr FieldSpec kSpecs[F::fCount] = {
    {T_PRINTABLE, false},  // AID
    {T_OCTETS, false},     // path
    {T_BOOLEAN, false},    // init (only FALSE is written)
    {T_NUMERIC, true},     // label
    {T_OCTETS, true},      // ID: the PIN reference
    {T_BOOLEAN, false},    // bio PIN
    {T_INTEGER, true},     // minimum length
    {T_INTEGER, true},     // maximum length
    {T_BOOLEAN, false},    // secure-auth
    {T_NUMERIC, false},    // protected by
    {T_ENTRIES, false},    // attributes
};
constexpr DWORD ORDER = ASN1_ERR_ORDER;
// Absent one-octet and flag fields of a PIN entry report invalid input.
constexpr DWORD ABSENT_OCTET = ASN1_ERR_INVALID_INPUT;
constexpr DWORD ABSENT_BYTES = ASN1_ERR_WRONG_TAG;
}  // namespace

CSecObject::CSecObject() noexcept { m_bTag = TAG_SEQUENCE; }

CSecObject::CSecObject(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SEQUENCE;
  ParseContentInto(*this, m_Fields, kSpecs, pbContent, dwLength);
}

CSecObject& CSecObject::operator=(const CSecObject& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CSecObject::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kSpecs, pbData, dwSize);
}

DWORD CSecObject::SetAID(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fAID, pb, cb, ORDER, ORDER); }
DWORD CSecObject::SetPath(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fPath, pb, cb, ORDER, ORDER); }
DWORD CSecObject::SetInit(int b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fInit, b ? OCTET_TRUE : OCTET_FALSE, ORDER, ORDER); }
DWORD CSecObject::SetLabel(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fLabel, pb, cb, ORDER, ORDER); }
DWORD CSecObject::SetID(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fID, b, ORDER, ORDER); }
DWORD CSecObject::SetBioPIN(int b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fBioPIN, b ? OCTET_TRUE : OCTET_FALSE, ORDER, ORDER); }
DWORD CSecObject::SetMinLen(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fMinLen, b, ORDER, ORDER); }
DWORD CSecObject::SetMaxLen(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fMaxLen, b, ORDER, ORDER); }
DWORD CSecObject::SetSecAuth(int b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fSecAuth, b ? OCTET_TRUE : OCTET_FALSE, ORDER, ORDER); }
DWORD CSecObject::SetProtectedBy(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fProtectedBy, pb, cb, ORDER, ORDER); }
DWORD CSecObject::SetPrvAttributes(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fAttributes, pb, cb, ORDER, ORDER); }

namespace {
DWORD GetFlag(const CSecObject& o, const CAsn1Field& f, int* pb) noexcept {
  if (pb == nullptr) return ASN1_ERR_INVALID_INPUT;
  *pb = 0;
  if (!o.IsComplete() || !IsValueField(f)) return ABSENT_OCTET;
  *pb = FlagOf(FieldContent(o, f));
  return 0;
}
}  // namespace

DWORD CSecObject::GetAID(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fAID], pb, pcb, ABSENT_BYTES); }
DWORD CSecObject::GetPath(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fPath], pb, pcb, ABSENT_BYTES); }
DWORD CSecObject::GetInit(int* pb) const noexcept { return GetFlag(*this, m_Fields[fInit], pb); }
DWORD CSecObject::GetLabel(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fLabel], pb, pcb, ABSENT_BYTES); }
DWORD CSecObject::GetID(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fID], pb, ABSENT_OCTET); }
DWORD CSecObject::GetBioPIN(int* pb) const noexcept { return GetFlag(*this, m_Fields[fBioPIN], pb); }
DWORD CSecObject::GetMinLen(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fMinLen], pb, ABSENT_OCTET); }
DWORD CSecObject::GetMaxLen(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fMaxLen], pb, ABSENT_OCTET); }
DWORD CSecObject::GetSecAuth(int* pb) const noexcept { return GetFlag(*this, m_Fields[fSecAuth], pb); }
DWORD CSecObject::GetProtectedBy(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fProtectedBy], pb, pcb, ABSENT_BYTES); }
DWORD CSecObject::GetPrvAttributes(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fAttributes], pb, pcb, ABSENT_BYTES); }
DWORD CSecObject::GetPrvAttributes(CSet* pSet) const noexcept { return GetSetField(*this, m_Fields[fAttributes], pSet, ABSENT_BYTES); }
