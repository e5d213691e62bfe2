// C3Des_Mac over the EVP DES-EDE3-CBC cipher. Single-DES steps (the MAC's CBC
// chain, the pass-string derivation) run as DES-EDE3 with one key three times,
// which is single DES, so no legacy provider is needed.
#include "vexa/crypto/des3mac.h"

#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "common.h"
#include "des_keys.h"

using vexa::SecureBytes;

namespace {

constexpr std::size_t kBlock = 8;

// CBC over whole blocks with a 24-byte key; iv is updated to the last
// ciphertext block. in and out may be the same buffer.
bool Cbc(bool encrypt, const unsigned char* key24, unsigned char iv[8], const unsigned char* in,
         unsigned char* out, std::size_t len) {
  if (len == 0) return true;
  vexa::crypto::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  unsigned char lastIn[kBlock];
  std::memcpy(lastIn, in + len - kBlock, kBlock);  // before an in-place decryption
  int outLen = 0;
  bool ok = EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key24, iv, encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
            EVP_CipherUpdate(ctx.get(), out, &outLen, in, static_cast<int>(len)) == 1 &&
            static_cast<std::size_t>(outLen) == len;
  if (ok) std::memcpy(iv, encrypt ? out + len - kBlock : lastIn, kBlock);
  vexa::SecureWipe(lastIn, sizeof lastIn);
  return ok;
}

SecureBytes Key24(const SecureBytes& k1, const SecureBytes& k2, const SecureBytes& k3) {
  SecureBytes key(3 * kBlock, 0);
  auto put = [&](const SecureBytes& k, std::size_t at) {
    if (k.size() == kBlock) std::memcpy(key.data() + at, k.data(), kBlock);
  };
  put(k1, 0);
  put(k2, kBlock);
  put(k3, 2 * kBlock);
  return key;
}

}  // namespace

namespace vexa::crypto {

void SetOddParity(unsigned char* k) {
  for (std::size_t i = 0; i < kBlock; ++i) {
    unsigned char b = k[i] & 0xFE;
    int ones = __builtin_popcount(b);
    k[i] = static_cast<unsigned char>(b | ((ones % 2 == 0) ? 1 : 0));
  }
}

// The DES weak and semi-weak keys (with odd parity).
bool IsWeakKey(const unsigned char* k) {
  static const unsigned char kWeak[16][8] = {
      {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}, {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
      {0x1F, 0x1F, 0x1F, 0x1F, 0x0E, 0x0E, 0x0E, 0x0E}, {0xE0, 0xE0, 0xE0, 0xE0, 0xF1, 0xF1, 0xF1, 0xF1},
      {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE}, {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
      {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1}, {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
      {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1}, {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
      {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE}, {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
      {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E}, {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
      {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE}, {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1},
  };
  for (const auto& w : kWeak)
    if (std::memcmp(w, k, kBlock) == 0) return true;
  return false;
}

// The pass-string key derivation of DES_string_to_key: the string folded into 8
// bytes (every second group of 8 characters bit-reversed), odd parity, then the
// DES CBC checksum of the string under that key with the key as IV, odd parity.
void StringToKey(const char* s, unsigned char* key) {
  std::memset(key, 0, kBlock);
  const std::size_t len = std::strlen(s);
  for (std::size_t i = 0; i < len; ++i) {
    unsigned char j = static_cast<unsigned char>(s[i]);
    if ((i % 16) < 8) {
      key[i % 8] ^= static_cast<unsigned char>(j << 1);
    } else {
      j = static_cast<unsigned char>(((j << 4) & 0xf0) | ((j >> 4) & 0x0f));
      j = static_cast<unsigned char>(((j << 2) & 0xcc) | ((j >> 2) & 0x33));
      j = static_cast<unsigned char>(((j << 1) & 0xaa) | ((j >> 1) & 0x55));
      key[7 - (i % 8)] ^= j;
    }
  }
  SetOddParity(key);
  SecureBytes k3(3 * kBlock);
  for (std::size_t i = 0; i < 3; ++i) std::memcpy(k3.data() + i * kBlock, key, kBlock);
  unsigned char iv[kBlock];
  std::memcpy(iv, key, kBlock);
  const std::size_t padded = (len + kBlock - 1) / kBlock * kBlock;
  SecureBytes data(padded, 0);
  if (len > 0) std::memcpy(data.data(), s, len);
  SecureBytes scratch(padded);
  if (padded > 0 && Cbc(true, k3.data(), iv, data.data(), scratch.data(), padded))
    std::memcpy(key, iv, kBlock);
  vexa::SecureWipe(iv, sizeof iv);
  SetOddParity(key);
}

}  // namespace vexa::crypto

namespace {
using vexa::crypto::IsWeakKey;
using vexa::crypto::SetOddParity;
using vexa::crypto::StringToKey;

std::atomic<bool> g_randomSeeded{false};

}  // namespace

C3Des_Mac::C3Des_Mac() = default;

C3Des_Mac::C3Des_Mac(unsigned char* in, unsigned char* out, long len, unsigned char* const iv,
                     unsigned char* const k1, unsigned char* const k2, unsigned char* const k3) {
  initializeKeys(k1, k2, k3);
  setIn(in, len);
  setOut(out);
  setIV(iv);
  m_sMechanism = 3;
}

C3Des_Mac::C3Des_Mac(unsigned char* in, unsigned char* out, long len, unsigned char* const iv,
                     char* s1, char* s2, char* s3) {
  initializeKeys(s1, s2, s3);
  setIn(in, len);
  setOut(out);
  setIV(iv);
  m_sMechanism = 3;
}

C3Des_Mac::~C3Des_Mac() { vexa::SecureWipe(m_IV, sizeof m_IV); }

void C3Des_Mac::initializeKey(char* s, SecureBytes& keyOut, unsigned char* raw) {
  keyOut.assign(kBlock, 0);
  if (raw != nullptr)
    std::memcpy(keyOut.data(), raw, kBlock);
  else if (s != nullptr)
    StringToKey(s, keyOut.data());
}

long C3Des_Mac::initializeKeys(unsigned char* const k1, unsigned char* const k2,
                               unsigned char* const k3) {
  return vexa::crypto::Guard([&]() -> long {
    if (k1 == nullptr || k2 == nullptr || k3 == nullptr) return DES_ERR_NO_KEYS;
    initializeKey(nullptr, m_Key1, k1);
    initializeKey(nullptr, m_Key2, k2);
    initializeKey(nullptr, m_Key3, k3);
    m_bKeysSet = 1;
    m_sMechanism = 3;
    return 0;
  });
}

long C3Des_Mac::initializeKeys(char* s1, char* s2, char* s3) {
  return vexa::crypto::Guard([&]() -> long {
    if (s1 == nullptr || s2 == nullptr || s3 == nullptr) return DES_ERR_NO_KEYS;
    initializeKey(s1, m_Key1, nullptr);
    initializeKey(s2, m_Key2, nullptr);
    initializeKey(s3, m_Key3, nullptr);
    m_bKeysSet = 1;
    return 0;
  });
}

long C3Des_Mac::initializeKeys(unsigned char* const k) {
  return vexa::crypto::Guard([&]() -> long {
    if (k == nullptr) return DES_ERR_NO_KEYS;
    initializeKey(nullptr, m_Key1, k);
    m_bKeysSet = 1;
    m_sMechanism = 1;
    return 0;
  });
}

long C3Des_Mac::getKeys(unsigned char* const k1, unsigned char* const k2, unsigned char* const k3) {
  if (!m_bKeysSet) return 0;
  auto out = [](const SecureBytes& k, unsigned char* dst) {
    if (dst != nullptr && k.size() == kBlock) std::memcpy(dst, k.data(), kBlock);
  };
  out(m_Key1, k1);
  out(m_Key2, k2);
  out(m_Key3, k3);
  return 0;
}

long C3Des_Mac::setIV(unsigned char* const iv) {
  if (iv != nullptr) std::memcpy(m_IV, iv, kBlock);
  return 0;
}

long C3Des_Mac::setIn(unsigned char* in, long len) {
  m_pIn = in;
  m_lLen = len;
  return 0;
}

long C3Des_Mac::setOut(unsigned char* out) {
  m_pOut = out;
  return 0;
}

long C3Des_Mac::Set_Mechanism(long m) {
  m_sMechanism = static_cast<short>(m & 0xFFFF);
  return (m == 4 || m == 5) ? 0 : 1;
}

long C3Des_Mac::cifra(unsigned char* out) {
  return vexa::crypto::Guard([&]() -> long {
    if (!m_bKeysSet) return DES_ERR_NO_KEYS;
    m_pOut = out;
    if (m_pIn == nullptr) return DES_ERR_NO_INPUT;
    if (m_pOut == nullptr || m_lLen <= 0) return 0;
    const std::size_t len = static_cast<std::size_t>(m_lLen);
    const std::size_t whole = len / kBlock * kBlock;
    SecureBytes key = Key24(m_Key1, m_Key2, m_Key3);
    unsigned char iv[kBlock];
    std::memcpy(iv, m_IV, kBlock);
    bool ok = Cbc(true, key.data(), iv, m_pIn, m_pOut, whole);
    if (ok && whole < len) {
      // A trailing partial block is padded with zeros and written whole.
      unsigned char last[kBlock] = {};
      std::memcpy(last, m_pIn + whole, len - whole);
      ok = Cbc(true, key.data(), iv, last, m_pOut + whole, kBlock);
      vexa::SecureWipe(last, sizeof last);
    }
    if (ok) std::memcpy(m_IV, iv, kBlock);
    vexa::SecureWipe(iv, sizeof iv);
    return ok ? 0 : DES_ERR_NO_KEYS;
  });
}

long C3Des_Mac::decifra(unsigned char* out) {
  return vexa::crypto::Guard([&]() -> long {
    if (!m_bKeysSet) return DES_ERR_NO_KEYS;
    m_pOut = out;
    if (m_pIn == nullptr || m_pOut == nullptr || m_lLen <= 0) return 0;
    const std::size_t len = static_cast<std::size_t>(m_lLen);
    const std::size_t whole = len / kBlock * kBlock;
    SecureBytes key = Key24(m_Key1, m_Key2, m_Key3);
    unsigned char iv[kBlock];
    std::memcpy(iv, m_IV, kBlock);
    bool ok = Cbc(false, key.data(), iv, m_pIn, m_pOut, whole);
    if (ok && whole < len) {
      // A trailing partial block (not a whole cryptogram) is decrypted as if
      // padded with zeros; only its own bytes are written.
      unsigned char last[kBlock] = {};
      unsigned char plain[kBlock];
      std::memcpy(last, m_pIn + whole, len - whole);
      ok = Cbc(false, key.data(), iv, last, plain, kBlock);
      if (ok) std::memcpy(m_pOut + whole, plain, len - whole);
      vexa::SecureWipe(plain, sizeof plain);
    }
    if (ok) std::memcpy(m_IV, iv, kBlock);
    vexa::SecureWipe(iv, sizeof iv);
    return ok ? 0 : DES_ERR_NO_KEYS;
  });
}

long C3Des_Mac::mac(unsigned char* out) {
  return vexa::crypto::Guard([&]() -> long {
    if (!m_bKeysSet) return DES_ERR_NO_KEYS;
    m_pOut = out;
    if (m_pIn == nullptr || m_lLen <= 0) return DES_ERR_NO_INPUT;
    if (m_pOut == nullptr) return 0;
    const std::size_t len = static_cast<std::size_t>(m_lLen);
    unsigned char iv[kBlock];
    std::memcpy(iv, m_IV, kBlock);
    unsigned char last[kBlock] = {};
    bool ok = true;
    if (len > kBlock) {
      // DES CBC with key 1 over all but the last 8 bytes; only the chain is kept.
      const std::size_t head = len - kBlock;
      const std::size_t padded = (head + kBlock - 1) / kBlock * kBlock;
      SecureBytes data(padded, 0);
      std::memcpy(data.data(), m_pIn, head);
      SecureBytes k1 = Key24(m_Key1, m_Key1, m_Key1);
      ok = Cbc(true, k1.data(), iv, data.data(), data.data(), padded);
      std::memcpy(last, m_pIn + head, kBlock);
    } else {
      // Fewer than 8 bytes: zero padded to one block, never read before the buffer.
      std::memcpy(last, m_pIn, len);
    }
    if (ok) {
      SecureBytes key = Key24(m_Key1, m_Key2, m_Key3);
      ok = Cbc(true, key.data(), iv, last, last, kBlock);
    }
    if (ok) {
      std::memcpy(m_IV, iv, kBlock);
      std::memcpy(m_pOut, iv, kBlock);
    }
    vexa::SecureWipe(iv, sizeof iv);
    vexa::SecureWipe(last, sizeof last);
    return ok ? 0 : DES_ERR_NO_KEYS;
  });
}

int C3Des_Mac::Desdes_random_key(unsigned char (*key)[8]) {
  if (key == nullptr) return 0;
  for (int tries = 0; tries < 1000; ++tries) {
    if (RAND_bytes(*key, kBlock) != 1) return 0;
    SetOddParity(*key);
    if (!IsWeakKey(*key)) return 1;
  }
  return 0;
}

unsigned char* C3Des_Mac::getRandom(unsigned char* const buf) {
  if (buf == nullptr) return buf;
  bool expected = false;
  if (g_randomSeeded.compare_exchange_strong(expected, true)) RAND_seed(buf, kBlock);
  C3Des_Mac helper;
  helper.Desdes_random_key(reinterpret_cast<unsigned char(*)[8]>(buf));
  SetOddParity(buf);
  return buf;
}
