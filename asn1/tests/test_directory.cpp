// The card directory: the hand-written fixture parses, every field reads
// back, it re-encodes to the same octets, and building it with the setters
// gives the same octets.
#include <gtest/gtest.h>

#include <memory>

#include "fixtures.h"

using namespace fixture;

namespace {

// Builds the fixture's directory with the setters, as the engine writes it.
Octets BuildDirectory() {
  Octets attr1 = Hex(ATTR1), attr2 = Hex(ATTR2);
  Octets aidA0 = Hex("A0 01"), path = Hex("3F 00"), path2 = Hex("3F 00 11 00");
  Octets pin = Bytes("PIN"), puk = Bytes("PUK");

  CSecObject pin1;
  EXPECT_EQ(0u, pin1.SetAID(aidA0.data(), Len(aidA0)));
  EXPECT_EQ(0u, pin1.SetLabel(pin.data(), Len(pin)));
  EXPECT_EQ(0u, pin1.SetID(0x81));
  EXPECT_EQ(0u, pin1.SetMinLen(5));
  EXPECT_EQ(0u, pin1.SetMaxLen(8));
  EXPECT_EQ(0u, pin1.SetSecAuth(1));
  EXPECT_EQ(0u, pin1.SetProtectedBy(puk.data(), Len(puk)));
  EXPECT_EQ(0u, pin1.SetPrvAttributes(attr1.data(), Len(attr1)));
  CSecObject pin2;
  EXPECT_EQ(0u, pin2.SetPath(path.data(), Len(path)));
  EXPECT_EQ(0u, pin2.SetInit(0));
  EXPECT_EQ(0u, pin2.SetLabel(puk.data(), Len(puk)));
  EXPECT_EQ(0u, pin2.SetID(0x82));
  EXPECT_EQ(0u, pin2.SetBioPIN(1));
  EXPECT_EQ(0u, pin2.SetMinLen(4));
  EXPECT_EQ(0u, pin2.SetMaxLen(16));
  CGDOObjects security;
  EXPECT_EQ(0u, security.SetPath(path2.data(), static_cast<BYTE>(path2.size())));
  EXPECT_EQ(0u, security.SetObject(&pin1, 0));
  EXPECT_EQ(0u, security.SetObject(&pin2, 1));

  CRsaObject key;
  const BYTE pubId[2] = {0x10, 0x12};
  EXPECT_EQ(0u, key.SetPath(path.data(), Len(path)));
  EXPECT_EQ(0u, key.SetSE(1));
  EXPECT_EQ(0u, key.SetKeyType(1));
  EXPECT_EQ(0u, key.SetKeyAlgo(2));
  EXPECT_EQ(0u, key.SetKeyUsage(3));
  EXPECT_EQ(0u, key.SetKeySize(2048));
  EXPECT_EQ(0u, key.SetDSI(1));
  EXPECT_EQ(0u, key.SetSecAuth(pin.data(), Len(pin)));
  EXPECT_EQ(0u, key.SetPrvID(0x11));
  EXPECT_EQ(0u, key.SetPrvAttributes(attr1.data(), Len(attr1)));
  EXPECT_EQ(0u, key.SetPubID(pubId));
  CGDOObjects keys;
  EXPECT_EQ(0u, keys.SetAID(aidA0.data(), static_cast<BYTE>(aidA0.size())));
  EXPECT_EQ(0u, keys.SetObject(&key, 1));

  CCertObject cert1, cert2;
  const BYTE id1[2] = {0x01, 0x00}, id2[2] = {0x01, 0x01};
  EXPECT_EQ(0u, cert1.SetUsage(1));
  EXPECT_EQ(0u, cert1.SetID(id1));
  EXPECT_EQ(0u, cert1.SetAttributes(attr1.data(), Len(attr1)));
  EXPECT_EQ(0u, cert2.SetAID(aidA0.data(), Len(aidA0)));
  EXPECT_EQ(0u, cert2.SetPath(path.data(), Len(path)));
  EXPECT_EQ(0u, cert2.SetUsage(2));
  EXPECT_EQ(0u, cert2.SetID(id2));
  EXPECT_EQ(0u, cert2.SetAttributes(attr2.data(), Len(attr2)));
  CGDOObjects certs;
  EXPECT_EQ(0u, certs.SetObject(&cert1, 0));
  EXPECT_EQ(0u, certs.SetObject(&cert2, 0));
  EXPECT_EQ(0u, certs.SetObject(nullptr, 1));

  CDataObject data;
  const BYTE idData[2] = {0x02, 0x00};
  EXPECT_EQ(0u, data.SetAccess(1));
  EXPECT_EQ(0u, data.SetID(idData));
  EXPECT_EQ(0u, data.SetAttributes(attr2.data(), Len(attr2)));
  CGDOObjects datas;
  // Path first, AID second: the AID is still written first.
  EXPECT_EQ(0u, datas.SetPath(path.data(), static_cast<BYTE>(path.size())));
  EXPECT_EQ(0u, datas.SetAID(aidA0.data(), static_cast<BYTE>(aidA0.size())));
  EXPECT_EQ(0u, datas.SetObject(&data, 1));

  CDes3Object des;
  const BYTE idDes[2] = {0x03, 0x00};
  EXPECT_EQ(0u, des.SetPath(path.data(), Len(path)));
  EXPECT_EQ(0u, des.SetUsage(4));
  EXPECT_EQ(0u, des.SetID(idDes));
  EXPECT_EQ(0u, des.SetAttributes(attr2.data(), Len(attr2)));
  CGDOObjects deses;
  EXPECT_EQ(0u, deses.SetObject(&des, 1));

  Octets aid = Hex(AID), label = Bytes(LABEL);
  CGDO gdo;
  EXPECT_EQ(0u, gdo.SetVersion(CGDO::VERSION_2));
  EXPECT_EQ(0u, gdo.SetAID(aid.data(), Len(aid)));
  EXPECT_EQ(0u, gdo.SetLabel(label.data(), Len(label)));
  EXPECT_EQ(0u, gdo.SetSecurityObject(&security));
  EXPECT_EQ(0u, gdo.SetRSAObject(&keys));
  EXPECT_EQ(0u, gdo.SetCertificateObject(&certs));
  EXPECT_EQ(0u, gdo.SetDataObject(&datas));
  EXPECT_EQ(0u, gdo.SetDes3Object(&deses));
  return Encode(gdo);
}

// The entries of one list, each as its element's content.
std::vector<CAsn1Obj> Entries(const CGDOObjects& list) {
  DWORD n = 0;
  EXPECT_EQ(0u, list.GetObjectA(nullptr, &n));
  std::vector<CAsn1Obj> entries(n);
  if (n) {
    EXPECT_EQ(0u, list.GetObjectA(entries.data(), &n));
  }
  return entries;
}

}  // namespace

TEST(Directory, BuiltWithSettersMatchesTheHandWrittenOctets) {
  EXPECT_EQ(Hex(DIRECTORY), BuildDirectory());
}

TEST(Directory, FixtureParsesAndReEncodesToTheSameOctets) {
  Octets in = Hex(DIRECTORY);
  CGDO gdo;
  ASSERT_EQ(0u, gdo.CreateByEncodedData(in.data(), Len(in)));
  EXPECT_EQ(in, Encode(gdo));

  BYTE version = 0;
  EXPECT_EQ(0u, gdo.GetVersion(&version));
  EXPECT_EQ(2, version);
  Octets aid, label;
  EXPECT_EQ(0u, ReadBytes([&](BYTE* b, DWORD* n) { return gdo.GetAID(b, n); }, aid));
  EXPECT_EQ(Hex(AID), aid);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* b, DWORD* n) { return gdo.GetLabel(b, n); }, label));
  EXPECT_EQ(Bytes(LABEL), label);

  // Each list, re-encoded, is the hand-written list.
  CGDOObjects sec, rsa, cert, data, des;
  ASSERT_EQ(0u, gdo.GetSecurityObject(&sec));
  ASSERT_EQ(0u, gdo.GetRSAObject(&rsa));
  ASSERT_EQ(0u, gdo.GetCertificateObject(&cert));
  ASSERT_EQ(0u, gdo.GetDataObject(&data));
  ASSERT_EQ(0u, gdo.GetDes3Object(&des));
  EXPECT_EQ(Hex(SECURITY_LIST), Encode(sec));
  EXPECT_EQ(Hex(RSA_LIST), Encode(rsa));
  EXPECT_EQ(Hex(CERT_LIST), Encode(cert));
  EXPECT_EQ(Hex(DATA_LIST), Encode(data));
  EXPECT_EQ(Hex(DES3_LIST), Encode(des));

  Octets path;
  EXPECT_EQ(0u, ReadBytes([&](BYTE* b, DWORD* n) { return sec.GetPath(b, n); }, path));
  EXPECT_EQ(Hex("3F 00 11 00"), path);
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, ReadBytes([&](BYTE* b, DWORD* n) { return sec.GetAID(b, n); }, aid));
  EXPECT_EQ(0u, ReadBytes([&](BYTE* b, DWORD* n) { return data.GetAID(b, n); }, aid));
  EXPECT_EQ(Hex("A0 01"), aid);

  // The entries: counts, then every field of every entry.
  auto pins = Entries(sec);
  auto keys = Entries(rsa);
  auto certs = Entries(cert);
  auto datas = Entries(data);
  auto deses = Entries(des);
  ASSERT_EQ(2u, pins.size());
  ASSERT_EQ(1u, keys.size());
  ASSERT_EQ(2u, certs.size());
  ASSERT_EQ(1u, datas.size());
  ASSERT_EQ(1u, deses.size());
  EXPECT_EQ(0x30, pins[0].GetTag());
  EXPECT_EQ(Hex(PIN1), Encode(pins[0]));

  CSecObject user(pins[0].GetValue(), pins[0].GetLength());
  ASSERT_TRUE(user.IsComplete());
  Octets v;
  BYTE b = 0;
  int flag = -1;
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return user.GetLabel(p, n); }, v));
  EXPECT_EQ(Bytes("PIN"), v);
  EXPECT_EQ(0u, user.GetID(&b));
  EXPECT_EQ(0x81, b);
  EXPECT_EQ(0u, user.GetMinLen(&b));
  EXPECT_EQ(5, b);
  EXPECT_EQ(0u, user.GetMaxLen(&b));
  EXPECT_EQ(8, b);
  EXPECT_EQ(0u, user.GetSecAuth(&flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, user.GetInit(&flag));  // absent: initialised
  EXPECT_EQ(0, flag);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return user.GetProtectedBy(p, n); }, v));
  EXPECT_EQ(Bytes("PUK"), v);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return user.GetPrvAttributes(p, n); }, v));
  EXPECT_EQ(Hex(ATTR1), v);
  CSet attrs;
  EXPECT_EQ(0u, user.GetPrvAttributes(&attrs));
  EXPECT_EQ(Hex("31 0C " + ATTR1), Encode(attrs));

  CSecObject puk(pins[1].GetValue(), pins[1].GetLength());
  ASSERT_TRUE(puk.IsComplete());
  EXPECT_EQ(0u, puk.GetInit(&flag));
  EXPECT_EQ(0, flag);
  EXPECT_EQ(0u, puk.GetBioPIN(&flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return puk.GetPath(p, n); }, v));
  EXPECT_EQ(Hex("3F 00"), v);
  EXPECT_EQ(0u, puk.GetMaxLen(&b));
  EXPECT_EQ(16, b);

  CRsaObject key(keys[0].GetValue(), keys[0].GetLength());
  ASSERT_TRUE(key.IsComplete());
  DWORD bits = 0;
  BYTE pub[2] = {};
  EXPECT_EQ(0u, key.GetSE(&b));
  EXPECT_EQ(1, b);
  EXPECT_EQ(0u, key.GetKeyType(&b));
  EXPECT_EQ(1, b);
  EXPECT_EQ(0u, key.GetKeyAlgo(&b));
  EXPECT_EQ(2, b);
  EXPECT_EQ(0u, key.GetKeyUsage(&b));
  EXPECT_EQ(3, b);
  EXPECT_EQ(0u, key.GetKeySize(&bits));
  EXPECT_EQ(2048u, bits);
  EXPECT_EQ(0u, key.GetDSI(&b));
  EXPECT_EQ(1, b);
  EXPECT_EQ(0u, key.GetPrvID(&b));
  EXPECT_EQ(0x11, b);
  EXPECT_EQ(0u, key.GetPubID(pub));
  EXPECT_EQ(0x10, pub[0]);
  EXPECT_EQ(0x12, pub[1]);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return key.GetSecAuth(p, n); }, v));
  EXPECT_EQ(Bytes("PIN"), v);

  CCertObject c1(certs[0].GetValue(), certs[0].GetLength());
  CCertObject c2(certs[1].GetValue(), certs[1].GetLength());
  ASSERT_TRUE(c1.IsComplete());
  ASSERT_TRUE(c2.IsComplete());
  BYTE id[2] = {};
  EXPECT_EQ(0u, c1.GetUsage(&b));
  EXPECT_EQ(1, b);
  EXPECT_EQ(0u, c1.GetID(id));
  EXPECT_EQ(0x01, id[0]);
  EXPECT_EQ(0x00, id[1]);
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, ReadBytes([&](BYTE* p, DWORD* n) { return c1.GetPath(p, n); }, v));
  EXPECT_EQ(0u, c2.GetID(id));
  EXPECT_EQ(0x01, id[1]);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return c2.GetAID(p, n); }, v));
  EXPECT_EQ(Hex("A0 01"), v);

  CDataObject d(datas[0].GetValue(), datas[0].GetLength());
  ASSERT_TRUE(d.IsComplete());
  EXPECT_EQ(0u, d.GetAccess(&b));
  EXPECT_EQ(1, b);
  EXPECT_EQ(0u, d.GetID(id));
  EXPECT_EQ(0x02, id[0]);

  CDes3Object k3(deses[0].GetValue(), deses[0].GetLength());
  ASSERT_TRUE(k3.IsComplete());
  EXPECT_EQ(0u, k3.GetUsage(&b));
  EXPECT_EQ(4, b);
  EXPECT_EQ(0u, k3.GetID(id));
  EXPECT_EQ(0x03, id[0]);
  EXPECT_EQ(0u, ReadBytes([&](BYTE* p, DWORD* n) { return k3.GetAttributes(p, n); }, v));
  EXPECT_EQ(Hex(ATTR2), v);
}

TEST(Directory, TellsVersionTwoFromOtherDirectories) {
  Octets v2 = Hex(DIRECTORY);
  EXPECT_TRUE(CGDO::IsVersion2(v2.data(), Len(v2)));

  // The version-2 layout carrying version 1 parses, but is not version 2.
  Octets v1layout = v2;
  v1layout[6] = 0x01;
  CGDO gdo;
  ASSERT_EQ(0u, gdo.CreateByEncodedData(v1layout.data(), Len(v1layout)));
  BYTE version = 0;
  EXPECT_EQ(0u, gdo.GetVersion(&version));
  EXPECT_EQ(1, version);
  EXPECT_FALSE(CGDO::IsVersion2(v1layout.data(), Len(v1layout)));

  // A version-1 directory: keyed items 30 L { 06 01 key, 04 L section }.
  Octets v1 = Hex("30 0E  30 0C 06 01 11 04 07 30 05 06 01 01 04 00  ");
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.CreateByEncodedData(v1.data(), Len(v1)));
  EXPECT_FALSE(CGDO::IsVersion2(v1.data(), Len(v1)));
  // A directory truncated by one octet is not version 2 either.
  EXPECT_FALSE(CGDO::IsVersion2(v2.data(), Len(v2) - 1));
  EXPECT_FALSE(CGDO::IsVersion2(nullptr, 0));
}

TEST(Directory, EveryMemberIsRequired) {
  // Without the 3DES list: content 284 - 30 = 254 = 0xFE.
  Octets noDes = Hex("30 81 FE " + HEAD + SECURITY_LIST + RSA_LIST + CERT_LIST + DATA_LIST);
  CGDO gdo;
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, gdo.CreateByEncodedData(noDes.data(), Len(noDes)));
  EXPECT_FALSE(gdo.IsComplete());
  BYTE version = 0;
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.GetVersion(&version));

  // Without the label: the security list stands where the label should.
  Octets noLabel = Hex("30 81 AE 02 01 02 13 07 " + AID + SECURITY_LIST + RSA_LIST + CERT_LIST);
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.CreateByEncodedData(noLabel.data(), Len(noLabel)));
}

TEST(Directory, SettersKeepTheFixedOrder) {
  CGDO gdo;
  Octets aid = Hex(AID);
  CGDOObjects open, closed;
  ASSERT_EQ(0u, closed.SetObject(nullptr, 1));
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.SetAID(aid.data(), Len(aid)));  // before the version
  EXPECT_EQ(0u, gdo.SetVersion(2));
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.SetVersion(2));  // twice
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.SetSecurityObject(&closed));  // before AID and label
  EXPECT_EQ(0u, gdo.SetAID(aid.data(), Len(aid)));
  EXPECT_EQ(0u, gdo.SetLabel(aid.data(), Len(aid)));
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, gdo.SetSecurityObject(&open));  // list not closed
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, gdo.SetRSAObject(&closed));      // skips the security list
  EXPECT_EQ(0u, gdo.SetSecurityObject(&closed));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, gdo.SetRSAObject(nullptr));
  EXPECT_EQ(Hex("30 19 02 01 02 13 07 " + AID + " 13 07 " + AID + " 30 02 31 00"), Encode(gdo));
}

TEST(Directory, EncodeIntoABufferOneOctetTooSmallFails) {
  Octets in = Hex(DIRECTORY);
  CGDO gdo;
  ASSERT_EQ(0u, gdo.CreateByEncodedData(in.data(), Len(in)));
  Octets out(in.size() + 1, 0xEE);
  DWORD size = Len(in) - 1;
  EXPECT_EQ(ASN1_ERR_MEMORY, gdo.EncodeObjectToData(out.data(), &size));
  EXPECT_EQ(Len(in), size);  // the needed size
  EXPECT_EQ(Octets(in.size() + 1, 0xEE), out);  // nothing written
  size = Len(in);
  EXPECT_EQ(0u, gdo.EncodeObjectToData(out.data(), &size));
  EXPECT_EQ(0xEE, out.back());  // not one octet more
}

TEST(ObjectList, ReadsEntriesAndRejectsBadOnes) {
  // A list without its SET has no entries.
  Octets noSet = Hex("30 04 13 02 A0 01");
  CGDOObjects list;
  ASSERT_EQ(0u, list.CreateByEncodedData(noSet.data(), Len(noSet)));
  DWORD n = 99;
  EXPECT_EQ(0u, list.GetObjectA(nullptr, &n));
  EXPECT_EQ(0u, n);

  Octets three = Hex("30 0B 31 09 30 01 00 30 01 01 30 01 02");
  ASSERT_EQ(0u, list.CreateByEncodedData(three.data(), Len(three)));
  EXPECT_EQ(0u, list.GetObjectA(nullptr, &n));
  EXPECT_EQ(3u, n);
  CAsn1Obj slots[3];
  n = 2;  // too small an array
  EXPECT_EQ(ASN1_ERR_MEMORY, list.GetObjectA(slots, &n));
  EXPECT_EQ(3u, n);
  EXPECT_FALSE(slots[0].IsComplete());
  EXPECT_EQ(0u, list.GetObjectA(slots, &n));
  EXPECT_EQ(Hex("30 01 02"), Encode(slots[2]));

  // An element that is not a SEQUENCE, and one running past the SET.
  Octets notSeq = Hex("30 07 31 05 30 01 00 04 00");
  ASSERT_EQ(0u, list.CreateByEncodedData(notSeq.data(), Len(notSeq)));
  n = 7;
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, list.GetObjectA(nullptr, &n));
  EXPECT_EQ(7u, n);
  Octets cut = Hex("30 06 31 04 30 01 00 30");
  ASSERT_EQ(0u, list.CreateByEncodedData(cut.data(), Len(cut)));
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, list.GetObjectA(nullptr, &n));
}

TEST(ObjectList, IsClosedOnceAndWritesTheAidFirst) {
  Octets aid = Hex("A0 01"), path = Hex("3F 00");
  CGDOObjects list;
  EXPECT_EQ(0u, list.SetPath(path.data(), 2));
  EXPECT_EQ(ASN1_ERR_ORDER, list.SetPath(path.data(), 2));
  EXPECT_EQ(0u, list.SetAID(aid.data(), 2));
  CCertObject incomplete;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, list.SetObject(&incomplete, 0));
  EXPECT_FALSE(list.IsComplete());
  EXPECT_EQ(0u, list.SetObject(nullptr, 1));
  EXPECT_EQ(Hex("30 0A 13 02 A0 01 04 02 3F 00 31 00"), Encode(list));
  Octets before = Encode(list);
  CCertObject cert(Hex(CERT1).data() + 2, Len(Hex(CERT1)) - 2);
  ASSERT_TRUE(cert.IsComplete());
  EXPECT_EQ(ASN1_ERR_ORDER, list.SetObject(&cert, 0));
  EXPECT_EQ(ASN1_ERR_ORDER, list.SetObject(nullptr, 1));
  EXPECT_EQ(ASN1_ERR_ORDER, list.SetAID(aid.data(), 2));
  EXPECT_EQ(before, Encode(list));

  // A copy is independent of its source.
  CGDOObjects copy(list);
  CGDOObjects assigned;
  assigned = list;
  EXPECT_EQ(before, Encode(copy));
  EXPECT_EQ(before, Encode(assigned));
}

TEST(Directory, EveryTruncationFailsWithoutReadingPastTheInput) {
  Octets full = Hex(DIRECTORY);
  for (std::size_t n = 1; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    // An exact-size copy: the address sanitizer catches any read past it.
    std::unique_ptr<BYTE[]> cut(new BYTE[n]);
    std::copy(full.begin(), full.begin() + n, cut.get());
    CGDO gdo;
    EXPECT_EQ(ASN1_ERR_INVALID_INPUT, gdo.CreateByEncodedData(cut.get(), static_cast<DWORD>(n)));
    EXPECT_FALSE(CGDO::IsVersion2(cut.get(), static_cast<DWORD>(n)));
  }
}
