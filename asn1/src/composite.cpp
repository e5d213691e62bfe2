#include "composite.h"

namespace vexa_asn1_detail {

namespace {

void Record(CAsn1Field& f, std::size_t offset, const Element& e) noexcept {
  f.dwOffset = static_cast<DWORD>(offset);
  f.dwContent = static_cast<DWORD>(offset + e.content);
  f.dwLength = static_cast<DWORD>(e.length);
  f.dwSize = static_cast<DWORD>(e.size);
  f.bTag = e.tag;
  f.bPresent = 1;
}

void ClearFields(Fields fields) noexcept {
  for (auto& f : fields) f = CAsn1Field{};
}

// Appends an already encoded element as member i.
void AppendEncoded(CAsn1Obj& composite, Fields fields, std::size_t i, Bytes element, const Element& e) {
  auto& v = Access::Value(composite);
  // Appends extend exactly the octets GetValue/GetLength describe.
  if (v.size() > composite.GetLength()) v.resize(composite.GetLength());
  std::size_t at = v.size();
  BYTE* p = Extend(v, element.size());
  std::memcpy(p, element.data(), element.size());
  Access::SyncLength(composite);
  Record(fields[i], at, e);
}

}  // namespace

DWORD CheckAppend(Fields fields, Specs specs, std::size_t i, DWORD missingError, DWORD orderError) noexcept {
  if (fields[i].bPresent) return orderError;
  for (std::size_t j = i + 1; j < fields.size(); ++j)
    if (fields[j].bPresent) return orderError;
  for (std::size_t j = 0; j < i; ++j)
    if (specs[j].required && !fields[j].bPresent) return missingError;
  return 0;
}

void AppendField(CAsn1Obj& composite, Fields fields, std::size_t i, BYTE tag, Bytes content) {
  auto& v = Access::Value(composite);
  if (v.size() > composite.GetLength()) v.resize(composite.GetLength());
  std::size_t at = AppendElement(v, tag, content);
  Access::SyncLength(composite);
  Element e;
  e.tag = tag;
  e.content = HeaderSize(content.size());
  e.length = content.size();
  e.size = e.content + e.length;
  Record(fields[i], at, e);
}

DWORD AddField(CAsn1Obj& composite, Fields fields, Specs specs, std::size_t i, BYTE tag, Bytes content,
               DWORD missingError, DWORD orderError) noexcept {
  if (DWORD r = CheckAppend(fields, specs, i, missingError, orderError)) return r;
  return Guard([&] {
    AppendField(composite, fields, i, tag, content);
    Access::SetComplete(composite, 1);
    return DWORD{0};
  });
}

DWORD AddObjectField(CAsn1Obj& composite, Fields fields, Specs specs, std::size_t i, const CAsn1Obj& obj,
                     DWORD missingError, DWORD orderError) noexcept {
  if (!obj.IsComplete()) return ASN1_ERR_INCOMPLETE;
  if (DWORD r = CheckAppend(fields, specs, i, missingError, orderError)) return r;
  return Guard([&] {
    DWORD size = 0;
    if (DWORD r = obj.EncodeObjectToData(nullptr, &size)) return r;
    std::vector<BYTE> encoded(size);
    if (DWORD r = obj.EncodeObjectToData(encoded.data(), &size)) return r;
    Element e;
    if (DWORD r = ReadMember(Bytes(encoded.data(), size), obj.GetTag(), true, e)) return r;
    AppendEncoded(composite, fields, i, Bytes(encoded.data(), e.size), e);
    Access::SetComplete(composite, 1);
    return DWORD{0};
  });
}

DWORD ParseFields(Bytes content, Fields fields, Specs specs) noexcept {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& s = specs[i];
    if (pos >= content.size()) {
      if (s.required) return ASN1_ERR_INVALID_INPUT;
      continue;
    }
    Element e;
    Bytes rest = content.subspan(pos);
    DWORD r = ReadMember(rest, s.tag, s.anyTag, e);
    // A nested composite checks its own tag: a NULL does not stand in for it.
    if (r == 0 && s.validate) r = s.validate(rest.first(e.size));
    if (r == ASN1_ERR_WRONG_TAG && !s.required && rest[0] != s.tag) continue;
    if (r) return r;
    Record(fields[i], pos, e);
    pos += e.size;
  }
  return 0;
}

void ClearAll(Fields fields) noexcept { ClearFields(fields); }

DWORD ValidateElement(Bytes element, BYTE tag, Fields scratch, Specs specs) noexcept {
  return ValidateElementWith(element, tag, scratch, [specs](Bytes c, Fields f) { return ParseFields(c, f, specs); });
}

DWORD ParseContentInto(CAsn1Obj& composite, Fields fields, Specs specs, const BYTE* pbContent,
                       DWORD dwLength) noexcept {
  return ParseContentWith(composite, fields, [specs](Bytes c, Fields f) { return ParseFields(c, f, specs); },
                          pbContent, dwLength);
}

DWORD ParseElementInto(CAsn1Obj& composite, Fields fields, Specs specs, const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementWith(composite, fields, [specs](Bytes c, Fields f) { return ParseFields(c, f, specs); },
                          pbData, dwSize);
}

void RecordField(CAsn1Field& f, std::size_t offset, const Element& e) noexcept { Record(f, offset, e); }

int AllRequired(Fields fields, Specs specs) noexcept {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (specs[i].required && !fields[i].bPresent) return 0;
  return 1;
}

Bytes FieldContent(const CAsn1Obj& composite, const CAsn1Field& f) noexcept {
  if (!f.bPresent) return {};
  const auto& v = Access::Value(composite);
  if (static_cast<std::size_t>(f.dwContent) + f.dwLength > v.size()) return {};
  return Bytes(v.data() + f.dwContent, f.dwLength);
}

Bytes FieldElement(const CAsn1Obj& composite, const CAsn1Field& f) noexcept {
  if (!f.bPresent) return {};
  const auto& v = Access::Value(composite);
  if (static_cast<std::size_t>(f.dwOffset) + f.dwSize > v.size()) return {};
  return Bytes(v.data() + f.dwOffset, f.dwSize);
}

DWORD GetBytesField(const CAsn1Obj& composite, const CAsn1Field& f, BYTE* pbBuffer, DWORD* pdwLength,
                    DWORD absentError) noexcept {
  if (pdwLength == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!composite.IsComplete() || !IsValueField(f)) return absentError;
  return CopyOut(FieldContent(composite, f), pbBuffer, pdwLength);
}

DWORD GetOctetField(const CAsn1Obj& composite, const CAsn1Field& f, BYTE* pbOctet, DWORD absentError) noexcept {
  if (pbOctet == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!composite.IsComplete() || !IsValueField(f)) return absentError;
  Bytes c = FieldContent(composite, f);
  if (c.empty()) return absentError;
  *pbOctet = c[0];
  return 0;
}

DWORD GetSetField(const CAsn1Obj& composite, const CAsn1Field& f, CSet* pSet, DWORD absentError) noexcept {
  if (pSet == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!composite.IsComplete() || !IsValueField(f)) return absentError;
  return Guard([&] {
    CAsn1Obj member;
    Access::SetTagValue(member, f.bTag, FieldContent(composite, f));
    Access::CopyBase(*pSet, member);
    return DWORD{0};
  });
}

}  // namespace vexa_asn1_detail
