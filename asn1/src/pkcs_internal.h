// Member walks and structure checks of the PKCS composites, shared between
// the composites that nest one another.
#pragma once

#include "composite.h"
#include "vexa/asn1/pkcs.h"

namespace vexa_asn1_detail {
// AlgorithmIdentifier content: the OID, then the parameters (any element)
// when at least two octets remain.
DWORD ParseAlgorithmMembers(Bytes content, Fields fields) noexcept;
DWORD ValidateAlgorithmIdentifier(Bytes element) noexcept;
DWORD ValidateDigestInfo(Bytes element) noexcept;
DWORD ValidateAttributeValueAssertion(Bytes element) noexcept;

// Copies a nested composite member into the caller's object by parsing its
// element into a fresh object first (the caller's object changes only on success).
template <class T>
DWORD GetCompositeField(const CAsn1Obj& composite, const CAsn1Field& f, T* pObj) noexcept {
  if (pObj == nullptr) return ASN1_ERR_INVALID_INPUT;
  if (!composite.IsComplete() || !f.bPresent) return ASN1_ERR_INCOMPLETE;
  Bytes element = FieldElement(composite, f);
  T parsed;
  if (parsed.CreateByEncodedData(element.data(), static_cast<DWORD>(element.size()))) return ASN1_ERR_WRONG_TAG;
  *pObj = parsed;
  return 0;
}
}  // namespace vexa_asn1_detail
