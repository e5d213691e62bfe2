#include "admin.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "crypto_prims.h"
#include "filesystem.h"
#include "secure_messaging.h"
#include "security.h"
#include "tlv.h"

namespace vexa::vcard {
namespace {

[[noreturn]] void Refuse(uint16_t s) { throw CardStatus{s}; }

constexpr uint8_t kLcFactory = 0x34, kLcUser = 0x10, kLcAdmin = 0x20;

Bytes Limited(Bytes data, const Command& c) {
  if (c.le && *c.le < data.size()) data.resize(*c.le);
  return Answer(std::move(data), sw::kOk);
}

const SecureBytes& SystemKey(const Context& ctx, uint8_t id) {
  auto it = ctx.st.systemKeys.find(id);
  if (it == ctx.st.systemKeys.end()) Refuse(sw::kRefNotFound);
  return it->second;
}

uint8_t PackageVersionFor(const Context& ctx, uint8_t id) {
  if (id == 0x07) return ctx.st.version == "M4.0" ? 0x08 : 0x02;
  return 0x01;
}

void ResetChannels(Context& ctx) {
  for (size_t i = 0; i < ctx.ses.channels.size(); ++i) {
    auto& ch = ctx.ses.channels[i];
    ch.df.clear();
    if (ctx.st.mf) ch.df = {ctx.st.mf->fid};
    ch.ef.reset();
  }
}

}  // namespace

Bytes CmdGetData(Context& ctx, const Command& c) {
  if (c.p1 != 0x01) Refuse(sw::kRefNotFound);
  switch (c.p2) {
    case 0x81:
      return Limited(ctx.st.uidRecord, c);
    case 0x82:
      return Limited(ctx.st.versionBytes, c);
    case 0x83:
      return Limited({ctx.st.lifeCycle}, c);
    case 0x84: {
      // The access conditions satisfied now: the verified PIN references and
      // the values they grant.
      Bytes granted;
      for (unsigned v = 1; v < 0xFF; ++v)
        if (ConditionMet(ctx, static_cast<uint8_t>(v))) granted.push_back(static_cast<uint8_t>(v));
      return Limited(granted, c);
    }
    case 0x88: {
      // Six bytes per package: 00 00 identifier version 00 00.
      Bytes list;
      for (const auto& p : ctx.st.packages) {
        const uint8_t rec[6] = {0x00, 0x00, p.id, p.version, 0x00, 0x00};
        list.insert(list.end(), rec, rec + 6);
      }
      return Limited(list, c);
    }
    case 0x89:
      if (!ctx.ver.memoryQuery) Refuse(sw::kRefNotFound);
      return Limited({0x01, 0x04, static_cast<uint8_t>(ctx.st.memoryKb >> 8), static_cast<uint8_t>(ctx.st.memoryKb),
                      0x00, 0x00},
                     c);
    default:
      Refuse(sw::kRefNotFound);
  }
}

Bytes CmdPutDataSeci(Context& ctx, const Command& c) {
  // A security-environment object: 83 01 number, 86 02 access, 8F 06 data.
  auto tlvs = ParseTlvs(c.data);
  const Tlv* nr = tlvs ? FindTag(*tlvs, 0x83) : nullptr;
  if (!nr || nr->value.size() != 1) Refuse(sw::kWrongData);
  (void)ctx;
  return Answer(sw::kOk);
}

Bytes CmdPhaseControl(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  if (ctx.st.lifeCycle == kLcUser) ctx.st.lifeCycle = kLcAdmin;
  else if (ctx.st.lifeCycle == kLcAdmin) ctx.st.lifeCycle = kLcUser;
  else Refuse(sw::kConditionsNotSatisfied);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdGetChallenge(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  if (!c.le || !c.data.empty()) Refuse(sw::kWrongLength);
  if (*c.le > 256) Refuse(sw::kWrongLength);
  Bytes r = RandomBytes(*c.le);
  ctx.ses.challenge = r;
  ctx.ses.challengeFresh = true;
  ctx.ses.challengeIssuedNow = true;
  return Answer(std::move(r), sw::kOk);
}

Bytes CmdGiveRandom(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  if (c.data.empty() || c.data.size() > 64) Refuse(sw::kWrongLength);
  ctx.ses.terminalRandom.assign(c.data.begin(), c.data.end());
  return Answer(sw::kOk);
}

Bytes CmdManageChannel(Context& ctx, const Command& c) {
  if (!c.data.empty()) Refuse(sw::kWrongLength);
  auto& chans = ctx.ses.channels;
  if (c.p1 == 0x00) {
    size_t n = c.p2;
    if (n > 3) Refuse(sw::kWrongP1P2);
    if (n == 0) {
      for (n = 1; n < chans.size() && chans[n].open; ++n) {
      }
      if (n >= chans.size()) Refuse(sw::kFuncNotSupported);
    } else if (chans[n].open) {
      Refuse(sw::kConditionsNotSatisfied);
    }
    chans[n].open = true;
    chans[n].df.clear();
    if (ctx.st.mf) chans[n].df = {ctx.st.mf->fid};
    chans[n].ef.reset();
    if (c.p2 == 0) return Answer({static_cast<uint8_t>(n)}, sw::kOk);
    return Answer(sw::kOk);
  }
  if (c.p1 == 0x80) {
    if (c.p2 == 0 || c.p2 > 3) Refuse(sw::kWrongP1P2);
    chans[c.p2].open = false;
    chans[c.p2].ef.reset();
    return Answer(sw::kOk);
  }
  Refuse(sw::kWrongP1P2);
}

Bytes CmdLoadExecutable(Context& ctx, const Command& c) {
  // CLA 80 on every M4 version (the package sequences send it), CLA 84 from
  // M4.01 on; an M4.0 card refuses 84.
  if (c.cla == 0x84 && ctx.st.version == "M4.0") Refuse(sw::kClaNotSupported);
  FileNode& ef = CurrentEf(ctx);
  if (ef.descriptor != 0x21) Refuse(sw::kIncompatibleFile);
  if (c.data.size() > 64) Refuse(sw::kWrongLength);
  // The package is named by the low byte of its code file's identifier.
  const uint8_t id = static_cast<uint8_t>(ef.fid & 0xFF);
  const uint8_t version = PackageVersionFor(ctx, id);
  auto it = std::find_if(ctx.st.packages.begin(), ctx.st.packages.end(), [&](const Package& p) { return p.id == id; });
  if (it != ctx.st.packages.end()) it->version = version;
  else ctx.st.packages.push_back({id, version});
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdFormat(Context& ctx, const Command& c) {
  if (c.p1 != 0x00 || c.p2 != 0x01) Refuse(sw::kWrongP1P2);
  if (ctx.st.lifeCycle != kLcFactory) Refuse(sw::kConditionsNotSatisfied);
  auto plain = UnwrapForm4(c, SystemKey(ctx, kFormatKey));
  if (!plain) Refuse(sw::kSmObjectsIncorrect);
  auto outer = ParseTlvs(*plain);
  if (!outer || outer->size() != 1) Refuse(sw::kWrongData);
  const Tlv& t = (*outer)[0];
  if (t.tag != 0x6F && !(t.tag == 0x62 && ctx.ver.m410Forms)) Refuse(sw::kWrongData);
  auto in = ParseTlvs(t.value);
  if (!in) Refuse(sw::kWrongData);
  FileNode mf;
  mf.fid = 0x3F00;
  mf.kind = FileKind::DF;
  mf.descriptor = 0x38;
  const Tlv* s85 = FindTag(*in, 0x85);
  const Tlv* s81 = FindTag(*in, 0x81);
  if (s85 && s85->value.size() == 3) mf.size = static_cast<uint32_t>(s85->value[1] << 8 | s85->value[2]);
  if (mf.size == 0 && s81 && s81->value.size() == 2) mf.size = static_cast<uint32_t>(s81->value[0] << 8 | s81->value[1]);
  if (const Tlv* ac = FindTag(*in, 0x86)) mf.ac = ac->value;
  if (const Tlv* sm = FindTag(*in, t.tag == 0x62 ? 0xCB : 0x8B)) mf.sm = sm->value;
  ctx.st.mf = std::move(mf);
  ctx.st.lifeCycle = kLcAdmin;
  ctx.ses.verified.clear();
  ResetChannels(ctx);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdErase(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  if (ctx.st.lifeCycle != kLcAdmin) Refuse(sw::kConditionsNotSatisfied);
  auto plain = UnwrapForm4(c, SystemKey(ctx, kEraseKey));
  if (!plain) Refuse(sw::kSmObjectsIncorrect);
  if (!plain->empty()) Refuse(sw::kWrongData);
  ctx.st.mf.reset();
  ctx.st.lifeCycle = kLcFactory;
  ctx.st.digestInfoPrefix.clear();
  ctx.ses.verified.clear();
  ResetChannels(ctx);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdChangeSystemKey(Context& ctx, const Command& c) {
  if (c.p1 != 0) Refuse(sw::kWrongP1P2);
  const uint8_t id = c.p2;
  if (ctx.st.version == "M4.0" && ctx.st.lifeCycle != kLcFactory) Refuse(sw::kConditionsNotSatisfied);
  auto current = ctx.st.systemKeys.find(id);
  SecureBytes newKey;
  if (current != ctx.st.systemKeys.end()) {
    if (auto plain = UnwrapForm4(c, current->second)) {
      if (plain->size() == 16) newKey.assign(plain->begin(), plain->end());
      // Deciphered key material, also when it is not a key's length.
      SecureWipe(plain->data(), plain->size());
    }
  }
  if (newKey.empty()) {
    // Unprotected form: the current key followed by the new one.
    if (c.data.size() != 32) Refuse(sw::kSmObjectsIncorrect);
    if (current != ctx.st.systemKeys.end()) {
      if (CRYPTO_memcmp(c.data.data(), current->second.data(), 16) != 0) Refuse(sw::kSecurityNotSatisfied);
    } else if (ctx.st.lifeCycle != kLcFactory) {
      Refuse(sw::kRefNotFound);  // new key numbers only during initialisation
    }
    newKey.assign(c.data.begin() + 16, c.data.end());
  }
  ctx.st.systemKeys[id] = std::move(newKey);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdExternalAuthenticate(Context& ctx, const Command& c) {
  if (c.p1 != 0) Refuse(sw::kWrongP1P2);
  const uint8_t ref = static_cast<uint8_t>(c.p2 ^ 0x80);
  const bool fresh = ctx.ses.challengeFresh && ctx.ses.challenge.size() >= 8;
  ctx.ses.challengeFresh = false;
  const SecureBytes& key = SystemKey(ctx, ref);
  if (c.data.size() != 8) Refuse(sw::kWrongLength);
  if (!fresh) Refuse(sw::kConditionsNotSatisfied);
  Bytes expect = Des3CbcEncrypt(key, std::span<const uint8_t>(ctx.ses.challenge).first(8));
  if (CRYPTO_memcmp(expect.data(), c.data.data(), 8) != 0) {
    ctx.ses.externallyAuthenticated.erase(ref);
    return Answer(0x6300);
  }
  ctx.ses.externallyAuthenticated.insert(ref);
  return Answer(sw::kOk);
}

Bytes CmdIncrease(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  if (c.data.size() != 4) Refuse(sw::kWrongLength);
  const uint32_t v = static_cast<uint32_t>(c.data[0]) | static_cast<uint32_t>(c.data[1]) << 8 |
                     static_cast<uint32_t>(c.data[2]) << 16 | static_cast<uint32_t>(c.data[3]) << 24;
  if (ctx.st.counter > UINT32_MAX - v) Refuse(sw::kWrongData);  // no wrap-around
  ctx.st.counter += v;
  ctx.dirty = true;
  return Answer(sw::kOk);
}

}  // namespace vexa::vcard
