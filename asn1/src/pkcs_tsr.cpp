// Time-stamp request.
#include "entry_tags.h"
#include "pkcs_internal.h"

using namespace vexa_asn1_detail;

namespace {
using F = CTimeStampRequest;
constexpr FieldSpec kSpecs[F::fCount] = {
    {T_INTEGER, true},                                  // version
    {TAG_SEQUENCE, true, false, ValidateDigestInfo},    // message imprint
    {T_OID, false},                                     // request policy
    {T_INTEGER, false},                                 // nonce
    {T_BOOLEAN, false},                                 // certificate request (optional on input)
};
constexpr DWORD MISSING = ASN1_ERR_INCOMPLETE;
constexpr DWORD ORDER = ASN1_ERR_ORDER;

// A request being built is complete once version, imprint and certReq are set.
int Built(const std::array<CAsn1Field, F::fCount>& f) noexcept {
  return f[F::fVersion].bPresent && f[F::fImprint].bPresent && f[F::fCertReq].bPresent;
}
}  // namespace

CTimeStampRequest::CTimeStampRequest() noexcept { m_bTag = TAG_SEQUENCE; }

CTimeStampRequest::CTimeStampRequest(const BYTE* pbContent, DWORD dwLength) noexcept
    : CSequence(pbContent, dwLength) {
  m_bTag = TAG_SEQUENCE;
}

CTimeStampRequest& CTimeStampRequest::operator=(const CTimeStampRequest& other) noexcept {
  Access::CopyComposite(*this, other);
  return *this;
}

DWORD CTimeStampRequest::CreateByEncodedData(const BYTE* pbData, DWORD dwSize) noexcept {
  return ParseElementInto(*this, m_Fields, kSpecs, pbData, dwSize);
}

DWORD CTimeStampRequest::SetVersion(const CInteger& version) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kSpecs, fVersion, version, MISSING, ORDER);
  if (r == 0) m_bComplete = Built(m_Fields);
  return r;
}

DWORD CTimeStampRequest::SetMessageImprint(const CDigestInfo& imprint) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kSpecs, fImprint, imprint, MISSING, ORDER);
  if (r == 0) m_bComplete = Built(m_Fields);
  return r;
}

DWORD CTimeStampRequest::SetReqPolicy(const COid& policy) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kSpecs, fPolicy, policy, MISSING, ORDER);
  if (r == 0) m_bComplete = Built(m_Fields);
  return r;
}

DWORD CTimeStampRequest::SetNonce(const CInteger& nonce) noexcept {
  if (!m_Fields[fPolicy].bPresent) return MISSING;
  DWORD r = AddObjectField(*this, m_Fields, kSpecs, fNonce, nonce, MISSING, ORDER);
  if (r == 0) m_bComplete = Built(m_Fields);
  return r;
}

DWORD CTimeStampRequest::SetCertReq(const CBoolean& certReq) noexcept {
  DWORD r = AddObjectField(*this, m_Fields, kSpecs, fCertReq, certReq, MISSING, ORDER);
  if (r == 0) m_bComplete = 1;
  return r;
}

DWORD CTimeStampRequest::GetVersion(CInteger* p) const noexcept {
  return GetObjectField(*this, m_Fields[fVersion], p, ASN1_ERR_INCOMPLETE);
}
DWORD CTimeStampRequest::GetMessageImprint(CDigestInfo* p) const noexcept {
  return GetCompositeField(*this, m_Fields[fImprint], p);
}
DWORD CTimeStampRequest::GetReqPolicy(COid* p) const noexcept {
  return GetObjectField(*this, m_Fields[fPolicy], p, ASN1_ERR_INCOMPLETE);
}
DWORD CTimeStampRequest::GetNonce(CInteger* p) const noexcept {
  return GetObjectField(*this, m_Fields[fNonce], p, ASN1_ERR_INCOMPLETE);
}
DWORD CTimeStampRequest::GetCertReq(CBoolean* p) const noexcept {
  return GetObjectField(*this, m_Fields[fCertReq], p, ASN1_ERR_INCOMPLETE);
}
