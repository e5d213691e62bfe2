// CMD against published digest vectors (FIPS 180, RFC 1321, the RIPEMD-160
// authors' list), over memory and files; CDN against DER written by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support.h"
#include "vexa/crypto/dn.h"
#include "vexa/crypto/md.h"

using cryptotest::Bytes;
using cryptotest::CStr;
using cryptotest::FromHex;
using cryptotest::TempDir;
using cryptotest::ToHex;

namespace {

std::string Digest(CMD::tTYPE t, const std::string& data) {
  CMD md(t);
  Bytes copy(data.begin(), data.end());
  EXPECT_EQ(md.Init(copy.empty() ? nullptr : copy.data(), static_cast<long>(copy.size())), RSA_OK);
  unsigned char out[64];
  unsigned int len = sizeof out;
  EXPECT_EQ(md.CalcolateMD(out, len), RSA_OK);
  return ToHex(out, len);
}

TEST(Digest, PublishedVectorsOverMemory) {
  const struct {
    CMD::tTYPE type;
    const char* data;
    const char* digest;
  } cases[] = {
      {CMD::tSHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {CMD::tSHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {CMD::tSHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {CMD::tMD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {CMD::tMD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {CMD::tMD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {CMD::tRIPEMD160, "", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {CMD::tRIPEMD160, "abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {CMD::tRIPEMD160, "message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      // MD5 then SHA-1, 36 bytes.
      {CMD::tMD5SHA1, "abc", "900150983cd24fb0d6963f7d28e17f72a9993e364706816aba3e25717850c26c9cd0d89d"},
  };
  for (const auto& c : cases) EXPECT_EQ(Digest(c.type, c.data), c.digest) << c.type << " '" << c.data << "'";
}

TEST(Digest, MillionAsFromAFileInPieces) {
  TempDir dir;
  const std::string path = dir.Path("a");
  {
    std::ofstream f(path, std::ios::binary);
    f << std::string(1000000, 'a');
  }
  const struct {
    CMD::tTYPE type;
    const char* digest;
  } cases[] = {{CMD::tSHA1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
               {CMD::tMD5, "7707d6ae4e027c70eea2a935c2296f21"},
               {CMD::tRIPEMD160, "52783243c1697bdbe16d37f97f68f08325dc1528"}};
  CMD md;
  ASSERT_EQ(md.Init(CStr(path)), RSA_OK);
  for (const auto& c : cases) {
    unsigned char out[20];
    unsigned int len = sizeof out;
    ASSERT_EQ(md.CalcolateMD(out, len, c.type), RSA_OK);
    EXPECT_EQ(ToHex(out, len), c.digest);
  }
  // The file is read at each calculation: gone, it is an error.
  std::filesystem::remove(path);
  unsigned char out[20];
  unsigned int len = sizeof out;
  EXPECT_EQ(md.CalcolateMD(out, len), RSA_ERR_ENCRYPT);
}

TEST(Digest, ResultCodesAndInstanceCount) {
  const long before = CMD::m_lInstance;
  {
    CMD a, b(CMD::tSHA1);
    CMD c(b);
    EXPECT_EQ(CMD::m_lInstance, before + 3);
    unsigned char out[36];
    unsigned int len = sizeof out;
    EXPECT_EQ(a.CalcolateMD(out, len), RSA_ERR_KEY_PART);  // no data
    EXPECT_EQ(a.Init(CStr("/nonexistent/file")), RSA_ERR_ARG);
    unsigned char data[3] = {'a', 'b', 'c'};
    ASSERT_EQ(a.Init(data, 3), RSA_OK);
    EXPECT_EQ(a.CalcolateMD(out, len), RSA_ERR_KEY_PART);  // no digest selected
    len = 16;
    EXPECT_EQ(a.CalcolateMD(out, len, CMD::tSHA1), RSA_ERR_LENGTH);  // SHA-1 needs 20
    len = sizeof out;
    EXPECT_EQ(a.CalcolateMD(out, len, static_cast<CMD::tTYPE>(9)), RSA_ERR_NO_KEY);
    EXPECT_EQ(a.CalcolateMD(out, len), RSA_OK);  // SHA-1 still selected
    EXPECT_EQ(len, 20u);
    EXPECT_EQ(CMD::New(static_cast<CMD::tTYPE>(0)), nullptr);
    EXPECT_NE(CMD::New(CMD::tRIPEMD160), nullptr);
    EXPECT_EQ(a.GetMDtype(), RSA_ERR_NOT_AVAILABLE);
  }
  EXPECT_EQ(CMD::m_lInstance, before);
}

std::string DnDer(CDN& dn) {
  unsigned char* der = nullptr;
  long len = -1;
  EXPECT_EQ(dn.GetASN1_DN(&der, len), RSA_OK);
  std::string hex = der != nullptr ? ToHex(der, static_cast<std::size_t>(len)) : "";
  delete[] der;
  return hex;
}

TEST(DistinguishedName, DerOfTheRdnsInOrder) {
  CDN dn;
  EXPECT_EQ(DnDer(dn), "3000");
  EXPECT_EQ(dn.Add_CO(CStr("IT")), RSA_OK);
  EXPECT_EQ(dn.Add_ON(CStr("Vexa")), RSA_OK);
  EXPECT_EQ(dn.Add_CN(CStr("Mario Rossi")), RSA_OK);
  EXPECT_EQ(dn.Add_Email(CStr("m@x.it")), RSA_OK);
  // SEQUENCE of SETs of SEQUENCE { OID, value }: countryName as PrintableString,
  // the directory strings as UTF8String (OpenSSL's default mask), the e-mail
  // address as IA5String.
  const std::string expected =
      "3049"
      "310b" "3009" "0603550406" "13024954"
      "310d" "300b" "060355040a" "0c0456657861"
      "3114" "3012" "0603550403" "0c0b4d6172696f20526f737369"
      "3115" "3013" "06092a864886f70d010901" "16066d40782e6974";
  EXPECT_EQ(DnDer(dn), expected);

  CDN more;
  EXPECT_EQ(more.Add_ST(CStr("Lazio")), RSA_OK);
  EXPECT_EQ(more.Add_OU(CStr("Unit")), RSA_OK);
  EXPECT_EQ(DnDer(more), "301f" "310e300c0603550408" "0c054c617a696f" "310d300b060355040b" "0c04556e6974");
}

TEST(DistinguishedName, RefusedValuesAddNothing) {
  CDN dn;
  EXPECT_EQ(dn.Add_CO(CStr("ITA")), RSA_ERR_OPENSSL);  // a country code has two letters
  EXPECT_EQ(dn.Add_CN(nullptr), RSA_ERR_OPENSSL);
  EXPECT_EQ(dn.Add_Email(CStr("\xc3\xa8@x.it")), RSA_ERR_OPENSSL);  // not IA5
  EXPECT_EQ(DnDer(dn), "3000");
  EXPECT_EQ(dn.makeRDN(), 0);
  long len = 0;
  EXPECT_EQ(dn.GetASN1_DN(nullptr, len), RSA_ERR_OPENSSL);
}

}  // namespace
