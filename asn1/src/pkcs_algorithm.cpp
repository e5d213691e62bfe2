// AlgorithmIdentifier, DigestInfo and SubjectPublicKeyInfo.
#include "entry_tags.h"
#include "pkcs_internal.h"

using namespace vexa_asn1_detail;

namespace {
constexpr BYTE T_BIT_STRING = 0x03;
constexpr FieldSpec kAlgorithm[CAlgorithmIdentifier::fCount] = {
    {T_OID, true},           // algorithm
    {0, false, true},        // parameters: any element
};
constexpr FieldSpec kDigestInfo[CDigestInfo::fCount] = {
    {TAG_SEQUENCE, true, false, ValidateAlgorithmIdentifier},
    {T_OCTETS, true},
};
constexpr FieldSpec kPublicKeyInfo[CPublicKeyInfo::fCount] = {
    {TAG_SEQUENCE, true, false, ValidateAlgorithmIdentifier},
    {T_BIT_STRING, true},
};
constexpr DWORD MISSING = ASN1_ERR_INCOMPLETE;
constexpr DWORD ORDER = ASN1_ERR_ORDER;
// Parameters are read only when a whole element (tag and length) can follow.
constexpr std::size_t MIN_ELEMENT = 2;
}  // namespace

namespace vexa_asn1_detail {

DWORD ParseAlgorithmMembers(Bytes content, Fields fields) noexcept {
  if (DWORD r = ParseFields(content, fields.first(1), Specs(kAlgorithm).first(1))) return r;
  std::size_t pos = fields[0].dwOffset + fields[0].dwSize;
  if (content.size() - pos < MIN_ELEMENT) return 0;
  Element e;
  if (DWORD r = ReadMember(content.subspan(pos), 0, true, e)) return r;
  RecordField(fields[1], pos, e);
  return 0;
}

DWORD ValidateAlgorithmIdentifier(Bytes element) noexcept {
  CAsn1Field scratch[CAlgorithmIdentifier::fCount];
  return ValidateElementWith(element, TAG_SEQUENCE, scratch, ParseAlgorithmMembers);
}

DWORD ValidateDigestInfo(Bytes element) noexcept {
  CAsn1Field scratch[CDigestInfo::fCount];
  return ValidateElement(element, TAG_SEQUENCE, scratch, kDigestInfo);
}

}  // namespace vexa_asn1_detail

// ---- CAlgorithmIdentifier

CAlgorithmIdentifier::CAlgorithmIdentifier() noexcept { m_bTag = TAG_SEQUENCE; }

CAlgorithmIdentifier::CAlgorithmIdentifier(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SEQUENCE;
  ParseContentWith(*this, m_Fields, ParseAlgorithmMembers, pbContent, dwLength);
}

CAlgorithmIdentifier& CAlgorithmIdentifier::operator=(const CAlgorithmIdentifier& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CAlgorithmIdentifier::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementWith(*this, m_Fields, ParseAlgorithmMembers, pbData, dwSize);
}

DWORD CAlgorithmIdentifier::EncodeObjectToData(BYTE* pbBuffer, DWORD* pdwSize) const noexcept {
  return CAsn1Obj::EncodeObjectToData(pbBuffer, pdwSize);
}

DWORD CAlgorithmIdentifier::SetAlgoOID(const COid& oid) noexcept {
  return AddObjectField(*this, m_Fields, kAlgorithm, fAlgorithm, oid, MISSING, ORDER);
}

DWORD CAlgorithmIdentifier::SetOptionalObj(const CAsn1Obj& obj) noexcept {
  if (!m_Fields[fAlgorithm].bPresent) return MISSING;
  return AddObjectField(*this, m_Fields, kAlgorithm, fParameters, obj, MISSING, ORDER);
}

DWORD CAlgorithmIdentifier::GetAlgoOID(COid* pOid) const noexcept {
  return GetObjectField(*this, m_Fields[fAlgorithm], pOid, ASN1_ERR_INCOMPLETE);
}

DWORD CAlgorithmIdentifier::GetOptionalObj(CAsn1Obj* pObj) const noexcept {
  return GetObjectField(*this, m_Fields[fParameters], pObj, ASN1_ERR_INCOMPLETE);
}

// ---- CDigestInfo

CDigestInfo::CDigestInfo() noexcept { m_bTag = TAG_SEQUENCE; }

CDigestInfo::CDigestInfo(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SEQUENCE;
  ParseContentInto(*this, m_Fields, kDigestInfo, pbContent, dwLength);
}

CDigestInfo& CDigestInfo::operator=(const CDigestInfo& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CDigestInfo::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kDigestInfo, pbData, dwSize);
}

DWORD CDigestInfo::SetAlgoId(const CAlgorithmIdentifier& algo) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kDigestInfo, fAlgorithm, algo, MISSING, ORDER);
  if (r == 0) m_bComplete = AllRequired(m_Fields, kDigestInfo);
  return r;
}

DWORD CDigestInfo::SetDigest(const COctetString& digest) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kDigestInfo, fDigest, digest, MISSING, ORDER);
  if (r == 0) m_bComplete = AllRequired(m_Fields, kDigestInfo);
  return r;
}

DWORD CDigestInfo::GetAlgoId(CAlgorithmIdentifier* pAlgo) const noexcept {
  return GetCompositeField(*this, m_Fields[fAlgorithm], pAlgo);
}

DWORD CDigestInfo::GetDigest(COctetString* pDigest) const noexcept {
  return GetObjectField(*this, m_Fields[fDigest], pDigest, ASN1_ERR_INCOMPLETE);
}

// ---- CPublicKeyInfo

CPublicKeyInfo::CPublicKeyInfo() noexcept { m_bTag = TAG_SEQUENCE; }

CPublicKeyInfo::CPublicKeyInfo(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SEQUENCE;
  ParseContentInto(*this, m_Fields, kPublicKeyInfo, pbContent, dwLength);
}

CPublicKeyInfo& CPublicKeyInfo::operator=(const CPublicKeyInfo& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CPublicKeyInfo::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kPublicKeyInfo, pbData, dwSize);
}

DWORD CPublicKeyInfo::SetAlgoId(const CAlgorithmIdentifier& algo) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kPublicKeyInfo, fAlgorithm, algo, MISSING, ORDER);
  if (r == 0) m_bComplete = AllRequired(m_Fields, kPublicKeyInfo);
  return r;
}

DWORD CPublicKeyInfo::SetPublicKey(const CBitString& key) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kPublicKeyInfo, fKey, key, MISSING, ORDER);
  if (r == 0) m_bComplete = AllRequired(m_Fields, kPublicKeyInfo);
  return r;
}

DWORD CPublicKeyInfo::GetAlgoId(CAlgorithmIdentifier* pAlgo) const noexcept {
  return GetCompositeField(*this, m_Fields[fAlgorithm], pAlgo);
}

DWORD CPublicKeyInfo::GetPublicKey(CBitString* pKey) const noexcept {
  return GetObjectField(*this, m_Fields[fKey], pKey, ASN1_ERR_INCOMPLETE);
}
