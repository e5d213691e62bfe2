// BER header reading and writing, and the internal access to the objects'
// members shared by the library's sources.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "vexa/asn1/asn1obj.h"

namespace vexa_asn1_detail {

using Bytes = std::span<const BYTE>;

constexpr BYTE TAG_NULL = 0x05;
constexpr BYTE TAG_SEQUENCE = 0x30;
constexpr BYTE TAG_SET = 0x31;
constexpr BYTE CONSTRUCTED = 0x20;
// Longest length field read: four octets after the 0x8n octet (32-bit lengths).
constexpr std::size_t MAX_LENGTH_OCTETS = 4;

// One element found in an input: where its content lies and how many octets
// it occupies.
struct Element {
  BYTE tag = 0;
  std::size_t content = 0;  // offset of the first content octet
  std::size_t length = 0;   // content octets
  std::size_t size = 0;     // octets of the whole element
};

// Reads the identifier and the definite length at the start of `in`. A length
// octet 0x80 is read as a one-octet long form. Fails with
// ASN1_ERR_INVALID_INPUT when the input ends inside the header or the content,
// or the length field has more than four octets.
DWORD ReadHeader(Bytes in, Element& e) noexcept;

// Reads a member at the start of `in` as a composite does: an element with
// first octet 0x05 is always taken as a NULL (content: its second octet, size
// 2); otherwise the first octet must be `tag` (any tag when `anyTag`), else
// ASN1_ERR_WRONG_TAG.
DWORD ReadMember(Bytes in, BYTE tag, bool anyTag, Element& e) noexcept;

// Octets of tag plus length field for a content of `length` octets.
std::size_t HeaderSize(std::size_t length) noexcept;
// Writes tag and length field at out (HeaderSize(length) octets).
void WriteHeader(BYTE tag, std::size_t length, BYTE* out) noexcept;

// Grows v by n octets (geometric growth, so repeated appends stay linear) and
// returns a pointer to the new octets. Throws std::bad_alloc with v unchanged.
BYTE* Extend(std::vector<BYTE>& v, std::size_t n);

// Appends the element tag/length/content to v; returns its offset in v.
std::size_t AppendElement(std::vector<BYTE>& v, BYTE tag, Bytes content);

// Copies src out through the (buffer or null, &length) convention.
DWORD CopyOut(Bytes src, BYTE* pbBuffer, DWORD* pdwLength) noexcept;

// A null pointer is acceptable only with a zero length.
inline bool ValidInput(const BYTE* pb, DWORD cb) noexcept { return pb != nullptr || cb == 0; }
inline Bytes View(const BYTE* pb, DWORD cb) noexcept { return cb ? Bytes(pb, cb) : Bytes(); }

// Runs f, turning any exception into ASN1_ERR_MEMORY: nothing leaves the library.
template <class F>
DWORD Guard(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return ASN1_ERR_MEMORY;
  }
}

struct Access {
  static std::vector<BYTE>& Value(CAsn1Obj& o) noexcept { return o.m_pbValue; }
  static const std::vector<BYTE>& Value(const CAsn1Obj& o) noexcept { return o.m_pbValue; }
  // The content octets the object stands for (length member, bounded by the buffer).
  static Bytes Content(const CAsn1Obj& o) noexcept {
    std::size_t n = o.m_dwLength < o.m_pbValue.size() ? o.m_dwLength : o.m_pbValue.size();
    return Bytes(o.m_pbValue.data(), n);
  }
  static void SetComplete(CAsn1Obj& o, int complete) noexcept { o.m_bComplete = complete; }
  // Replaces the content (strong guarantee: throws with o unchanged).
  static void Replace(CAsn1Obj& o, Bytes content) {
    std::vector<BYTE> v(content.begin(), content.end());
    o.m_pbValue.swap(v);
    o.m_dwLength = static_cast<DWORD>(o.m_pbValue.size());
  }
  static void SyncLength(CAsn1Obj& o) noexcept { o.m_dwLength = static_cast<DWORD>(o.m_pbValue.size()); }
  // Copies every base member (strong guarantee: throws with `to` unchanged).
  static void CopyBase(CAsn1Obj& to, const CAsn1Obj& from) {
    std::vector<BYTE> v(from.m_pbValue);
    to.m_pbValue.swap(v);
    to.m_dwLength = from.m_dwLength;
    to.m_bTag = from.m_bTag;
    to.m_bComplete = from.m_bComplete;
  }
  // Assignment of a composite: content and member positions together, or
  // nothing when memory runs out.
  template <class T>
  static void CopyComposite(T& to, const T& from) noexcept {
    if (&to == &from) return;
    try {
      CopyBase(to, from);
      to.m_Fields = from.m_Fields;
    } catch (...) {
    }
  }
  static void SetTagValue(CAsn1Obj& o, BYTE tag, Bytes content) {
    Replace(o, content);
    o.m_bTag = tag;
    o.m_bComplete = 1;
  }
};

}  // namespace vexa_asn1_detail
