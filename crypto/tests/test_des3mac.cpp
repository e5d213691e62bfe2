// C3Des_Mac against published vectors: NIST TDEA (SP 800-67 example, SP 800-20
// variable-plaintext known answers) and ISO/IEC 9797-1 MAC algorithm 3.
#include <gtest/gtest.h>

#include <cstring>

#include "support.h"
#include "vexa/crypto/des3mac.h"

using cryptotest::Bytes;
using cryptotest::FromHex;
using cryptotest::ToHex;

namespace {

struct Keys {
  Bytes k1, k2, k3;
};

Bytes Encrypt(const Keys& k, Bytes iv, Bytes in) {
  Bytes out((in.size() + 7) / 8 * 8 + 8, 0xEE);
  C3Des_Mac des(in.data(), nullptr, static_cast<long>(in.size()), iv.data(),
                const_cast<unsigned char*>(k.k1.data()), const_cast<unsigned char*>(k.k2.data()),
                const_cast<unsigned char*>(k.k3.data()));
  EXPECT_EQ(des.cifra(out.data()), 0);
  out.resize((in.size() + 7) / 8 * 8 + 8);
  return out;
}

// NIST SP 800-67 TDEA example (three independent keys).
const Keys kNistKeys{FromHex("0123456789ABCDEF"), FromHex("23456789ABCDEF01"),
                     FromHex("456789ABCDEF0123")};

TEST(Des3CbcKat, NistThreeKeyVectorInCbc) {
  // The published vector is ECB over "The qufck brown fox jump"; in CBC with a
  // zero IV, the first block is the same, and a later block equals the ECB
  // result when its plaintext is the published one XOR the previous cryptogram.
  const Bytes ecbPlain = {'T', 'h', 'e', ' ', 'q', 'u', 'f', 'c', 'k', ' ', 'b', 'r',
                          'o', 'w', 'n', ' ', 'f', 'o', 'x', ' ', 'j', 'u', 'm', 'p'};
  const Bytes ecbCipher = FromHex("A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900");
  Bytes cbcPlain = ecbPlain;
  for (std::size_t i = 8; i < 24; ++i) cbcPlain[i] ^= ecbCipher[i - 8];

  Bytes iv(8, 0), out(24, 0);
  C3Des_Mac des(cbcPlain.data(), nullptr, 24, iv.data(), const_cast<unsigned char*>(kNistKeys.k1.data()),
                const_cast<unsigned char*>(kNistKeys.k2.data()),
                const_cast<unsigned char*>(kNistKeys.k3.data()));
  ASSERT_EQ(des.cifra(out.data()), 0);
  EXPECT_EQ(ToHex(out), ToHex(ecbCipher));

  // And back, from the same IV.
  Bytes plain(24, 0);
  des.setIV(iv.data());
  des.setIn(out.data(), 24);
  ASSERT_EQ(des.decifra(plain.data()), 0);
  EXPECT_EQ(plain, cbcPlain);
}

TEST(Des3CbcKat, VariablePlaintextKnownAnswers) {
  // NIST SP 800-20 TMOVS variable-plaintext test: K1 = K2 = K3 = 01..01, IV 0.
  const Bytes key = FromHex("0101010101010101");
  const struct {
    const char* plain;
    const char* cipher;
  } cases[] = {
      {"8000000000000000", "95F8A5E5DD31D900"}, {"4000000000000000", "DD7F121CA5015619"},
      {"2000000000000000", "2E8653104F3834EA"}, {"1000000000000000", "4BD388FF6CD81D4F"},
  };
  for (const auto& c : cases) {
    Bytes out = Encrypt({key, key, key}, Bytes(8, 0), FromHex(c.plain));
    EXPECT_EQ(ToHex(out.data(), 8), ToHex(FromHex(c.cipher))) << c.plain;
  }
}

TEST(Des3Cbc, ChainContinuesAcrossCallsAndPartialBlockIsZeroPadded) {
  Bytes data = FromHex("00112233445566778899AABBCCDDEEFF");
  Bytes iv = FromHex("1122334455667788");
  Bytes whole = Encrypt(kNistKeys, iv, data);

  // Two 8-byte calls without setIV give the same as one 16-byte call.
  C3Des_Mac des;
  des.initializeKeys(const_cast<unsigned char*>(kNistKeys.k1.data()),
                     const_cast<unsigned char*>(kNistKeys.k2.data()),
                     const_cast<unsigned char*>(kNistKeys.k3.data()));
  des.setIV(iv.data());
  Bytes out(16, 0);
  des.setIn(data.data(), 8);
  ASSERT_EQ(des.cifra(out.data()), 0);
  des.setIn(data.data() + 8, 8);
  ASSERT_EQ(des.cifra(out.data() + 8), 0);
  EXPECT_EQ(ToHex(out), ToHex(whole.data(), 16));

  // 13 bytes are encrypted as 13 bytes followed by three zero bytes.
  Bytes part(data.begin(), data.begin() + 13);
  Bytes padded = part;
  padded.resize(16, 0);
  EXPECT_EQ(ToHex(Encrypt(kNistKeys, iv, part).data(), 16), ToHex(Encrypt(kNistKeys, iv, padded).data(), 16));
  // Nothing beyond the rounded-up length is written.
  Bytes guard = Encrypt(kNistKeys, iv, part);
  EXPECT_EQ(guard[16], 0xEE);
}

TEST(RetailMac, IsoIec9797Algorithm3PublishedVector) {
  // ISO/IEC 9797-1 Annex B, MAC algorithm 3, padding method 1:
  // K = 0123456789ABCDEF, K' = FEDCBA9876543210, "Now is the time for all ".
  Bytes k = FromHex("0123456789ABCDEF"), k2 = FromHex("FEDCBA9876543210");
  const char* text = "Now is the time for all ";
  Bytes data(text, text + 24), iv(8, 0), mac(8, 0);
  C3Des_Mac des(data.data(), nullptr, 24, iv.data(), k.data(), k2.data(), k.data());
  ASSERT_EQ(des.mac(mac.data()), 0);
  EXPECT_EQ(ToHex(mac), "a1c72e74ea3fa9b6");
  // Raw keys are stored as given (no parity change).
  Bytes got(8, 0);
  des.getKeys(got.data(), nullptr, nullptr);
  EXPECT_EQ(got, k);
}

TEST(RetailMac, OneBlockIsTripleDesOfIvXorData) {
  Bytes data = FromHex("0011223344556677"), iv = FromHex("8899AABBCCDDEEFF");
  Bytes mac(8, 0);
  C3Des_Mac des(data.data(), nullptr, 8, iv.data(), const_cast<unsigned char*>(kNistKeys.k1.data()),
                const_cast<unsigned char*>(kNistKeys.k2.data()),
                const_cast<unsigned char*>(kNistKeys.k3.data()));
  ASSERT_EQ(des.mac(mac.data()), 0);
  Bytes x(8);
  for (int i = 0; i < 8; ++i) x[i] = data[i] ^ iv[i];
  EXPECT_EQ(ToHex(mac), ToHex(Encrypt(kNistKeys, Bytes(8, 0), x).data(), 8));
}

TEST(RetailMac, ShortInputIsZeroPaddedNeverReadBeforeTheBuffer) {
  // Under the address sanitizer a read before the 5-byte buffer would stop here.
  auto input = std::make_unique<unsigned char[]>(5);
  std::memcpy(input.get(), "\x01\x02\x03\x04\x05", 5);
  Bytes padded = FromHex("0102030405000000"), iv(8, 0), a(8), b(8);
  C3Des_Mac des;
  des.initializeKeys(const_cast<unsigned char*>(kNistKeys.k1.data()),
                     const_cast<unsigned char*>(kNistKeys.k2.data()),
                     const_cast<unsigned char*>(kNistKeys.k3.data()));
  des.setIV(iv.data());
  des.setIn(input.get(), 5);
  ASSERT_EQ(des.mac(a.data()), 0);
  des.setIV(iv.data());
  des.setIn(padded.data(), 8);
  ASSERT_EQ(des.mac(b.data()), 0);
  EXPECT_EQ(a, b);
}

TEST(Des3Mac, ResultCodesWithoutKeysOrInput) {
  Bytes out(16, 0), data(8, 1), key(8, 3);
  C3Des_Mac des;
  EXPECT_EQ(des.Get_Mechanism(), -1);
  EXPECT_EQ(des.cifra(out.data()), DES_ERR_NO_KEYS);
  EXPECT_EQ(des.decifra(out.data()), DES_ERR_NO_KEYS);
  EXPECT_EQ(des.mac(out.data()), DES_ERR_NO_KEYS);
  des.initializeKeys(key.data(), key.data(), key.data());
  EXPECT_EQ(des.Get_Mechanism(), 3);
  EXPECT_EQ(des.cifra(out.data()), DES_ERR_NO_INPUT);
  EXPECT_EQ(des.mac(out.data()), DES_ERR_NO_INPUT);
  EXPECT_EQ(des.decifra(out.data()), 0);
  EXPECT_EQ(out, Bytes(16, 0));  // nothing written

  // The mechanism code is stored but changes no result.
  des.setIn(data.data(), 8);
  Bytes before(8), after(8);
  des.setIV(out.data());
  des.mac(before.data());
  EXPECT_EQ(des.Set_Mechanism(5), 0);
  EXPECT_EQ(des.Set_Mechanism(4), 0);
  EXPECT_EQ(des.Set_Mechanism(3), 1);
  EXPECT_EQ(des.Get_Mechanism(), 3);
  des.setIV(out.data());
  des.mac(after.data());
  EXPECT_EQ(before, after);

  C3Des_Mac one;
  one.initializeKeys(key.data());
  EXPECT_EQ(one.Get_Mechanism(), 1);
}

TEST(Des3Mac, CopiesAreIndependentAndCarryKeysAndChain) {
  Bytes data = FromHex("0011223344556677"), iv = FromHex("0102030405060708"), a(8), b(8);
  C3Des_Mac des(data.data(), nullptr, 8, iv.data(), const_cast<unsigned char*>(kNistKeys.k1.data()),
                const_cast<unsigned char*>(kNistKeys.k2.data()),
                const_cast<unsigned char*>(kNistKeys.k3.data()));
  C3Des_Mac copy(des);
  C3Des_Mac assigned;
  assigned = des;
  ASSERT_EQ(des.cifra(a.data()), 0);
  ASSERT_EQ(copy.cifra(b.data()), 0);
  EXPECT_EQ(a, b);
  ASSERT_EQ(assigned.cifra(b.data()), 0);
  EXPECT_EQ(a, b);
}

TEST(Des3Mac, RandomKeysHaveOddParityAndAreNeverWeak) {
  const Bytes weak[] = {FromHex("0101010101010101"), FromHex("FEFEFEFEFEFEFEFE"),
                        FromHex("1F1F1F1F0E0E0E0E"), FromHex("E0E0E0E0F1F1F1F1"),
                        FromHex("01FE01FE01FE01FE"), FromHex("FE01FE01FE01FE01")};
  unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes previous;
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(C3Des_Mac::getRandom(key), key);
    Bytes k(key, key + 8);
    for (unsigned char b : k) EXPECT_EQ(__builtin_popcount(b) % 2, 1) << ToHex(k);
    for (const Bytes& w : weak) EXPECT_NE(k, w);
    EXPECT_NE(k, previous);
    previous = k;
  }
}

}  // namespace
