// PUT DATA 01 6E: the object-creation templates of PINs and keys.
//
//   83 02 class ref | 85 08 options | 86 nn access | 8B 10 or CB 10 SM | 8F L value
//
// The first option byte tells the object type: 02 with 87 in the third byte
// (Init_PIN), 23 or 03 (Init_PINex) and 02 with 7F in the third byte (logical
// PIN) create PINs; 22, 62 and 83 create a key object (class 20); class bytes
// 21 to 24 add a component to an existing key; 21 and 01 (public-key test
// objects) create a key object holding a modulus (class 00) or add its exponent
// (class 01).
//
// A template with neither options nor value changes the access records of an
// existing PIN.
//
// PIN options: the low nibble of byte 2 is the number of tries (0: no retry
// counter), the low nibble of byte 4 the tries left, byte 8 the reference of
// the PIN that unblocks this one (0: none).
#include <algorithm>

#include "filesystem.h"
#include "keys.h"
#include "security.h"
#include "tlv.h"

namespace vexa::vcard {
namespace {

[[noreturn]] void Refuse(uint16_t s) { throw CardStatus{s}; }

// The value every PIN created over the interface grants besides its reference:
// the cardholder condition that private keys and protected files carry.
constexpr uint8_t kCardholderCondition = 0x03;

void CreatePin(Context& ctx, uint8_t objClass, uint8_t ref, const Bytes& opt, const Bytes& ac, const Bytes& sm,
               const Tlv* value) {
  FileNode& df = CurrentDf(ctx);
  if (std::any_of(df.pins.begin(), df.pins.end(), [&](const PinObject& p) { return p.ref == ref; }))
    Refuse(sw::kFileExists);
  if (!value || value->value.empty() || value->value.size() > 1024) Refuse(sw::kWrongData);
  PinObject p;
  p.ref = ref;
  p.objClass = objClass;
  p.options = opt;
  p.ac = ac;
  p.sm = sm;
  p.value.assign(value->value.begin(), value->value.end());
  const bool logical = opt[0] == 0x02 && opt[2] == 0x7F;
  p.maxTries = logical ? 0 : opt[1] & 0x0F;
  p.triesLeft = std::min<uint8_t>(p.maxTries, opt[3] & 0x0F);
  if (p.maxTries && !p.triesLeft) p.triesLeft = p.maxTries;
  p.unblockRef = opt[7] & 0x7F;
  if (!logical) p.grants = {kCardholderCondition};
  df.pins.push_back(std::move(p));
  ctx.dirty = true;
}

// A template without options and value (Init_PIN of M4.10 without a PIN): new
// access records for an existing PIN of the current DF.
Bytes ChangePinAccess(Context& ctx, const Bytes& id, const std::vector<Tlv>& tlvs) {
  RequireAdminPhase(ctx);
  FileNode& df = CurrentDf(ctx);
  auto it = std::find_if(df.pins.begin(), df.pins.end(), [&](const PinObject& p) { return p.ref == id[1]; });
  if (it == df.pins.end()) Refuse(sw::kRefNotFound);
  const Tlv* ac = FindTag(tlvs, 0x86);
  const Tlv* sm = FindTag(tlvs, 0xCB);
  if (!sm) sm = FindTag(tlvs, 0x8B);
  if (!ac && !sm) Refuse(sw::kWrongData);
  if ((ac && (ac->value.empty() || ac->value.size() > 16)) || (sm && sm->value.size() > 32)) Refuse(sw::kWrongData);
  if (ac) it->ac = ac->value;
  if (sm) it->sm = sm->value;
  ctx.dirty = true;
  return Answer(sw::kOk);
}

}  // namespace

Bytes CmdPutDataOci(Context& ctx, const Command& c) {
  auto tlvs = ParseTlvs(c.data);
  if (!tlvs) Refuse(sw::kWrongData);
  const Tlv* id = FindTag(*tlvs, 0x83);
  const Tlv* opt = FindTag(*tlvs, 0x85);
  if (!id || id->value.size() != 2) Refuse(sw::kWrongData);
  if (!opt && !FindTag(*tlvs, 0x8F)) return ChangePinAccess(ctx, id->value, *tlvs);
  if (!opt || opt->value.size() != 8) Refuse(sw::kWrongData);
  const Tlv* ac = FindTag(*tlvs, 0x86);
  const Tlv* sm = FindTag(*tlvs, 0x8B);
  if (!sm) sm = FindTag(*tlvs, 0xCB);
  const Tlv* value = FindTag(*tlvs, 0x8F);
  if (ac && (ac->value.empty() || ac->value.size() > 16)) Refuse(sw::kWrongData);
  if (sm && sm->value.size() > 32) Refuse(sw::kWrongData);
  RequireAdminPhase(ctx);
  const uint8_t cls = id->value[0], ref = id->value[1];
  const Bytes& o = opt->value;
  const Bytes acv = ac ? ac->value : Bytes{};
  const Bytes smv = sm ? sm->value : Bytes{};
  if (ref == 0 || ref > 0x7F) Refuse(sw::kWrongData);
  if (cls >= 0x21 && cls <= 0x24) {
    CreateKeyObject(ctx, cls, ref, o, acv, smv, value ? &value->value : nullptr);
  } else if ((o[0] == 0x02 && (o[2] == 0x87 || o[2] == 0x7F)) || o[0] == 0x23 || o[0] == 0x03) {
    CreatePin(ctx, cls, ref, o, acv, smv, value);
  } else if (o[0] == 0x22 || o[0] == 0x62 || o[0] == 0x83) {
    if (cls != 0x20) Refuse(sw::kWrongData);
    CreateKeyObject(ctx, 0x20, ref, o, acv, smv, value ? &value->value : nullptr);
  } else if ((o[0] == 0x21 && cls == 0x00) || (o[0] == 0x01 && cls == 0x01)) {
    // Public-key test object: the modulus first, then its exponent.
    if (!value || value->value.empty()) Refuse(sw::kWrongData);
    if (cls == 0x00) {
      CreateKeyObject(ctx, 0x20, ref, o, acv, smv, &value->value);
    } else {
      KeyObject* k = FindKey(ctx, ref);
      if (!k) Refuse(sw::kRefNotFound);
      k->publicExponent = value->value;
      ctx.dirty = true;
    }
  } else {
    Refuse(sw::kWrongData);
  }
  return Answer(sw::kOk);
}

}  // namespace vexa::vcard
