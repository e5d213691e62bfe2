// CX509v3 over the real certificates of Debian's ca-certificates, compared field
// by field with "openssl x509"; malformed input, small buffers and times.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "support.h"
#include "vexa/crypto/rsa.h"
#include "vexa/crypto/x509v3.h"

using cryptotest::Bytes;
using cryptotest::CStr;
using cryptotest::FromHex;
using cryptotest::Openssl;
using cryptotest::ReadFile;
using cryptotest::TempDir;
using cryptotest::ToHex;
using cryptotest::WriteFile;

namespace {

std::vector<std::string> CaFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(CA_CERT_DIR))
    if (e.path().extension() == ".crt") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// "Dec 20 09:37:33 2018 GMT" -> "20181220093733 GMT"
std::string OpensslDate(const std::string& s) {
  static const std::map<std::string, int> months = {{"Jan", 1}, {"Feb", 2}, {"Mar", 3}, {"Apr", 4},
                                                    {"May", 5}, {"Jun", 6}, {"Jul", 7}, {"Aug", 8},
                                                    {"Sep", 9}, {"Oct", 10}, {"Nov", 11}, {"Dec", 12}};
  std::istringstream in(s);
  std::string mon, time, zone;
  int day = 0, year = 0;
  in >> mon >> day >> time >> year >> zone;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%c%c%c%c%c%c%s", year, months.at(mon), day, time[0], time[1],
                time[3], time[4], time[6], time[7], zone == "GMT" ? " GMT" : "");
  return buf;
}

// X509_NAME_print's line from the slash form of the same name: the slash before
// each "X=" or "XY=" (upper-case short names) becomes ", ".
std::string PrintForm(const std::string& slashForm) {
  std::string out;
  const std::string s = slashForm.substr(1);
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '/' && i + 2 < s.size() && std::isupper(static_cast<unsigned char>(s[i + 1])) &&
        (s[i + 2] == '=' || (i + 3 < s.size() && std::isupper(static_cast<unsigned char>(s[i + 2])) && s[i + 3] == '='))) {
      out += ", ";
      continue;
    }
    out += s[i];
  }
  return out;
}

std::map<std::string, std::string> OpensslFields(const std::string& file) {
  const std::string out = Openssl(
      "x509 -in '" + file + "' -noout -subject -issuer -serial -dates -modulus -nameopt compat -text "
      "-certopt no_header,no_sigdump,no_pubkey,no_extensions,no_aux,no_issuer,no_subject,no_validity,no_serial");
  std::map<std::string, std::string> f;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto trimmed = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    if (trimmed.rfind("Version: ", 0) == 0) {
      f["version"] = trimmed.substr(9, 1);
    } else if (trimmed.rfind("Signature Algorithm: ", 0) == 0) {
      if (!f.count("sigalg")) f["sigalg"] = trimmed.substr(21);
    } else if (auto eq = line.find('='); eq != std::string::npos && line[0] != ' ') {
      f[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return f;
}

TEST(X509Ca, EveryDebianCaCertificateMatchesOpenssl) {
  const auto files = CaFiles();
  ASSERT_GT(files.size(), 50u);
  int rsaCount = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    CX509v3 cert;
    ASSERT_EQ(cert.Init(CStr(file), CX509v3::tPEM), RSA_OK);
    auto f = OpensslFields(file);

    unsigned char buf[4096];
    long len = sizeof buf;
    ASSERT_EQ(cert.GetSubject(buf, len), RSA_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(len)), PrintForm(f["subject"]));
    EXPECT_EQ(buf[len], 0);
    len = sizeof buf;
    ASSERT_EQ(cert.GetIssuer(buf, len), RSA_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(len)), PrintForm(f["issuer"]));

    len = sizeof buf;
    ASSERT_EQ(cert.GetSerialNum(buf, len), RSA_OK);
    EXPECT_EQ(Upper(ToHex(buf, static_cast<std::size_t>(len))), f["serial"]);

    char nb[19] = {}, na[19] = {};
    ASSERT_EQ(cert.GetValidity(nb, na), RSA_OK);
    EXPECT_EQ(std::string(nb), OpensslDate(f["notBefore"]));
    EXPECT_EQ(std::string(na), OpensslDate(f["notAfter"]));

    long version = 0;
    ASSERT_EQ(cert.GetVersion(version), RSA_OK);
    EXPECT_EQ(std::to_string(version), f["version"]);

    len = sizeof buf;
    ASSERT_EQ(cert.GetSigAlgorithm(buf, len, CX509v3::tLONGNAME), RSA_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), f["sigalg"]);

    CRSA rsa;
    ASSERT_EQ(cert.GetPbkKey(rsa), RSA_OK);
    unsigned char *n = nullptr, *e = nullptr;
    unsigned long nl = 0, el = 0;
    const long saved = rsa.SavePBK(&n, nl, &e, el);
    if (f["Modulus"].rfind("No modulus", 0) == 0) {
      EXPECT_EQ(saved, RSA_ERR_KEY_PART);  // not an RSA key
    } else {
      ++rsaCount;
      ASSERT_EQ(saved, RSA_OK);
      EXPECT_EQ(Upper(ToHex(n, nl)), f["Modulus"]);
    }
    delete[] n;
    delete[] e;
  }
  EXPECT_GT(rsaCount, 20);
}

TEST(X509Ca, DerInputAndEncodingRoundTrip) {
  TempDir dir;
  const auto files = CaFiles();
  for (std::size_t i = 0; i < files.size(); i += 15) {
    Openssl("x509 -in '" + files[i] + "' -outform DER -out " + dir.Path("c.der"));
    Bytes der = ReadFile(dir.Path("c.der"));
    CX509v3 cert;
    ASSERT_EQ(cert.Init(der.data(), static_cast<long>(der.size()), CX509v3::tDER), RSA_OK);
    unsigned char* out = nullptr;
    long len = 0;
    ASSERT_EQ(cert.GetBER(&out, len), RSA_OK);
    EXPECT_EQ(Bytes(out, out + len), der);
    delete[] out;

    // Copies are independent of the source.
    CX509v3 copy(cert), assigned;
    assigned = cert;
    cert.Init(der.data(), 10, CX509v3::tDER);  // fails: the source is now empty
    long v = 0;
    EXPECT_EQ(cert.GetVersion(v), RSA_ERR_ENCRYPT);
    EXPECT_EQ(copy.GetVersion(v), RSA_OK);
    EXPECT_EQ(assigned.GetBER(&out, len), RSA_OK);
    EXPECT_EQ(Bytes(out, out + len), der);
    delete[] out;
  }
}

// A v3 certificate with RSA key, made for the algorithm getters.
class X509Made : public ::testing::Test {
 protected:
  void SetUp() override {
    Openssl("req -x509 -newkey rsa:1024 -nodes -keyout " + dir_.Path("k.pem") + " -out " + dir_.Path("c.pem") +
            " -subj /C=IT/O=Vexa/CN=Test -days 10 -sha256 2>/dev/null");
    Openssl("x509 -in " + dir_.Path("c.pem") + " -outform DER -out " + dir_.Path("c.der"));
    der_ = ReadFile(dir_.Path("c.der"));
  }
  TempDir dir_;
  Bytes der_;
};

TEST_F(X509Made, AlgorithmIdentifiersInEveryForm) {
  CX509v3 cert;
  ASSERT_EQ(cert.Init(der_.data(), static_cast<long>(der_.size()), CX509v3::tDER), RSA_OK);
  unsigned char buf[128];
  long len = sizeof buf;
  ASSERT_EQ(cert.GetSigAlgorithm(buf, len, CX509v3::tNID), RSA_OK);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(ToHex(buf, 4), "9c020000");  // NID 668, little-endian
  len = sizeof buf;
  ASSERT_EQ(cert.GetSigAlgorithm(buf, len, CX509v3::tSHORTNAME), RSA_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "RSA-SHA256");
  EXPECT_EQ(len, 10);
  len = sizeof buf;
  ASSERT_EQ(cert.GetSigAlgorithm(buf, len, CX509v3::tOID), RSA_OK);
  EXPECT_EQ(ToHex(buf, static_cast<std::size_t>(len)), "2a864886f70d01010b");
  len = sizeof buf;
  ASSERT_EQ(cert.GetSigAlgorithm(buf, len, CX509v3::tOIDTEXT), RSA_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "1.2.840.113549.1.1.11");
  len = sizeof buf;
  ASSERT_EQ(cert.GetPbkAlgorithm(buf, len, CX509v3::tLONGNAME), RSA_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "rsaEncryption");
  len = sizeof buf;
  EXPECT_EQ(cert.GetPbkAlgorithm(buf, len, CX509v3::tPEM), RSA_ERR_KEY_PART);

  // The same certificate with the key algorithm changed to an arc OpenSSL does
  // not know (1.2.840.113549.1.1.127): no NID, but the OID forms still work.
  const Bytes rsaOid = FromHex("06092a864886f70d010101");
  auto at = std::search(der_.begin(), der_.end(), rsaOid.begin(), rsaOid.end());
  ASSERT_NE(at, der_.end());
  Bytes patched = der_;
  patched[static_cast<std::size_t>(at - der_.begin()) + 10] = 0x7f;
  CX509v3 odd;
  ASSERT_EQ(odd.Init(patched.data(), static_cast<long>(patched.size()), CX509v3::tDER), RSA_OK);
  len = sizeof buf;
  EXPECT_EQ(odd.GetPbkAlgorithm(buf, len, CX509v3::tSHORTNAME), RSA_ERR_NO_NID);
  EXPECT_EQ(len, 1);
  EXPECT_EQ(buf[0], 0);
  len = sizeof buf;
  ASSERT_EQ(odd.GetPbkAlgorithm(buf, len, CX509v3::tOIDTEXT), RSA_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "1.2.840.113549.1.1.127");
}

TEST_F(X509Made, SmallBuffersAreRefusedWithTheSizeNeeded) {
  CX509v3 cert;
  ASSERT_EQ(cert.Init(der_.data(), static_cast<long>(der_.size()), CX509v3::tDER), RSA_OK);
  using Getter = long (CX509v3::*)(unsigned char*, long&);
  const struct {
    const char* what;
    Getter get;
  } getters[] = {{"subject", &CX509v3::GetSubject}, {"issuer", &CX509v3::GetIssuer},
                 {"serial", &CX509v3::GetSerialNum}, {"signature", &CX509v3::GetSignature}};
  for (const auto& g : getters) {
    long needed = 0;
    ASSERT_EQ((cert.*g.get)(nullptr, needed), RSA_OK) << g.what;
    ASSERT_GT(needed, 0);
    Bytes buf(static_cast<std::size_t>(needed) + 8, 0xA5);
    long len = needed - 1;
    EXPECT_EQ((cert.*g.get)(buf.data(), len), RSA_ERR_LENGTH) << g.what;
    EXPECT_EQ(len, needed);
    EXPECT_EQ(buf[0], 0xA5) << g.what;
    len = needed;
    EXPECT_EQ((cert.*g.get)(buf.data(), len), RSA_OK) << g.what;
    EXPECT_EQ(buf[static_cast<std::size_t>(needed)], 0xA5) << g.what;
  }
  long len = 0;
  unsigned char name[32];
  len = sizeof name;
  ASSERT_EQ(cert.GetSubject(name, len), RSA_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name)), "C=IT, O=Vexa, CN=Test");
  EXPECT_EQ(len, 21);
  unsigned char small[3];
  len = sizeof small;
  EXPECT_EQ(cert.GetSigAlgorithm(small, len, CX509v3::tNID), RSA_ERR_LENGTH);
  len = sizeof small;
  EXPECT_EQ(cert.GetSigAlgorithm(small, len, CX509v3::tLONGNAME), RSA_ERR_LENGTH);
}

TEST_F(X509Made, MalformedCertificatesGiveAnErrorAndLeaveNoCertificate) {
  const Bytes pem = ReadFile(dir_.Path("c.pem"));
  struct Case {
    const char* what;
    Bytes data;
    CX509v3::t_FORMAT format;
    long expected;
  };
  std::vector<Case> cases = {
      {"empty", {}, CX509v3::tDER, RSA_ERR_OPENSSL},
      {"garbage", Bytes(300, 0x42), CX509v3::tDER, RSA_ERR_OPENSSL},
      {"PEM given as DER", pem, CX509v3::tDER, RSA_ERR_OPENSSL},
      {"DER given as PEM", der_, CX509v3::tPEM, RSA_ERR_OPENSSL},
      {"PEM cut", Bytes(pem.begin(), pem.begin() + 200), CX509v3::tPEM, RSA_ERR_OPENSSL},
      {"unknown format", der_, static_cast<CX509v3::t_FORMAT>(3), RSA_ERR_NO_KEY},
      {"huge length", FromHex("3084ffffffff3082"), CX509v3::tDER, RSA_ERR_OPENSSL},
  };
  for (std::size_t n = 1; n < der_.size(); n += 13)
    cases.push_back({"truncated", Bytes(der_.begin(), der_.begin() + static_cast<std::ptrdiff_t>(n)), CX509v3::tDER, RSA_ERR_OPENSSL});
  for (Case& c : cases) {
    CX509v3 cert;
    ASSERT_EQ(cert.Init(der_.data(), static_cast<long>(der_.size()), CX509v3::tDER), RSA_OK);
    EXPECT_EQ(cert.Init(c.data.empty() ? nullptr : c.data.data(), static_cast<long>(c.data.size()), c.format), c.expected) << c.what;
    long v = 0;
    unsigned char buf[64];
    long len = sizeof buf;
    char a[19], b[19];
    CRSA rsa;
    if (c.expected == RSA_ERR_OPENSSL) {
      EXPECT_EQ(cert.GetVersion(v), RSA_ERR_ENCRYPT) << c.what;
      EXPECT_EQ(cert.GetSubject(buf, len), RSA_ERR_ENCRYPT);
      EXPECT_EQ(cert.GetValidity(a, b), RSA_ERR_ENCRYPT);
      EXPECT_EQ(cert.GetPbkKey(rsa), RSA_ERR_ENCRYPT);
      EXPECT_EQ(cert.GetSigAlgorithm(buf, len, CX509v3::tNID), RSA_ERR_ENCRYPT);
    }
  }
  CX509v3 cert;
  EXPECT_EQ(cert.Init(CStr(dir_.Path("missing")), CX509v3::tPEM), RSA_ERR_FILE);
  EXPECT_EQ(cert.Init(CStr(dir_.Path("c.pem")), CX509v3::tPEM), RSA_OK);
  EXPECT_EQ(cert.InitFromX509(nullptr), RSA_ERR_ARG);
}

class TimeText : public CX509v3 {
 public:
  static long Run(int type, const std::string& text, std::string& out) {
    char buf[19] = "untouched";
    const long r = TransformTime(type, text.data(), static_cast<long>(text.size()), buf);
    out = buf;
    return r;
  }
};

TEST(X509Time, TextFormsOfUtcAndGeneralizedTime) {
  const int utc = 23, gen = 24;
  const struct {
    int type;
    const char* in;
    long result;
    const char* out;
  } cases[] = {
      {utc, "491231235959Z", 0, "20491231235959 GMT"},
      {utc, "500101000000Z", 0, "19500101000000 GMT"},
      {utc, "0001020304Z", 0, "20000102030400 GMT"},  // no seconds
      {utc, "000102030405", 0, "20000102030405"},      // no Z: no suffix
      {utc, "001302030405Z", RSA_ERR_ARG, "untouched"},  // month 13
      {utc, "000002030405Z", RSA_ERR_ARG, "untouched"},  // month 0
      {utc, "00010203", RSA_ERR_ARG, "untouched"},       // too short
      {utc, "0001020x04Z", RSA_ERR_ARG, "untouched"},
      {gen, "20501231120000Z", 0, "20501231120000 GMT"},
      {gen, "205012311200Z", 0, "20501231120000 GMT"},
      {gen, "99990101000000Z", 0, "99990101000000 GMT"},
      {gen, "2050123112", RSA_ERR_ARG, "untouched"},
      {gen, "20501331120000Z", RSA_ERR_ARG, "untouched"},
      {22, "anything", 0, "untouched"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(TimeText::Run(c.type, c.in, out), c.result) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST_F(X509Made, ExtensionCursorWrapsAndStops) {
  CX509v3 cert;
  ASSERT_EQ(cert.Init(der_.data(), static_cast<long>(der_.size()), CX509v3::tDER), RSA_OK);
  const long count = cert.GetNumExts();
  ASSERT_GE(count, 2);  // openssl req adds subject key id, authority key id, basic constraints
  EXPECT_TRUE(cert.IsEndExt());
  EXPECT_EQ(cert.MovePrevExt(), 0);
  for (long i = 1; i < count; ++i) EXPECT_EQ(cert.MoveNextExt(), i);
  EXPECT_EQ(cert.MoveNextExt(), 0);
  EXPECT_TRUE(cert.IsEndExt());
  EXPECT_EQ(cert.GetExtension(), 0);
}

}  // namespace
