// The entries of the card directory: PINs (CSecObject), RSA key pairs
// (CRsaObject), certificates (CCertObject), data objects (CDataObject) and
// 3DES keys (CDes3Object). Each is a SEQUENCE (tag 0x30) of fields in a fixed
// order; optional fields are left out when absent.
//
// Building: create the empty entry and call the setters in field order,
// skipping the optional fields that have no value. A setter called out of
// order, or twice, fails with ASN1_ERR_ORDER and appends nothing.
//
// Reading: the constructor from content octets (what GetValue of an entry
// element returns) or CreateByEncodedData (a whole element, tag 0x30) parse
// the fields in order; an optional field is recognised by its tag at the
// expected position, so of two adjacent optional fields of one type the first
// present is taken for the first field. A missing required field leaves the
// entry unusable: IsComplete() is 0 and every getter fails.
//
// Byte getters take (buffer or null, &length): a null buffer returns the
// length only; otherwise *pdwLength is the buffer size on entry (too small:
// ASN1_ERR_MEMORY and the needed length) and the copied length on return.
// A getter of an absent field fails: ASN1_ERR_WRONG_TAG for text, path,
// key and two-octet fields, ASN1_ERR_INVALID_INPUT for the one-octet and flag
// fields of CSecObject.
#pragma once

#include <array>

#include "vexa/asn1/asn1obj.h"

class VEXA_API CSecObject : public CSequence {
 public:
  CSecObject() noexcept;
  CSecObject(const BYTE* pbContent, DWORD dwLength) noexcept;
  CSecObject(const CSecObject&) noexcept = default;
  CSecObject& operator=(const CSecObject& other) noexcept;
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;

  // Field order: AID?, path?, init?, label, ID, bio PIN?, minimum length,
  // maximum length, secure-auth?, protected by?, attributes?
  DWORD SetAID(const BYTE* pbAID, DWORD dwLength) noexcept;
  DWORD SetPath(const BYTE* pbPath, DWORD dwLength) noexcept;
  DWORD SetInit(int bInit) noexcept;  // written only as FALSE (PIN not initialised)
  DWORD SetLabel(const BYTE* pbLabel, DWORD dwLength) noexcept;
  DWORD SetID(BYTE bID) noexcept;
  DWORD SetBioPIN(int bBio) noexcept;
  DWORD SetMinLen(BYTE bLen) noexcept;
  DWORD SetMaxLen(BYTE bLen) noexcept;
  DWORD SetSecAuth(int bSecAuth) noexcept;
  DWORD SetProtectedBy(const BYTE* pbLabel, DWORD dwLength) noexcept;
  DWORD SetPrvAttributes(const BYTE* pbBlob, DWORD dwLength) noexcept;

  DWORD GetAID(BYTE* pbAID, DWORD* pdwLength) const noexcept;
  DWORD GetPath(BYTE* pbPath, DWORD* pdwLength) const noexcept;
  // Flag getters: 0 for a FALSE or empty value, 1 otherwise; an absent field
  // sets the flag to 0 and fails with ASN1_ERR_INVALID_INPUT.
  DWORD GetInit(int* pbInit) const noexcept;
  DWORD GetLabel(BYTE* pbLabel, DWORD* pdwLength) const noexcept;
  DWORD GetID(BYTE* pbID) const noexcept;
  DWORD GetBioPIN(int* pbBio) const noexcept;
  DWORD GetMinLen(BYTE* pbLen) const noexcept;
  DWORD GetMaxLen(BYTE* pbLen) const noexcept;
  DWORD GetSecAuth(int* pbSecAuth) const noexcept;
  DWORD GetProtectedBy(BYTE* pbLabel, DWORD* pdwLength) const noexcept;
  DWORD GetPrvAttributes(BYTE* pbBlob, DWORD* pdwLength) const noexcept;
  DWORD GetPrvAttributes(CSet* pSet) const noexcept;

  enum t_FIELDS { fAID, fPath, fInit, fLabel, fID, fBioPIN, fMinLen, fMaxLen, fSecAuth, fProtectedBy, fAttributes, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};

class VEXA_API CRsaObject : public CSequence {
 public:
  CRsaObject() noexcept;
  CRsaObject(const BYTE* pbContent, DWORD dwLength) noexcept;
  CRsaObject(const CRsaObject&) noexcept = default;
  CRsaObject& operator=(const CRsaObject& other) noexcept;
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;

  // Field order: AID?, path?, SE?, key type, key algorithm, key usage,
  // key size?, DSI?, secure-auth?, private ID?, attributes, public ID?
  DWORD SetAID(const BYTE* pbAID, DWORD dwLength) noexcept;
  DWORD SetPath(const BYTE* pbPath, DWORD dwLength) noexcept;
  DWORD SetSE(BYTE bSE) noexcept;
  DWORD SetKeyType(BYTE bType) noexcept;
  DWORD SetKeyAlgo(BYTE bAlgo) noexcept;
  DWORD SetKeyUsage(BYTE bUsage) noexcept;
  // Stored as four octets, least significant first. An absent size means
  // 1024 bits; writers leave it out for 1024.
  DWORD SetKeySize(DWORD dwBits) noexcept;
  DWORD SetDSI(BYTE bDSI) noexcept;
  DWORD SetSecAuth(const BYTE* pbLabel, DWORD dwLength) noexcept;
  DWORD SetPrvID(BYTE bID) noexcept;
  DWORD SetPrvAttributes(const BYTE* pbBlob, DWORD dwLength) noexcept;
  DWORD SetPubID(const BYTE* pbID) noexcept;  // two octets

  DWORD GetAID(BYTE* pbAID, DWORD* pdwLength) const noexcept;
  DWORD GetPath(BYTE* pbPath, DWORD* pdwLength) const noexcept;
  DWORD GetSE(BYTE* pbSE) const noexcept;
  DWORD GetKeyType(BYTE* pbType) const noexcept;
  DWORD GetKeyAlgo(BYTE* pbAlgo) const noexcept;
  DWORD GetKeyUsage(BYTE* pbUsage) const noexcept;
  // The stored octets, least significant first, as a number (at most four).
  DWORD GetKeySize(DWORD* pdwBits) const noexcept;
  DWORD GetDSI(BYTE* pbDSI) const noexcept;
  DWORD GetSecAuth(BYTE* pbLabel, DWORD* pdwLength) const noexcept;
  DWORD GetPrvID(BYTE* pbID) const noexcept;
  DWORD GetPrvAttributes(BYTE* pbBlob, DWORD* pdwLength) const noexcept;
  DWORD GetPrvAttributes(CSet* pSet) const noexcept;
  DWORD GetPubID(BYTE* pbID) const noexcept;  // two octets

  enum t_FIELDS { fAID, fPath, fSE, fKeyType, fKeyAlgo, fKeyUsage, fKeySize, fDSI, fSecAuth, fPrvID, fAttributes, fPubID, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};

// The common layout of certificate, data and 3DES key entries:
// AID?, path?, usage (access class for data objects), ID (two octets), attributes.
#define VEXA_ASN1_FILE_ENTRY(Name, UsageSetter, UsageGetter)             \
  class VEXA_API Name : public CSequence {                               \
   public:                                                               \
    Name() noexcept;                                                     \
    Name(const BYTE* pbContent, DWORD dwLength) noexcept;                \
    Name(const Name&) noexcept = default;                                \
    Name& operator=(const Name& other) noexcept;                         \
    DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept; \
    DWORD SetAID(const BYTE* pbAID, DWORD dwLength) noexcept;            \
    DWORD SetPath(const BYTE* pbPath, DWORD dwLength) noexcept;          \
    DWORD UsageSetter(BYTE bValue) noexcept;                             \
    DWORD SetID(const BYTE* pbID) noexcept;                              \
    DWORD SetAttributes(const BYTE* pbBlob, DWORD dwLength) noexcept;    \
    DWORD GetAID(BYTE* pbAID, DWORD* pdwLength) const noexcept;          \
    DWORD GetPath(BYTE* pbPath, DWORD* pdwLength) const noexcept;        \
    DWORD UsageGetter(BYTE* pbValue) const noexcept;                     \
    DWORD GetID(BYTE* pbID) const noexcept;                              \
    DWORD GetAttributes(BYTE* pbBlob, DWORD* pdwLength) const noexcept;  \
    DWORD GetAttributes(CSet* pSet) const noexcept;                      \
    enum t_FIELDS { fAID, fPath, fUsage, fID, fAttributes, fCount };     \
                                                                         \
   private:                                                              \
    std::array<CAsn1Field, fCount> m_Fields{};                           \
    friend struct vexa_asn1_detail::Access;                              \
  }

VEXA_ASN1_FILE_ENTRY(CCertObject, SetUsage, GetUsage);
VEXA_ASN1_FILE_ENTRY(CDataObject, SetAccess, GetAccess);
VEXA_ASN1_FILE_ENTRY(CDes3Object, SetUsage, GetUsage);

#undef VEXA_ASN1_FILE_ENTRY
