// CRSA: PKCS#1 v1.5 operations cross-checked with the openssl command line,
// result codes, caller buffers, key-pair generation and key parts.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sstream>

#include "support.h"
#include "vexa/crypto/rsa.h"

using cryptotest::Bytes;
using cryptotest::CStr;
using cryptotest::FromHex;
using cryptotest::Openssl;
using cryptotest::ReadFile;
using cryptotest::TempDir;
using cryptotest::ToHex;
using cryptotest::WriteFile;

namespace {

// The hexadecimal block after "label:" in the output of "openssl rsa -text".
Bytes TextField(const std::string& text, const std::string& label) {
  std::istringstream in(text);
  std::string line, hex;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind(label + ":", 0) == 0) {
      inside = true;
      continue;
    }
    if (inside) {
      if (line.empty() || line[0] != ' ') break;
      hex += line;
    }
  }
  Bytes b = FromHex(hex);
  while (!b.empty() && b[0] == 0) b.erase(b.begin());
  return b;
}

// A key made by openssl, with its parts as openssl prints them.
struct OpensslKey {
  std::string pem, pubPem;
  Bytes n, d, e = {0x01, 0x00, 0x01};
};

class RsaOpenssl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (int bits : {1024, 2048}) {
      OpensslKey& k = bits == 1024 ? k1024_ : k2048_;
      k.pem = dir_->Path("key" + std::to_string(bits) + ".pem");
      k.pubPem = dir_->Path("pub" + std::to_string(bits) + ".pem");
      Openssl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits) + " -out " + k.pem + " 2>/dev/null");
      Openssl("pkey -in " + k.pem + " -pubout -out " + k.pubPem);
      const std::string text = Openssl("rsa -in " + k.pem + " -text -noout 2>/dev/null");
      k.n = TextField(text, "modulus");
      k.d = TextField(text, "privateExponent");
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static CRSA PublicOf(OpensslKey& k) {
    CRSA rsa;
    rsa.InitPBK(k.n.data(), static_cast<long>(k.n.size()), k.e.data(), static_cast<long>(k.e.size()));
    return rsa;
  }
  static CRSA PrivateOf(OpensslKey& k) {
    CRSA rsa;
    rsa.InitKeys(k.n.data(), static_cast<long>(k.n.size()), k.d.data(), static_cast<long>(k.d.size()),
                 k.e.data(), static_cast<long>(k.e.size()));
    return rsa;
  }
  static std::string P(const std::string& name) { return dir_->Path(name); }

  static TempDir* dir_;
  static OpensslKey k1024_, k2048_;
};
TempDir* RsaOpenssl::dir_ = nullptr;
OpensslKey RsaOpenssl::k1024_, RsaOpenssl::k2048_;

struct DigestCase {
  int mdType;
  const char* opensslName;
  std::size_t size;
};
const DigestCase kDigests[] = {{MD_TYPE_SHA1, "sha1", 20},
                               {MD_TYPE_MD5, "md5", 16},
                               {MD_TYPE_RIPEMD160, "ripemd160", 20},
                               {MD_TYPE_MD5_SHA1, "md5-sha1", 36}};

Bytes DigestValue(std::size_t size, unsigned char seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>(seed + 7 * i);
  return b;
}

TEST_F(RsaOpenssl, SignaturesOfCRSAVerifyWithOpensslAndAreIdentical) {
  for (OpensslKey* k : {&k1024_, &k2048_}) {
    CRSA rsa = PrivateOf(*k);
    for (const DigestCase& c : kDigests) {
      Bytes digest = DigestValue(c.size, static_cast<unsigned char>(c.mdType));
      Bytes sig(k->n.size());
      long sigLen = static_cast<long>(sig.size());
      ASSERT_EQ(rsa.Sign(digest.data(), static_cast<long>(digest.size()), sig.data(), sigLen, c.mdType), RSA_OK)
          << c.opensslName;
      ASSERT_EQ(static_cast<std::size_t>(sigLen), k->n.size());
      WriteFile(P("digest"), digest);
      WriteFile(P("sig"), sig);
      int status = -1;
      const std::string out = Openssl("pkeyutl -verify -pubin -inkey " + k->pubPem + " -in " + P("digest") +
                                          " -sigfile " + P("sig") + " -pkeyopt digest:" + c.opensslName + " 2>&1",
                                      &status);
      EXPECT_EQ(status, 0) << c.opensslName << ": " << out;
      EXPECT_NE(out.find("Signature Verified Successfully"), std::string::npos) << out;

      // PKCS#1 v1.5 is deterministic: openssl's own signature is the same bytes.
      Openssl("pkeyutl -sign -inkey " + k->pem + " -in " + P("digest") + " -out " + P("sig2") +
              " -pkeyopt digest:" + c.opensslName);
      EXPECT_EQ(ToHex(ReadFile(P("sig2"))), ToHex(sig)) << c.opensslName;
    }
  }
}

TEST_F(RsaOpenssl, SignaturesOfOpensslVerifyWithCRSA) {
  for (OpensslKey* k : {&k1024_, &k2048_}) {
    CRSA rsa = PublicOf(*k);
    for (const DigestCase& c : kDigests) {
      Bytes digest = DigestValue(c.size, 0x40);
      WriteFile(P("digest"), digest);
      Openssl("pkeyutl -sign -inkey " + k->pem + " -in " + P("digest") + " -out " + P("sig") +
              " -pkeyopt digest:" + c.opensslName);
      Bytes sig = ReadFile(P("sig"));
      EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), digest.data(),
                           static_cast<long>(digest.size()), c.mdType),
                RSA_OK)
          << c.opensslName;
      // Another digest, a damaged signature, or the wrong digest type fail.
      Bytes other = digest;
      other[0] ^= 1;
      EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), other.data(), static_cast<long>(other.size()), c.mdType),
                RSA_ERR_VERIFY);
      Bytes bad = sig;
      bad[bad.size() / 2] ^= 0x10;
      EXPECT_EQ(rsa.Verify(bad.data(), static_cast<long>(bad.size()), digest.data(), static_cast<long>(digest.size()), c.mdType),
                RSA_ERR_VERIFY);
      const int wrongType = c.mdType == MD_TYPE_SHA1 ? MD_TYPE_RIPEMD160 : MD_TYPE_SHA1;
      if (c.size == 20) {
        EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), digest.data(), 20, wrongType), RSA_ERR_VERIFY);
      }
    }
    // Raw mode: the recovered block (PKCS#1 type 1 for -1) starts with the data.
    Bytes data = DigestValue(30, 9);
    WriteFile(P("raw"), data);
    Openssl("pkeyutl -sign -inkey " + k->pem + " -in " + P("raw") + " -out " + P("rawsig"));
    Bytes sig = ReadFile(P("rawsig"));
    EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), data.data(), 30, -1), RSA_OK);
    EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), data.data(), 10, -1), RSA_OK);
    data[29] ^= 1;
    EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), data.data(), 30, -1), RSA_ERR_VERIFY);
    EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()) - 1, data.data(), 10, -1), RSA_ERR_VERIFY);
    // Without padding the block is 00 01 FF ... 00 data.
    const unsigned char head[] = {0x00, 0x01, 0xFF, 0xFF};
    EXPECT_EQ(rsa.Verify(sig.data(), static_cast<long>(sig.size()), const_cast<unsigned char*>(head), 4, 0), RSA_OK);
  }
}

TEST_F(RsaOpenssl, DecryptionAndEncryptionInteroperate) {
  for (OpensslKey* k : {&k1024_, &k2048_}) {
    CRSA rsa = PrivateOf(*k);
    const Bytes message = DigestValue(48, 0x21);
    WriteFile(P("msg"), message);
    Openssl("pkeyutl -encrypt -pubin -inkey " + k->pubPem + " -in " + P("msg") + " -out " + P("enc"));
    Bytes enc = ReadFile(P("enc"));
    Bytes plain(k->n.size());
    long plainLen = static_cast<long>(plain.size());
    ASSERT_EQ(rsa.Decrypt(enc.data(), static_cast<long>(enc.size()), plain.data(), plainLen), RSA_OK);
    plain.resize(static_cast<std::size_t>(plainLen));
    EXPECT_EQ(plain, message);
    enc[5] ^= 0x80;
    plainLen = static_cast<long>(k->n.size());
    EXPECT_EQ(rsa.Decrypt(enc.data(), static_cast<long>(enc.size()), plain.data(), plainLen), RSA_ERR_DECRYPT);

    CRSA pub = PublicOf(*k);
    Bytes out(k->n.size());
    long outLen = static_cast<long>(out.size());
    ASSERT_EQ(pub.Encrypt(const_cast<unsigned char*>(message.data()), static_cast<long>(message.size()), out.data(), outLen), RSA_OK);
    EXPECT_EQ(static_cast<std::size_t>(outLen), k->n.size());
    WriteFile(P("enc2"), out);
    Openssl("pkeyutl -decrypt -inkey " + k->pem + " -in " + P("enc2") + " -out " + P("dec2"));
    EXPECT_EQ(ReadFile(P("dec2")), message);
  }
}

TEST_F(RsaOpenssl, RawOperationsMatchOpenssl) {
  CRSA rsa = PrivateOf(k1024_);
  Bytes data = DigestValue(35, 3);
  Bytes sig(128);
  unsigned long sigLen = 128;
  ASSERT_EQ(rsa.RawSign(data.data(), 35, sig.data(), &sigLen, 1), RSA_OK);
  WriteFile(P("raw"), data);
  Openssl("pkeyutl -sign -inkey " + k1024_.pem + " -in " + P("raw") + " -out " + P("rawsig"));
  EXPECT_EQ(ToHex(ReadFile(P("rawsig"))), ToHex(sig));

  Bytes back(128);
  unsigned long backLen = 128;
  ASSERT_EQ(rsa.RawVerify(sig.data(), 128, back.data(), &backLen, 1), RSA_OK);
  back.resize(backLen);
  EXPECT_EQ(back, data);
  long pdLen = 128;
  Bytes pd(128);
  ASSERT_EQ(rsa.PublicDecrypt(sig.data(), 128, pd.data(), &pdLen), RSA_OK);
  pd.resize(static_cast<std::size_t>(pdLen));
  EXPECT_EQ(pd, data);

  // Padding 3: one whole block, raised to d and back to e.
  Bytes block(128, 0x11);
  block[0] = 0x00;
  Bytes c(128), m(128);
  unsigned long cLen = 128, mLen = 128;
  ASSERT_EQ(rsa.RawSign(block.data(), 128, c.data(), &cLen, 3), RSA_OK);
  WriteFile(P("block"), c);
  Openssl("pkeyutl -verifyrecover -pubin -inkey " + k1024_.pubPem + " -pkeyopt rsa_padding_mode:none -in " +
          P("block") + " -out " + P("recovered"));
  EXPECT_EQ(ReadFile(P("recovered")), block);
  ASSERT_EQ(rsa.RawVerify(c.data(), 128, m.data(), &mLen, 3), RSA_OK);
  EXPECT_EQ(m, block);
}

// A buffer with guard bytes after the part the callee may write.
struct Guarded {
  explicit Guarded(std::size_t n) : bytes(n + 16, 0xA5), size(n) {}
  unsigned char* data() { return bytes.data(); }
  bool GuardIntact() const {
    for (std::size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != 0xA5) return false;
    return true;
  }
  Bytes bytes;
  std::size_t size;
};

TEST_F(RsaOpenssl, ShortCallerBuffersAreRefusedNeverOverrun) {
  CRSA rsa = PrivateOf(k1024_);
  Bytes digest = DigestValue(20, 1);
  Bytes in(128, 0x01);
  in[0] = 0;
  Bytes sig(128);
  long sigLen = 128;
  ASSERT_EQ(rsa.Sign(digest.data(), 20, sig.data(), sigLen, MD_TYPE_SHA1), RSA_OK);

  struct Case {
    const char* what;
    std::function<long(Guarded&, long)> call;
    long shortCapacity;
  };
  const Case cases[] = {
      {"Sign", [&](Guarded& g, long cap) { return rsa.Sign(digest.data(), 20, g.data(), cap, MD_TYPE_SHA1); }, 127},
      {"Encrypt", [&](Guarded& g, long cap) { return rsa.Encrypt(digest.data(), 20, g.data(), cap); }, 127},
      {"Decrypt", [&](Guarded& g, long cap) { return rsa.Decrypt(sig.data(), 128, g.data(), cap); }, 127},
      {"RawSign", [&](Guarded& g, long cap) {
         unsigned long c = static_cast<unsigned long>(cap);
         return rsa.RawSign(digest.data(), 20, g.data(), &c, 1);
       }, 127},
      {"RawVerify pad 1", [&](Guarded& g, long cap) {
         unsigned long c = static_cast<unsigned long>(cap);
         return rsa.RawVerify(sig.data(), 128, g.data(), &c, 1);
       }, 116},
      {"RawVerify pad 3", [&](Guarded& g, long cap) {
         unsigned long c = static_cast<unsigned long>(cap);
         return rsa.RawVerify(sig.data(), 128, g.data(), &c, 3);
       }, 127},
      // The recovered DigestInfo is 35 bytes.
      {"PublicDecrypt", [&](Guarded& g, long cap) { return rsa.PublicDecrypt(sig.data(), 128, g.data(), &cap); }, 34},
  };
  for (const Case& c : cases) {
    Guarded g(static_cast<std::size_t>(c.shortCapacity));
    EXPECT_EQ(c.call(g, c.shortCapacity), RSA_ERR_NO_KEY) << c.what;
    EXPECT_TRUE(g.GuardIntact()) << c.what;
    EXPECT_EQ(g.bytes[0], 0xA5) << c.what << " wrote into a refused buffer";
  }
}

TEST(Rsa, ResultCodesForMissingArgumentsKeysAndPadding) {
  CRSA empty;
  unsigned char buf[256] = {};
  long len = 256;
  unsigned long ulen = 256;
  EXPECT_EQ(empty.GetKeySize(1), RSA_ERR_NOT_AVAILABLE);
  EXPECT_EQ(empty.GetKeySize(0), RSA_ERR_NOT_AVAILABLE);
  EXPECT_EQ(empty.IsPbkKey(), 0);
  EXPECT_EQ(empty.IsPvkKey(), 0);
  EXPECT_EQ(empty.Sign(nullptr, 20, buf, len, 1), RSA_ERR_ARG);
  EXPECT_EQ(empty.Sign(buf, 20, buf, len, 1), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.Encrypt(buf, 20, nullptr, len), RSA_ERR_ARG);
  EXPECT_EQ(empty.Encrypt(buf, 20, buf, len), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.Decrypt(buf, 20, buf, len), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.Verify(nullptr, 1, buf, 1, 1), RSA_ERR_ARG);
  EXPECT_EQ(empty.Verify(buf, 1, buf, 1, 1), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.RawSign(buf, 1, buf, nullptr, 1), RSA_ERR_ARG);
  EXPECT_EQ(empty.RawSign(buf, 1, buf, &ulen, 1), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.RawVerify(buf, 1, buf, &ulen, 1), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.PublicDecrypt(buf, 1, buf, &len), RSA_ERR_NO_KEY);
  EXPECT_EQ(empty.InitKeysFromEVPKEY(nullptr), RSA_ERR_ARG);
  EXPECT_EQ(empty.InitKeysFromRSA(nullptr), RSA_ERR_ARG);
  unsigned char* m = nullptr;
  unsigned char* e = nullptr;
  unsigned long ml = 0, el = 0;
  EXPECT_EQ(empty.SavePBK(&m, ml, &e, el), RSA_ERR_KEY_PART);
  EXPECT_EQ(empty.SavePVK(&m, ml, &e, el), RSA_ERR_KEY_PART);
  EXPECT_EQ(m, nullptr);

  CRSA rsa;
  ASSERT_EQ(rsa.GenKeys(1024, 65537), RSA_OK);
  ulen = 256;
  EXPECT_EQ(rsa.RawSign(buf, 20, buf, &ulen, 2), RSA_ERR_NO_KEY);  // padding not allowed
  EXPECT_EQ(rsa.RawVerify(buf, 128, buf, &ulen, 4), RSA_ERR_NO_KEY);
  len = 256;
  EXPECT_EQ(rsa.Sign(buf, 20, buf, len, 9), RSA_ERR_SIGN);  // unknown digest type
  EXPECT_EQ(rsa.Sign(buf, 19, buf, len, MD_TYPE_SHA1), RSA_ERR_SIGN);  // not a SHA-1 value
}

TEST(Rsa, GeneratedKeyPartsAndEncryptionLimit) {
  CRSA rsa;
  ASSERT_EQ(rsa.GenKeys(1024, 65537), RSA_OK);
  EXPECT_EQ(rsa.GetKeySize(1), 128);
  EXPECT_EQ(rsa.GetKeySize(0), 1024);
  EXPECT_TRUE(rsa.IsPbkKey());
  EXPECT_TRUE(rsa.IsPvkKey());

  unsigned char* mod = nullptr;
  unsigned char* e = nullptr;
  unsigned long modLen = 0, eLen = 0;
  ASSERT_EQ(rsa.SavePBK(&mod, modLen, &e, eLen), RSA_OK);
  std::unique_ptr<unsigned char[]> modOwner(mod), eOwner(e);
  EXPECT_EQ(modLen, 128u);
  EXPECT_NE(mod[0], 0);
  ASSERT_EQ(eLen, 3u);
  EXPECT_EQ(ToHex(e, 3), "010001");

  // A caller buffer large enough is filled in place; a short one is replaced.
  Bytes big(200, 0xCC);
  unsigned char* inPlace = big.data();
  unsigned long inPlaceLen = 200;
  unsigned char* d = new unsigned char[4];
  unsigned long dLen = 4;
  ASSERT_EQ(rsa.SavePVK(&inPlace, inPlaceLen, &d, dLen), RSA_OK);
  std::unique_ptr<unsigned char[]> dOwner(d);
  EXPECT_EQ(inPlace, big.data());
  EXPECT_EQ(inPlaceLen, 128u);
  EXPECT_EQ(ToHex(big.data(), 128), ToHex(mod, 128));
  EXPECT_EQ(big[128], 0xCC);
  EXPECT_GT(dLen, 100u);
  EXPECT_LE(dLen, 128u);

  unsigned char in[118] = {}, out[128];
  long outLen = 128;
  EXPECT_EQ(rsa.Encrypt(in, 117, out, outLen), RSA_OK);
  outLen = 128;
  EXPECT_EQ(rsa.Encrypt(in, 118, out, outLen), RSA_ERR_LENGTH);

  // A generated pair survives copy and assignment, independently.
  CRSA copy(rsa), assigned;
  assigned = rsa;
  unsigned char digest[20] = {1, 2, 3};
  unsigned char sig[128];
  long sigLen = 128;
  ASSERT_EQ(copy.Sign(digest, 20, sig, sigLen, MD_TYPE_SHA1), RSA_OK);
  EXPECT_EQ(assigned.Verify(sig, sigLen, digest, 20, MD_TYPE_SHA1), RSA_OK);
  ASSERT_EQ(rsa.GenKeys(1024, 3), RSA_OK);
  EXPECT_EQ(rsa.Verify(sig, sigLen, digest, 20, MD_TYPE_SHA1), RSA_ERR_VERIFY);
  EXPECT_EQ(assigned.Verify(sig, sigLen, digest, 20, MD_TYPE_SHA1), RSA_OK);

  EXPECT_EQ(rsa.GenKeys(1024, 4), RSA_ERR_ARG);  // even exponent
  EXPECT_EQ(rsa.GetKeySize(1), RSA_ERR_NOT_AVAILABLE);  // a failed generation leaves no key
}

TEST(Rsa, PrivateKeyFromModulusAndExponentsOnly) {
  // n, d and e given as bytes, no CRT parts: signing still works.
  CRSA gen;
  ASSERT_EQ(gen.GenKeys(1024, 65537), RSA_OK);
  unsigned char *n = nullptr, *d = nullptr, *e = nullptr, *n2 = nullptr;
  unsigned long nl = 0, dl = 0, el = 0, nl2 = 0;
  ASSERT_EQ(gen.SavePVK(&n, nl, &d, dl), RSA_OK);
  ASSERT_EQ(gen.SavePBK(&n2, nl2, &e, el), RSA_OK);
  std::unique_ptr<unsigned char[]> o1(n), o2(d), o3(e), o4(n2);
  CRSA rsa;
  ASSERT_EQ(rsa.InitKeys(n, static_cast<long>(nl), d, static_cast<long>(dl), e, static_cast<long>(el)), RSA_OK);
  unsigned char digest[20] = {9}, sig[128];
  long sigLen = 128;
  ASSERT_EQ(rsa.Sign(digest, 20, sig, sigLen, MD_TYPE_SHA1), RSA_OK);
  EXPECT_EQ(gen.Verify(sig, sigLen, digest, 20, MD_TYPE_SHA1), RSA_OK);

  // n and d alone cannot run OpenSSL's (blinded) private operation: a clear
  // result code, no crash. Adding e later with a null modulus keeps n and d.
  CRSA halves;
  halves.InitPVK(n, static_cast<long>(nl), d, static_cast<long>(dl));
  EXPECT_TRUE(halves.IsPvkKey());
  EXPECT_FALSE(halves.IsPbkKey());
  sigLen = 128;
  EXPECT_EQ(halves.Sign(digest, 20, sig, sigLen, MD_TYPE_SHA1), RSA_ERR_NO_KEY);
  long plainLen = 128;
  EXPECT_EQ(halves.Decrypt(sig, 128, sig, plainLen), RSA_ERR_NO_KEY);
  EXPECT_EQ(halves.InitKeysFromRSA(sig), RSA_ERR_NO_KEY);
  halves.InitPBK(nullptr, 0, e, static_cast<long>(el));
  EXPECT_TRUE(halves.IsPbkKey());
  sigLen = 128;
  ASSERT_EQ(halves.Sign(digest, 20, sig, sigLen, MD_TYPE_SHA1), RSA_OK);
  EXPECT_EQ(gen.Verify(sig, sigLen, digest, 20, MD_TYPE_SHA1), RSA_OK);
}

TEST(Rsa, HandsKeysToAndFromEvpPkey) {
  CRSA rsa;
  ASSERT_EQ(rsa.GenKeys(1024, 65537), RSA_OK);
  EVP_PKEY* pkey = EVP_PKEY_new();
  ASSERT_EQ(rsa.GetEVP_PKEY(pkey), RSA_OK);
  EXPECT_EQ(EVP_PKEY_get_base_id(pkey), EVP_PKEY_RSA);
  EXPECT_EQ(rsa.GetEVP_PKEY(pkey), RSA_ERR_HANDOVER);  // no longer empty
  // OpenSSL signs with the handed-over key; CRSA verifies.
  unsigned char digest[20] = {5, 6, 7}, sig[128];
  std::size_t sigLen = sizeof sig;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
  ASSERT_EQ(EVP_PKEY_sign_init(ctx), 1);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1());
  ASSERT_EQ(EVP_PKEY_sign(ctx, sig, &sigLen, digest, 20), 1);
  EVP_PKEY_CTX_free(ctx);
  EXPECT_EQ(rsa.Verify(sig, static_cast<long>(sigLen), digest, 20, MD_TYPE_SHA1), RSA_OK);

  CRSA back;
  ASSERT_EQ(back.InitKeysFromEVPKEY(pkey), RSA_OK);
  EVP_PKEY_free(pkey);
  EXPECT_TRUE(back.IsPvkKey());
  EXPECT_TRUE(back.IsPbkKey());
  long len = 128;
  unsigned char sig2[128];
  ASSERT_EQ(back.Sign(digest, 20, sig2, len, MD_TYPE_SHA1), RSA_OK);
  EXPECT_EQ(ToHex(sig2, 128), ToHex(sig, 128));
}

}  // namespace
