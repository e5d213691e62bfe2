// The key behind a CRSA: its parts as big-endian byte strings in wiping
// buffers, and the OpenSSL key objects and operation contexts built from them
// on first use (kept until a part changes, so repeated operations cost only the
// RSA arithmetic).
#pragma once

#include <openssl/evp.h>

#include <map>
#include <span>

#include "common.h"

namespace vexa::crypto {

class RsaKey {
 public:
  // The operations whose prepared contexts are kept.
  enum class Op { kSignMd, kSignRaw, kVerifyMd, kRecover, kEncrypt, kDecrypt, kDecryptRaw };

  RsaKey() = default;
  RsaKey(const RsaKey& other);
  RsaKey& operator=(const RsaKey& other);
  ~RsaKey() = default;

  const SecureBytes& n() const { return n_; }
  const SecureBytes& e() const { return e_; }
  const SecureBytes& d() const { return d_; }
  bool HasN() const { return !n_.empty(); }
  bool HasPublic() const { return !n_.empty() && !e_.empty(); }
  bool HasPrivate() const { return !n_.empty() && !d_.empty(); }
  // The modulus length in bytes (0 without a modulus).
  std::size_t Size() const { return n_.size(); }
  std::size_t Bits() const;
  // True when the CRT parts (p, q, dP, dQ, qInv) are known.
  bool HasCrt() const { return !p_.empty() && !q_.empty() && !dp_.empty() && !dq_.empty() && !qinv_.empty(); }

  // Setting n or d forgets the parts that were known to belong with them.
  void SetN(std::span<const unsigned char> be);
  void SetE(std::span<const unsigned char> be);
  void SetD(std::span<const unsigned char> be);
  void Clear();

  // Takes n and e (public) or every part that is present (private) from an
  // OpenSSL key. withPrivate: also d and the CRT parts, kept as "belonging
  // with d". setPublicE: make e visible (otherwise it is only kept for the
  // private key operations). False when the key has no RSA modulus.
  bool LoadFrom(EVP_PKEY* pkey, bool withPrivate, bool setPublicE);
  // Takes over a freshly generated key (its parts and the object itself).
  bool Adopt(PkeyPtr pkey);

  // The OpenSSL keys, built on first use; null when the parts do not allow it.
  EVP_PKEY* PublicKey();
  EVP_PKEY* PrivateKey();
  // A context prepared for op (param: the digest NID of kSignMd/kVerifyMd, the
  // padding of kSignRaw/kRecover); null when it cannot be prepared.
  EVP_PKEY_CTX* Context(Op op, int param);

  // Fills an empty EVP_PKEY with the private (when present) or public key.
  bool ExportTo(EVP_PKEY* target);

 private:
  void DropObjects();
  // Clears ePriv_ and the CRT parts (those known to belong with d).
  void ForgetPrivateParts();
  PkeyPtr Build(bool withPrivate) const;

  SecureBytes n_, e_, d_;
  // Known to belong with d (from generation, a key file or an OpenSSL key):
  // the public exponent used by the private operations and the CRT parts.
  SecureBytes ePriv_, p_, q_, dp_, dq_, qinv_;

  PkeyPtr pub_, priv_;
  std::map<int, PkeyCtxPtr> contexts_;
};

}  // namespace vexa::crypto
