// Composites for common PKCS and X.509 structures. Setters append members in
// their fixed order: a member whose prerequisite is missing fails with
// ASN1_ERR_INCOMPLETE, one set twice or after a later member with
// ASN1_ERR_ORDER; nothing is appended then. Getters copy a member into the
// caller's object: ASN1_ERR_INCOMPLETE when the member is absent,
// ASN1_ERR_WRONG_TAG when the caller's object has another tag (it is left
// unchanged) or the copy fails.
#pragma once

#include <array>

#include "vexa/asn1/asn1obj.h"

// SEQUENCE { algorithm OID, parameters ANY OPTIONAL }
class VEXA_API CAlgorithmIdentifier : public CSequence {
 public:
  CAlgorithmIdentifier() noexcept;
  CAlgorithmIdentifier(const BYTE* pbContent, DWORD dwLength) noexcept;
  CAlgorithmIdentifier(const CAlgorithmIdentifier&) noexcept = default;
  CAlgorithmIdentifier& operator=(const CAlgorithmIdentifier& other) noexcept;
  // The parameters may be any element; their tag is taken from the input.
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  DWORD EncodeObjectToData(BYTE* pbBuffer, DWORD* pdwSize) const noexcept;
  DWORD SetAlgoOID(const COid& oid) noexcept;         // marks complete
  DWORD SetOptionalObj(const CAsn1Obj& obj) noexcept;  // needs the algorithm
  DWORD GetAlgoOID(COid* pOid) const noexcept;
  DWORD GetOptionalObj(CAsn1Obj* pObj) const noexcept;
  enum t_FIELDS { fAlgorithm, fParameters, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};

// SEQUENCE { digestAlgorithm AlgorithmIdentifier, digest OCTET STRING }
class VEXA_API CDigestInfo : public CSequence {
 public:
  CDigestInfo() noexcept;
  CDigestInfo(const BYTE* pbContent, DWORD dwLength) noexcept;
  CDigestInfo(const CDigestInfo&) noexcept = default;
  CDigestInfo& operator=(const CDigestInfo& other) noexcept;
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  DWORD SetAlgoId(const CAlgorithmIdentifier& algo) noexcept;
  DWORD SetDigest(const COctetString& digest) noexcept;  // needs the algorithm; marks complete
  DWORD GetAlgoId(CAlgorithmIdentifier* pAlgo) const noexcept;
  DWORD GetDigest(COctetString* pDigest) const noexcept;
  enum t_FIELDS { fAlgorithm, fDigest, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};

// SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
class VEXA_API CPublicKeyInfo : public CSequence {
 public:
  CPublicKeyInfo() noexcept;
  CPublicKeyInfo(const BYTE* pbContent, DWORD dwLength) noexcept;
  CPublicKeyInfo(const CPublicKeyInfo&) noexcept = default;
  CPublicKeyInfo& operator=(const CPublicKeyInfo& other) noexcept;
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  DWORD SetAlgoId(const CAlgorithmIdentifier& algo) noexcept;
  DWORD SetPublicKey(const CBitString& key) noexcept;  // needs the algorithm; marks complete
  DWORD GetAlgoId(CAlgorithmIdentifier* pAlgo) const noexcept;
  DWORD GetPublicKey(CBitString* pKey) const noexcept;
  enum t_FIELDS { fAlgorithm, fKey, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};

// SEQUENCE { type OID, value ANY }
class VEXA_API CAttributeValueAssertion : public CSequence {
 public:
  CAttributeValueAssertion() noexcept;
  // Keeps the content without parsing it.
  CAttributeValueAssertion(const BYTE* pbContent, DWORD dwLength) noexcept;
  CAttributeValueAssertion(const CAttributeValueAssertion&) noexcept = default;
  CAttributeValueAssertion& operator=(const CAttributeValueAssertion& other) noexcept;
  // The value may be any element; its tag is taken from the input.
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  DWORD EncodedObjectToData(BYTE* pbBuffer, DWORD* pdwSize) const noexcept;
  DWORD SetAttribute(const COid& type) noexcept;
  DWORD SetAttributeValue(const CAsn1Obj& value) noexcept;  // needs the type; marks complete
  DWORD GetAttribute(COid* pType) const noexcept;
  DWORD GetAttributeValue(CAsn1Obj* pValue) const noexcept;
  enum t_FIELDS { fType, fValue, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};

// SET (0x31) holding one attribute-value assertion.
class VEXA_API CRelativeDistinguishedName : public CSet {
 public:
  CRelativeDistinguishedName() noexcept;
  explicit CRelativeDistinguishedName(const CAttributeValueAssertion& ava) noexcept;
  // Parses the assertion from the set's content octets.
  CRelativeDistinguishedName(const BYTE* pbContent, DWORD dwLength) noexcept;
  CRelativeDistinguishedName(const CRelativeDistinguishedName&) noexcept = default;
  CRelativeDistinguishedName& operator=(const CRelativeDistinguishedName& other) noexcept;
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  DWORD GetAttributeValueAssertion(CAttributeValueAssertion* pAva) const noexcept;
};

// SEQUENCE holding a run of relative distinguished names, content as given.
class VEXA_API CRDNSequence : public CSequence {
 public:
  CRDNSequence() noexcept;
  CRDNSequence(const BYTE* pbContent, DWORD dwLength) noexcept;
  CRDNSequence(const CRDNSequence&) noexcept = default;
  CRDNSequence& operator=(const CRDNSequence& other) noexcept;
};

// Content-information shell: tag 0x10 (constructed bit not set), members
// content type and content; nothing reads or writes them.
class VEXA_API CContentInfo : public CSequence {
 public:
  CContentInfo() noexcept;
  CContentInfo(const CContentInfo&) noexcept = default;
  CContentInfo& operator=(const CContentInfo& other) noexcept;

 private:
  COid m_ContentType;
  CAsn1Obj m_Content;
};

// SEQUENCE { version INTEGER, messageImprint DigestInfo, reqPolicy OID OPTIONAL,
//            nonce INTEGER OPTIONAL, certReq BOOLEAN }
// Complete once version, imprint and certificate request are set.
class VEXA_API CTimeStampRequest : public CSequence {
 public:
  CTimeStampRequest() noexcept;
  // Keeps the content without parsing it.
  CTimeStampRequest(const BYTE* pbContent, DWORD dwLength) noexcept;
  CTimeStampRequest(const CTimeStampRequest&) noexcept = default;
  CTimeStampRequest& operator=(const CTimeStampRequest& other) noexcept;
  // Version and imprint required; policy, nonce and certificate request
  // optional on input.
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  DWORD SetVersion(const CInteger& version) noexcept;
  DWORD SetMessageImprint(const CDigestInfo& imprint) noexcept;  // needs the version
  DWORD SetReqPolicy(const COid& policy) noexcept;                // needs the imprint
  DWORD SetNonce(const CInteger& nonce) noexcept;                 // needs the policy
  DWORD SetCertReq(const CBoolean& certReq) noexcept;             // needs the imprint
  DWORD GetVersion(CInteger* pVersion) const noexcept;
  DWORD GetMessageImprint(CDigestInfo* pImprint) const noexcept;
  DWORD GetReqPolicy(COid* pPolicy) const noexcept;
  DWORD GetNonce(CInteger* pNonce) const noexcept;
  DWORD GetCertReq(CBoolean* pCertReq) const noexcept;
  enum t_FIELDS { fVersion, fImprint, fPolicy, fNonce, fCertReq, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};
