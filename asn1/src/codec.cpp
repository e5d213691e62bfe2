#include "codec.h"

#include <new>

namespace vexa_asn1_detail {

DWORD ReadHeader(Bytes in, Element& e) noexcept {
  if (in.size() < 2) return ASN1_ERR_INVALID_INPUT;
  const BYTE first = in[1];
  std::size_t length = 0;
  std::size_t header = 0;
  if (first < 0x80) {
    length = first;
    header = 2;
  } else {
    // 0x80 is read as "one length octet follows" (older writers used it so).
    std::size_t n = first == 0x80 ? 1 : static_cast<std::size_t>(first - 0x80);
    if (n > MAX_LENGTH_OCTETS) return ASN1_ERR_INVALID_INPUT;
    if (in.size() < 2 + n) return ASN1_ERR_INVALID_INPUT;
    for (std::size_t i = 0; i < n; ++i) length = (length << 8) | in[2 + i];
    header = 2 + n;
  }
  // Compare without overflow: the content must fit in what is left.
  if (length > in.size() - header) return ASN1_ERR_INVALID_INPUT;
  e.tag = in[0];
  e.content = header;
  e.length = length;
  e.size = header + length;
  return 0;
}

DWORD ReadMember(Bytes in, BYTE tag, bool anyTag, Element& e) noexcept {
  if (in.empty()) return ASN1_ERR_INVALID_INPUT;
  if (in[0] == TAG_NULL) {
    if (in.size() < 2) return ASN1_ERR_INVALID_INPUT;
    e.tag = TAG_NULL;
    e.content = 1;
    e.length = 1;
    e.size = 2;
    return 0;
  }
  if (!anyTag && in[0] != tag) return ASN1_ERR_WRONG_TAG;
  return ReadHeader(in, e);
}

std::size_t HeaderSize(std::size_t length) noexcept {
  if (length < 0x80) return 2;
  std::size_t n = 0;
  for (std::size_t v = length; v != 0; v >>= 8) ++n;
  return 2 + n;
}

void WriteHeader(BYTE tag, std::size_t length, BYTE* out) noexcept {
  out[0] = tag;
  if (length < 0x80) {
    out[1] = static_cast<BYTE>(length);
    return;
  }
  std::size_t n = HeaderSize(length) - 2;
  out[1] = static_cast<BYTE>(0x80 | n);
  for (std::size_t i = 0; i < n; ++i) out[2 + i] = static_cast<BYTE>(length >> (8 * (n - 1 - i)));
}

BYTE* Extend(std::vector<BYTE>& v, std::size_t n) {
  std::size_t old = v.size();
  std::size_t need = old + n;
  if (need > v.capacity()) {
    std::size_t grown = v.capacity() * 2;
    v.reserve(grown > need ? grown : need);
  }
  v.resize(need);  // within capacity: does not throw
  return v.data() + old;
}

std::size_t AppendElement(std::vector<BYTE>& v, BYTE tag, Bytes content) {
  std::size_t at = v.size();
  std::size_t h = HeaderSize(content.size());
  BYTE* p = Extend(v, h + content.size());
  WriteHeader(tag, content.size(), p);
  if (!content.empty()) std::memcpy(p + h, content.data(), content.size());
  return at;
}

DWORD CopyOut(Bytes src, BYTE* pbBuffer, DWORD* pdwLength) noexcept {
  if (pdwLength == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (pbBuffer == nullptr) {
    *pdwLength = static_cast<DWORD>(src.size());
    return 0;
  }
  if (*pdwLength < src.size()) {
    *pdwLength = static_cast<DWORD>(src.size());
    return ASN1_ERR_MEMORY;
  }
  if (!src.empty()) std::memcpy(pbBuffer, src.data(), src.size());
  *pdwLength = static_cast<DWORD>(src.size());
  return 0;
}

}  // namespace vexa_asn1_detail
