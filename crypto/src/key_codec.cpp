#include "key_codec.h"

#include <openssl/decoder.h>
#include <openssl/encoder.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vexa::crypto {
namespace {

struct EncoderCtxFree { void operator()(OSSL_ENCODER_CTX* c) const noexcept { OSSL_ENCODER_CTX_free(c); } };
struct DecoderCtxFree { void operator()(OSSL_DECODER_CTX* c) const noexcept { OSSL_DECODER_CTX_free(c); } };

void PutLength(SecureBytes& out, std::size_t len) {
  if (len < 0x80) {
    out.push_back(static_cast<unsigned char>(len));
    return;
  }
  unsigned char tmp[sizeof(std::size_t)];
  int n = 0;
  for (std::size_t v = len; v != 0; v >>= 8) tmp[n++] = static_cast<unsigned char>(v);
  out.push_back(static_cast<unsigned char>(0x80 | n));
  while (n > 0) out.push_back(tmp[--n]);
}

// DER INTEGER of an unsigned big-endian value without leading zeros.
void PutInteger(SecureBytes& out, const SecureBytes& be) {
  const bool pad = be.empty() || (be[0] & 0x80) != 0;
  out.push_back(0x02);
  PutLength(out, be.size() + (pad ? 1 : 0));
  if (pad) out.push_back(0x00);
  out.insert(out.end(), be.begin(), be.end());
}

bool EncodeWithOpenSSL(EVP_PKEY* pkey, int selection, SecureBytes& der) {
  if (pkey == nullptr) return false;
  std::unique_ptr<OSSL_ENCODER_CTX, EncoderCtxFree> ctx(
      OSSL_ENCODER_CTX_new_for_pkey(pkey, selection, "DER", "type-specific", nullptr));
  if (!ctx || OSSL_ENCODER_CTX_get_num_encoders(ctx.get()) == 0) return false;
  unsigned char* data = nullptr;
  std::size_t len = 0;
  if (OSSL_ENCODER_to_data(ctx.get(), &data, &len) != 1 || data == nullptr) return false;
  der.assign(data, data + len);
  OPENSSL_clear_free(data, len);
  return true;
}

bool StartsWith(const SecureBytes& b, std::string_view s) {
  return b.size() >= s.size() && std::equal(s.begin(), s.end(), b.begin());
}
bool EndsWith(const SecureBytes& b, std::string_view s) {
  return b.size() >= s.size() && std::equal(s.begin(), s.end(), b.end() - static_cast<std::ptrdiff_t>(s.size()));
}

long DecodeBody(std::span<const unsigned char> text, SecureBytes& der) {
  return Base64Decode(text, der) && !der.empty() ? RSA_OK : RSA_ERR_FILE;
}

}  // namespace

bool EncodeKeyDer(RsaKey& key, bool isPrivate, SecureBytes& der) {
  if (!isPrivate) return EncodeWithOpenSSL(key.PublicKey(), EVP_PKEY_PUBLIC_KEY, der);
  if (key.HasCrt()) return EncodeWithOpenSSL(key.PrivateKey(), EVP_PKEY_KEYPAIR, der);
  // OpenSSL refuses to encode a private key without its factors: write the
  // structure directly, the unknown parts as zero.
  EVP_PKEY* pkey = key.PrivateKey();
  SecureBytes ePriv;
  if (pkey != nullptr) {
    BIGNUM* e = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, "e", &e) == 1) ePriv = BnToBytes(e);
    BN_clear_free(e);
  }
  const SecureBytes zero;
  SecureBytes body;
  PutInteger(body, zero);  // version 0 (two primes)
  PutInteger(body, key.n());
  PutInteger(body, ePriv.empty() ? key.e() : ePriv);
  PutInteger(body, key.d());
  for (int i = 0; i < 5; ++i) PutInteger(body, zero);
  der.clear();
  der.push_back(0x30);
  PutLength(der, body.size());
  der.insert(der.end(), body.begin(), body.end());
  return true;
}

bool DecodeKeyDer(const SecureBytes& der, bool isPrivate, RsaKey& key) {
  if (der.empty()) return false;
  EVP_PKEY* raw = nullptr;
  const int selection = isPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY;
  std::unique_ptr<OSSL_DECODER_CTX, DecoderCtxFree> ctx(OSSL_DECODER_CTX_new_for_pkey(
      &raw, "DER", "type-specific", "RSA", selection, nullptr, nullptr));
  if (!ctx || OSSL_DECODER_CTX_get_num_decoders(ctx.get()) == 0) return false;
  const unsigned char* p = der.data();
  std::size_t left = der.size();
  const bool ok = OSSL_DECODER_from_data(ctx.get(), &p, &left) == 1 && raw != nullptr;
  PkeyPtr pkey(raw);
  // Trailing bytes after the structure mean a damaged file.
  if (!ok || left != 0) return false;
  key.Clear();
  return key.LoadFrom(pkey.get(), isPrivate, !isPrivate) &&
         (isPrivate ? key.HasPrivate() : key.HasPublic());
}

std::string ArmourFirstLine(bool isPrivate) {
  return std::string("-----BEGIN ") + (isPrivate ? "RSA PRIVATE KEY" : "RSA PUBLIC KEY") +
         " -----\n\r";
}

std::string ArmourLastLine(bool isPrivate) {
  return std::string("\n\r-----END ") + (isPrivate ? "RSA PRIVATE KEY" : "RSA PUBLIC KEY") +
         " -----";
}

long UnwrapKeyFile(const SecureBytes& file, long format, bool isPrivate, SecureBytes& der) {
  if (format == KEY_FORMAT_BASE64) return DecodeBody(file, der);
  if (format != KEY_FORMAT_ARMOURED) {
    der = file;
    return RSA_OK;
  }
  const std::string first = ArmourFirstLine(isPrivate);
  const std::string last = ArmourLastLine(isPrivate);
  if (file.size() < first.size() + last.size() || !StartsWith(file, first) || !EndsWith(file, last))
    return RSA_ERR_ARMOUR;
  return DecodeBody({file.data() + first.size(), file.size() - first.size() - last.size()}, der);
}

long UnwrapAnyArmour(const SecureBytes& file, long format, SecureBytes& der) {
  if (format != KEY_FORMAT_ARMOURED) return UnwrapKeyFile(file, format, false, der);
  // First line: "-----BEGIN ...-----"; last line: "-----END ...-----".
  constexpr std::string_view kBegin = "-----BEGIN ";
  constexpr std::string_view kEnd = "-----END ";
  constexpr std::string_view kDashes = "-----";
  if (!StartsWith(file, kBegin)) return RSA_ERR_ARMOUR;
  auto lineEnd = std::find(file.begin() + kBegin.size(), file.end(), '\n');
  if (lineEnd == file.end()) return RSA_ERR_ARMOUR;
  std::string_view firstLine(reinterpret_cast<const char*>(file.data()),
                             static_cast<std::size_t>(lineEnd - file.begin()));
  while (!firstLine.empty() && (firstLine.back() == '\r' || firstLine.back() == ' '))
    firstLine.remove_suffix(1);
  if (firstLine.size() < kBegin.size() + kDashes.size() || !firstLine.ends_with(kDashes))
    return RSA_ERR_ARMOUR;
  // The last line, trailing line ends ignored.
  std::size_t end = file.size();
  while (end > 0 && (file[end - 1] == '\n' || file[end - 1] == '\r' || file[end - 1] == ' ')) --end;
  std::size_t lastStart = end;
  while (lastStart > 0 && file[lastStart - 1] != '\n' && file[lastStart - 1] != '\r') --lastStart;
  std::string_view lastLine(reinterpret_cast<const char*>(file.data()) + lastStart, end - lastStart);
  const std::size_t bodyStart = static_cast<std::size_t>(lineEnd - file.begin()) + 1;
  if (lastStart < bodyStart || !lastLine.starts_with(kEnd) || !lastLine.ends_with(kDashes) ||
      lastLine.size() < kEnd.size() + kDashes.size())
    return RSA_ERR_ARMOUR;
  return DecodeBody({file.data() + bodyStart, lastStart - bodyStart}, der);
}

}  // namespace vexa::crypto
