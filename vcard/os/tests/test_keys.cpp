// Key objects and cryptographic commands: creation templates, GENERATE KEY PAIR
// with the public key read back in both layouts, signatures checked with
// OpenSSL, key loads in both forms, 3DES, the DigestInfo prefix, refusals.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include "card_fixture.h"

namespace vexa::vcard::test {
namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// 00 DA 01 6E with the template; extended length when it does not fit.
Bytes PutDataOci(const Bytes& t) {
  Bytes a = H("00 DA 01 6E");
  if (t.size() <= 255) {
    a.push_back(static_cast<uint8_t>(t.size()));
  } else {
    a.push_back(0);
    a.push_back(static_cast<uint8_t>(t.size() >> 8));
    a.push_back(static_cast<uint8_t>(t.size()));
  }
  a.insert(a.end(), t.begin(), t.end());
  return a;
}

// Key template of the M4 form: 83 02 class ref | 85 08 opts | 86 07 BSAC | 8B 10 BSSM | 8F L value
Bytes KeyTemplateM4(uint8_t cls, uint8_t ref, const std::string& opts, const Bytes& value) {
  Bytes t = Cat({H("83 02"), {cls, ref}, H("85 08 " + opts), H("86 07 03 03 03 03 03 03 03 8B 10 " + Rep("FF", 16))});
  t.push_back(0x8F);
  t.push_back(static_cast<uint8_t>(value.size()));
  t.insert(t.end(), value.begin(), value.end());
  return t;
}
// M4.10 form: 86 09 BSAC410, CB 10 BSSM410.
Bytes KeyTemplateM410(uint8_t cls, uint8_t ref, const std::string& opts, const Bytes& value) {
  Bytes t = Cat({H("83 02"), {cls, ref}, H("85 08 " + opts), H("86 09 03 03 03 03 03 03 03 03 03 CB 10 " + Rep("FF", 16))});
  t.push_back(0x8F);
  t.push_back(static_cast<uint8_t>(value.size()));
  t.insert(t.end(), value.begin(), value.end());
  return t;
}

struct Rsa {
  Bytes n, e, d, p, q, dp, dq, qinv;
};

Bytes Param(EVP_PKEY* k, const char* name, size_t len = 0) {
  BIGNUM* b = nullptr;
  EVP_PKEY_get_bn_param(k, name, &b);
  Bytes out(len ? len : static_cast<size_t>(BN_num_bytes(b)));
  BN_bn2binpad(b, out.data(), static_cast<int>(out.size()));
  BN_free(b);
  return out;
}

Rsa MakeRsa(int bits) {
  EVP_PKEY* k = EVP_RSA_gen(static_cast<unsigned>(bits));
  Rsa r{Param(k, OSSL_PKEY_PARAM_RSA_N), Param(k, OSSL_PKEY_PARAM_RSA_E), Param(k, OSSL_PKEY_PARAM_RSA_D, bits / 8),
        Param(k, OSSL_PKEY_PARAM_RSA_FACTOR1, bits / 16), Param(k, OSSL_PKEY_PARAM_RSA_FACTOR2, bits / 16),
        Param(k, OSSL_PKEY_PARAM_RSA_EXPONENT1, bits / 16), Param(k, OSSL_PKEY_PARAM_RSA_EXPONENT2, bits / 16),
        Param(k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, bits / 16)};
  EVP_PKEY_free(k);
  return r;
}

// The public operation s^e mod n with OpenSSL.
Bytes PublicOp(const Bytes& n, const Bytes& e, const Bytes& s) {
  BIGNUM *bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr),
         *be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr),
         *bs = BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr), *r = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  BN_mod_exp(r, bs, be, bn, ctx);
  Bytes out(n.size());
  BN_bn2binpad(r, out.data(), static_cast<int>(out.size()));
  BN_free(bn);
  BN_free(be);
  BN_free(bs);
  BN_free(r);
  BN_CTX_free(ctx);
  return out;
}

Bytes Pkcs1Type1(const Bytes& msg, size_t k) {
  Bytes b(k, 0xFF);
  b[0] = 0x00;
  b[1] = 0x01;
  b[k - msg.size() - 1] = 0x00;
  std::copy(msg.begin(), msg.end(), b.end() - static_cast<long>(msg.size()));
  return b;
}

const Bytes kSha1Prefix = H("30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14");
const Bytes kHash = H("A9993E364706816ABA3E25717850C26C9CD0D89D");  // SHA-1 of "abc"

class KeyTest : public CardTest {
 protected:
  void Prepare(const char* version) {
    PersoOptions o;
    o.version = version;
    MakeCard(o);
    SelectApp();
    AdminPhase();
    VerifyUser();
  }
  // A key DF 0101 holding the public-key EF 0101 (the engine's layout).
  void KeyFolder(bool m410, const std::string& dfSize) {
    if (m410) {
      ASSERT_EQ(SwOf("00 E0 00 00 38 62 36 81 02 " + dfSize + " 82 01 38 83 02 01 01 85 03 00 " + dfSize + " 86 0A " +
                     Rep("00", 10) + " CB 18 " + Rep("FF", 24)),
                0x9000);
    } else {
      ASSERT_EQ(SwOf("00 E0 00 00 39 6F 37 81 02 FF FF 82 03 38 00 00 83 02 01 01 85 03 01 " + dfSize +
                     " 86 09 00 03 00 00 00 03 03 00 00 8B 18 " + Rep("FF", 24)),
                0x9000);
    }
    keyM410_ = m410;
  }
  void PublicEf(const std::string& size, const std::string& type) {
    if (keyM410_) {
      ASSERT_EQ(SwOf("00 E0 00 00 35 62 33 80 02 " + size + " 82 01 " + type +
                     " 83 02 01 01 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF CB 18 " + Rep("FF", 24)),
                0x9000);
    } else {
      ASSERT_EQ(SwOf("00 E0 00 00 39 6F 37 81 02 " + size + " 82 03 " + type + " 00 00 83 02 01 01 85 03 01 " + size +
                     " 86 09 00 00 00 FF FF 00 00 FF FF 8B 18 " + Rep("FF", 24)),
                0x9000);
    }
  }
  // Create_Kpri: the template twice (class 20, then 21 with first option byte 02).
  void CreateKpri(size_t keyLen, const std::string& algo) {
    Bytes ff(keyLen + 2, 0xFF);
    auto t = keyM410_ ? KeyTemplateM410 : KeyTemplateM4;
    ASSERT_EQ(Sw(Tx(PutDataOci(t(0x20, 0x01, "22 00 " + algo + " 0F FF FF 00 00", ff)))), 0x9000);
    ASSERT_EQ(Sw(Tx(PutDataOci(t(0x21, 0x01, "02 00 " + algo + " 0F FF FF 00 00", ff)))), 0x9000);
  }
  // Create_KpriRSA2 / Full: classes 20..24.
  void CreateKpriRsa2(const std::vector<Bytes>& values) {
    const uint8_t classes[] = {0x20, 0x21, 0x22, 0x23, 0x24};
    for (size_t i = 0; i < 5; ++i)
      ASSERT_EQ(Sw(Tx(PutDataOci(KeyTemplateM410(classes[i], 0x01, (i == 0 ? "22" : "02") + std::string(" 00 10 0F FF FF 00 00"),
                                                 values[i])))),
                0x9000);
  }
  Bytes SignCds(const Bytes& data) {
    EXPECT_EQ(SwOf("00 22 F3 01"), 0x9000);
    EXPECT_EQ(SwOf("00 22 F1 B6 03 83 01 01"), 0x9000);
    Bytes a = H("00 2A 9E 9A");
    a.push_back(static_cast<uint8_t>(data.size()));
    a.insert(a.end(), data.begin(), data.end());
    a.push_back(0x90);
    return Tx(a);
  }
  // PSO DECIPHER of 00 ‖ block (extended for 2048-bit blocks).
  Bytes RawDecipher(const Bytes& block) {
    EXPECT_EQ(SwOf("00 22 F3 01"), 0x9000);
    EXPECT_EQ(SwOf("00 22 F1 B8 03 83 01 01"), 0x9000);
    Bytes in{0x00};
    in.insert(in.end(), block.begin(), block.end());
    Bytes a = H("00 2A 80 86");
    if (in.size() > 255) {
      a.push_back(0);
      a.push_back(static_cast<uint8_t>(in.size() >> 8));
      a.push_back(static_cast<uint8_t>(in.size()));
      a.insert(a.end(), in.begin(), in.end());
      a.push_back(0x01);
      a.push_back(0x00);
    } else {
      a.push_back(static_cast<uint8_t>(in.size()));
      a.insert(a.end(), in.begin(), in.end());
      a.push_back(0x90);
    }
    return Tx(a);
  }
  bool keyM410_ = false;
};

TEST_F(KeyTest, GeneratedKeyInARecordFileSigns) {
  Prepare("M4.01");
  KeyFolder(false, "01 C0");
  PublicEf("01 28", "05");
  CreateKpri(128, "12");
  // 20 KR F1 F2 00 00 00 18: key 01, public key into EF 0101, the card's exponent.
  ASSERT_EQ(SwOf("00 46 00 00 08 20 01 01 01 00 00 00 18"), 0x9000);
  ASSERT_EQ(SwOf("00 A4 02 00 02 01 01"), 0x9000);
  Bytes r1 = Data(Tx("00 B2 01 04 90")), r2 = Data(Tx("00 B2 02 04 90"));
  // Record 1: 10, 130, 129, 00, modulus; record 2: 11, L+2, L+1, 00, exponent.
  ASSERT_EQ(r1.size(), 132u);
  EXPECT_EQ(Hs(Bytes(r1.begin(), r1.begin() + 4)), "10828100");
  EXPECT_EQ(Hs(r2), "110504" "00" "010001");
  Bytes n(r1.begin() + 4, r1.end()), e(r2.begin() + 4, r2.end());
  Bytes sig = SignCds(Cat({kSha1Prefix, kHash}));
  ASSERT_EQ(Sw(sig), 0x9000);
  EXPECT_EQ(PublicOp(n, e, Data(sig)), Pkcs1Type1(Cat({kSha1Prefix, kHash}), 128));
  // The key survives a restart.
  Reopen();
  SelectApp();
  VerifyUser();
  ASSERT_EQ(SwOf("00 A4 01 00 02 01 01"), 0x9000);
  Bytes sig2 = SignCds(Cat({kSha1Prefix, kHash}));
  EXPECT_EQ(Data(sig2), Data(sig));
}

TEST_F(KeyTest, Generated2048KeyInATransparentFileDeciphersExtended) {
  Prepare("M4.10");
  KeyFolder(true, "03 40");
  PublicEf("02 28", "01");
  CreateKpriRsa2({Bytes(130, 0xFF), Bytes(126, 0xFF), Bytes(130, 0xFF), Bytes(126, 0xFF), Bytes(130, 0xFF)});
  // With an exponent: (3 + 1) 00 01 00 01, Lc = 3 + 10.
  ASSERT_EQ(SwOf("00 46 00 00 0D 20 01 01 01 00 00 00 18 04 00 01 00 01"), 0x9000);
  ASSERT_EQ(SwOf("00 A4 02 00 02 01 01"), 0x9000);
  Bytes t;
  for (int off = 0; off < 552; off += 112) {
    Bytes a = H("00 B0");
    a.push_back(static_cast<uint8_t>(off >> 8));
    a.push_back(static_cast<uint8_t>(off));
    a.push_back(static_cast<uint8_t>(std::min(112, 552 - off)));
    Bytes d = Data(Tx(a));
    t.insert(t.end(), d.begin(), d.end());
  }
  ASSERT_EQ(t.size(), 552u);
  // 7F 49 82 01 09, 81 82 01 00, modulus, 82 03 exponent, zeros.
  EXPECT_EQ(Hs(Bytes(t.begin(), t.begin() + 9)), "7F4982010981820100");
  EXPECT_EQ(Hs(Bytes(t.begin() + 265, t.begin() + 270)), "8203010001");
  EXPECT_EQ(t[270], 0x00);
  Bytes n(t.begin() + 9, t.begin() + 265), e{0x01, 0x00, 0x01};
  Bytes block = Pkcs1Type1(Cat({kSha1Prefix, kHash}), 256);
  Bytes sig = RawDecipher(block);
  ASSERT_EQ(Sw(sig), 0x9000);
  ASSERT_EQ(Data(sig).size(), 256u);
  EXPECT_EQ(PublicOp(n, e, Data(sig)), block);
}

TEST_F(KeyTest, KeysLoadedWithChangeKeyDataSign) {
  Prepare("M4.10");
  KeyFolder(true, "01 C0");
  CreateKpri(128, "12");
  Rsa k = MakeRsa(1024);
  // Block: modulus length + 1, 00, modulus; then the private exponent over it.
  auto load = [&](const char* cls, const Bytes& v) {
    Bytes a = H(std::string("90 24 ") + cls + " 81");
    a.push_back(static_cast<uint8_t>(v.size() + 2));
    a.push_back(static_cast<uint8_t>(v.size() + 1));
    a.push_back(0x00);
    a.insert(a.end(), v.begin(), v.end());
    return Sw(Tx(a));
  };
  ASSERT_EQ(load("20", k.n), 0x9000);
  ASSERT_EQ(load("21", k.d), 0x9000);
  Bytes sig = SignCds(Cat({kSha1Prefix, kHash}));
  ASSERT_EQ(Sw(sig), 0x9000);
  EXPECT_EQ(PublicOp(k.n, k.e, Data(sig)), Pkcs1Type1(Cat({kSha1Prefix, kHash}), 128));
  // CHANGE KEY DATA is a command of M4.10 and later.
  Prepare("M4.01");
  KeyFolder(false, "01 C0");
  CreateKpri(128, "12");
  EXPECT_EQ(load("20", k.n), 0x6E00);
  // Earlier cards: CHANGE REFERENCE DATA, P1 = 01 | class * 2, P2 = ref | 80.
  auto loadCrd = [&](const char* p1, const Bytes& v) {
    Bytes a = H(std::string("00 24 ") + p1 + " 81");
    a.push_back(static_cast<uint8_t>(v.size() + 2));
    a.push_back(static_cast<uint8_t>(v.size() + 1));
    a.push_back(0x00);
    a.insert(a.end(), v.begin(), v.end());
    return Sw(Tx(a));
  };
  ASSERT_EQ(loadCrd("41", k.n), 0x9000);
  ASSERT_EQ(loadCrd("43", k.d), 0x9000);
  sig = SignCds(Cat({kSha1Prefix, kHash}));
  EXPECT_EQ(PublicOp(k.n, k.e, Data(sig)), Pkcs1Type1(Cat({kSha1Prefix, kHash}), 128));
}

TEST_F(KeyTest, CrtComponentsOf2048BitKeySign) {
  Prepare("M4.10");
  KeyFolder(true, "03 40");
  Rsa k = MakeRsa(2048);
  CreateKpriRsa2({k.p, k.q, k.dp, k.dq, k.qinv});
  Bytes block = Pkcs1Type1(Cat({kSha1Prefix, kHash}), 256);
  Bytes sig = RawDecipher(block);
  ASSERT_EQ(Sw(sig), 0x9000);
  EXPECT_EQ(PublicOp(k.n, k.e, Data(sig)), block);
  // CDS pads itself.
  Bytes sig2 = SignCds(Cat({kSha1Prefix, kHash}));
  EXPECT_EQ(Data(sig2), Data(sig));
}

TEST_F(KeyTest, DigestInfoPrefixAndTheCardsOwnSignature) {
  Prepare("M4.01");
  KeyFolder(false, "01 C0");
  PublicEf("01 28", "05");
  CreateKpri(128, "88");
  ASSERT_EQ(SwOf("00 DA 02 C2 0F 30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14"), 0x9000);
  ASSERT_EQ(SwOf("00 46 00 00 08 20 01 01 01 00 00 00 18"), 0x9000);
  ASSERT_EQ(SwOf("00 A4 02 00 02 01 01"), 0x9000);
  Bytes r1 = Data(Tx("00 B2 01 04 90"));
  Bytes n(r1.begin() + 4, r1.end()), e{0x01, 0x00, 0x01};
  // A bare SHA-1 hash gets the stored prefix.
  Bytes sig = SignCds(kHash);
  ASSERT_EQ(Sw(sig), 0x9000);
  EXPECT_EQ(PublicOp(n, e, Data(sig)), Pkcs1Type1(Cat({kSha1Prefix, kHash}), 128));
  // 80 24 after MSE set B8.
  ASSERT_EQ(SwOf("00 22 F3 01"), 0x9000);
  ASSERT_EQ(SwOf("00 22 F1 B8 03 83 01 01"), 0x9000);
  Bytes a = Cat({H("80 24 00 00 14"), kHash, H("90")});
  Bytes sig3 = Tx(a);
  ASSERT_EQ(Sw(sig3), 0x9000);
  EXPECT_EQ(Data(sig3), Data(sig));
}

TEST_F(KeyTest, Des3KeyEnciphersAndDeciphers) {
  Prepare("M4.10");
  // CreateDes3Key: DF 0002 (0001 is the directory file) of size 46, then the key object (class 20, algorithm 03).
  ASSERT_EQ(SwOf("00 E0 00 00 38 62 36 81 02 00 2E 82 01 38 83 02 00 02 85 03 00 00 2E 86 0A " + Rep("00", 10) +
                 " CB 18 " + Rep("FF", 24)),
            0x9000);
  const Bytes key = H("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
  Bytes t = Cat({H("83 02 20 02 85 08 83 00 03 0F FF FF 00 08 86 07 00 00 FF FF FF FF 00 8B 10 " + Rep("FF", 16) +
                   " 8F 18"),
                 key});
  ASSERT_EQ(t.size(), 24u + 43u);
  ASSERT_EQ(Sw(Tx(PutDataOci(t))), 0x9000);
  ASSERT_EQ(SwOf("00 22 F3 40"), 0x9000);
  ASSERT_EQ(SwOf("00 22 F1 B8 03 83 01 02"), 0x9000);
  const Bytes plain = H("4E6F772069732074 68652074696D6520");
  Bytes enc = Tx(Cat({H("00 2A 86 80 10"), plain, H("90")}));
  ASSERT_EQ(Sw(enc), 0x9000);
  Bytes c = Data(enc);
  ASSERT_EQ(c.size(), 17u);
  EXPECT_EQ(c[0], 0x00);  // padding indicator
  // The same with OpenSSL: 3DES-EDE CBC, zero IV.
  EVP_CIPHER_CTX* x = EVP_CIPHER_CTX_new();
  uint8_t iv[8] = {};
  Bytes ref(32);
  int n1 = 0, n2 = 0;
  EVP_EncryptInit_ex(x, EVP_des_ede3_cbc(), nullptr, key.data(), iv);
  EVP_CIPHER_CTX_set_padding(x, 0);
  EVP_EncryptUpdate(x, ref.data(), &n1, plain.data(), 16);
  EVP_EncryptFinal_ex(x, ref.data() + n1, &n2);
  EVP_CIPHER_CTX_free(x);
  ref.resize(16);
  EXPECT_EQ(Bytes(c.begin() + 1, c.end()), ref);
  Bytes dec = Tx(Cat({H("00 2A 80 86 10"), ref, H("90")}));
  EXPECT_EQ(Hs(dec), Hs(plain) + "9000");
}

TEST_F(KeyTest, PublicKeyTestObjectEnciphers) {
  Prepare("M4.01");
  KeyFolder(false, "01 C0");
  Rsa k = MakeRsa(1024);
  // Create_Kpub_TestObj: modulus (class 00, options 21 00 88 ...), then exponent (class 01, options 01 00 88 ...).
  ASSERT_EQ(Sw(Tx(PutDataOci(Cat({H("83 02 00 02 85 08 21 00 88 0F FF FF 00 00 86 07 00 00 00 00 00 00 00 8B 10 " +
                                    Rep("FF", 16) + " 8F 80"),
                                  k.n})))),
            0x9000);
  ASSERT_EQ(Sw(Tx(PutDataOci(Cat({H("83 02 01 02 85 08 01 00 88 0F FF FF 00 00 86 07 00 00 00 00 00 00 00 8B 10 " +
                                    Rep("FF", 16) + " 8F 03"),
                                  k.e})))),
            0x9000);
  ASSERT_EQ(SwOf("00 22 F1 B8 03 83 01 02"), 0x9000);
  Bytes m(128, 0x00);
  m[127] = 0x42;
  Bytes enc = Tx(Cat({H("00 2A 86 80 80"), m, H("90")}));
  ASSERT_EQ(Sw(enc), 0x9000);
  Bytes c = Data(enc);
  ASSERT_EQ(c.size(), 129u);
  EXPECT_EQ(Bytes(c.begin() + 1, c.end()), PublicOp(k.n, k.e, m));
  // No private part: no decipher.
  EXPECT_EQ(Sw(Tx(Cat({H("00 2A 80 86 81 00"), m, H("90")}))), 0x6985);
}

TEST_F(KeyTest, Refusals) {
  Prepare("M4.01");
  KeyFolder(false, "01 C0");
  PublicEf("01 28", "05");
  EXPECT_EQ(SwOf("00 22 F1 B6 03 83 01 01"), 0x6A88);           // no such key
  EXPECT_EQ(SwOf("00 2A 9E 9A 03 01 02 03 90"), 0x6985);        // no key chosen
  CreateKpri(128, "12");
  EXPECT_EQ(SwOf("00 46 00 00 08 20 01 01 02 00 00 00 18"), 0x6A82);  // no such public-key EF
  EXPECT_EQ(SwOf("00 46 00 00 0C 20 01 01 01 00 00 00 18 03 00 01 01"), 0x6A80);  // 2-byte exponent
  EXPECT_EQ(SwOf("00 22 F1 B6 03 83 01 01"), 0x9000);
  EXPECT_EQ(SwOf("00 2A 9E 9A 03 01 02 03 90"), 0x6985);        // key not loaded yet
  ASSERT_EQ(SwOf("00 46 00 00 08 20 01 01 01 00 00 00 18"), 0x9000);
  // The key needs the user PIN (access byte 03).
  ASSERT_EQ(SwOf("00 EA 00 00"), 0x9000);
  EXPECT_EQ(Sw(SignCds(kHash)), 0x6982);
  EXPECT_EQ(SwOf("00 46 00 00 08 20 01 01 01 00 00 00 18"), 0x6982);
  VerifyUser();
  EXPECT_EQ(Sw(SignCds(Bytes(118, 0x01))), 0x6700);  // too long for a 1024-bit block
  EXPECT_EQ(Sw(RawDecipher(Bytes(126, 0x01))), 0x6700);
  Bytes big(128, 0xFF);
  EXPECT_EQ(Sw(RawDecipher(big)), 0x6A80);  // not below the modulus
  EXPECT_EQ(SwOf("00 2A 86 86 01 00"), 0x6A86);
  // Generation needs the administration phase.
  ASSERT_EQ(SwOf("80 10 00 00"), 0x9000);
  EXPECT_EQ(SwOf("00 46 00 00 08 20 01 01 01 00 00 00 18"), 0x6985);
}

class EveryVersionTest : public KeyTest, public ::testing::WithParamInterface<const char*> {};

// The engine's key layout on each version: the template forms of the version,
// a 1024-bit key generated into a record file, a signature that verifies.
TEST_P(EveryVersionTest, GeneratesAndSignsInTheEngineLayout) {
  const std::string v = GetParam();
  Prepare(GetParam());
  const bool m410 = !(v == "M3" || v == "M4.0" || v == "M4.01" || v == "M4.01a");
  KeyFolder(m410, "01 C0");
  PublicEf("01 28", "05");
  CreateKpri(128, "12");
  ASSERT_EQ(SwOf("00 46 00 00 08 20 01 01 01 00 00 00 18"), 0x9000);
  ASSERT_EQ(SwOf("00 A4 02 00 02 01 01"), 0x9000);
  Bytes r1 = Data(Tx("00 B2 01 04 90")), r2 = Data(Tx("00 B2 02 04 90"));
  ASSERT_EQ(r1.size(), 132u);
  Bytes n(r1.begin() + 4, r1.end()), e(r2.begin() + 4, r2.end());
  Bytes sig = SignCds(Cat({kSha1Prefix, kHash}));
  ASSERT_EQ(Sw(sig), 0x9000);
  EXPECT_EQ(PublicOp(n, e, Data(sig)), Pkcs1Type1(Cat({kSha1Prefix, kHash}), 128));
}

INSTANTIATE_TEST_SUITE_P(AllVersions, EveryVersionTest,
                         ::testing::Values("M3", "M4.0", "M4.01", "M4.01a", "M4.10", "M4.20", "M4.2b", "M4.2b-0A",
                                           "M4.40"));

}  // namespace
}  // namespace vexa::vcard::test
