// Name parts: attribute-value assertions, relative distinguished names, the
// RDN sequence, and the content-information shell.
#include "entry_tags.h"
#include "pkcs_internal.h"

using namespace vexa_asn1_detail;

namespace {
constexpr BYTE TAG_SEQUENCE_BARE = 0x10;
constexpr FieldSpec kAva[CAttributeValueAssertion::fCount] = {
    {T_OID, true},      // attribute type
    {0, true, true},    // attribute value: any element
};
constexpr DWORD MISSING = ASN1_ERR_INCOMPLETE;
constexpr DWORD ORDER = ASN1_ERR_ORDER;
}  // namespace

namespace vexa_asn1_detail {
DWORD ValidateAttributeValueAssertion(Bytes element) noexcept {
  CAsn1Field scratch[CAttributeValueAssertion::fCount];
  return ValidateElement(element, TAG_SEQUENCE, scratch, kAva);
}
}  // namespace vexa_asn1_detail

// ---- CAttributeValueAssertion

CAttributeValueAssertion::CAttributeValueAssertion() noexcept { m_bTag = TAG_SEQUENCE; }

CAttributeValueAssertion::CAttributeValueAssertion(const BYTE* pbContent, DWORD dwLength) noexcept
    : CSequence(pbContent, dwLength) {
  m_bTag = TAG_SEQUENCE;
}

CAttributeValueAssertion& CAttributeValueAssertion::operator=(const CAttributeValueAssertion& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CAttributeValueAssertion::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kAva, pbData, dwSize);
}

DWORD CAttributeValueAssertion::EncodedObjectToData(BYTE* pbBuffer, DWORD* pdwSize) const noexcept {
  return EncodeObjectToData(pbBuffer, pdwSize);
}

DWORD CAttributeValueAssertion::SetAttribute(const COid& type) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kAva, fType, type, MISSING, ORDER);
  if (r == 0) m_bComplete = AllRequired(m_Fields, kAva);
  return r;
}

DWORD CAttributeValueAssertion::SetAttributeValue(const CAsn1Obj& value) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kAva, fValue, value, MISSING, ORDER);
  if (r == 0) m_bComplete = AllRequired(m_Fields, kAva);
  return r;
}

DWORD CAttributeValueAssertion::GetAttribute(COid* pType) const noexcept {
  return GetObjectField(*this, m_Fields[fType], pType, ASN1_ERR_INCOMPLETE);
}

DWORD CAttributeValueAssertion::GetAttributeValue(CAsn1Obj* pValue) const noexcept {
  return GetObjectField(*this, m_Fields[fValue], pValue, ASN1_ERR_INCOMPLETE);
}

// ---- CRelativeDistinguishedName

CRelativeDistinguishedName::CRelativeDistinguishedName() noexcept { m_bTag = TAG_SET; }

CRelativeDistinguishedName::CRelativeDistinguishedName(const CAttributeValueAssertion& ava) noexcept {
  m_bTag = TAG_SET;
  AddAsn1Obj(&ava);
}

CRelativeDistinguishedName::CRelativeDistinguishedName(const BYTE* pbContent, DWORD dwLength) noexcept {
  m_bTag = TAG_SET;
  // The content must hold one well-formed assertion; otherwise no value.
  if (pbContent == nullptr || dwLength == 0) return;
  if (ValidateAttributeValueAssertion(Bytes(pbContent, dwLength))) return;
  Guard([&] {
    Access::SetTagValue(*this, TAG_SET, Bytes(pbContent, dwLength));
    return DWORD{0};
  });
}

CRelativeDistinguishedName& CRelativeDistinguishedName::operator=(const CRelativeDistinguishedName& other) noexcept {
  if (this != &other) Guard([&] {
      Access::CopyBase(*this, other);
      return DWORD{0};
    });
  return *this;
}

DWORD CRelativeDistinguishedName::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  if (pbData == nullptr || dwSize == 0) return ASN1_ERR_INVALID_INPUT;
  Bytes in(pbData, dwSize);
  if (in[0] != TAG_SET) return ASN1_ERR_WRONG_TAG;
  Element e;
  if (DWORD r = ReadHeader(in, e)) return r;
  Bytes content = in.subspan(e.content, e.length);
  if (DWORD r = ValidateAttributeValueAssertion(content)) return r;
  return Guard([&] {
    Access::SetTagValue(*this, TAG_SET, content);
    return DWORD{0};
  });
}

DWORD CRelativeDistinguishedName::GetAttributeValueAssertion(CAttributeValueAssertion* pAva) const noexcept {
  if (pAva == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!m_bComplete) return ASN1_ERR_INCOMPLETE;
  CAttributeValueAssertion parsed;
  Bytes content = Access::Content(*this);
  if (DWORD r = parsed.CreateByEncodedData(content.data(), static_cast<DWORD>(content.size()))) return r;
  *pAva = parsed;
  return 0;
}

// ---- CRDNSequence

CRDNSequence::CRDNSequence() noexcept { m_bTag = TAG_SEQUENCE; }

CRDNSequence::CRDNSequence(const BYTE* pbContent, DWORD dwLength) noexcept : CSequence(pbContent, dwLength) {
  m_bTag = TAG_SEQUENCE;
}

CRDNSequence& CRDNSequence::operator=(const CRDNSequence& other) noexcept {
  AssignSameTag(other);
  return *this;
}

// ---- CContentInfo

CContentInfo::CContentInfo() noexcept { m_bTag = TAG_SEQUENCE_BARE; }

CContentInfo& CContentInfo::operator=(const CContentInfo& other) noexcept {
  if (this == &other) return *this;
  Guard([&] {
    CAsn1Obj type(other.m_ContentType), content(other.m_Content);
    Access::CopyBase(*this, other);
    m_ContentType = type;
    m_Content = std::move(content);
    return DWORD{0};
  });
  return *this;
}
