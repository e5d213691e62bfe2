#include "security.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "filesystem.h"

namespace vexa::vcard {
namespace {

[[noreturn]] void Refuse(uint16_t s) { throw CardStatus{s}; }

constexpr size_t kMaxChain = 4096;

size_t Trimmed(std::span<const uint8_t> v) {
  size_t n = v.size();
  while (n > 0 && v[n - 1] == 0xFF) --n;
  return n;
}

void MarkVerified(Context& ctx, const PinObject& pin, bool ok) {
  if (ok) {
    ctx.ses.verified.insert(pin.ref);
  } else {
    ctx.ses.verified.erase(pin.ref);
  }
}

// One presentation of a PIN value: counts a failure, resets the counter on success.
// Returns the status word of the attempt.
uint16_t Present(Context& ctx, PinObject& pin, std::span<const uint8_t> value) {
  if (pin.maxTries != 0 && pin.triesLeft == 0) return sw::kAuthBlocked;
  if (PinMatches(pin.value, value)) {
    if (pin.triesLeft != pin.maxTries) {
      pin.triesLeft = pin.maxTries;
      ctx.dirty = true;
    }
    MarkVerified(ctx, pin, true);
    return sw::kOk;
  }
  MarkVerified(ctx, pin, false);
  if (pin.maxTries == 0) return sw::kVerifyFailedBase;
  --pin.triesLeft;
  ctx.dirty = true;
  if (pin.triesLeft == 0) return sw::kAuthBlocked;
  return static_cast<uint16_t>(sw::kVerifyFailedBase | pin.triesLeft);
}

// A PIN whose secure-messaging record asks for it accepts its commands only protected.
void RequireSmIfAsked(const Context& ctx, const PinObject& pin) {
  if (!pin.sm.empty() && pin.sm[0] != 0xFF && !ctx.ses.commandWasProtected) Refuse(sw::kSecurityNotSatisfied);
}

PinObject& PinOf(Context& ctx, uint8_t p2) {
  if (!(p2 & 0x80)) Refuse(sw::kWrongP1P2);
  PinObject* pin = FindPin(ctx, p2 & 0x7F);
  if (!pin) Refuse(sw::kRefNotFound);
  return *pin;
}

void SetValue(Context& ctx, PinObject& pin, std::span<const uint8_t> v) {
  if (v.empty() || v.size() > 64) Refuse(sw::kWrongLength);
  pin.value.assign(v.begin(), v.end());
  pin.triesLeft = pin.maxTries;
  ctx.dirty = true;
}

}  // namespace

bool PinMatches(const SecureBytes& stored, std::span<const uint8_t> given) {
  const size_t a = Trimmed(stored), b = Trimmed(given);
  if (a != b || a == 0) return false;
  return CRYPTO_memcmp(stored.data(), given.data(), a) == 0;
}

bool ConditionMet(const Context& ctx, uint8_t condition) {
  if (condition == 0x00) return true;
  if (condition == 0xFF) return false;
  if (ctx.ses.verified.count(condition)) return true;
  // Granted values belong to the PIN objects; look the verified ones up.
  std::vector<const FileNode*> stack;
  if (ctx.st.mf) stack.push_back(&*ctx.st.mf);
  while (!stack.empty()) {
    const FileNode* f = stack.back();
    stack.pop_back();
    for (const auto& p : f->pins)
      if (ctx.ses.verified.count(p.ref) &&
          std::find(p.grants.begin(), p.grants.end(), condition) != p.grants.end())
        return true;
    for (const auto& c : f->children)
      if (c.kind == FileKind::DF) stack.push_back(&c);
  }
  return false;
}

void RequireAccess(const Context& ctx, const Bytes& record, size_t index) {
  const uint8_t cond = index < record.size() ? record[index] : 0x00;
  if (!ConditionMet(ctx, cond)) Refuse(sw::kSecurityNotSatisfied);
}

void RequireAdminPhase(const Context& ctx) {
  if (ctx.st.lifeCycle != 0x20) Refuse(sw::kConditionsNotSatisfied);
}

PinObject* FindPin(Context& ctx, uint8_t ref) {
  Path p = ctx.Ch().df;
  while (!p.empty()) {
    if (FileNode* df = Resolve(ctx.st, p))
      for (auto& pin : df->pins)
        if (pin.ref == ref) return &pin;
    p.pop_back();
  }
  return nullptr;
}

Bytes CmdVerify(Context& ctx, const Command& c) {
  const bool chained = (c.cla & 0x10) != 0;
  if (c.p1 != 0x00) Refuse(sw::kWrongP1P2);
  if (ctx.ses.chainP2 && *ctx.ses.chainP2 != c.p2) {
    SecureWipe(ctx.ses.chainBuffer.data(), ctx.ses.chainBuffer.size());
    ctx.ses.chainBuffer.clear();
    ctx.ses.chainP2.reset();
    Refuse(sw::kLastCommandExpected);
  }
  PinObject& pin = PinOf(ctx, c.p2);
  RequireSmIfAsked(ctx, pin);
  if (chained) {
    if (c.data.empty()) Refuse(sw::kWrongLength);
    if (ctx.ses.chainBuffer.size() + c.data.size() > kMaxChain) {
      SecureWipe(ctx.ses.chainBuffer.data(), ctx.ses.chainBuffer.size());
      ctx.ses.chainBuffer.clear();
      ctx.ses.chainP2.reset();
      Refuse(sw::kWrongLength);
    }
    ctx.ses.chainBuffer.insert(ctx.ses.chainBuffer.end(), c.data.begin(), c.data.end());
    ctx.ses.chainP2 = c.p2;
    return Answer(sw::kOk);
  }
  SecureBytes value = std::move(ctx.ses.chainBuffer);
  ctx.ses.chainBuffer.clear();
  const bool wasChained = ctx.ses.chainP2.has_value();
  ctx.ses.chainP2.reset();
  value.insert(value.end(), c.data.begin(), c.data.end());
  if (value.empty() && !wasChained) {
    // No data: the retry counter (or 9000 when already verified).
    SecureWipe(value.data(), value.size());
    if (pin.maxTries != 0 && pin.triesLeft == 0) return Answer(sw::kAuthBlocked);
    if (ctx.ses.verified.count(pin.ref)) return Answer(sw::kOk);
    return Answer(static_cast<uint16_t>(sw::kVerifyFailedBase | (pin.maxTries ? pin.triesLeft : 0)));
  }
  const uint16_t s = Present(ctx, pin, value);
  SecureWipe(value.data(), value.size());
  return Answer(s);
}

Bytes CmdChangePin(Context& ctx, const Command& c, uint8_t mode) {
  PinObject& pin = PinOf(ctx, c.p2);
  RequireSmIfAsked(ctx, pin);
  if (pin.maxTries != 0 && pin.triesLeft == 0) Refuse(sw::kAuthBlocked);
  if (mode == 0x01) {
    // New value only: the PIN itself or the PIN that unblocks it must be verified.
    const bool allowed = ctx.ses.verified.count(pin.ref) || (pin.unblockRef && ctx.ses.verified.count(pin.unblockRef));
    if (!allowed) Refuse(sw::kSecurityNotSatisfied);
    SetValue(ctx, pin, c.data);
    ctx.ses.verified.insert(pin.ref);
    return Answer(sw::kOk);
  }
  // Old value followed by the new one; the old one has the stored length.
  const size_t oldLen = pin.value.size();
  if (c.data.size() <= oldLen) Refuse(sw::kWrongLength);
  std::span<const uint8_t> all(c.data);
  const uint16_t s = Present(ctx, pin, all.first(oldLen));
  if (s != sw::kOk) return Answer(s);
  SetValue(ctx, pin, all.subspan(oldLen));
  return Answer(sw::kOk);
}

Bytes CmdResetRetryCounter(Context& ctx, const Command& c) {
  PinObject& pin = PinOf(ctx, c.p2);
  RequireSmIfAsked(ctx, pin);
  RequireAdminPhase(ctx);
  if (c.p1 > 0x03) Refuse(sw::kWrongP1P2);
  if (pin.unblockRef == 0) Refuse(sw::kConditionsNotSatisfied);
  PinObject* puk = FindPin(ctx, pin.unblockRef);
  if (!puk) Refuse(sw::kConditionsNotSatisfied);
  std::span<const uint8_t> data(c.data);
  std::span<const uint8_t> newValue;
  switch (c.p1) {
    case 0x00:  // unblocking code, then the new value
    case 0x01: {  // unblocking code only
      const size_t n = c.p1 == 0x00 ? puk->value.size() : data.size();
      if (data.size() < n || n == 0 || (c.p1 == 0x00 && data.size() == n)) Refuse(sw::kWrongLength);
      const uint16_t s = Present(ctx, *puk, data.first(n));
      if (s != sw::kOk) return Answer(s);
      newValue = data.subspan(n);
      break;
    }
    case 0x02:  // new value; the unblocking PIN was verified before
      if (data.empty()) Refuse(sw::kWrongLength);
      if (!ctx.ses.verified.count(puk->ref)) Refuse(sw::kSecurityNotSatisfied);
      newValue = data;
      break;
    case 0x03:  // counter only
      if (!data.empty()) Refuse(sw::kWrongLength);
      if (!ctx.ses.verified.count(puk->ref)) Refuse(sw::kSecurityNotSatisfied);
      break;
  }
  if (!newValue.empty()) SetValue(ctx, pin, newValue);
  if (pin.triesLeft != pin.maxTries) {
    pin.triesLeft = pin.maxTries;
    ctx.dirty = true;
  }
  return Answer(sw::kOk);
}

Bytes CmdResetSecurityStatus(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  ctx.ses.verified.clear();
  ctx.ses.externallyAuthenticated.clear();
  return Answer(sw::kOk);
}

}  // namespace vexa::vcard
