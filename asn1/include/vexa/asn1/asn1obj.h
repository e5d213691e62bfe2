// BER objects: one identifier octet, a definite length and the content octets.
//
// Content octets are kept exactly as given (no canonicalisation). Every object
// owns its content buffer; constructors from bytes, SetValue, copy
// construction and assignment copy, and GetValue returns a pointer into the
// object's own buffer that stays valid until the object changes or dies.
//
// No operation throws. A constructor that cannot take its value (zero length,
// no memory) leaves the object without a value: IsComplete() then returns 0.
#pragma once

#include <vector>

#include "vexa/asn1/asn1defs.h"

class VEXA_API CAsn1Obj {
 public:
  CAsn1Obj() noexcept;
  // Copies dwLength content octets. A zero length leaves the object empty.
  CAsn1Obj(const BYTE* pbData, DWORD dwLength) noexcept;
  CAsn1Obj(const CAsn1Obj& other) noexcept;
  CAsn1Obj(CAsn1Obj&& other) noexcept;
  // Copies tag, length, content and complete flag; on allocation failure the
  // target is left unchanged.
  CAsn1Obj& operator=(const CAsn1Obj& other) noexcept;
  CAsn1Obj& operator=(CAsn1Obj&& other) noexcept;
  virtual ~CAsn1Obj();

  BYTE GetTag() const noexcept { return m_bTag; }
  void SetTag(BYTE bTag) noexcept { m_bTag = bTag; }
  DWORD GetLength() const noexcept { return m_dwLength; }
  // Replaces the length member only; the content buffer is untouched.
  void SetLength(DWORD dwLength) noexcept { m_dwLength = dwLength; }
  // The content octets, or null when the object holds none.
  const BYTE* GetValue() const noexcept { return m_pbValue.empty() ? nullptr : m_pbValue.data(); }
  // Copies the content. Fails with ASN1_ERR_VALUE_PRESENT when a value exists,
  // ASN1_ERR_INVALID_INPUT for a null pointer with a non-zero length.
  DWORD SetValue(const BYTE* pbData, DWORD dwLength) noexcept;
  int IsComplete() const noexcept { return m_bComplete; }
  // Drops the value (the tag stays): the object is empty again.
  void Reset() noexcept;

  // Parses one element at the start of pbData. The first octet must be this
  // object's tag (ASN1_ERR_WRONG_TAG otherwise, object unchanged); an element
  // 05 xx always parses, turning the object into a NULL with content xx.
  // Declared lengths running past dwSize, or more than four length octets,
  // fail with ASN1_ERR_INVALID_INPUT. Octets after the element are ignored.
  DWORD CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept;
  // Writes the element. With a null buffer only *pdwSize is set (the full
  // encoded size). With a buffer, *pdwSize is its size on entry: a buffer
  // smaller than the encoding fails with ASN1_ERR_MEMORY, nothing is written
  // and *pdwSize receives the needed size; on success *pdwSize is the number
  // of octets written. An object without a value fails with
  // ASN1_ERR_INCOMPLETE and leaves *pdwSize untouched.
  DWORD EncodeObjectToData(BYTE* pbBuffer, DWORD* pdwSize) const noexcept;
  // Kept for callers of the logging hook; does nothing.
  DWORD WriteLog(const char* pszFormat) const noexcept;

 protected:
  int CheckTag(BYTE bTag) const noexcept { return bTag == m_bTag; }
  // Copies length, content and complete flag when other carries this object's
  // tag; any other source leaves this object unchanged.
  void AssignSameTag(const CAsn1Obj& other) noexcept;

  std::vector<BYTE> m_pbValue;  // content octets
  DWORD m_dwLength = 0;         // number of content octets
  BYTE m_bTag = 0;              // the whole identifier octet
  int m_bComplete = 0;          // non-zero once the object holds a usable value

  friend struct vexa_asn1_detail::Access;
};

class VEXA_API CBoolean : public CAsn1Obj {
 public:
  CBoolean() noexcept;
  // Content 0xFF for any non-zero flag, 0x00 otherwise.
  explicit CBoolean(int bFlag) noexcept;
  // Content 0x00 when the first octet is 0x00, 0xFF otherwise.
  CBoolean(const BYTE* pbData, DWORD dwLength) noexcept;
  CBoolean(const CBoolean&) noexcept = default;
  CBoolean& operator=(const CBoolean& other) noexcept;
  CBoolean& operator=(const CAsn1Obj& other) noexcept;
  using CAsn1Obj::SetValue;
  // Replaces the content by 0xFF / 0x00 and marks the object complete.
  DWORD SetValue(int bFlag) noexcept;
};

// The classes below differ only by their tag; their content is kept as given.
#define VEXA_ASN1_SIMPLE_CLASS(Name)                       \
  class VEXA_API Name : public CAsn1Obj {                  \
   public:                                                 \
    Name() noexcept;                                       \
    Name(const BYTE* pbData, DWORD dwLength) noexcept;     \
    Name(const Name&) noexcept = default;                  \
    Name& operator=(const Name& other) noexcept;           \
    Name& operator=(const CAsn1Obj& other) noexcept;       \
  }

VEXA_ASN1_SIMPLE_CLASS(CInteger);          // 0x02; 32-bit values are stored little-endian by callers
VEXA_ASN1_SIMPLE_CLASS(CBitString);        // 0x03; the unused-bits octet is the caller's
VEXA_ASN1_SIMPLE_CLASS(COctetString);      // 0x04
VEXA_ASN1_SIMPLE_CLASS(COid);              // 0x06; encoded arcs as supplied
VEXA_ASN1_SIMPLE_CLASS(CNumericString);    // 0x12; no character check
VEXA_ASN1_SIMPLE_CLASS(CPrintableString);  // 0x13; no character check

#undef VEXA_ASN1_SIMPLE_CLASS

// 0x05, content the single octet 0x00, complete from construction.
class VEXA_API CNull : public CAsn1Obj {
 public:
  CNull() noexcept;
  CNull(const BYTE* pbData, DWORD dwLength) noexcept;
  CNull(const CNull&) noexcept = default;
  CNull& operator=(const CNull& other) noexcept;
  CNull& operator=(const CAsn1Obj& other) noexcept;
};

// Tag 0x10 without the constructed bit: a caller that puts a bare CSequence on
// the wire sets SetTag(GetTag() | 0x20) first. The content grows by appending
// member encodings; the buffer grows geometrically, so n appends cost O(n).
class VEXA_API CSequence : public CAsn1Obj {
 public:
  CSequence() noexcept;
  CSequence(const BYTE* pbContent, DWORD dwLength) noexcept;
  // The content becomes the element's encoding.
  explicit CSequence(const CAsn1Obj& element) noexcept;
  CSequence(const CSequence&) noexcept = default;
  CSequence& operator=(const CSequence& other) noexcept;
  CSequence& operator=(const CAsn1Obj& other) noexcept;

  // Appends the encoding of a complete object (ASN1_ERR_INCOMPLETE
  // otherwise); the first append creates the content and marks this complete.
  DWORD AddAsn1Obj(const CAsn1Obj* pObj) noexcept;
  // Appends raw octets to the content.
  DWORD AddAsn1Obj(const BYTE* pbData, DWORD dwLength) noexcept;
};

// Tag 0x11 without the constructed bit, as CSequence.
class VEXA_API CSet : public CSequence {
 public:
  CSet() noexcept;
  CSet(const BYTE* pbContent, DWORD dwLength) noexcept;
  explicit CSet(const CAsn1Obj& element) noexcept;
  CSet(const CSet&) noexcept = default;
  CSet& operator=(const CSet& other) noexcept;
  CSet& operator=(const CAsn1Obj& other) noexcept;
};

// Position of one member inside a composite's content (internal bookkeeping
// of the composites; offsets, never pointers, so copies stay valid).
struct CAsn1Field {
  DWORD dwOffset = 0;   // first octet of the member's element in the content
  DWORD dwContent = 0;  // first content octet
  DWORD dwLength = 0;   // content octets
  DWORD dwSize = 0;     // octets the element occupies
  BYTE bTag = 0;        // tag found or written
  BYTE bPresent = 0;
};
