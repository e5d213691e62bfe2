// The machinery shared by every composite: members kept as positions inside
// the composite's own content, appended in a fixed order and parsed back in
// that order with absent optional members skipped by tag.
#pragma once

#include <span>
#include <type_traits>

#include "codec.h"

namespace vexa_asn1_detail {

// Checks the structure of a member element (a nested composite) without
// copying it; returns 0 or the member's failure.
using Validator = DWORD (*)(Bytes element) noexcept;

struct FieldSpec {
  BYTE tag;        // tag written and expected
  bool required;   // a missing required member fails the parse
  bool anyTag = false;           // the member may be any element (tag taken from input)
  Validator validate = nullptr;  // nested structure check
};

using Fields = std::span<CAsn1Field>;
using Specs = std::span<const FieldSpec>;

// Checks that member i may be appended now: not present yet and no later
// member present (else orderError), every earlier required member present
// (else missingError).
DWORD CheckAppend(Fields fields, Specs specs, std::size_t i, DWORD missingError, DWORD orderError) noexcept;

// Appends member i with the given tag and content to the composite's content
// and records its position. Does not check the order (see CheckAppend).
// Throws std::bad_alloc with everything unchanged.
void AppendField(CAsn1Obj& composite, Fields fields, std::size_t i, BYTE tag, Bytes content);

// CheckAppend, then AppendField under Guard; marks the composite complete.
DWORD AddField(CAsn1Obj& composite, Fields fields, Specs specs, std::size_t i, BYTE tag, Bytes content,
               DWORD missingError, DWORD orderError) noexcept;

// Walks content member by member: each member is read at the current offset;
// an optional member whose tag does not match is skipped without moving; the
// first required member that fails ends the walk with its result. Positions
// recorded before a failure stay. Octets after the last member are ignored.
DWORD ParseFields(Bytes content, Fields fields, Specs specs) noexcept;

// Parses an element (tag check against the composite's tag, no NULL rule) or
// a bare content into the composite: takes a copy of the content, clears the
// positions and parses the members. On failure the composite is incomplete.
DWORD ParseElementInto(CAsn1Obj& composite, Fields fields, Specs specs, const BYTE* pbData, DWORD dwSize) noexcept;
DWORD ParseContentInto(CAsn1Obj& composite, Fields fields, Specs specs, const BYTE* pbContent, DWORD dwLength) noexcept;

// Checks an element's header and tag and that its content parses as members.
DWORD ValidateElement(Bytes element, BYTE tag, Fields scratch, Specs specs) noexcept;

void ClearAll(Fields fields) noexcept;

// The same three with a class's own member walk (a callable
// DWORD(Bytes content, Fields fields) noexcept) in place of ParseFields.
template <class P>
DWORD ValidateElementWith(Bytes element, BYTE tag, Fields scratch, P parse) noexcept {
  if (element.empty()) return ASN1_ERR_INVALID_INPUT;
  if (element[0] != tag) return ASN1_ERR_WRONG_TAG;
  Element e;
  if (DWORD r = ReadHeader(element, e)) return r;
  return parse(element.subspan(e.content, e.length), scratch);
}

template <class P>
DWORD ParseContentWith(CAsn1Obj& composite, Fields fields, P parse, const BYTE* pbContent, DWORD dwLength) noexcept {
  if (!ValidInput(pbContent, dwLength)) return ASN1_ERR_INVALID_INPUT;
  return Guard([&] {
    Access::Replace(composite, View(pbContent, dwLength));
    ClearAll(fields);
    DWORD r = parse(Bytes(Access::Value(composite)), fields);
    Access::SetComplete(composite, r == 0);
    return r;
  });
}

template <class P>
DWORD ParseElementWith(CAsn1Obj& composite, Fields fields, P parse, const BYTE* pbData, DWORD dwSize) noexcept {
  if (pbData == nullptr || dwSize == 0) return ASN1_ERR_INVALID_INPUT;
  Bytes in(pbData, dwSize);
  if (in[0] != composite.GetTag()) return ASN1_ERR_WRONG_TAG;
  Element e;
  if (DWORD r = ReadHeader(in, e)) return r;
  Bytes content = in.subspan(e.content, e.length);
  return ParseContentWith(composite, fields, parse, content.data(), static_cast<DWORD>(content.size()));
}

// Records member i found at `offset` of the content.
void RecordField(CAsn1Field& f, std::size_t offset, const Element& e) noexcept;
// Non-zero when every required member is present.
int AllRequired(Fields fields, Specs specs) noexcept;

// The content / whole element of member i (empty span when absent).
Bytes FieldContent(const CAsn1Obj& composite, const CAsn1Field& f) noexcept;
Bytes FieldElement(const CAsn1Obj& composite, const CAsn1Field& f) noexcept;

// A member that holds a value of its own type. A NULL element found where a
// typed field stands parses (as every member does) but carries no value.
inline bool IsValueField(const CAsn1Field& f) noexcept { return f.bPresent && f.bTag != TAG_NULL; }

// Getters over a member: absent (or the composite unusable) gives absentError.
DWORD GetBytesField(const CAsn1Obj& composite, const CAsn1Field& f, BYTE* pbBuffer, DWORD* pdwLength,
                    DWORD absentError) noexcept;
DWORD GetOctetField(const CAsn1Obj& composite, const CAsn1Field& f, BYTE* pbOctet, DWORD absentError) noexcept;
// Copies the member into obj through obj's own assignment (same tag only).
template <class T>
DWORD GetObjectField(const CAsn1Obj& composite, const CAsn1Field& f, T* pObj, DWORD absentError) noexcept {
  if (pObj == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!composite.IsComplete() || !f.bPresent) return absentError;
  return Guard([&] {
    CAsn1Obj member;
    Access::SetTagValue(member, f.bTag, FieldContent(composite, f));
    if (member.GetTag() != pObj->GetTag() && !std::is_same_v<T, CAsn1Obj>) return ASN1_ERR_WRONG_TAG;
    *pObj = member;
    return DWORD{0};
  });
}

// Copies the member's content into a set carrying the member's wire tag
// (0x31), ready to be encoded again.
DWORD GetSetField(const CAsn1Obj& composite, const CAsn1Field& f, CSet* pSet, DWORD absentError) noexcept;

// Byte setters: a null pointer with a non-zero length is refused.
inline DWORD AddBytesField(CAsn1Obj& composite, Fields fields, Specs specs, std::size_t i, const BYTE* pb,
                           DWORD cb, DWORD missingError, DWORD orderError) noexcept {
  if (!ValidInput(pb, cb)) return ASN1_ERR_INVALID_INPUT;
  return AddField(composite, fields, specs, i, specs[i].tag, View(pb, cb), missingError, orderError);
}
inline DWORD AddOctetField(CAsn1Obj& composite, Fields fields, Specs specs, std::size_t i, BYTE b,
                           DWORD missingError, DWORD orderError) noexcept {
  return AddField(composite, fields, specs, i, specs[i].tag, Bytes(&b, 1), missingError, orderError);
}
// Appends a whole element (a complete object's encoding) as member i.
DWORD AddObjectField(CAsn1Obj& composite, Fields fields, Specs specs, std::size_t i, const CAsn1Obj& obj,
                     DWORD missingError, DWORD orderError) noexcept;

}  // namespace vexa_asn1_detail
