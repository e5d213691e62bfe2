// PKCS structures: DigestInfo, AlgorithmIdentifier, SubjectPublicKeyInfo,
// names and the time-stamp request, against hand-written DER.
#include <gtest/gtest.h>

#include "hex.h"

namespace {
const std::string SHA1_OID = "2B 0E 03 02 1A";
const std::string SHA1_ALG = "30 09 06 05 " + SHA1_OID + " 05 00";
const std::string DIGEST20 = "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 01 02 03 04";
const std::string DIGEST_INFO = "30 21 " + SHA1_ALG + " 04 14 " + DIGEST20;

CAlgorithmIdentifier Sha1() {
  Octets oid = Hex(SHA1_OID);
  CAlgorithmIdentifier alg;
  EXPECT_EQ(0u, alg.SetAlgoOID(COid(oid.data(), Len(oid))));
  EXPECT_EQ(0u, alg.SetOptionalObj(CNull()));
  return alg;
}

CDigestInfo Digest() {
  Octets d = Hex(DIGEST20);
  CDigestInfo di;
  EXPECT_EQ(0u, di.SetAlgoId(Sha1()));
  EXPECT_EQ(0u, di.SetDigest(COctetString(d.data(), Len(d))));
  return di;
}
}  // namespace

TEST(Pkcs, DigestInfoForSha1IsThe35OctetPkcs1Encoding) {
  CDigestInfo di = Digest();
  EXPECT_TRUE(di.IsComplete());
  Octets expected = Hex(DIGEST_INFO);
  ASSERT_EQ(35u, expected.size());
  EXPECT_EQ(expected, Encode(di));

  CDigestInfo parsed;
  ASSERT_EQ(0u, parsed.CreateByEncodedData(expected.data(), Len(expected)));
  CAlgorithmIdentifier alg;
  COctetString digest;
  ASSERT_EQ(0u, parsed.GetAlgoId(&alg));
  EXPECT_EQ(Hex(SHA1_ALG), Encode(alg));
  ASSERT_EQ(0u, parsed.GetDigest(&digest));
  EXPECT_EQ(Hex(DIGEST20), ValueOf(digest));
  CDigestInfo fromContent(expected.data() + 2, Len(expected) - 2);
  EXPECT_TRUE(fromContent.IsComplete());

  // The digest must follow the algorithm.
  CDigestInfo early;
  Octets d = Hex(DIGEST20);
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, early.SetDigest(COctetString(d.data(), Len(d))));
  EXPECT_FALSE(early.IsComplete());
  // A DigestInfo whose algorithm is not an AlgorithmIdentifier fails.
  Octets bad = Hex("30 0A 30 03 04 01 00 04 03 01 02 03");
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, parsed.CreateByEncodedData(bad.data(), Len(bad)));
}

TEST(Pkcs, AlgorithmIdentifierParameters) {
  struct Case {
    const char* name;
    std::string in;
    DWORD result;
    int paramTag;  // -1: no parameters
  } cases[] = {
      {"NULL parameters", SHA1_ALG, 0, 0x05},
      {"no parameters", "30 07 06 05 " + SHA1_OID, 0, -1},
      {"one stray octet is not a parameter", "30 08 06 05 " + SHA1_OID + " 04", 0, -1},
      {"any element as parameters", "30 0B 06 05 " + SHA1_OID + " 04 02 AA BB", 0, 0x04},
      {"parameters cut short", "30 0A 06 05 " + SHA1_OID + " 04 02 AA", ASN1_ERR_INVALID_INPUT, -1},
      {"no algorithm", "30 02 04 00", ASN1_ERR_WRONG_TAG, -1},
      {"empty", "30 00", ASN1_ERR_INVALID_INPUT, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Octets in = Hex(c.in);
    CAlgorithmIdentifier alg;
    EXPECT_EQ(c.result, alg.CreateByEncodedData(in.data(), Len(in)));
    if (c.result) continue;
    CAsn1Obj params;
    if (c.paramTag < 0) {
      EXPECT_EQ(ASN1_ERR_INCOMPLETE, alg.GetOptionalObj(&params));
    } else {
      ASSERT_EQ(0u, alg.GetOptionalObj(&params));
      EXPECT_EQ(c.paramTag, params.GetTag());
    }
    COid oid;
    ASSERT_EQ(0u, alg.GetAlgoOID(&oid));
    EXPECT_EQ(Hex(SHA1_OID), ValueOf(oid));
  }
  // Parameters need the algorithm first.
  CAlgorithmIdentifier alg;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, alg.SetOptionalObj(CNull()));
  EXPECT_FALSE(alg.IsComplete());
  DWORD size = 5;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, alg.EncodeObjectToData(nullptr, &size));
  // A member of another tag is not copied into the caller's object.
  Octets nullAlg = Hex("30 02 05 00");
  ASSERT_EQ(0u, alg.CreateByEncodedData(nullAlg.data(), Len(nullAlg)));
  Octets keep = Hex("01");
  COid oid(keep.data(), 1);
  EXPECT_EQ(ASN1_ERR_WRONG_TAG, alg.GetAlgoOID(&oid));
  EXPECT_EQ(keep, ValueOf(oid));
}

TEST(Pkcs, PublicKeyInfo) {
  Octets rsaOid = Hex("2A 86 48 86 F7 0D 01 01 01"), key = Hex("00 01 02 03 04");
  CAlgorithmIdentifier alg;
  ASSERT_EQ(0u, alg.SetAlgoOID(COid(rsaOid.data(), Len(rsaOid))));
  ASSERT_EQ(0u, alg.SetOptionalObj(CNull()));
  CPublicKeyInfo spki;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, spki.SetPublicKey(CBitString(key.data(), Len(key))));
  ASSERT_EQ(0u, spki.SetAlgoId(alg));
  ASSERT_EQ(0u, spki.SetPublicKey(CBitString(key.data(), Len(key))));
  Octets expected = Hex("30 16 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00 03 05 00 01 02 03 04");
  EXPECT_EQ(expected, Encode(spki));
  CPublicKeyInfo parsed;
  ASSERT_EQ(0u, parsed.CreateByEncodedData(expected.data(), Len(expected)));
  CBitString bits;
  ASSERT_EQ(0u, parsed.GetPublicKey(&bits));
  EXPECT_EQ(key, ValueOf(bits));
  Octets noKey = Hex("30 0F 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00");
  EXPECT_EQ(ASN1_ERR_INVALID_INPUT, parsed.CreateByEncodedData(noKey.data(), Len(noKey)));
}

TEST(Pkcs, NamesFromAssertions) {
  Octets cn = Hex("55 04 03"), ab = Bytes("AB");
  CAttributeValueAssertion ava;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, ava.SetAttributeValue(CPrintableString(ab.data(), 2)));
  ASSERT_EQ(0u, ava.SetAttribute(COid(cn.data(), Len(cn))));
  EXPECT_FALSE(ava.IsComplete());
  ASSERT_EQ(0u, ava.SetAttributeValue(CPrintableString(ab.data(), 2)));
  Octets expectedAva = Hex("30 09 06 03 55 04 03 13 02 41 42");
  DWORD size = 0;
  ASSERT_EQ(0u, ava.EncodedObjectToData(nullptr, &size));
  EXPECT_EQ(expectedAva.size(), size);
  EXPECT_EQ(expectedAva, Encode(ava));

  CRelativeDistinguishedName rdn(ava);
  Octets expectedRdn = Hex("31 0B") + expectedAva;
  EXPECT_EQ(expectedRdn, Encode(rdn));
  CRelativeDistinguishedName parsed;
  ASSERT_EQ(0u, parsed.CreateByEncodedData(expectedRdn.data(), Len(expectedRdn)));
  CAttributeValueAssertion back;
  ASSERT_EQ(0u, parsed.GetAttributeValueAssertion(&back));
  CAsn1Obj value;
  ASSERT_EQ(0u, back.GetAttributeValue(&value));
  EXPECT_EQ(0x13, value.GetTag());
  EXPECT_EQ(ab, ValueOf(value));
  CRelativeDistinguishedName fromContent(expectedAva.data(), Len(expectedAva));
  EXPECT_TRUE(fromContent.IsComplete());
  CRelativeDistinguishedName badContent(expectedAva.data(), Len(expectedAva) - 1);
  EXPECT_FALSE(badContent.IsComplete());

  CRDNSequence names(expectedRdn.data(), Len(expectedRdn));
  EXPECT_EQ(Hex("30 0D") + expectedRdn, Encode(names));
  CContentInfo info;
  EXPECT_EQ(0x10, info.GetTag());
  EXPECT_FALSE(info.IsComplete());
}

TEST(Pkcs, TimeStampRequest) {
  Octets one = Hex("01"), policy = Hex("2A 03 04"), nonce = Hex("07");
  CTimeStampRequest req;
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, req.SetMessageImprint(Digest()));  // before the version
  ASSERT_EQ(0u, req.SetVersion(CInteger(one.data(), 1)));
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, req.SetCertReq(CBoolean(1)));      // before the imprint
  ASSERT_EQ(0u, req.SetMessageImprint(Digest()));
  EXPECT_FALSE(req.IsComplete());
  Octets before = Hex("30 26 02 01 01 " + DIGEST_INFO);
  // The nonce needs the policy: refused, nothing appended.
  EXPECT_EQ(ASN1_ERR_INCOMPLETE, req.SetNonce(CInteger(nonce.data(), 1)));
  ASSERT_EQ(0u, req.SetReqPolicy(COid(policy.data(), Len(policy))));
  ASSERT_EQ(0u, req.SetNonce(CInteger(nonce.data(), 1)));
  ASSERT_EQ(0u, req.SetCertReq(CBoolean(1)));
  EXPECT_TRUE(req.IsComplete());
  EXPECT_EQ(ASN1_ERR_ORDER, req.SetReqPolicy(COid(policy.data(), Len(policy))));  // after certReq
  Octets full = Hex("30 31 02 01 01 " + DIGEST_INFO + " 06 03 2A 03 04 02 01 07 01 01 FF");
  EXPECT_EQ(full, Encode(req));

  struct Case {
    const char* name;
    Octets in;
    DWORD result;
    bool policy, nonce, certReq;
  } cases[] = {
      {"every member", full, 0, true, true, true},
      {"version and imprint only", before, 0, false, false, false},
      {"nonce without policy", Hex("30 29 02 01 01 " + DIGEST_INFO + " 02 01 07"), 0, false, true, false},
      {"no imprint", Hex("30 06 02 01 01 01 01 FF"), ASN1_ERR_WRONG_TAG, false, false, false},
      {"no version", Hex("30 23 " + DIGEST_INFO), ASN1_ERR_WRONG_TAG, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CTimeStampRequest parsed;
    EXPECT_EQ(c.result, parsed.CreateByEncodedData(c.in.data(), Len(c.in)));
    if (c.result) continue;
    EXPECT_TRUE(parsed.IsComplete());
    COid p;
    CInteger n;
    CBoolean b;
    CDigestInfo di;
    EXPECT_EQ(0u, parsed.GetMessageImprint(&di));
    EXPECT_EQ(Hex(DIGEST_INFO), Encode(di));
    EXPECT_EQ(c.policy, parsed.GetReqPolicy(&p) == 0);
    EXPECT_EQ(c.nonce, parsed.GetNonce(&n) == 0);
    EXPECT_EQ(c.certReq, parsed.GetCertReq(&b) == 0);
  }
}
