#include "secure_messaging.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "crypto_prims.h"
#include "tlv.h"

namespace vexa::vcard {
namespace {

[[noreturn]] void Refuse(uint16_t s) { throw CardStatus{s}; }

bool MacEquals(const Bytes& a, std::span<const uint8_t> b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// plain ‖ MAC checked under the "4"-form rule; returns plain.
std::optional<Bytes> CheckForm4(const Command& c, std::span<const uint8_t> body, std::span<const uint8_t> key) {
  if (body.size() < 8 || body.size() - 8 > 247) return std::nullopt;
  const size_t n = body.size() - 8;
  // The plain part may be a key: the MAC input is built zero-padded in one
  // buffer of its final size (no grown or padded copies) and wiped after use.
  const size_t padded = (4 + n + 7) / 8 * 8;
  Bytes macInput;
  macInput.reserve(padded);
  macInput.insert(macInput.end(), {c.ins, c.p1, c.p2, static_cast<uint8_t>(n + 8)});
  macInput.insert(macInput.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n));
  macInput.resize(padded, 0x00);
  const bool ok = MacEquals(RetailMac(key, macInput), body.subspan(n));
  SecureWipe(macInput.data(), macInput.size());
  if (!ok) return std::nullopt;
  return Bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

SecureBytes DefaultMasterKey() {
  return SecureBytes{0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6, 0xAB, 0xF7, 0x15, 0x88,
                     0x09, 0xCF, 0x4F, 0x3C, 0x76, 0x2E, 0x71, 0x60, 0xF3, 0x8B, 0x4D, 0xA5};
}

SecureBytes DeriveSessionKey(const Bytes& uidRecord, std::span<const uint8_t> masterKey) {
  if (uidRecord.size() < 16) Refuse(sw::kConditionsNotSatisfied);
  Bytes k = Des3CbcEncrypt(masterKey, std::span<const uint8_t>(uidRecord).first(16));
  SecureBytes out(k.begin(), k.end());
  SecureWipe(k.data(), k.size());
  return out;
}

Command UnwrapProtected(Context& ctx, const Command& c) {
  // The challenge is used up by this command whatever its outcome.
  const bool fresh = ctx.ses.challengeFresh && ctx.ses.challenge.size() >= 8;
  ctx.ses.challengeFresh = false;
  auto tlvs = ParseTlvs(c.data);
  if (!tlvs) Refuse(sw::kSmObjectsIncorrect);
  const Tlv* crypt = FindTag(*tlvs, 0x87);
  const Tlv* mac = FindTag(*tlvs, 0x8E);
  if (!crypt || !mac) Refuse(sw::kSmObjectsMissing);
  if (tlvs->size() != 2 || (*tlvs)[0].tag != 0x87 || mac->value.size() != 8 || crypt->value.size() < 9 ||
      crypt->value[0] != 0x01 || (crypt->value.size() - 1) % 8 != 0)
    Refuse(sw::kSmObjectsIncorrect);
  if (!fresh) Refuse(sw::kConditionsNotSatisfied);
  const SecureBytes key = DeriveSessionKey(ctx.st.uidRecord, ctx.st.masterKey);
  // MAC over challenge ‖ header block ‖ cipher-text object.
  Bytes macInput(16, 0x00);
  std::copy(ctx.ses.challenge.begin(), ctx.ses.challenge.begin() + 8, macInput.begin());
  macInput[8] = c.cla;
  macInput[9] = c.ins;
  macInput[10] = c.p1;
  macInput[11] = c.p2;
  PutTlv(macInput, 0x87, crypt->value);
  if (!MacEquals(RetailMac(key, PadZero(macInput)), mac->value)) Refuse(sw::kSmObjectsIncorrect);
  Bytes plain = Des3CbcDecrypt(key, std::span<const uint8_t>(crypt->value).subspan(1));
  auto len = UnpadIsoLength(plain);
  if (!len) {
    SecureWipe(plain.data(), plain.size());
    Refuse(sw::kSmObjectsIncorrect);
  }
  Command out;
  out.cla = static_cast<uint8_t>(c.cla & ~0x0C);
  out.ins = c.ins;
  out.p1 = c.p1;
  out.p2 = c.p2;
  out.data.assign(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(*len));
  out.le = c.le;
  SecureWipe(plain.data(), plain.size());
  return out;
}

std::optional<Bytes> UnwrapForm4(const Command& c, std::span<const uint8_t> key16) {
  if (key16.size() != 16) return std::nullopt;
  if (c.data.size() >= 16 && c.data.size() % 8 == 0) {
    Bytes padded = Des3CbcDecrypt(key16, c.data);
    if (auto len = UnpadIsoLength(padded)) {
      auto plain = CheckForm4(c, std::span<const uint8_t>(padded).first(*len), key16);
      SecureWipe(padded.data(), padded.size());
      if (plain) return plain;
    } else {
      SecureWipe(padded.data(), padded.size());
    }
  }
  return CheckForm4(c, c.data, key16);
}

}  // namespace vexa::vcard
