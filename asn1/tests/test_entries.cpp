// Directory entries: each kind with and without its optional fields, the
// fixed field order, and the getters' results for absent fields.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "fixtures.h"

using namespace fixture;

namespace {

const Octets kAid = Hex("A0 01"), kPath = Hex("3F 00"), kAttr1 = Hex(ATTR1), kAttr2 = Hex(ATTR2);
const Octets kPin = Bytes("PIN"), kPuk = Bytes("PUK");

// Which getters of a parsed entry succeed, by field index.
std::set<int> PresentSec(const CSecObject& o) {
  std::set<int> p;
  Octets v;
  BYTE b;
  int f;
  auto bytes = [&](int i, auto g) { if (ReadBytes(g, v) == 0) p.insert(i); };
  bytes(CSecObject::fAID, [&](BYTE* x, DWORD* n) { return o.GetAID(x, n); });
  bytes(CSecObject::fPath, [&](BYTE* x, DWORD* n) { return o.GetPath(x, n); });
  if (o.GetInit(&f) == 0) p.insert(CSecObject::fInit);
  bytes(CSecObject::fLabel, [&](BYTE* x, DWORD* n) { return o.GetLabel(x, n); });
  if (o.GetID(&b) == 0) p.insert(CSecObject::fID);
  if (o.GetBioPIN(&f) == 0) p.insert(CSecObject::fBioPIN);
  if (o.GetMinLen(&b) == 0) p.insert(CSecObject::fMinLen);
  if (o.GetMaxLen(&b) == 0) p.insert(CSecObject::fMaxLen);
  if (o.GetSecAuth(&f) == 0) p.insert(CSecObject::fSecAuth);
  bytes(CSecObject::fProtectedBy, [&](BYTE* x, DWORD* n) { return o.GetProtectedBy(x, n); });
  bytes(CSecObject::fAttributes, [&](BYTE* x, DWORD* n) { return o.GetPrvAttributes(x, n); });
  return p;
}

std::set<int> PresentRsa(const CRsaObject& o) {
  std::set<int> p;
  Octets v;
  BYTE b, id[2];
  DWORD bits;
  auto bytes = [&](int i, auto g) { if (ReadBytes(g, v) == 0) p.insert(i); };
  bytes(CRsaObject::fAID, [&](BYTE* x, DWORD* n) { return o.GetAID(x, n); });
  bytes(CRsaObject::fPath, [&](BYTE* x, DWORD* n) { return o.GetPath(x, n); });
  if (o.GetSE(&b) == 0) p.insert(CRsaObject::fSE);
  if (o.GetKeyType(&b) == 0) p.insert(CRsaObject::fKeyType);
  if (o.GetKeyAlgo(&b) == 0) p.insert(CRsaObject::fKeyAlgo);
  if (o.GetKeyUsage(&b) == 0) p.insert(CRsaObject::fKeyUsage);
  if (o.GetKeySize(&bits) == 0) p.insert(CRsaObject::fKeySize);
  if (o.GetDSI(&b) == 0) p.insert(CRsaObject::fDSI);
  bytes(CRsaObject::fSecAuth, [&](BYTE* x, DWORD* n) { return o.GetSecAuth(x, n); });
  if (o.GetPrvID(&b) == 0) p.insert(CRsaObject::fPrvID);
  bytes(CRsaObject::fAttributes, [&](BYTE* x, DWORD* n) { return o.GetPrvAttributes(x, n); });
  if (o.GetPubID(id) == 0) p.insert(CRsaObject::fPubID);
  return p;
}

template <class T, class U>
std::set<int> PresentFile(const T& o, U usage) {
  std::set<int> p;
  Octets v;
  BYTE b, id[2];
  auto bytes = [&](int i, auto g) { if (ReadBytes(g, v) == 0) p.insert(i); };
  bytes(T::fAID, [&](BYTE* x, DWORD* n) { return o.GetAID(x, n); });
  bytes(T::fPath, [&](BYTE* x, DWORD* n) { return o.GetPath(x, n); });
  if ((o.*usage)(&b) == 0) p.insert(T::fUsage);
  if (o.GetID(id) == 0) p.insert(T::fID);
  bytes(T::fAttributes, [&](BYTE* x, DWORD* n) { return o.GetAttributes(x, n); });
  return p;
}

struct EntryCase {
  const char* name;
  std::function<Octets()> build;  // the entry written with the setters
  std::string octets;             // the same entry written out by hand
  std::function<std::set<int>(const Octets&, DWORD*)> parse;  // parse, report the fields found
  std::set<int> present;
};

template <class T>
std::function<std::set<int>(const Octets&, DWORD*)> Parser(std::function<std::set<int>(const T&)> present) {
  return [present](const Octets& in, DWORD* r) {
    T o;
    *r = o.CreateByEncodedData(in.data(), Len(in));
    // The constructor from content reads the same fields.
    T fromContent(in.data() + 2, Len(in) - 2);
    EXPECT_EQ(present(o), present(fromContent));
    EXPECT_EQ(in, Encode(o));
    return present(o);
  };
}

const BYTE kId1[2] = {0x01, 0x00};
const BYTE kPub[2] = {0x10, 0x12};

using S = CSecObject;
using R = CRsaObject;
using C = CCertObject;

const auto kSecParser = Parser<CSecObject>(PresentSec);
const auto kRsaParser = Parser<CRsaObject>(PresentRsa);
const auto kCertParser = Parser<CCertObject>([](const CCertObject& o) { return PresentFile(o, &CCertObject::GetUsage); });
const auto kDataParser = Parser<CDataObject>([](const CDataObject& o) { return PresentFile(o, &CDataObject::GetAccess); });
const auto kDes3Parser = Parser<CDes3Object>([](const CDes3Object& o) { return PresentFile(o, &CDes3Object::GetUsage); });

const EntryCase kCases[] = {
    {"pin, required fields only",
     [] {
       S o;
       o.SetLabel(kPin.data(), 3);
       o.SetID(0x81);
       o.SetMinLen(4);
       o.SetMaxLen(8);
       return Encode(o);
     },
     "30 0E 12 03 50 49 4E 04 01 81 02 01 04 02 01 08", kSecParser,
     {S::fLabel, S::fID, S::fMinLen, S::fMaxLen}},
    {"pin, every field",
     [] {
       S o;
       o.SetAID(kAid.data(), 2);
       o.SetPath(kPath.data(), 2);
       o.SetInit(0);
       o.SetLabel(kPin.data(), 3);
       o.SetID(0x81);
       o.SetBioPIN(1);
       o.SetMinLen(4);
       o.SetMaxLen(8);
       o.SetSecAuth(1);
       o.SetProtectedBy(kPuk.data(), 3);
       o.SetPrvAttributes(kAttr1.data(), Len(kAttr1));
       return Encode(o);
     },
     "30 32 13 02 A0 01 04 02 3F 00 01 01 00 12 03 50 49 4E 04 01 81 01 01 FF 02 01 04 02 01 08 01 01 FF"
     " 12 03 50 55 4B 31 0C " + ATTR1,
     kSecParser,
     {S::fAID, S::fPath, S::fInit, S::fLabel, S::fID, S::fBioPIN, S::fMinLen, S::fMaxLen, S::fSecAuth,
      S::fProtectedBy, S::fAttributes}},
    {"pin, path and init without AID",
     [] {
       S o;
       o.SetPath(kPath.data(), 2);
       o.SetInit(0);
       o.SetLabel(Hex("31").data(), 1);
       o.SetID(1);
       o.SetMinLen(4);
       o.SetMaxLen(8);
       return Encode(o);
     },
     "30 13 04 02 3F 00 01 01 00 12 01 31 04 01 01 02 01 04 02 01 08", kSecParser,
     {S::fPath, S::fInit, S::fLabel, S::fID, S::fMinLen, S::fMaxLen}},
    {"pin, bio PIN and attributes",
     [] {
       S o;
       o.SetLabel(Hex("31").data(), 1);
       o.SetID(1);
       o.SetBioPIN(1);
       o.SetMinLen(4);
       o.SetMaxLen(8);
       o.SetPrvAttributes(kAttr1.data(), Len(kAttr1));
       return Encode(o);
     },
     "30 1D 12 01 31 04 01 01 01 01 FF 02 01 04 02 01 08 31 0C " + ATTR1, kSecParser,
     {S::fLabel, S::fID, S::fBioPIN, S::fMinLen, S::fMaxLen, S::fAttributes}},
    {"key, required fields only",
     [] {
       R o;
       o.SetKeyType(1);
       o.SetKeyAlgo(2);
       o.SetKeyUsage(3);
       return Encode(o);
     },
     "30 09 02 01 01 04 01 02 02 01 03", kRsaParser, {R::fKeyType, R::fKeyAlgo, R::fKeyUsage}},
    {"key, 1024 bits as written (no size), private ID and attributes",
     [] {
       R o;
       o.SetKeyType(1);
       o.SetKeyAlgo(2);
       o.SetKeyUsage(3);
       o.SetPrvID(0x11);
       o.SetPrvAttributes(kAttr1.data(), Len(kAttr1));
       return Encode(o);
     },
     "30 1A 02 01 01 04 01 02 02 01 03 04 01 11 31 0C " + ATTR1, kRsaParser,
     {R::fKeyType, R::fKeyAlgo, R::fKeyUsage, R::fPrvID, R::fAttributes}},
    {"key, every field",
     [] {
       R o;
       o.SetAID(kAid.data(), 2);
       o.SetPath(kPath.data(), 2);
       o.SetSE(1);
       o.SetKeyType(1);
       o.SetKeyAlgo(2);
       o.SetKeyUsage(3);
       o.SetKeySize(2048);
       o.SetDSI(1);
       o.SetSecAuth(kPin.data(), 3);
       o.SetPrvID(0x11);
       o.SetPrvAttributes(kAttr1.data(), Len(kAttr1));
       o.SetPubID(kPub);
       return Encode(o);
     },
     "30 37 13 02 A0 01" + KEY.substr(5), kRsaParser,
     {R::fAID, R::fPath, R::fSE, R::fKeyType, R::fKeyAlgo, R::fKeyUsage, R::fKeySize, R::fDSI, R::fSecAuth,
      R::fPrvID, R::fAttributes, R::fPubID}},
    {"certificate, no AID, no path",
     [] {
       C o;
       o.SetUsage(1);
       o.SetID(kId1);
       o.SetAttributes(kAttr1.data(), Len(kAttr1));
       return Encode(o);
     },
     CERT1, kCertParser, {C::fUsage, C::fID, C::fAttributes}},
    {"certificate, AID and path",
     [] {
       C o;
       o.SetAID(kAid.data(), 2);
       o.SetPath(kPath.data(), 2);
       o.SetUsage(2);
       const BYTE id[2] = {0x01, 0x01};
       o.SetID(id);
       o.SetAttributes(kAttr2.data(), Len(kAttr2));
       return Encode(o);
     },
     CERT2, kCertParser, {C::fAID, C::fPath, C::fUsage, C::fID, C::fAttributes}},
    {"data object, no AID, no path",
     [] {
       CDataObject o;
       o.SetAccess(1);
       const BYTE id[2] = {0x02, 0x00};
       o.SetID(id);
       o.SetAttributes(kAttr2.data(), Len(kAttr2));
       return Encode(o);
     },
     DATA, kDataParser, {C::fUsage, C::fID, C::fAttributes}},
    {"data object, AID only",
     [] {
       CDataObject o;
       o.SetAID(kAid.data(), 2);
       o.SetAccess(7);
       const BYTE id[2] = {0x02, 0x01};
       o.SetID(id);
       o.SetAttributes(kAttr2.data(), Len(kAttr2));
       return Encode(o);
     },
     "30 18 13 02 A0 01 02 01 07 04 02 02 01 31 0B " + ATTR2, kDataParser,
     {C::fAID, C::fUsage, C::fID, C::fAttributes}},
    {"3DES key, path only",
     [] {
       CDes3Object o;
       o.SetPath(kPath.data(), 2);
       o.SetUsage(4);
       const BYTE id[2] = {0x03, 0x00};
       o.SetID(id);
       o.SetAttributes(kAttr2.data(), Len(kAttr2));
       return Encode(o);
     },
     DES3, kDes3Parser, {C::fPath, C::fUsage, C::fID, C::fAttributes}},
    {"3DES key, no AID, no path",
     [] {
       CDes3Object o;
       o.SetUsage(4);
       const BYTE id[2] = {0x03, 0x00};
       o.SetID(id);
       o.SetAttributes(kAttr2.data(), Len(kAttr2));
       return Encode(o);
     },
     "30 14 02 01 04 04 02 03 00 31 0B " + ATTR2, kDes3Parser, {C::fUsage, C::fID, C::fAttributes}},
};

}  // namespace

TEST(Entries, EachKindWithAndWithoutOptionalFields) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Octets expected = Hex(c.octets);
    EXPECT_EQ(expected, c.build());
    DWORD r = 1;
    EXPECT_EQ(c.present, c.parse(expected, &r));
    EXPECT_EQ(0u, r);
  }
}

TEST(Entries, MissingRequiredFieldMakesTheEntryUnusable) {
  struct Case {
    const char* name;
    std::string octets;
    DWORD result;
  } cases[] = {
      {"pin without maximum length", "30 0B 12 03 50 49 4E 04 01 81 02 01 04", ASN1_ERR_INVALID_INPUT},
      {"pin without ID", "30 0B 12 03 50 49 4E 02 01 04 02 01 08", ASN1_ERR_WRONG_TAG},
      {"pin without label", "30 09 04 01 81 02 01 04 02 01 08", ASN1_ERR_WRONG_TAG},
      {"pin with a truncated maximum length", "30 0D 12 03 50 49 4E 04 01 81 02 01 04 02 02 08", ASN1_ERR_INVALID_INPUT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Octets in = Hex(c.octets);
    CSecObject o;
    EXPECT_EQ(c.result, o.CreateByEncodedData(in.data(), Len(in)));
    EXPECT_FALSE(o.IsComplete());
    EXPECT_TRUE(PresentSec(o).empty());
    CSecObject fromContent(in.data() + 2, Len(in) - 2);
    EXPECT_FALSE(fromContent.IsComplete());
    EXPECT_TRUE(PresentSec(fromContent).empty());
  }
  Octets certNoAttr = Hex("30 07 02 01 01 04 02 01 00");
  CCertObject cert;
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, cert.CreateByEncodedData(certNoAttr.data(), Len(certNoAttr)));
  Octets keyNoUsage = Hex("30 06 02 01 01 04 01 02");
  CRsaObject key;
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, key.CreateByEncodedData(keyNoUsage.data(), Len(keyNoUsage)));
  Octets notSeq = Hex("31 00");
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, key.CreateByEncodedData(notSeq.data(), Len(notSeq)));
}

TEST(Entries, SettersOutOfOrderFailAndAppendNothing) {
  // Each case: the setters before the failing one succeed; the last fails
  // with ASN1_ERR_ORDER and leaves the encoding as it was.
  auto sec = [](std::initializer_list<std::function<DWORD(CSecObject&)>> ok, std::function<DWORD(CSecObject&)> bad) {
    CSecObject o;
    for (auto& f : ok) EXPECT_EQ(0u, f(o));
    Octets before = o.IsComplete() ? Encode(o) : Octets();
    EXPECT_EQ(ASN1_ERR_ORDER, bad(o));
    EXPECT_EQ(before, o.IsComplete() ? Encode(o) : Octets());
  };
  auto label = [](CSecObject& o) { return o.SetLabel(kPin.data(), 3); };
  auto id = [](CSecObject& o) { return o.SetID(1); };
  auto minl = [](CSecObject& o) { return o.SetMinLen(4); };
  auto maxl = [](CSecObject& o) { return o.SetMaxLen(8); };
  {
    SCOPED_TRACE("label after ID");
    sec({label, id}, label);
  }
  {
    SCOPED_TRACE("ID before label");
    sec({}, id);
  }
  {
    SCOPED_TRACE("AID after path");
    sec({[](CSecObject& o) { return o.SetPath(kPath.data(), 2); }}, [](CSecObject& o) { return o.SetAID(kAid.data(), 2); });
  }
  {
    SCOPED_TRACE("init after label");
    sec({label}, [](CSecObject& o) { return o.SetInit(0); });
  }
  {
    SCOPED_TRACE("bio PIN before ID");
    sec({label}, [](CSecObject& o) { return o.SetBioPIN(1); });
  }
  {
    SCOPED_TRACE("maximum before minimum");
    sec({label, id}, maxl);
  }
  {
    SCOPED_TRACE("secure-auth before maximum");
    sec({label, id, minl}, [](CSecObject& o) { return o.SetSecAuth(1); });
  }
  {
    SCOPED_TRACE("protected-by after attributes");
    sec({label, id, minl, maxl, [](CSecObject& o) { return o.SetPrvAttributes(kAttr1.data(), Len(kAttr1)); }},
        [](CSecObject& o) { return o.SetProtectedBy(kPuk.data(), 3); });
  }

  auto rsa = [](std::initializer_list<std::function<DWORD(CRsaObject&)>> ok, std::function<DWORD(CRsaObject&)> bad) {
    CRsaObject o;
    for (auto& f : ok) EXPECT_EQ(0u, f(o));
    Octets before = o.IsComplete() ? Encode(o) : Octets();
    EXPECT_EQ(ASN1_ERR_ORDER, bad(o));
    EXPECT_EQ(before, o.IsComplete() ? Encode(o) : Octets());
  };
  auto type = [](CRsaObject& o) { return o.SetKeyType(1); };
  auto algo = [](CRsaObject& o) { return o.SetKeyAlgo(2); };
  auto usage = [](CRsaObject& o) { return o.SetKeyUsage(3); };
  {
    SCOPED_TRACE("algorithm before type");
    rsa({}, algo);
  }
  {
    SCOPED_TRACE("size before usage");
    rsa({type, algo}, [](CRsaObject& o) { return o.SetKeySize(2048); });
  }
  {
    SCOPED_TRACE("size after secure-auth");
    rsa({type, algo, usage, [](CRsaObject& o) { return o.SetSecAuth(kPin.data(), 3); }},
        [](CRsaObject& o) { return o.SetKeySize(2048); });
  }
  {
    SCOPED_TRACE("path after SE");
    rsa({[](CRsaObject& o) { return o.SetSE(1); }}, [](CRsaObject& o) { return o.SetPath(kPath.data(), 2); });
  }
  {
    SCOPED_TRACE("private ID after attributes");
    rsa({type, algo, usage, [](CRsaObject& o) { return o.SetPrvAttributes(kAttr1.data(), Len(kAttr1)); }},
        [](CRsaObject& o) { return o.SetPrvID(1); });
  }
  {
    SCOPED_TRACE("public ID before usage");
    rsa({type, algo}, [](CRsaObject& o) { return o.SetPubID(kPub); });
  }

  CCertObject cert;
  EXPECT_EQ(ASN1_ERR_ORDER, cert.SetID(kId1));  // before usage
  EXPECT_EQ(0u, cert.SetUsage(1));
  EXPECT_EQ(ASN1_ERR_ORDER, cert.SetAttributes(kAttr1.data(), Len(kAttr1)));  // before ID
  EXPECT_EQ(ASN1_ERR_ORDER, cert.SetPath(kPath.data(), 2));                   // after usage
  EXPECT_EQ(ASN1_ERR_ORDER, cert.SetUsage(1));                                // twice
  EXPECT_EQ(Hex("30 03 02 01 01"), Encode(cert));
  CDataObject data;
  EXPECT_EQ(ASN1_ERR_ORDER, data.SetID(kId1));
  CDes3Object des;
  EXPECT_EQ(ASN1_ERR_ORDER, des.SetAttributes(kAttr1.data(), Len(kAttr1)));
}

TEST(Entries, GettersOfAbsentFields) {
  CSecObject pin;
  BYTE b = 0;
  int flag = 7;
  Octets v;
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, pin.GetID(&b));  // nothing set yet
  ASSERT_EQ(0u, pin.SetLabel(kPin.data(), 3));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, pin.GetID(&b));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, pin.GetMinLen(&b));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, pin.GetBioPIN(&flag));
  EXPECT_EQ(0, flag);
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, ReadBytes([&](BYTE* x, DWORD* n) { return pin.GetAID(x, n); }, v));
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, ReadBytes([&](BYTE* x, DWORD* n) { return pin.GetProtectedBy(x, n); }, v));
  CSet set;
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, pin.GetPrvAttributes(&set));
  // A buffer too small for the label: the needed length comes back.
  BYTE two[2] = {0xEE, 0xEE};
  DWORD n = 2;
  EXPECT_EQ(ASN1_ERR_MEMORY, pin.GetLabel(two, &n));
  EXPECT_EQ(3u, n);
  EXPECT_EQ(0xEE, two[0]);
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, pin.GetLabel(two, nullptr));

  CRsaObject key;
  ASSERT_EQ(0u, key.SetKeyType(1));
  DWORD bits = 0;
  BYTE id[2];
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, key.GetSE(&b));
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, key.GetKeySize(&bits));  // absent: the engine takes 1024
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, key.GetPubID(id));
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, key.GetDSI(&b));

  CCertObject cert;
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, cert.GetUsage(&b));
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, cert.GetID(id));
}

TEST(Entries, AdjacentOptionalFieldsOfOneTypeGoByPresence) {
  // SE without path: the OCTET STRING is read as the path (first optional
  // field at that position with a matching tag).
  Octets seOnly = Hex("30 0C 04 01 05 02 01 01 04 01 02 02 01 03");
  CRsaObject key;
  ASSERT_EQ(0u, key.CreateByEncodedData(seOnly.data(), Len(seOnly)));
  Octets path;
  BYTE se = 0;
  EXPECT_EQ(0u, ReadBytes([&](BYTE* x, DWORD* n) { return key.GetPath(x, n); }, path));
  EXPECT_EQ(Hex("05"), path);
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, key.GetSE(&se));
  // Key size in four octets, least significant first.
  CRsaObject sized;
  sized.SetKeyType(1);
  sized.SetKeyAlgo(2);
  sized.SetKeyUsage(3);
  ASSERT_EQ(0u, sized.SetKeySize(2048));
  Octets enc = Encode(sized);
  EXPECT_EQ(Hex("02 04 00 08 00 00"), Octets(enc.end() - 6, enc.end()));
}

TEST(Entries, CopiesAndAssignment) {
  Octets in = Hex(KEY);
  CRsaObject key;
  ASSERT_EQ(0u, key.CreateByEncodedData(in.data(), Len(in)));
  CRsaObject copy(key);
  CRsaObject assigned;
  assigned = key;
  key.Reset();
  EXPECT_EQ(in, Encode(copy));
  EXPECT_EQ(in, Encode(assigned));
  EXPECT_EQ(PresentRsa(copy), PresentRsa(assigned));
  EXPECT_EQ(12u, PresentRsa(copy).size() + 1);  // all but the AID
}
