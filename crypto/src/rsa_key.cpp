#include "rsa_key.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <vector>

namespace vexa::crypto {
namespace {

// An OSSL_PARAM integer is given in native byte order (little-endian here).
SecureBytes NativeOrder(const SecureBytes& be) {
  SecureBytes le(be.rbegin(), be.rend());
  return le;
}

SecureBytes GetPart(EVP_PKEY* pkey, const char* name) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &raw) != 1) return {};
  BnPtr bn(raw);
  if (BN_is_zero(bn.get())) return {};
  return BnToBytes(bn.get());
}

}  // namespace

RsaKey::RsaKey(const RsaKey& other)
    : n_(other.n_), e_(other.e_), d_(other.d_), ePriv_(other.ePriv_), p_(other.p_),
      q_(other.q_), dp_(other.dp_), dq_(other.dq_), qinv_(other.qinv_) {}

RsaKey& RsaKey::operator=(const RsaKey& other) {
  if (this == &other) return *this;
  RsaKey copy(other);
  DropObjects();
  n_.swap(copy.n_);
  e_.swap(copy.e_);
  d_.swap(copy.d_);
  ePriv_.swap(copy.ePriv_);
  p_.swap(copy.p_);
  q_.swap(copy.q_);
  dp_.swap(copy.dp_);
  dq_.swap(copy.dq_);
  qinv_.swap(copy.qinv_);
  return *this;
}

std::size_t RsaKey::Bits() const {
  if (n_.empty()) return 0;
  std::size_t bits = (n_.size() - 1) * 8;
  for (unsigned char top = n_[0]; top != 0; top >>= 1) ++bits;
  return bits;
}

void RsaKey::DropObjects() {
  contexts_.clear();
  pub_.reset();
  priv_.reset();
}

void RsaKey::ForgetPrivateParts() {
  ePriv_.clear();
  p_.clear();
  q_.clear();
  dp_.clear();
  dq_.clear();
  qinv_.clear();
}

void RsaKey::SetN(std::span<const unsigned char> be) {
  SecureBytes v = StripZeros(be);
  if (v != n_) ForgetPrivateParts();
  n_.swap(v);
  DropObjects();
}

void RsaKey::SetE(std::span<const unsigned char> be) {
  e_ = StripZeros(be);
  DropObjects();
}

void RsaKey::SetD(std::span<const unsigned char> be) {
  SecureBytes v = StripZeros(be);
  if (v != d_) ForgetPrivateParts();
  d_.swap(v);
  DropObjects();
}

void RsaKey::Clear() {
  DropObjects();
  n_.clear();
  e_.clear();
  d_.clear();
  ForgetPrivateParts();
}

bool RsaKey::LoadFrom(EVP_PKEY* pkey, bool withPrivate, bool setPublicE) {
  if (pkey == nullptr || EVP_PKEY_is_a(pkey, "RSA") != 1) return false;
  SecureBytes n = GetPart(pkey, OSSL_PKEY_PARAM_RSA_N);
  if (n.empty()) return false;
  SecureBytes e = GetPart(pkey, OSSL_PKEY_PARAM_RSA_E);
  SecureBytes d;
  if (withPrivate) {
    d = GetPart(pkey, OSSL_PKEY_PARAM_RSA_D);
    if (d.empty()) return false;
  }
  SetN(n);
  if (setPublicE && !e.empty()) SetE(e);
  if (withPrivate) {
    SetD(d);
    ePriv_ = e;
    p_ = GetPart(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1);
    q_ = GetPart(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2);
    dp_ = GetPart(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    dq_ = GetPart(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    qinv_ = GetPart(pkey, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  }
  return true;
}

bool RsaKey::Adopt(PkeyPtr pkey) {
  Clear();
  if (!LoadFrom(pkey.get(), true, true)) return false;
  // The generated object already is the key; keep it for the operations.
  if (HasCrt()) {
    EVP_PKEY_up_ref(pkey.get());
    pub_.reset(pkey.get());
    priv_ = std::move(pkey);
  }
  return true;
}

PkeyPtr RsaKey::Build(bool withPrivate) const {
  const SecureBytes& e = withPrivate ? (ePriv_.empty() ? e_ : ePriv_) : e_;
  if (n_.empty() || e.empty() || (withPrivate && d_.empty())) return nullptr;
  // The parameters point into wiping buffers: no copy of a secret is left
  // behind in memory that is freed without clearing.
  std::vector<SecureBytes> store;
  store.reserve(8);
  std::vector<OSSL_PARAM> params;
  auto add = [&](const char* name, const SecureBytes& be) {
    store.push_back(NativeOrder(be));
    params.push_back(OSSL_PARAM_construct_BN(name, store.back().data(), store.back().size()));
  };
  add(OSSL_PKEY_PARAM_RSA_N, n_);
  add(OSSL_PKEY_PARAM_RSA_E, e);
  if (withPrivate) {
    add(OSSL_PKEY_PARAM_RSA_D, d_);
    if (HasCrt()) {
      add(OSSL_PKEY_PARAM_RSA_FACTOR1, p_);
      add(OSSL_PKEY_PARAM_RSA_FACTOR2, q_);
      add(OSSL_PKEY_PARAM_RSA_EXPONENT1, dp_);
      add(OSSL_PKEY_PARAM_RSA_EXPONENT2, dq_);
      add(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv_);
    }
  }
  params.push_back(OSSL_PARAM_construct_end());
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, withPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                        params.data()) != 1)
    return nullptr;
  return PkeyPtr(raw);
}

EVP_PKEY* RsaKey::PublicKey() {
  if (!pub_) pub_ = Build(false);
  return pub_.get();
}

EVP_PKEY* RsaKey::PrivateKey() {
  if (!priv_) priv_ = Build(true);
  return priv_.get();
}

bool RsaKey::ExportTo(EVP_PKEY* target) {
  if (target == nullptr || EVP_PKEY_get_base_id(target) != EVP_PKEY_NONE) return false;
  EVP_PKEY* source = HasPrivate() ? PrivateKey() : PublicKey();
  if (source == nullptr) return false;
  // Hand the parts over through OSSL_PARAM: the target is filled in place.
  OSSL_PARAM* params = nullptr;
  int selection = HasPrivate() ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY;
  if (EVP_PKEY_todata(source, selection, &params) != 1) return false;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* out = target;
  bool ok = ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
            EVP_PKEY_fromdata(ctx.get(), &out, selection, params) == 1;
  // The parameter block holds the private parts: clear it before release.
  for (OSSL_PARAM* p = params; p->key != nullptr; ++p)
    if (p->data != nullptr) OPENSSL_cleanse(p->data, p->data_size);
  OSSL_PARAM_free(params);
  return ok && out == target;
}

EVP_PKEY_CTX* RsaKey::Context(Op op, int param) {
  const int slot = static_cast<int>(op) * 100000 + param;
  auto it = contexts_.find(slot);
  if (it != contexts_.end()) return it->second.get();

  const bool priv = op == Op::kSignMd || op == Op::kSignRaw || op == Op::kDecrypt ||
                    op == Op::kDecryptRaw;
  EVP_PKEY* key = priv ? PrivateKey() : PublicKey();
  if (key == nullptr) return nullptr;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!ctx) return nullptr;
  int ok = 0;
  switch (op) {
    case Op::kSignMd:
    case Op::kVerifyMd: {
      const EVP_MD* md = EVP_get_digestbynid(param);
      ok = md != nullptr &&
           (op == Op::kSignMd ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_verify_init(ctx.get())) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1;
      break;
    }
    case Op::kSignRaw:
      ok = EVP_PKEY_sign_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), param) == 1;
      break;
    case Op::kRecover:
      ok = EVP_PKEY_verify_recover_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), param) == 1;
      break;
    case Op::kEncrypt:
      ok = EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1;
      break;
    case Op::kDecrypt:
      ok = EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1;
      break;
    case Op::kDecryptRaw:
      ok = EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1;
      break;
  }
  if (ok != 1) return nullptr;
  EVP_PKEY_CTX* result = ctx.get();
  contexts_.emplace(slot, std::move(ctx));
  return result;
}

}  // namespace vexa::crypto
