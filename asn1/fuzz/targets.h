// The parsers that read card or file bytes, driven the way the engine drives
// them. Each Run* returns the first failure of the parse (0 when the input is
// a well-formed structure of its kind) and checks the library's invariants:
// whatever parses re-encodes, and the re-encoding parses to itself.
// Shared by the fuzz targets and the unit test that replays their corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>
#include <vector>

#include "vexa/asn1/asn1.h"

namespace asn1fuzz {

// An invariant of the library broken: report it and stop the fuzzer.
#define ASN1FUZZ_REQUIRE(cond)                                                        \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      __builtin_trap();                                                               \
    }                                                                                 \
  } while (0)

template <class T>
std::vector<BYTE> EncodeOf(const T& o) {
  DWORD size = 0;
  if (o.EncodeObjectToData(nullptr, &size) != 0) return {};
  std::vector<BYTE> out(size + 1, 0xA5);
  DWORD small = size ? size - 1 : 0;
  // One octet short must fail and report the size; nothing may be written.
  if (size) {
    ASN1FUZZ_REQUIRE(o.EncodeObjectToData(out.data(), &small) == ASN1_ERR_MEMORY && small == size);
    ASN1FUZZ_REQUIRE(out[0] == 0xA5);
  }
  DWORD exact = size;
  ASN1FUZZ_REQUIRE(o.EncodeObjectToData(out.data(), &exact) == 0 && exact == size);
  ASN1FUZZ_REQUIRE(out[size] == 0xA5);
  out.resize(size);
  return out;
}

// A parsed object re-encodes, and parsing that again gives the same octets.
template <class T>
void CheckRoundTrip(const T& parsed) {
  if (!parsed.IsComplete()) return;
  std::vector<BYTE> first = EncodeOf(parsed);
  ASN1FUZZ_REQUIRE(!first.empty());
  T again;
  if constexpr (std::is_same_v<T, CAsn1Obj>) again.SetTag(parsed.GetTag());
  ASN1FUZZ_REQUIRE(again.CreateByEncodedData(first.data(), static_cast<DWORD>(first.size())) == 0);
  ASN1FUZZ_REQUIRE(EncodeOf(again) == first);
}

template <class G>
void TouchBytes(G getter) {
  DWORD n = 0;
  if (getter(nullptr, &n) != 0) return;
  std::vector<BYTE> buf(n);
  DWORD m = n;
  ASN1FUZZ_REQUIRE(getter(buf.data(), &m) == 0 && m == n);
  if (n) {
    DWORD small = n - 1;
    ASN1FUZZ_REQUIRE(getter(buf.data(), &small) == ASN1_ERR_MEMORY && small == n);
  }
}

inline void TouchSec(const CSecObject& o) {
  BYTE b;
  int f;
  CSet set;
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetAID(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetPath(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetLabel(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetProtectedBy(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetPrvAttributes(p, n); });
  o.GetInit(&f), o.GetID(&b), o.GetBioPIN(&f), o.GetMinLen(&b), o.GetMaxLen(&b), o.GetSecAuth(&f);
  if (o.GetPrvAttributes(&set) == 0) CheckRoundTrip(static_cast<const CAsn1Obj&>(set));
}

inline void TouchRsa(const CRsaObject& o) {
  BYTE b, id[2];
  DWORD bits;
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetAID(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetPath(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetSecAuth(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetPrvAttributes(p, n); });
  o.GetSE(&b), o.GetKeyType(&b), o.GetKeyAlgo(&b), o.GetKeyUsage(&b), o.GetKeySize(&bits), o.GetDSI(&b);
  o.GetPrvID(&b), o.GetPubID(id);
}

template <class T, class U>
void TouchFile(const T& o, U usage) {
  BYTE b, id[2];
  CSet set;
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetAID(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetPath(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return o.GetAttributes(p, n); });
  (o.*usage)(&b), o.GetID(id), o.GetAttributes(&set);
}

// One entry given as element octets, parsed as kind T (also from content).
template <class T, class F>
DWORD RunEntry(const BYTE* data, DWORD size, F touch) {
  T o;
  DWORD r = o.CreateByEncodedData(data, size);
  touch(o);
  if (r == 0) {
    CheckRoundTrip(o);
    T fromContent(o.GetValue(), o.GetLength());
    ASN1FUZZ_REQUIRE(fromContent.IsComplete() != 0);
    T copy(o);
    T assigned;
    assigned = o;
    ASN1FUZZ_REQUIRE(EncodeOf(copy) == EncodeOf(o) && EncodeOf(assigned) == EncodeOf(o));
  }
  return r;
}

inline DWORD RunSecObject(const BYTE* d, DWORD n) { return RunEntry<CSecObject>(d, n, TouchSec); }
inline DWORD RunRsaObject(const BYTE* d, DWORD n) { return RunEntry<CRsaObject>(d, n, TouchRsa); }

// Certificate, data and 3DES entries share one layout: all three agree.
inline DWORD RunFileObject(const BYTE* d, DWORD n) {
  DWORD a = RunEntry<CCertObject>(d, n, [](const CCertObject& o) { TouchFile(o, &CCertObject::GetUsage); });
  DWORD b = RunEntry<CDataObject>(d, n, [](const CDataObject& o) { TouchFile(o, &CDataObject::GetAccess); });
  DWORD c = RunEntry<CDes3Object>(d, n, [](const CDes3Object& o) { TouchFile(o, &CDes3Object::GetUsage); });
  ASN1FUZZ_REQUIRE(a == b && b == c);
  return a;
}

// A list: its entries must be sequences; each is then parsed as `entry`.
template <class E>
DWORD RunListEntries(const CGDOObjects& list, E entry) {
  TouchBytes([&](BYTE* p, DWORD* n) { return list.GetAID(p, n); });
  TouchBytes([&](BYTE* p, DWORD* n) { return list.GetPath(p, n); });
  DWORD count = 0;
  if (DWORD r = list.GetObjectA(nullptr, &count)) return r;
  std::vector<CAsn1Obj> entries(count);
  if (count) {
    DWORD small = count - 1;
    ASN1FUZZ_REQUIRE(list.GetObjectA(entries.data(), &small) == ASN1_ERR_MEMORY && small == count);
    ASN1FUZZ_REQUIRE(list.GetObjectA(entries.data(), &count) == 0);
  }
  DWORD first = 0;
  for (const auto& e : entries) {
    std::vector<BYTE> enc = EncodeOf(e);
    DWORD r = entry(enc.data(), static_cast<DWORD>(enc.size()));
    if (r && !first) first = r;
  }
  return first;
}

inline DWORD RunGdoObjects(const BYTE* d, DWORD n) {
  CGDOObjects list;
  DWORD r = list.CreateByEncodedData(d, n);
  if (r) return r;
  CheckRoundTrip(list);
  // The list's entries may be of any kind: each is read as every kind; the
  // result is the list's own structure (entries must be sequences).
  return RunListEntries(list, [](const BYTE* e, DWORD m) {
    RunSecObject(e, m);
    RunRsaObject(e, m);
    RunFileObject(e, m);
    return DWORD{0};
  });
}

// The directory as the engine loads it: parse, version, AID, label, then
// every list and every entry with its own kind.
inline DWORD RunGdo(const BYTE* d, DWORD n) {
  int v2 = CGDO::IsVersion2(d, n);
  CGDO gdo;
  DWORD r = gdo.CreateByEncodedData(d, n);
  BYTE version = 0;
  ASN1FUZZ_REQUIRE(v2 == (r == 0 && gdo.GetVersion(&version) == 0 && version == CGDO::VERSION_2));
  if (r) return r;
  CheckRoundTrip(gdo);
  TouchBytes([&](BYTE* p, DWORD* m) { return gdo.GetAID(p, m); });
  TouchBytes([&](BYTE* p, DWORD* m) { return gdo.GetLabel(p, m); });
  CGDOObjects sec, rsa, cert, data, des;
  ASN1FUZZ_REQUIRE(gdo.GetSecurityObject(&sec) == 0 && gdo.GetRSAObject(&rsa) == 0 && gdo.GetCertificateObject(&cert) == 0 &&
          gdo.GetDataObject(&data) == 0 && gdo.GetDes3Object(&des) == 0);
  DWORD results[] = {RunListEntries(sec, RunSecObject), RunListEntries(rsa, RunRsaObject),
                     RunListEntries(cert, RunFileObject), RunListEntries(data, RunFileObject),
                     RunListEntries(des, RunFileObject)};
  for (DWORD x : results)
    if (x) return x;
  return 0;
}

// A generic element: the expected tag is the input's first octet, as a
// caller parsing an unknown element sets it; the typed classes read it too.
inline DWORD RunObj(const BYTE* d, DWORD n) {
  CAsn1Obj o;
  if (n) o.SetTag(d[0]);
  DWORD r = o.CreateByEncodedData(d, n);
  if (r == 0) CheckRoundTrip(o);
  CInteger i;
  CBitString bs;
  COctetString os;
  COid oid;
  CNumericString ns;
  CPrintableString ps;
  CBoolean b;
  CNull nul;
  CSequence seq;
  CSet set;
  CRDNSequence rdns;
  CAsn1Obj* all[] = {&i, &bs, &os, &oid, &ns, &ps, &b, &nul, &seq, &set, &rdns};
  for (CAsn1Obj* x : all) {
    if (x->CreateByEncodedData(d, n) == 0) {
      std::vector<BYTE> enc = EncodeOf(*x);
      ASN1FUZZ_REQUIRE(!enc.empty());
    }
  }
  return r;
}

// PKCS structures: the first octet picks the class, the rest is the element.
inline DWORD RunPkcs(const BYTE* d, DWORD n) {
  if (n == 0) return ASN1_ERR_INVALID_INPUT;
  const BYTE* e = d + 1;
  DWORD m = n - 1;
  switch (d[0] % 6) {
    case 0: {
      CAlgorithmIdentifier a;
      DWORD r = a.CreateByEncodedData(e, m);
      COid oid;
      CAsn1Obj params;
      a.GetAlgoOID(&oid), a.GetOptionalObj(&params);
      if (r == 0) CheckRoundTrip(a);
      return r;
    }
    case 1: {
      CDigestInfo di;
      DWORD r = di.CreateByEncodedData(e, m);
      CAlgorithmIdentifier a;
      COctetString dg;
      if (r == 0) {
        di.GetAlgoId(&a), di.GetDigest(&dg);
        CheckRoundTrip(di);
      }
      return r;
    }
    case 2: {
      CPublicKeyInfo pk;
      DWORD r = pk.CreateByEncodedData(e, m);
      CAlgorithmIdentifier a;
      CBitString key;
      if (r == 0) {
        pk.GetAlgoId(&a), pk.GetPublicKey(&key);
        CheckRoundTrip(pk);
      }
      return r;
    }
    case 3: {
      CAttributeValueAssertion ava;
      DWORD r = ava.CreateByEncodedData(e, m);
      COid t;
      CAsn1Obj v;
      if (r == 0) {
        ava.GetAttribute(&t), ava.GetAttributeValue(&v);
        CheckRoundTrip(ava);
      }
      return r;
    }
    case 4: {
      CRelativeDistinguishedName rdn;
      DWORD r = rdn.CreateByEncodedData(e, m);
      CAttributeValueAssertion ava;
      if (r == 0) {
        ASN1FUZZ_REQUIRE(rdn.GetAttributeValueAssertion(&ava) == 0);
        CheckRoundTrip(rdn);
      }
      return r;
    }
    default: {
      CTimeStampRequest ts;
      DWORD r = ts.CreateByEncodedData(e, m);
      CInteger v, nonce;
      CDigestInfo di;
      COid p;
      CBoolean c;
      if (r == 0) {
        ts.GetVersion(&v), ts.GetMessageImprint(&di);
        ts.GetReqPolicy(&p), ts.GetNonce(&nonce), ts.GetCertReq(&c);
        CheckRoundTrip(ts);
      }
      return r;
    }
  }
}

}  // namespace asn1fuzz
