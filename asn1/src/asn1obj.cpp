// The generic BER element: parse one element, write one element.
#include "codec.h"

using namespace vexa_asn1_detail;

CAsn1Obj::CAsn1Obj() noexcept = default;

CAsn1Obj::CAsn1Obj(const BYTE* pbData, DWORD dwLength) noexcept {
  if (pbData == nullptr || dwLength == 0) return;
  try {
    m_pbValue.assign(pbData, pbData + dwLength);
    m_dwLength = dwLength;
    m_bComplete = 1;
  } catch (...) {
    m_pbValue.clear();
  }
}

CAsn1Obj::CAsn1Obj(const CAsn1Obj& other) noexcept : m_bTag(other.m_bTag) {
  try {
    m_pbValue = other.m_pbValue;
    m_dwLength = other.m_dwLength;
    m_bComplete = other.m_bComplete;
  } catch (...) {
    // No memory for the copy: the object stays empty (not complete).
  }
}

CAsn1Obj::CAsn1Obj(CAsn1Obj&& other) noexcept
    : m_pbValue(std::move(other.m_pbValue)),
      m_dwLength(other.m_dwLength),
      m_bTag(other.m_bTag),
      m_bComplete(other.m_bComplete) {
  other.m_dwLength = 0;
  other.m_bComplete = 0;
}

CAsn1Obj& CAsn1Obj::operator=(const CAsn1Obj& other) noexcept {
  if (this == &other) return *this;
  try {
    std::vector<BYTE> copy(other.m_pbValue);
    m_pbValue.swap(copy);
    m_dwLength = other.m_dwLength;
    m_bTag = other.m_bTag;
    m_bComplete = other.m_bComplete;
  } catch (...) {
    // Left unchanged.
  }
  return *this;
}

CAsn1Obj& CAsn1Obj::operator=(CAsn1Obj&& other) noexcept {
  if (this == &other) return *this;
  m_pbValue = std::move(other.m_pbValue);
  m_dwLength = other.m_dwLength;
  m_bTag = other.m_bTag;
  m_bComplete = other.m_bComplete;
  other.m_pbValue.clear();
  other.m_dwLength = 0;
  other.m_bComplete = 0;
  return *this;
}

CAsn1Obj::~CAsn1Obj() = default;

void CAsn1Obj::AssignSameTag(const CAsn1Obj& other) noexcept {
  if (this == &other || other.m_bTag != m_bTag) return;
  try {
    std::vector<BYTE> copy(other.m_pbValue);
    m_pbValue.swap(copy);
    m_dwLength = other.m_dwLength;
    m_bComplete = other.m_bComplete;
  } catch (...) {
  }
}

DWORD CAsn1Obj::SetValue(const BYTE* pbData, DWORD dwLength) noexcept {
  if (m_bComplete || !m_pbValue.empty()) return ASN1_ERR_VALUE_PRESENT;
  if (!ValidInput(pbData, dwLength)) return ASN1_ERR_INVALID_INPUT;
  return Guard([&] {
    Access::Replace(*this, View(pbData, dwLength));
    m_bComplete = 1;
    return DWORD{0};
  });
}

void CAsn1Obj::Reset() noexcept {
  m_pbValue.clear();
  m_dwLength = 0;
  m_bComplete = 0;
}

DWORD CAsn1Obj::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  if (pbData == nullptr || dwSize == 0) return ASN1_ERR_INVALID_INPUT;
  Bytes in(pbData, dwSize);
  if (in[0] != TAG_NULL && !CheckTag(in[0])) return ASN1_ERR_WRONG_TAG;
  Element e;
  if (DWORD r = ReadMember(in, m_bTag, false, e)) return r;
  return Guard([&] {
    Access::SetTagValue(*this, e.tag, in.subspan(e.content, e.length));
    return DWORD{0};
  });
}

DWORD CAsn1Obj::EncodeObjectToData(BYTE* pbBuffer, DWORD* pdwSize) const noexcept {
  if (pdwSize == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!m_bComplete) return ASN1_ERR_INCOMPLETE;
  // A length member beyond the buffer cannot be written from it.
  if (m_dwLength > m_pbValue.size()) return ASN1_ERR_MEMORY;
  std::size_t needed = m_bTag == TAG_NULL ? 2 : HeaderSize(m_dwLength) + m_dwLength;
  if (pbBuffer == nullptr) {
    *pdwSize = static_cast<DWORD>(needed);
    return 0;
  }
  if (*pdwSize < needed) {
    *pdwSize = static_cast<DWORD>(needed);
    return ASN1_ERR_MEMORY;
  }
  if (m_bTag == TAG_NULL) {
    pbBuffer[0] = TAG_NULL;
    pbBuffer[1] = m_pbValue.empty() ? 0 : m_pbValue[0];
  } else {
    WriteHeader(m_bTag, m_dwLength, pbBuffer);
    if (m_dwLength) std::memcpy(pbBuffer + HeaderSize(m_dwLength), m_pbValue.data(), m_dwLength);
  }
  *pdwSize = static_cast<DWORD>(needed);
  return 0;
}

DWORD CAsn1Obj::WriteLog(const char*) const noexcept { return 0; }
