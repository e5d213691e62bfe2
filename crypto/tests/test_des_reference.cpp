// The DES key helpers against OpenSSL's own (deprecated) DES routines, which
// this one test program is allowed to call as the reference.
#undef OPENSSL_NO_DEPRECATED
#undef OPENSSL_API_COMPAT
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "des_keys.h"
#include "support.h"
#include "vexa/crypto/des3mac.h"

namespace {

TEST(DesKeysReference, StringToKeyMatchesOpenSSL) {
  const std::string cases[] = {"", "a", "password", "12345678", "0123456789abcdef",
                               "a longer pass phrase of 33 chars!", std::string(100, 'x'),
                               "\x7f\x80\xff"};
  for (const std::string& s : cases) {
    DES_cblock ref;
    DES_string_to_key(s.c_str(), &ref);
    unsigned char ours[8];
    vexa::crypto::StringToKey(s.c_str(), ours);
    EXPECT_EQ(cryptotest::ToHex(ours, 8), cryptotest::ToHex(ref, 8)) << "'" << s << "'";
  }
}

TEST(DesKeysReference, ParityAndWeakKeysMatchOpenSSL) {
  // Every byte value for parity; every weak key, and its neighbours, for the list.
  for (int b = 0; b < 256; ++b) {
    DES_cblock ref;
    std::memset(ref, b, 8);
    unsigned char ours[8];
    std::memset(ours, b, 8);
    DES_set_odd_parity(&ref);
    vexa::crypto::SetOddParity(ours);
    ASSERT_EQ(std::memcmp(ours, ref, 8), 0) << b;
    EXPECT_EQ(vexa::crypto::IsWeakKey(ours), DES_is_weak_key(&ref) == 1) << b;
  }
  const char* weak[] = {"0101010101010101", "FEFEFEFEFEFEFEFE", "1F1F1F1F0E0E0E0E",
                        "E0E0E0E0F1F1F1F1", "01FE01FE01FE01FE", "FE01FE01FE01FE01",
                        "1FE01FE00EF10EF1", "E01FE01FF10EF10E", "01E001E001F101F1",
                        "E001E001F101F101", "1FFE1FFE0EFE0EFE", "FE1FFE1FFE0EFE0E",
                        "011F011F010E010E", "1F011F010E010E01", "E0FEE0FEF1FEF1FE",
                        "FEE0FEE0FEF1FEF1"};
  for (const char* hex : weak) {
    cryptotest::Bytes k = cryptotest::FromHex(hex);
    DES_cblock ref;
    std::memcpy(ref, k.data(), 8);
    EXPECT_TRUE(DES_is_weak_key(&ref)) << hex;
    EXPECT_TRUE(vexa::crypto::IsWeakKey(k.data())) << hex;
    k[3] ^= 0x02;
    EXPECT_FALSE(vexa::crypto::IsWeakKey(k.data())) << hex;
  }
}

TEST(DesKeysReference, PassStringKeysEncryptAsOpenSSLSchedulesDo) {
  char s1[] = "first", s2[] = "second", s3[] = "third";
  unsigned char iv[8] = {1, 2, 3, 4, 5, 6, 7, 8}, in[16] = "sixteen bytes!!", out[16];
  C3Des_Mac des(in, nullptr, 16, iv, s1, s2, s3);
  ASSERT_EQ(des.cifra(out), 0);

  DES_cblock k1, k2, k3, ivRef;
  DES_string_to_key(s1, &k1);
  DES_string_to_key(s2, &k2);
  DES_string_to_key(s3, &k3);
  DES_key_schedule ks1, ks2, ks3;
  DES_set_key_unchecked(&k1, &ks1);
  DES_set_key_unchecked(&k2, &ks2);
  DES_set_key_unchecked(&k3, &ks3);
  std::memcpy(ivRef, iv, 8);
  unsigned char ref[16];
  DES_ede3_cbc_encrypt(in, ref, 16, &ks1, &ks2, &ks3, &ivRef, DES_ENCRYPT);
  EXPECT_EQ(cryptotest::ToHex(out, 16), cryptotest::ToHex(ref, 16));
}

}  // namespace
