// The M4.10 command set against the virtual card through the real pcscd: files
// read and written in steps, chained VERIFY, key pairs generated on the card
// that sign and decipher (checked with OpenSSL against the public key read back
// from the card), extended commands, refusals without traffic, the version
// answer kept per connection, and logical channels.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstring>

#include "test_tavrix_bed.h"

using namespace vexa::card::test;

namespace {

using CardTavrixBedTest = BedTest;

const BYTE kUserPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};

std::string Dump(const std::vector<Bytes>& cmds) {
  std::string s;
  char b[4];
  for (const auto& c : cmds) {
    for (BYTE x : c) {
      snprintf(b, sizeof b, "%02X ", x);
      s += b;
    }
    s += "\n";
  }
  return s;
}

// An OpenSSL public key from modulus and exponent bytes.
EVP_PKEY* PublicKey(const Bytes& n, const Bytes& e) {
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
  BIGNUM* be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr);
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be);
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* key = nullptr;
  EVP_PKEY_fromdata_init(ctx);
  EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  BN_free(bn);
  BN_free(be);
  return key;
}

// Raw RSA public operation (no padding): signature -> block.
Bytes PublicRaw(EVP_PKEY* key, const Bytes& in) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_verify_recover_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
  Bytes out(in.size());
  size_t n = out.size();
  const int ok = EVP_PKEY_verify_recover(ctx, out.data(), &n, in.data(), in.size());
  EVP_PKEY_CTX_free(ctx);
  if (ok <= 0) return {};
  out.resize(n);
  return out;
}

// PKCS #1 v1.5 encryption with the public key.
Bytes Encrypt(EVP_PKEY* key, const Bytes& in) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_encrypt_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  size_t n = 0;
  EVP_PKEY_encrypt(ctx, nullptr, &n, in.data(), in.size());
  Bytes out(n);
  EVP_PKEY_encrypt(ctx, out.data(), &n, in.data(), in.size());
  EVP_PKEY_CTX_free(ctx);
  out.resize(n);
  return out;
}

TEST_F(CardTavrixBedTest, ReadBinaryOf250BytesInThreeSteps) {
  StartCard("M4.10");
  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8), 0);
  const BYTE fid[] = {0x12, 0x34};
  ASSERT_EQ(m_card.Create_EF_410_BIN(250, fid, FILE_TRANSPARENT), 0) << Dump(Commands());
  ASSERT_EQ(m_card.cmdSELECT_FILE(SEL_EF, fid, 2), 0);
  Bytes data(250);
  for (int i = 0; i < 250; ++i) data[i] = static_cast<BYTE>(i * 3 + 1);
  ASSERT_EQ(m_card.cmdUPDATE_BINARY(data.data(), 250), 0) << Dump(Commands());
  DWORD size = 0;
  ASSERT_EQ(m_card.cmdGET_FILE_SIZE(SEL_EF, fid, 2, &size), 0);
  EXPECT_EQ(size, 250u);
  Commands();
  BYTE buf[250] = {};
  DWORD len = 250;
  ASSERT_EQ(m_card.cmdREAD_BINARY(buf, &len), 0) << Dump(Commands());
  EXPECT_EQ(Bytes(buf, buf + 250), data);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{HexBytes("00 B0 00 00 70"), HexBytes("00 B0 00 70 70"),
                                            HexBytes("00 B0 00 E0 1A")}));
  // The same file read with the length-tolerant form.
  len = 250;
  ASSERT_EQ(m_card.ReadBinaryEx(buf, &len, nullptr), 0) << Dump(Commands());
  EXPECT_EQ(len, 250u);
}

TEST_F(CardTavrixBedTest, ChainedVerifyOf250And200Bytes) {
  StartCard("M4.10");
  const Bytes longPin(250, '7');
  const LONG rc250 = m_card.cmdVERIFYex(0x10, longPin.data(), 250);
  auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 3u) << Dump(cmds);
  EXPECT_EQ(Bytes(cmds[0].begin(), cmds[0].begin() + 5), HexBytes("10 20 00 90 64"));
  EXPECT_EQ(Bytes(cmds[1].begin(), cmds[1].begin() + 5), HexBytes("10 20 00 90 64"));
  EXPECT_EQ(Bytes(cmds[2].begin(), cmds[2].begin() + 5), HexBytes("00 20 00 90 32"));
  EXPECT_EQ(rc250, 0x63C2);  // the card joined the parts into one (wrong) PIN
  const LONG rc200 = m_card.cmdVERIFYex(0x10, longPin.data(), 200);
  cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u) << Dump(cmds);
  EXPECT_EQ(Bytes(cmds[0].begin(), cmds[0].begin() + 5), HexBytes("10 20 00 90 64"));
  EXPECT_EQ(Bytes(cmds[1].begin(), cmds[1].begin() + 5), HexBytes("00 20 00 90 64"));
  EXPECT_EQ(rc200, 0x63C1);
  EXPECT_EQ(m_card.cmdVERIFYex(0x10, kUserPin, 8), 0);
}

TEST_F(CardTavrixBedTest, TwoByteExponentIsRefusedWithoutTraffic) {
  StartCard("M4.10");
  const BYTE fid[] = {0x00, 0x02};
  const BYTE e[] = {0x01, 0x01};
  EXPECT_EQ(m_card.cmdGENERATE_KEY_PAIR(fid, 0x02, e, 2), 0x6984);
  EXPECT_TRUE(Commands().empty());
}

// Creates a key DF 00 ref with a private key and its public-key EF, as the
// token engine does, generates the pair on the card and reads the public key
// back. keyLen in bytes: 128 (record EF) or 256 (CRT objects, 7F 49 template).
struct CardKey {
  Bytes modulus, exponent;
};

class CardKeyTest : public BedTest {
 protected:
  void Generate(BYTE ref, DWORD keyLen, CardKey* out) {
    const BYTE df[] = {0x00, ref};
    ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8), 0);
    ASSERT_EQ(m_card.Create_DF_410(static_cast<WORD>(keyLen * 3 + 64), df), 0) << Dump(Commands());
    const BSAC410 ac{{3, 3, 3, 3, 3, 3, 3, 3, 3}};
    if (keyLen > 128) {
      ASSERT_EQ(m_card.Create_KpriRSA2(ref, 0x10, keyLen, FALSE, &ac), 0) << Dump(Commands());
      ASSERT_EQ(m_card.Create_EF(static_cast<WORD>(keyLen * 2 + 40), df, FILE_TRANSPARENT,
                                 static_cast<const EFAC410*>(nullptr), nullptr),
                0)
          << Dump(Commands());
    } else {
      ASSERT_EQ(m_card.Create_Kpri(ref, 0x12, keyLen, FALSE, &ac, nullptr), 0) << Dump(Commands());
      ASSERT_EQ(m_card.Create_EF(static_cast<WORD>(keyLen * 2 + 40), df, FILE_RECORD,
                                 static_cast<const EFAC410*>(nullptr), nullptr),
                0)
          << Dump(Commands());
    }
    ASSERT_EQ(m_card.cmdGENERATE_KEY_PAIR(df, ref), 0) << Dump(Commands());
    ASSERT_EQ(m_card.cmdSELECT_FILE(SEL_EF, df, 2), 0) << Dump(Commands());
    if (keyLen > 128) {
      // 7F 49 82 01 09, 81 82 01 00 modulus, 82 03 exponent.
      BYTE buf[512];
      DWORD n = 5 + 4 + 256 + 5;
      ASSERT_EQ(m_card.cmdREAD_BINARY(buf, &n), 0) << Dump(Commands());
      ASSERT_EQ(Bytes(buf, buf + 9), HexBytes("7F 49 82 01 09 81 82 01 00"));
      out->modulus.assign(buf + 9, buf + 9 + 256);
      ASSERT_EQ(buf[265], 0x82);
      out->exponent.assign(buf + 267, buf + 267 + buf[266]);
    } else {
      BYTE rec[255];
      DWORD n = sizeof rec;
      ASSERT_EQ(m_card.cmdREAD_RECORD(1, rec, &n), 0) << Dump(Commands());
      ASSERT_GT(n, 4u);
      out->modulus.assign(rec + 4, rec + n);
      n = sizeof rec;
      ASSERT_EQ(m_card.cmdREAD_RECORD(2, rec, &n), 0) << Dump(Commands());
      ASSERT_GT(n, 4u);
      out->exponent.assign(rec + 4, rec + n);
    }
    ASSERT_EQ(out->modulus.size(), keyLen);
  }
};

TEST_F(CardKeyTest, GeneratedKeysSignAndDecipher) {
  StartCard("M4.10");
  ASSERT_EQ(SelectApp(), 0);
  for (DWORD keyLen : {128u, 256u}) {
    SCOPED_TRACE(keyLen);
    const BYTE ref = keyLen == 128 ? 0x02 : 0x03;
    ASSERT_EQ(SelectApp(), 0);
    CardKey key;
    Generate(ref, keyLen, &key);
    if (HasFatalFailure()) return;
    EVP_PKEY* pub = PublicKey(key.modulus, key.exponent);
    ASSERT_NE(pub, nullptr);

    // A SHA-1 DigestInfo signed with the card's padding.
    const Bytes digestInfo = HexBytes(
        "30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14 A9 99 3E 36 47 06 81 6A BA 3E 25 71 78 50"
        " C2 6C 9C D0 D8 9D");
    ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8), 0);
    Commands();
    BYTE sig[256];
    DWORD n = keyLen;
    ASSERT_EQ(m_card.cmdPSO_CDS(0x01, ref, digestInfo.data(), 35, sig, &n), 0) << Dump(Commands());
    ASSERT_EQ(n, keyLen);
    const Bytes block = PublicRaw(pub, Bytes(sig, sig + n));
    ASSERT_EQ(block.size(), keyLen);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x01);
    EXPECT_EQ(Bytes(block.end() - 35, block.end()), digestInfo);

    // A PKCS #1 cryptogram deciphered raw: 00 || block through cmdPSO_DEC.
    const Bytes secret = HexBytes("11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00");
    const Bytes crypt = Encrypt(pub, secret);
    ASSERT_EQ(crypt.size(), keyLen);
    BYTE plain[512];
    WORD wn = sizeof plain;
    ASSERT_EQ(m_card.cmdPSO_DEC(0x01, ref, crypt.data(), keyLen, plain, &wn), 0)
        << Dump(Commands());
    ASSERT_EQ(wn, keyLen);
    EXPECT_EQ(plain[0], 0x00);
    EXPECT_EQ(plain[1], 0x02);
    EXPECT_EQ(Bytes(plain + wn - 16, plain + wn), secret);
    const auto cmds = Commands();
    ASSERT_GE(cmds.size(), 3u);
    const Bytes& dec = cmds.back();
    if (keyLen == 256) {  // 257 bytes: an extended command
      EXPECT_EQ(Bytes(dec.begin(), dec.begin() + 8), HexBytes("00 2A 80 86 00 01 01 00"));
      EXPECT_EQ(Bytes(dec.end() - 2, dec.end()), HexBytes("01 00"));
    } else {
      EXPECT_EQ(Bytes(dec.begin(), dec.begin() + 6), HexBytes("00 2A 80 86 81 00"));
    }
    EVP_PKEY_free(pub);
  }
}

// A 1024-bit key made by OpenSSL, loaded into a private-key object with CHANGE
// KEY DATA (modulus as class 20, private exponent as class 21, each as
// length byte, 00, value), signs on the card.
TEST_F(CardKeyTest, LoadedKeySigns) {
  StartCard("M4.10");
  EVP_PKEY* pkey = nullptr;
  BIGNUM* n = nullptr;
  BIGNUM* d = nullptr;
  for (int tries = 0; tries < 16; ++tries) {  // a private exponent of the modulus's length
    EVP_PKEY_free(pkey);
    BN_free(n);
    BN_free(d);
    n = d = nullptr;
    pkey = EVP_RSA_gen(1024);
    ASSERT_NE(pkey, nullptr);
    EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_D, &d);
    if (BN_num_bytes(d) == 128) break;
  }
  ASSERT_EQ(BN_num_bytes(d), 128);
  Bytes block(130);
  block[0] = 129;
  block[1] = 0x00;
  BN_bn2bin(n, block.data() + 2);

  const BYTE df[] = {0x00, 0x04};
  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8), 0);
  ASSERT_EQ(m_card.Create_DF_410(128 * 3 + 64, df), 0) << Dump(Commands());
  const BSAC410 ac{{3, 3, 3, 3, 3, 3, 3, 3, 3}};
  ASSERT_EQ(m_card.Create_Kpri(0x04, 0x12, 128, FALSE, &ac, nullptr), 0) << Dump(Commands());
  Commands();
  ASSERT_EQ(m_card.cmdCHANGE_KEY_DATA(0x04, OBJ_PRIVATE, block.data(), 130, 0x01, 0x80), 0)
      << Dump(Commands());
  BN_bn2bin(d, block.data() + 2);
  ASSERT_EQ(m_card.cmdCHANGE_KEY_DATA(0x04, OBJ_SECOND, block.data(), 130, 0x01, 0x80), 0)
      << Dump(Commands());
  const auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(Bytes(cmds[0].begin(), cmds[0].begin() + 7), HexBytes("90 24 20 84 82 81 00"));
  EXPECT_EQ(Bytes(cmds[1].begin(), cmds[1].begin() + 7), HexBytes("90 24 21 84 82 81 00"));

  const Bytes digestInfo = HexBytes(
      "30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14 A9 99 3E 36 47 06 81 6A BA 3E 25 71 78 50"
      " C2 6C 9C D0 D8 9D");
  BYTE sig[128];
  DWORD sn = sizeof sig;
  ASSERT_EQ(m_card.cmdPSO_CDS(0x01, 0x04, digestInfo.data(), 35, sig, &sn), 0) << Dump(Commands());
  ASSERT_EQ(sn, 128u);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
  EVP_PKEY_verify_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EXPECT_EQ(EVP_PKEY_verify(ctx, sig, sn, digestInfo.data(), digestInfo.size()), 1);
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(pkey);
  BN_free(n);
  BN_clear_free(d);
}

// A 2048-bit key made by OpenSSL, loaded as its five CRT components
// (p, q, dP, dQ, qInv) with Create_KpriRSA2Full, signs on the card.
TEST_F(CardKeyTest, FullCrtKeySigns) {
  StartCard("M4.10");
  EVP_PKEY* pkey = EVP_RSA_gen(2048);
  ASSERT_NE(pkey, nullptr);
  const char* names[5] = {OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2,
                          OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                          OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
  std::vector<Bytes> comp(5);
  for (int i = 0; i < 5; ++i) {
    BIGNUM* bn = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(pkey, names[i], &bn), 1);
    comp[i].resize(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, comp[i].data());
    BN_clear_free(bn);
  }
  const BYTE df[] = {0x00, 0x05};
  ASSERT_EQ(m_card.cmdVERIFY(0x10, kUserPin, 8), 0);
  ASSERT_EQ(m_card.Create_DF_410(256 * 3 + 64, df), 0) << Dump(Commands());
  const BSAC410 ac{{3, 3, 3, 3, 3, 3, 3, 3, 3}};
  Commands();
  ASSERT_EQ(m_card.Create_KpriRSA2Full(0x05, 0x10, 256, comp[0].data(), DWORD(comp[0].size()),
                                       comp[1].data(), DWORD(comp[1].size()), comp[2].data(),
                                       DWORD(comp[2].size()), comp[3].data(),
                                       DWORD(comp[3].size()), comp[4].data(),
                                       DWORD(comp[4].size()), FALSE, &ac),
            0)
      << Dump(Commands());
  const auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 6u);  // life cycle, five components
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(cmds[1 + i][4], comp[i].size() + 45);
    EXPECT_EQ(cmds[1 + i][7], 0x20 + i);
  }
  const Bytes digestInfo = HexBytes(
      "30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14 A9 99 3E 36 47 06 81 6A BA 3E 25 71 78 50"
      " C2 6C 9C D0 D8 9D");
  BYTE sig[256];
  DWORD sn = sizeof sig;
  ASSERT_EQ(m_card.cmdPSO_CDS(0x01, 0x05, digestInfo.data(), 35, sig, &sn), 0) << Dump(Commands());
  ASSERT_EQ(sn, 256u);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
  EVP_PKEY_verify_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EXPECT_EQ(EVP_PKEY_verify(ctx, sig, sn, digestInfo.data(), digestInfo.size()), 1);
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(pkey);
}

TEST_F(CardTavrixBedTest, VersionIsReadOncePerConnection) {
  StartCard("M4.10");
  EXPECT_EQ(m_card.IsM4(), 0);
  EXPECT_EQ(m_card.IsM410(), 1);
  EXPECT_EQ(m_card.IsM420(), 0);
  const auto cmds = Commands();
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), HexBytes("00 CA 01 82 02")), 1) << Dump(cmds);
  BYTE uid[7];
  DWORD n = 7;
  ASSERT_EQ(m_card.GetUID(uid, &n), 0);
  EXPECT_EQ(Bytes(uid, uid + 7), HexBytes("05 11 22 33 44 55 66"));
}

TEST_F(CardTavrixBedTest, LogicalChannelCarriesCommandsUntilClosed) {
  StartCard("M4.10");
  BYTE ch = 0;
  ASSERT_EQ(m_card.OpenChannel(&ch), 0) << Dump(Commands());
  EXPECT_GE(ch, 1);
  EXPECT_LE(ch, 3);
  BYTE used = 0;
  m_card.Get_ChannelUsed(&used);
  EXPECT_EQ(used, ch);
  const BYTE mf[] = {0x3F, 0x00};
  ASSERT_EQ(m_card.cmdSELECT_FILE(SEL_PATH_MF, mf, 2), 0);
  ASSERT_EQ(m_card.CloseChannel(ch), 0) << Dump(Commands());
  m_card.Get_ChannelUsed(&used);
  EXPECT_EQ(used, 0);
  const auto cmds = Commands();
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[0], HexBytes("00 70 00 00"));
  EXPECT_EQ(cmds[1], (Bytes{ch, 0xA4, 0x08, 0x00}));
  EXPECT_EQ(cmds[2], (Bytes{ch, 0x70, 0x80, ch}));
}

}  // namespace
