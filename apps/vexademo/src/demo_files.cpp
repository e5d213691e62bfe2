#include "demo_files.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace vexademo {
namespace {

template <class T, void (*F)(T*)>
struct Free {
  void operator()(T* p) const noexcept { F(p); }
};
using Bn = std::unique_ptr<BIGNUM, Free<BIGNUM, BN_free>>;
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Free<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Free<OSSL_PARAM, OSSL_PARAM_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Free<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using Bio = std::unique_ptr<BIO, Free<BIO, BIO_free_all>>;

}  // namespace

std::string WritePublicKeyPem(const std::string& path, const RsaPublicKey& key) {
  Bn n(BN_bin2bn(key.modulus.data(), static_cast<int>(key.modulus.size()), nullptr));
  Bn e(BN_bin2bn(key.exponent.data(), static_cast<int>(key.exponent.size()), nullptr));
  ParamBld bld(OSSL_PARAM_BLD_new());
  if (!n || !e || !bld || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get()))
    return "out of memory";
  Params params(OSSL_PARAM_BLD_to_param(bld.get()));
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
    return "the card's public key is no RSA key";
  Pkey pkey(raw);
  Bio bio(BIO_new_file(path.c_str(), "w"));
  if (!bio) return "cannot create " + path;
  if (PEM_write_bio_PUBKEY(bio.get(), pkey.get()) != 1) return "cannot write " + path;
  return {};
}

std::string WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  f.close();
  return f ? std::string() : "cannot write " + path;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

}  // namespace vexademo
