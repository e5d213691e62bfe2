// RSA private operations (PKCS#1 v1.5 SHA-1 signatures) and verifications per
// second through CRSA, next to the same operations through OpenSSL's EVP
// interface on the same key in the same run, in alternating batches timed by
// the thread's CPU clock, so that load from other processes hits both alike.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <ctime>
#include <cstdio>
#include <functional>
#include <vector>

#include "vexa/crypto/rsa.h"

namespace {

// CPU time of this thread in seconds: time spent waiting for the processor
// while other programs run does not count.
double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Pair {
  double wrapper = 0, evp = 0;  // operations per second
};

// The two sides run in alternating batches until each has used about
// `seconds` of CPU, so that cache and frequency changes hit both alike.
Pair Compare(const std::function<bool()>& wrapper, const std::function<bool()>& evp, double seconds) {
  constexpr int kBatch = 16;
  double tw = 0, te = 0;
  long nw = 0, ne = 0;
  while (tw < seconds || te < seconds) {
    double t0 = CpuNow();
    for (int i = 0; i < kBatch; ++i)
      if (!wrapper()) return {};
    double t1 = CpuNow();
    for (int i = 0; i < kBatch; ++i)
      if (!evp()) return {};
    double t2 = CpuNow();
    tw += t1 - t0;
    te += t2 - t1;
    nw += kBatch;
    ne += kBatch;
  }
  return {static_cast<double>(nw) / tw, static_cast<double>(ne) / te};
}

void Print(int bits, const char* what, const Pair& p) {
  std::printf("RSA-%d %-13s CRSA %9.0f/s   EVP %9.0f/s   CRSA/EVP %.3f%s\n", bits, what, p.wrapper, p.evp,
              p.wrapper / p.evp, p.wrapper / p.evp < 0.95 ? "  (more than 5% slower)" : "");
}

}  // namespace

int main() {
  std::printf("vexacrypt RSA benchmark (PKCS#1 v1.5, SHA-1 DigestInfo)\n");
  bool ok = true;
  for (int bits : {1024, 2048}) {
    CRSA rsa;
    if (rsa.GenKeys(bits, 65537) != RSA_OK) return 1;
    EVP_PKEY* pkey = EVP_PKEY_new();
    if (rsa.GetEVP_PKEY(pkey) != RSA_OK) return 1;

    unsigned char digest[20] = {1, 2, 3, 4, 5};
    std::vector<unsigned char> sig(static_cast<std::size_t>(bits / 8));
    std::vector<unsigned char> sig2(sig.size());

    // EVP: one prepared context per operation kind, as a careful caller keeps it.
    EVP_PKEY_CTX* signCtx = EVP_PKEY_CTX_new(pkey, nullptr);
    EVP_PKEY_sign_init(signCtx);
    EVP_PKEY_CTX_set_rsa_padding(signCtx, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(signCtx, EVP_sha1());
    EVP_PKEY_CTX* verifyCtx = EVP_PKEY_CTX_new(pkey, nullptr);
    EVP_PKEY_verify_init(verifyCtx);
    EVP_PKEY_CTX_set_rsa_padding(verifyCtx, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(verifyCtx, EVP_sha1());

    auto crsaSign = [&] {
      long len = static_cast<long>(sig.size());
      return rsa.Sign(digest, 20, sig.data(), len, MD_TYPE_SHA1) == RSA_OK;
    };
    auto evpSign = [&] {
      std::size_t len = sig2.size();
      return EVP_PKEY_sign(signCtx, sig2.data(), &len, digest, 20) == 1;
    };
    auto crsaVerify = [&] {
      return rsa.Verify(sig.data(), static_cast<long>(sig.size()), digest, 20, MD_TYPE_SHA1) == RSA_OK;
    };
    auto evpVerify = [&] { return EVP_PKEY_verify(verifyCtx, sig.data(), sig.size(), digest, 20) == 1; };

    if (!crsaSign() || !evpSign() || sig != sig2 || !crsaVerify() || !evpVerify()) {
      std::printf("RSA-%d: the two paths disagree\n", bits);
      return 1;
    }
    const Pair priv = Compare(crsaSign, evpSign, 0.25);
    const Pair pub = Compare(crsaVerify, evpVerify, 0.15);
    Print(bits, "private op", priv);
    Print(bits, "verification", pub);
    ok = ok && priv.wrapper / priv.evp >= 0.95 && pub.wrapper / pub.evp >= 0.95;

    EVP_PKEY_CTX_free(signCtx);
    EVP_PKEY_CTX_free(verifyCtx);
    EVP_PKEY_free(pkey);
  }
  std::printf("wrapper within 5%% of EVP: %s\n", ok ? "yes" : "no");
  return 0;
}
