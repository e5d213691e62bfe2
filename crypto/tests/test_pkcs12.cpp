// CPKCS12 over files made at test time by "openssl pkcs12": current encryption,
// the legacy encryption of older tools (RC2-40 / 3DES), no key or no
// certificate, text forms, wrong passwords and damaged files.
#include <gtest/gtest.h>

#include "support.h"
#include "vexa/crypto/pkcs12.h"

using cryptotest::Bytes;
using cryptotest::CStr;
using cryptotest::Openssl;
using cryptotest::ReadFile;
using cryptotest::TempDir;
using cryptotest::ToHex;
using cryptotest::WriteFile;

namespace {

class Pkcs12 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    Openssl("req -x509 -newkey rsa:2048 -nodes -keyout " + P("k.pem") + " -out " + P("c.pem") +
            " -subj /C=IT/O=Vexa/CN=Holder -days 30 2>/dev/null");
    modulus_ = Openssl("x509 -in " + P("c.pem") + " -noout -modulus");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string P(const std::string& n) { return dir_->Path(n); }
  // Exports k.pem/c.pem with extra options to the file "name".
  static std::string Export(const std::string& name, const std::string& options, const std::string& pass = "secret") {
    Openssl("pkcs12 -export -inkey " + P("k.pem") + " -in " + P("c.pem") + " -out " + P(name) +
            " -passout pass:" + pass + " " + options + " 2>/dev/null");
    return P(name);
  }

  // The key's modulus as "openssl x509 -modulus" prints it.
  static std::string ModulusLine(CRSA& rsa) {
    unsigned char *n = nullptr, *e = nullptr;
    unsigned long nl = 0, el = 0;
    if (rsa.SavePBK(&n, nl, &e, el) != RSA_OK) return "";
    std::string hex = ToHex(n, nl);
    delete[] n;
    delete[] e;
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "Modulus=" + hex + "\n";
  }

  static TempDir* dir_;
  static std::string modulus_;
};
TempDir* Pkcs12::dir_ = nullptr;
std::string Pkcs12::modulus_;

TEST_F(Pkcs12, CurrentAndLegacyEncryptionsOpen) {
  const struct {
    const char* what;
    const char* options;
  } cases[] = {
      {"current (AES-256, PBKDF2, SHA-256 MAC)", ""},
      {"legacy (RC2-40 certificates, 3DES key)", "-legacy"},
      {"3DES for both, SHA-1 MAC", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1"},
      {"RC2-40 for both", "-legacy -keypbe PBE-SHA1-RC2-40 -certpbe PBE-SHA1-RC2-40"},
      {"certificate not encrypted", "-certpbe NONE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = Export("p.p12", c.options);
    CPKCS12 p12;
    ASSERT_EQ(p12.Init(CPKCS12::tDER, CStr(file), CStr("secret")), RSA_OK);
    CRSA rsa;
    CX509v3 cert;
    ASSERT_EQ(p12.GetRSA(rsa), RSA_OK);
    ASSERT_EQ(p12.GetX509(cert), RSA_OK);
    EXPECT_EQ(ModulusLine(rsa), modulus_);
    EXPECT_TRUE(rsa.IsPvkKey());
    unsigned char subject[128];
    long len = sizeof subject;
    ASSERT_EQ(cert.GetSubject(subject, len), RSA_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(subject)), "C=IT, O=Vexa, CN=Holder");

    // The key signs; the certificate's public key verifies.
    CRSA pub;
    ASSERT_EQ(cert.GetPbkKey(pub), RSA_OK);
    unsigned char digest[20] = {7}, sig[256];
    long sigLen = sizeof sig;
    ASSERT_EQ(rsa.Sign(digest, 20, sig, sigLen, MD_TYPE_SHA1), RSA_OK);
    EXPECT_EQ(pub.Verify(sig, sigLen, digest, 20, MD_TYPE_SHA1), RSA_OK);

    // The wrong password is an error code.
    CPKCS12 wrong;
    EXPECT_EQ(wrong.Init(CPKCS12::tDER, CStr(file), CStr("Secret")), RSA_ERR_OPENSSL);
    EXPECT_EQ(wrong.GetRSA(rsa), RSA_ERR_HANDOVER);
    EXPECT_EQ(wrong.Init(CPKCS12::tDER, CStr(file), nullptr), RSA_ERR_OPENSSL);
  }
}

TEST_F(Pkcs12, FilesWithoutKeyOrCertificateAndEmptyPassword) {
  CPKCS12 noKey;
  ASSERT_EQ(noKey.Init(CPKCS12::tDER, CStr(Export("nokey.p12", "-nokeys")), CStr("secret")), RSA_OK);
  CRSA rsa;
  CX509v3 cert;
  EXPECT_EQ(noKey.GetRSA(rsa), RSA_ERR_HANDOVER);
  EXPECT_EQ(noKey.GetX509(cert), RSA_OK);

  // A key without certificate: openssl needs -nocerts on the key alone.
  Openssl("pkcs12 -export -nocerts -inkey " + P("k.pem") + " -out " + P("nocert.p12") + " -passout pass:secret");
  CPKCS12 noCert;
  ASSERT_EQ(noCert.Init(CPKCS12::tDER, CStr(P("nocert.p12")), CStr("secret")), RSA_OK);
  EXPECT_EQ(noCert.GetRSA(rsa), RSA_OK);
  EXPECT_EQ(noCert.GetX509(cert), RSA_ERR_NO_CERT);

  CPKCS12 empty;
  ASSERT_EQ(empty.Init(CPKCS12::tDER, CStr(Export("empty.p12", "", "")), CStr("")), RSA_OK);
  EXPECT_EQ(empty.GetRSA(rsa), RSA_OK);

  CPKCS12 fresh;
  EXPECT_EQ(fresh.GetRSA(rsa), RSA_ERR_HANDOVER);
  EXPECT_EQ(fresh.GetX509(cert), RSA_ERR_NO_CERT);
}

TEST_F(Pkcs12, Base64AndArmouredForms) {
  const std::string file = Export("b.p12", "-legacy");
  Openssl("base64 -in " + file + " -out " + P("b.b64"));  // wrapped at 64 columns
  CPKCS12 b64;
  ASSERT_EQ(b64.Init(CPKCS12::tBASE64, CStr(P("b.b64")), CStr("secret")), RSA_OK);
  CRSA rsa;
  EXPECT_EQ(b64.GetRSA(rsa), RSA_OK);

  const Bytes text = ReadFile(P("b.b64"));
  WriteFile(P("b.arm"), "-----BEGIN PKCS12-----\n" + std::string(text.begin(), text.end()) + "-----END PKCS12-----\n");
  CPKCS12 arm;
  ASSERT_EQ(arm.Init(CPKCS12::tARMOURED, CStr(P("b.arm")), CStr("secret")), RSA_OK);
  WriteFile(P("b.bad"), std::string(text.begin(), text.end()) + "-----END PKCS12-----\n");
  EXPECT_EQ(arm.Init(CPKCS12::tARMOURED, CStr(P("b.bad")), CStr("secret")), RSA_ERR_ARMOUR);
  WriteFile(P("b.bad"), "-----BEGIN PKCS12-----\n" + std::string(text.begin(), text.end()));
  EXPECT_EQ(arm.Init(CPKCS12::tARMOURED, CStr(P("b.bad")), CStr("secret")), RSA_ERR_ARMOUR);
  WriteFile(P("b.bad"), std::string("#not base64#"));
  EXPECT_EQ(arm.Init(CPKCS12::tBASE64, CStr(P("b.bad")), CStr("secret")), RSA_ERR_FILE);
}

TEST_F(Pkcs12, DamagedFilesGiveErrorCodes) {
  const Bytes good = ReadFile(Export("d.p12", "-legacy"));
  CPKCS12 p12;
  EXPECT_EQ(p12.Init(CPKCS12::tDER, CStr(P("missing")), CStr("secret")), RSA_ERR_FILE);
  EXPECT_EQ(p12.Init(CPKCS12::tDER, nullptr, CStr("secret")), RSA_ERR_ARG);
  for (std::size_t n = 0; n < good.size(); n += good.size() / 40 + 1) {
    WriteFile(P("cut.p12"), Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_EQ(p12.Init(CPKCS12::tDER, CStr(P("cut.p12")), CStr("secret")), RSA_ERR_OPENSSL) << n;
  }
  // A flipped byte in the middle: the MAC no longer matches.
  Bytes flipped = good;
  flipped[flipped.size() / 2] ^= 0x55;
  WriteFile(P("flip.p12"), flipped);
  EXPECT_EQ(p12.Init(CPKCS12::tDER, CStr(P("flip.p12")), CStr("secret")), RSA_ERR_OPENSSL);
  CRSA rsa;
  EXPECT_EQ(p12.GetRSA(rsa), RSA_ERR_HANDOVER);

  // A MAC iteration count far beyond any tool's is refused before the costly
  // key derivation (it would hold the caller for as long as the file asks).
  EXPECT_EQ(p12.Init(CPKCS12::tDER, CStr(Export("iter.p12", "-iter 1000001")), CStr("secret")), RSA_ERR_OPENSSL);
  EXPECT_EQ(p12.Init(CPKCS12::tDER, CStr(Export("iter.p12", "-iter 100000")), CStr("secret")), RSA_OK);
}

TEST_F(Pkcs12, WrittenFileOpensWithOpensslAndHere) {
  CPKCS12 source;
  ASSERT_EQ(source.Init(CPKCS12::tDER, CStr(Export("w.p12", "-legacy")), CStr("secret")), RSA_OK);
  CPKCS12 writer;
  EXPECT_EQ(writer.WriteP12ToFile(CStr(P("out.p12")), CStr("pw"), CStr("name")), RSA_ERR_KEY_PART);
  CRSA rsa;
  CX509v3 cert;
  ASSERT_EQ(source.GetRSA(rsa), RSA_OK);
  ASSERT_EQ(source.GetX509(cert), RSA_OK);
  writer.SetRSA(rsa);
  EXPECT_EQ(writer.WriteP12ToFile(CStr(P("out.p12")), CStr("pw"), CStr("name")), RSA_ERR_NO_CERT);
  writer.SetX509(cert);
  ASSERT_EQ(writer.WriteP12ToFile(CStr(P("out.p12")), CStr("pw"), CStr("name")), RSA_OK);

  const std::string out = Openssl("pkcs12 -in " + P("out.p12") + " -passin pass:pw -nodes 2>/dev/null");
  EXPECT_NE(out.find("friendlyName: name"), std::string::npos) << out;
  EXPECT_NE(out.find("BEGIN PRIVATE KEY"), std::string::npos);
  CPKCS12 back;
  ASSERT_EQ(back.Init(CPKCS12::tDER, CStr(P("out.p12")), CStr("pw")), RSA_OK);
  CRSA again;
  ASSERT_EQ(back.GetRSA(again), RSA_OK);
  EXPECT_EQ(ModulusLine(again), modulus_);
}

}  // namespace
