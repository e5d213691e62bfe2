// RSA key-pair entries of the card directory.
#include "composite.h"
#include "entry_tags.h"
#include "vexa/asn1/gdoentries.h"

using namespace vexa_asn1_detail;

namespace {
using F = CRsaObject;
constexpr FieldSpec kSpecs[F::fCount] = {
    {T_PRINTABLE, false},  // AID
    {T_OCTETS, false},     // path
    {T_OCTETS, false},     // SE: security environment number
    {T_INTEGER, true},     // key type
    {T_OCTETS, true},      // key algorithm
    {T_INTEGER, true},     // key usage
    {T_INTEGER, false},    // key size: modulus bits, four octets least significant first
    {T_OID, false},        // DSI
    {T_PRINTABLE, false},  // secure-auth PIN label
    {T_OCTETS, false},     // private ID
    {T_ENTRIES, false},    // attributes of the private key (always written)
    {T_OCTETS, false},     // public ID: two octets
};
constexpr DWORD ORDER = ASN1_ERR_ORDER;
constexpr DWORD ABSENT = ASN1_ERR_WRONG_TAG;
constexpr std::size_t KEY_SIZE_OCTETS = 4;
constexpr std::size_t FILE_ID_OCTETS = 2;
}  // namespace

CRsaObject::CRsaObject() noexcept { m_bTag = TAG_SEQUENCE; }

CRsaObject::CRsaObject(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SEQUENCE;
  ParseContentInto(*this, m_Fields, kSpecs, pbContent, dwLength);
}

CRsaObject& CRsaObject::operator=(const CRsaObject& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CRsaObject::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kSpecs, pbData, dwSize);
}

DWORD CRsaObject::SetAID(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fAID, pb, cb, ORDER, ORDER); }
DWORD CRsaObject::SetPath(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fPath, pb, cb, ORDER, ORDER); }
DWORD CRsaObject::SetSE(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fSE, b, ORDER, ORDER); }
DWORD CRsaObject::SetKeyType(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fKeyType, b, ORDER, ORDER); }
DWORD CRsaObject::SetKeyAlgo(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fKeyAlgo, b, ORDER, ORDER); }
DWORD CRsaObject::SetKeyUsage(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fKeyUsage, b, ORDER, ORDER); }

DWORD CRsaObject::SetKeySize(DWORD dwBits) noexcept {
  BYTE le[KEY_SIZE_OCTETS];
  for (std::size_t i = 0; i < KEY_SIZE_OCTETS; ++i) le[i] = static_cast<BYTE>(dwBits >> (8 * i));
  return AddField(*this, m_Fields, kSpecs, fKeySize, T_INTEGER, Bytes(le, KEY_SIZE_OCTETS), ORDER, ORDER);
}

DWORD CRsaObject::SetDSI(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fDSI, b, ORDER, ORDER); }
DWORD CRsaObject::SetSecAuth(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fSecAuth, pb, cb, ORDER, ORDER); }
DWORD CRsaObject::SetPrvID(BYTE b) noexcept { return AddOctetField(*this, m_Fields, kSpecs, fPrvID, b, ORDER, ORDER); }
DWORD CRsaObject::SetPrvAttributes(const BYTE* pb, DWORD cb) noexcept { return AddBytesField(*this, m_Fields, kSpecs, fAttributes, pb, cb, ORDER, ORDER); }

DWORD CRsaObject::SetPubID(const BYTE* pbID) noexcept {
  if (pbID == nullptr) return ASN1_ERR_INVALID_INPUT;
  return AddField(*this, m_Fields, kSpecs, fPubID, T_OCTETS, Bytes(pbID, FILE_ID_OCTETS), ORDER, ORDER);
}

DWORD CRsaObject::GetAID(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fAID], pb, pcb, ABSENT); }
DWORD CRsaObject::GetPath(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fPath], pb, pcb, ABSENT); }
DWORD CRsaObject::GetSE(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fSE], pb, ABSENT); }
DWORD CRsaObject::GetKeyType(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fKeyType], pb, ABSENT); }
DWORD CRsaObject::GetKeyAlgo(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fKeyAlgo], pb, ABSENT); }
DWORD CRsaObject::GetKeyUsage(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fKeyUsage], pb, ABSENT); }

DWORD CRsaObject::GetKeySize(DWORD* pdwBits) const noexcept {
  if (pdwBits == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!IsComplete() || !IsValueField(m_Fields[fKeySize])) return ABSENT;
  Bytes c = FieldContent(*this, m_Fields[fKeySize]);
  // More than four octets cannot be a 32-bit size.
  if (c.empty() || c.size() > KEY_SIZE_OCTETS) return ABSENT;
  DWORD bits = 0;
  for (std::size_t i = 0; i < c.size(); ++i) bits |= static_cast<DWORD>(c[i]) << (8 * i);
  *pdwBits = bits;
  return 0;
}

DWORD CRsaObject::GetDSI(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fDSI], pb, ABSENT); }
DWORD CRsaObject::GetSecAuth(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fSecAuth], pb, pcb, ABSENT); }
DWORD CRsaObject::GetPrvID(BYTE* pb) const noexcept { return GetOctetField(*this, m_Fields[fPrvID], pb, ABSENT); }
DWORD CRsaObject::GetPrvAttributes(BYTE* pb, DWORD* pcb) const noexcept { return GetBytesField(*this, m_Fields[fAttributes], pb, pcb, ABSENT); }
DWORD CRsaObject::GetPrvAttributes(CSet* pSet) const noexcept { return GetSetField(*this, m_Fields[fAttributes], pSet, ABSENT); }

DWORD CRsaObject::GetPubID(BYTE* pbID) const noexcept {
  if (pbID == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!IsComplete() || !IsValueField(m_Fields[fPubID])) return ABSENT;
  Bytes c = FieldContent(*this, m_Fields[fPubID]);
  if (c.size() != FILE_ID_OCTETS) return ABSENT;
  pbID[0] = c[0];
  pbID[1] = c[1];
  return 0;
}
