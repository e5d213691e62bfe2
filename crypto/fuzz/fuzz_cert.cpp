// Certificate reader: CX509v3::Init over PEM or DER, then every getter.
#include <cstdint>
#include <vector>

#include "vexa/crypto/rsa.h"
#include "vexa/crypto/x509v3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const CX509v3::t_FORMAT format = (data[0] & 1) ? CX509v3::tPEM : CX509v3::tDER;
  std::vector<unsigned char> input(data + 1, data + size);
  CX509v3 cert;
  if (cert.Init(input.empty() ? nullptr : input.data(), static_cast<long>(input.size()), format) != RSA_OK)
    return 0;

  using Getter = long (CX509v3::*)(unsigned char*, long&);
  for (Getter g : {&CX509v3::GetSubject, &CX509v3::GetIssuer, &CX509v3::GetSerialNum, &CX509v3::GetSignature}) {
    long len = 0;
    if ((cert.*g)(nullptr, len) != RSA_OK || len <= 0) continue;
    std::vector<unsigned char> out(static_cast<std::size_t>(len));
    (cert.*g)(out.data(), len);
    long shortLen = len - 1;
    (cert.*g)(out.data(), shortLen);
  }
  for (int f = 1; f <= 5; ++f) {
    unsigned char out[512];
    long len = sizeof out;
    cert.GetSigAlgorithm(out, len, static_cast<CX509v3::t_FORMAT>(f));
    len = sizeof out;
    cert.GetPbkAlgorithm(out, len, static_cast<CX509v3::t_FORMAT>(f));
  }
  long v = 0;
  cert.GetVersion(v);
  char a[19], b[19];
  cert.GetValidity(a, b);
  CRSA rsa;
  cert.GetPbkKey(rsa);
  unsigned char* der = nullptr;
  long derLen = 0;
  if (cert.GetBER(&der, derLen) == RSA_OK) delete[] der;
  CX509v3 copy(cert);
  for (long i = 0; i < copy.GetNumExts() + 1; ++i) copy.MoveNextExt();
  return 0;
}
