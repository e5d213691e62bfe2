#include "crypto_prims.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace vexa::vcard {
namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct BnCtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

SecureBytes Key24(std::span<const uint8_t> key) {
  SecureBytes k(key.begin(), key.end());
  if (k.size() == 16) k.insert(k.end(), key.begin(), key.begin() + 8);
  if (k.size() != 24) throw std::invalid_argument("3DES key must have 16 or 24 bytes");
  return k;
}

Bytes Run(const EVP_CIPHER* cipher, std::span<const uint8_t> key24, std::span<const uint8_t> data, bool enc,
          const uint8_t* iv) {
  if (data.size() % 8 != 0) throw std::invalid_argument("3DES data must be a multiple of 8 bytes");
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key24.data(), iv, enc ? 1 : 0) != 1)
    throw std::runtime_error("3DES initialisation failed");
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  Bytes out(data.size() + 8);
  int n1 = 0, n2 = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &n1, data.data(), static_cast<int>(data.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1)
    throw std::runtime_error("3DES operation failed");
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

Bn ToBn(std::span<const uint8_t> b) {
  Bn r(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
  if (!r) throw std::bad_alloc();
  return r;
}

SecureBytes FromBn(const BIGNUM* b, size_t len) {
  SecureBytes out(len);
  if (BN_bn2binpad(b, out.data(), static_cast<int>(len)) < 0) throw std::runtime_error("number too long");
  return out;
}

SecureBytes FromBn(const BIGNUM* b) { return FromBn(b, static_cast<size_t>(BN_num_bytes(b))); }

}  // namespace

Bytes Des3CbcEncrypt(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  const uint8_t iv[8] = {};
  return Run(EVP_des_ede3_cbc(), Key24(key), data, true, iv);
}

Bytes Des3CbcDecrypt(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  const uint8_t iv[8] = {};
  return Run(EVP_des_ede3_cbc(), Key24(key), data, false, iv);
}

Bytes RetailMac(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (data.size() < 8 || data.size() % 8 != 0) throw std::invalid_argument("MAC input must be padded");
  const SecureBytes k = Key24(key);
  // Single DES under K1 is 3DES-EDE with K1 three times.
  SecureBytes k1(24);
  for (int i = 0; i < 3; ++i) std::copy(k.begin(), k.begin() + 8, k1.begin() + 8 * i);
  uint8_t h[8] = {};
  const size_t blocks = data.size() / 8;
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t x[8];
    for (int i = 0; i < 8; ++i) x[i] = h[i] ^ data[b * 8 + static_cast<size_t>(i)];
    Bytes y = Run(EVP_des_ede3_ecb(), b + 1 < blocks ? std::span<const uint8_t>(k1) : std::span<const uint8_t>(k),
                  x, true, nullptr);
    std::copy(y.begin(), y.end(), h);
    SecureWipe(x, sizeof x);  // the first block is plain data
  }
  return Bytes(h, h + 8);
}

Bytes PadIso(std::span<const uint8_t> data) {
  Bytes out(data.begin(), data.end());
  out.push_back(0x80);
  while (out.size() % 8 != 0) out.push_back(0x00);
  return out;
}

std::optional<size_t> UnpadIsoLength(std::span<const uint8_t> d) {
  size_t i = d.size();
  for (int skipped = 0; i > 0 && skipped <= 8; ++skipped) {
    const uint8_t b = d[i - 1];
    if (b == 0x80) return i - 1;
    if (b != 0x00) return std::nullopt;
    --i;
  }
  return std::nullopt;
}

Bytes PadZero(std::span<const uint8_t> data) {
  // Made at its final size: growing it would leave copies of the data behind.
  Bytes out((data.size() + 7) / 8 * 8, 0x00);
  std::copy(data.begin(), data.end(), out.begin());
  return out;
}

Bytes RandomBytes(size_t n) {
  Bytes out(n);
  if (n && RAND_bytes(out.data(), static_cast<int>(n)) != 1) throw std::runtime_error("no random numbers");
  return out;
}

RsaKeyParts GenerateRsa(unsigned bits, std::span<const uint8_t> e) {
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1)
    throw std::runtime_error("RSA key generation cannot start");
  Bn eb = ToBn(e);
  if (EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), eb.get()) != 1) throw std::runtime_error("bad public exponent");
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &raw) != 1) throw std::runtime_error("RSA key generation failed");
  std::unique_ptr<EVP_PKEY, PkeyFree> key(raw);
  RsaKeyParts k;
  const std::pair<const char*, SecureBytes*> names[] = {
      {OSSL_PKEY_PARAM_RSA_N, &k.n},          {OSSL_PKEY_PARAM_RSA_E, &k.e},
      {OSSL_PKEY_PARAM_RSA_D, &k.d},          {OSSL_PKEY_PARAM_RSA_FACTOR1, &k.p},
      {OSSL_PKEY_PARAM_RSA_FACTOR2, &k.q},    {OSSL_PKEY_PARAM_RSA_EXPONENT1, &k.dp},
      {OSSL_PKEY_PARAM_RSA_EXPONENT2, &k.dq}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &k.qinv}};
  const size_t modLen = (bits + 7) / 8;
  for (const auto& [name, out] : names) {
    BIGNUM* b = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), name, &b) != 1) throw std::runtime_error("RSA key parts unavailable");
    Bn owned(b);
    *out = out == &k.d ? FromBn(b, modLen) : FromBn(b);
  }
  k.n = FromBn(ToBn(k.n).get(), modLen);
  return k;
}

std::optional<SecureBytes> RsaModExp(std::span<const uint8_t> x, std::span<const uint8_t> exp,
                                     std::span<const uint8_t> n) {
  Bn xb = ToBn(x), eb = ToBn(exp), nb = ToBn(n), r(BN_new());
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  if (!r || !ctx) throw std::bad_alloc();
  if (BN_is_zero(nb.get()) || !BN_is_odd(nb.get()) || BN_cmp(xb.get(), nb.get()) >= 0) return std::nullopt;
  if (BN_mod_exp_mont_consttime(r.get(), xb.get(), eb.get(), nb.get(), ctx.get(), nullptr) != 1) return std::nullopt;
  return FromBn(r.get(), n.size());
}

std::optional<SecureBytes> RsaCrt(std::span<const uint8_t> x, const RsaKeyParts& k, size_t outLen) {
  Bn xb = ToBn(x), p = ToBn(k.p), q = ToBn(k.q), dp = ToBn(k.dp), dq = ToBn(k.dq), qinv = ToBn(k.qinv);
  Bn n(BN_new()), m1(BN_new()), m2(BN_new()), h(BN_new()), r(BN_new());
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  if (!n || !m1 || !m2 || !h || !r || !ctx) throw std::bad_alloc();
  if (BN_is_zero(p.get()) || BN_is_zero(q.get()) || !BN_is_odd(p.get()) || !BN_is_odd(q.get())) return std::nullopt;
  if (BN_mul(n.get(), p.get(), q.get(), ctx.get()) != 1 || BN_cmp(xb.get(), n.get()) >= 0) return std::nullopt;
  if (BN_num_bytes(n.get()) > static_cast<int>(outLen)) return std::nullopt;
  // m1 = x^dp mod p, m2 = x^dq mod q, h = qinv (m1 - m2) mod p, r = m2 + h q
  Bn xp(BN_new()), xq(BN_new());
  if (!xp || !xq) throw std::bad_alloc();
  if (BN_nnmod(xp.get(), xb.get(), p.get(), ctx.get()) != 1 || BN_nnmod(xq.get(), xb.get(), q.get(), ctx.get()) != 1 ||
      BN_mod_exp_mont_consttime(m1.get(), xp.get(), dp.get(), p.get(), ctx.get(), nullptr) != 1 ||
      BN_mod_exp_mont_consttime(m2.get(), xq.get(), dq.get(), q.get(), ctx.get(), nullptr) != 1 ||
      BN_mod_sub(h.get(), m1.get(), m2.get(), p.get(), ctx.get()) != 1 ||
      BN_mod_mul(h.get(), h.get(), qinv.get(), p.get(), ctx.get()) != 1 ||
      BN_mul(r.get(), h.get(), q.get(), ctx.get()) != 1 || BN_add(r.get(), r.get(), m2.get()) != 1)
    return std::nullopt;
  return FromBn(r.get(), outLen);
}

SecureBytes Multiply(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  Bn x = ToBn(a), y = ToBn(b), r(BN_new());
  std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
  if (!r || !ctx || BN_mul(r.get(), x.get(), y.get(), ctx.get()) != 1) throw std::bad_alloc();
  return FromBn(r.get());
}

}  // namespace vexa::vcard
