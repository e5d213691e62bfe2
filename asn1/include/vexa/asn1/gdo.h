// The card directory (version-2 layout) and its object lists.
//
//   CGDO        30 L { INTEGER version, PrintableString AID, PrintableString label,
//                      list security, list RSA keys, list certificates,
//                      list data objects, list 3DES keys }
//   CGDOObjects 30 L { PrintableString AID?, OCTET STRING path?, SET { entries } }
//
// Telling the directory versions apart: a version-2 directory parses as a
// CGDO and GetVersion gives CGDO::VERSION_2; anything else (it does not parse,
// or parses with another version) is read as a version-1 directory.
// CGDO::IsVersion2 does both checks on the directory file's octets.
#pragma once

#include <array>
#include <vector>

#include "vexa/asn1/asn1obj.h"

class VEXA_API CGDOObjects : public CSequence {
 public:
  CGDOObjects() noexcept;
  // Parses the content octets of a list element.
  CGDOObjects(const BYTE* pbContent, DWORD dwLength) noexcept;
  CGDOObjects(const CGDOObjects& other) noexcept;
  CGDOObjects& operator=(const CGDOObjects& other) noexcept;
  // Parses a list element (tag 0x30). AID, path and entries are each
  // optional on input; a list without its SET has no entries.
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;

  // AID and path may be set in either order before the list is closed; the
  // AID is always written first. Setting one twice fails with ASN1_ERR_ORDER.
  DWORD SetAID(const BYTE* pbAID, BYTE bLength) noexcept;
  DWORD SetPath(const BYTE* pbPath, BYTE bLength) noexcept;
  // Appends a complete entry to the SET when pEntry is not null; a non-zero
  // bClose then writes the list and marks it complete. A list is closed once:
  // any change after that fails with ASN1_ERR_ORDER.
  DWORD SetObject(const CAsn1Obj* pEntry, int bClose) noexcept;

  DWORD GetAID(BYTE* pbAID, DWORD* pdwLength) const noexcept;
  DWORD GetPath(BYTE* pbPath, DWORD* pdwLength) const noexcept;
  // Walks the entries. A null array returns only the count. With an array,
  // *pdwCount is its capacity on entry (too small: ASN1_ERR_MEMORY and the
  // needed count) and the number of entries copied on return; entry i is
  // copied into slot i (tag 0x30, the entry's content). An element that is
  // not a SEQUENCE fails with ASN1_ERR_WRONG_TAG, a truncated one with
  // ASN1_ERR_INVALID_INPUT; the count is then left untouched.
  DWORD GetObjectA(CAsn1Obj* pArray, DWORD* pdwCount) const noexcept;

  DWORD WriteLog(const char* pszFormat) const noexcept;

  enum t_FIELDS { fAID, fPath, fSet, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  // While the list is being built: the AID, path and entries not yet written.
  std::vector<BYTE> m_pbPendingAID;
  std::vector<BYTE> m_pbPendingPath;
  std::vector<BYTE> m_pbPendingSet;
  BYTE m_bHasAID = 0;
  BYTE m_bHasPath = 0;
  friend struct vexa_asn1_detail::Access;
};

class VEXA_API CGDO : public CSequence {
 public:
  static constexpr BYTE VERSION_2 = 2;

  CGDO() noexcept;
  CGDO(const CGDO&) noexcept = default;
  CGDO& operator=(const CGDO& other) noexcept;
  // Parses a directory element: every member is required.
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  // Non-zero when the octets parse as a directory whose version is 2.
  static int IsVersion2(const BYTE* pbData, DWORD dwSize) noexcept;

  // Setters append in this order; out of order or twice: ASN1_ERR_WRONG_TAG.
  // A list must be closed (complete), else ASN1_ERR_INCOMPLETE.
  DWORD SetVersion(BYTE bVersion) noexcept;
  DWORD SetAID(const BYTE* pbAID, DWORD dwLength) noexcept;
  DWORD SetLabel(const BYTE* pbLabel, DWORD dwLength) noexcept;
  DWORD SetSecurityObject(const CGDOObjects* pList) noexcept;
  DWORD SetRSAObject(const CGDOObjects* pList) noexcept;
  DWORD SetCertificateObject(const CGDOObjects* pList) noexcept;
  DWORD SetDataObject(const CGDOObjects* pList) noexcept;
  DWORD SetDes3Object(const CGDOObjects* pList) noexcept;

  // Absent members fail with ASN1_ERR_WRONG_TAG. Byte getters as CGDOObjects.
  DWORD GetVersion(BYTE* pbVersion) const noexcept;
  DWORD GetAID(BYTE* pbAID, DWORD* pdwLength) const noexcept;
  DWORD GetLabel(BYTE* pbLabel, DWORD* pdwLength) const noexcept;
  DWORD GetSecurityObject(CGDOObjects* pList) const noexcept;
  DWORD GetRSAObject(CGDOObjects* pList) const noexcept;
  DWORD GetCertificateObject(CGDOObjects* pList) const noexcept;
  DWORD GetDataObject(CGDOObjects* pList) const noexcept;
  DWORD GetDes3Object(CGDOObjects* pList) const noexcept;

  DWORD WriteLog(const char* pszFormat) const noexcept;

  enum t_FIELDS { fVersion, fAID, fLabel, fSecurity, fRSA, fCertificate, fData, fDes3, fCount };

 private:
  std::array<CAsn1Field, fCount> m_Fields{};
  friend struct vexa_asn1_detail::Access;
};
